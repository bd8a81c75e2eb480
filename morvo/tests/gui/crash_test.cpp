// Crash safety of the run: morvo killed at random moments over a Maildir and over an mbox, and a
// storage folder that fills up. After every interruption each original attachment is still in its
// mail, or it is a file with the same bytes whose link is in its mail; no mail is lost, doubled or
// half-written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <map>
#include <random>
#include <set>

#include "morvo/outlook/mbox_format.h"
#include "morvo/tests/gui/program_util.h"
#include "morvo/tests/hostile_mails.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/transcript.h"

namespace morvo::test {
namespace {

using namespace std::chrono_literals;

struct StoreState {
    std::map<std::string, int> subjects;  // subject -> how many mails carry it
    std::map<std::string, std::vector<std::string>> attachments;  // subject -> display names
    std::map<std::string, std::string> bodies;
};

// The store `root`, a copy of `pristine`, as the program reads it.
outlook::StoreConfig config_at(const GeneratedStore& pristine, const std::string& root) {
    outlook::StoreConfig c = outlook::test::store_config(kStore, root);
    if (pristine.mbox) c.kind = "mbox";
    return c;
}

StoreState read_state(const GeneratedStore& pristine, const std::string& root) {
    StoreState s;
    auto app = outlook::Application::with_stores({config_at(pristine, root)});
    auto folder = app.GetNamespace("MAPI").Folders(kStore).Folders("Massenpost");
    const long n = folder.Items().Count();
    for (long i = 1; i <= n; ++i) {
        auto item = folder.Items(i);
        std::string subject;
        try {
            subject = item.Subject();
        } catch (const platform::Error&) {
            continue;  // a damaged mail: checked by its bytes
        }
        ++s.subjects[subject];
        auto& names = s.attachments[subject];
        for (long k = 1; k <= item.Attachments().Count(); ++k)
            names.push_back(item.Attachments(k).DisplayName());
        s.bodies[subject] = item.Body();
    }
    return s;
}

// The hostile mails that go into the store beside the generated ones (not those that need
// something in the storage folder first).
std::vector<hostile::HostileMail> hostile_rows() {
    std::vector<hostile::HostileMail> rows;
    for (auto& r : hostile::hostile_mails())
        if (!r.prepare) rows.push_back(std::move(r));
    return rows;
}

const std::string kFromLine = "From anna@example.org Thu Mar  7 10:20:30 2024\n";

std::string bulk_mbox(const std::string& root) {
    return root + "/Massenpost";
}

// The mails of an mbox's bytes as their file holds them (quoted, without the separating line).
std::vector<std::string> mbox_mails(const std::string& bytes) {
    outlook::mbox::Scanner scanner;
    scanner.feed(bytes.data(), bytes.size());
    std::vector<std::string> out;
    for (const auto& e : scanner.finish())
        out.push_back(bytes.substr(e.content, e.content_end - e.content));
    return out;
}

// A mail's bytes as its store keeps them.
std::string as_stored(const GeneratedStore& pristine, const std::string& bytes) {
    return pristine.mbox ? mbox_mails(outlook::mbox::framed(kFromLine, bytes, true)).at(0) : bytes;
}

// Every mail of the bulk folder, as stored.
std::multiset<std::string> mail_bytes(const GeneratedStore& pristine, const std::string& root) {
    std::multiset<std::string> out;
    if (pristine.mbox) {
        for (auto& m : mbox_mails(outlook::test::read_bytes(bulk_mbox(root))))
            out.insert(std::move(m));
        return out;
    }
    for (const auto& e : std::filesystem::directory_iterator(root + "/.Massenpost/cur"))
        if (e.is_regular_file()) out.insert(outlook::test::read_bytes(e.path()));
    return out;
}

// The sizes of an mbox's mails as another reader (Python's mailbox) finds them.
std::vector<size_t> python_mbox_sizes(const std::string& file) {
    const std::string script =
        "import mailbox, sys\n"
        "box = mailbox.mbox(sys.argv[1], create=False)\n"
        "for key in box.keys(): print(len(box.get_bytes(key)))\n";
    FILE* p = ::popen(
        ("python3 -c " + testsupport::shell_quoted(script) + " " + testsupport::shell_quoted(file))
            .c_str(),
        "r");
    std::vector<size_t> sizes;
    if (!p) return sizes;
    for (unsigned long n; std::fscanf(p, "%lu", &n) == 1;) sizes.push_back(n);
    EXPECT_EQ(::pclose(p), 0) << file;
    return sizes;
}

// Another reader (Python's mailbox, slow: not after every run) finds the same mails in the mbox.
void expect_python_reads(const std::string& root) {
    std::vector<size_t> sizes;
    for (const auto& m : mbox_mails(read_bytes(bulk_mbox(root)))) sizes.push_back(m.size());
    EXPECT_EQ(python_mbox_sizes(bulk_mbox(root)), sizes);
}

// Checks the invariant; with `done`, also that nothing is left in the mails and that every
// attachment has exactly one storage file.
void check(const GeneratedStore& pristine, const std::string& root, const std::string& ablage,
           bool done, bool with_hostile = true) {
    StoreState s = read_state(pristine, root);
    auto originals = pristine.mails_in("Massenpost");
    const auto rows = with_hostile ? hostile_rows() : std::vector<hostile::HostileMail>{};
    EXPECT_GE(s.subjects.size(), originals.size());
    size_t filed_total = 0;
    std::set<std::string> linked_files;
    // Signed, encrypted and damaged mails stay byte for byte.
    const auto files = mail_bytes(pristine, root);
    EXPECT_EQ(files.size(), originals.size() + rows.size()) << "a mail lost, doubled or cut";
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        if (r.outcome == hostile::Outcome::unchanged) {
            EXPECT_EQ(files.count(as_stored(pristine, r.bytes)), 1u) << "changed, lost or doubled";
            continue;
        }
        const std::string subject = r.bytes.substr(r.bytes.find("Subject: ") + 9);
        const std::string subj = subject.substr(0, subject.find("\r\n"));
        ASSERT_EQ(s.subjects[subj], 1) << "mail lost or doubled";
        std::multiset<std::string> linked;
        for (const auto& link : links_of(s.bodies[subj])) {
            linked.insert(outlook::test::read_bytes(platform::host_path(link)));
            linked_files.insert(link);
        }
        EXPECT_EQ(linked.size() + s.attachments[subj].size(), r.filed.size());
        for (const auto& b : linked) EXPECT_TRUE(std::count(r.filed.begin(), r.filed.end(), b));
        if (done) {
            EXPECT_EQ(linked, std::multiset<std::string>(r.filed.begin(), r.filed.end()));
        }
        filed_total += r.filed.size();
    }
    for (const auto* m : originals) {
        SCOPED_TRACE(m->subject);
        ASSERT_EQ(s.subjects[m->subject], 1) << "mail lost or doubled";
        const auto& names = s.attachments[m->subject];
        std::vector<std::string> linked_bytes;
        for (const auto& link : links_of(s.bodies[m->subject])) {
            linked_bytes.push_back(outlook::test::read_bytes(platform::host_path(link)));
            linked_files.insert(link);
        }
        for (const auto& a : m->attachments) {
            bool in_mail = std::count(names.begin(), names.end(), a.display_name) > 0;
            bool filed = std::count(linked_bytes.begin(), linked_bytes.end(), a.bytes) > 0;
            EXPECT_TRUE(in_mail || filed) << a.display_name << " lost";
            if (done) {
                EXPECT_TRUE(filed && !in_mail) << a.display_name << " not filed";
            }
        }
        filed_total += m->attachments.size();
    }
    if (!done) return;
    // No second copy: the storage folder holds exactly the linked files (hidden names are
    // temporary files of a killed save, or the journal).
    size_t stored = 0;
    for (const auto& e : std::filesystem::directory_iterator(ablage))
        if (e.path().filename().string()[0] != '.') ++stored;
    EXPECT_EQ(linked_files.size(), filed_total);
    EXPECT_EQ(stored, filed_total) << "duplicates in the storage folder";
    if (!pristine.mbox) return;
    // No lock or half-written copy is left beside the mbox.
    for (const auto& e : std::filesystem::directory_iterator(root)) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name[0] != '.' && !name.ends_with(".lock")) << name << " left behind";
    }
}

void copy_tree(const std::string& from, const std::string& to) {
    std::filesystem::remove_all(to);
    std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
}

std::string run_script(const std::string& closing_status) {
    return "wait frmMorvo\nclick frmMorvo.comB_start\nanswer Yes if \"D A T E N\"\n"
           "wait frmMorvo sta_Anzeige " +
           platform::transcript_quote(closing_status) + " 120\nclick frmMorvo.comB_schliessen\n";
}

// The settings: the storage folder and the one folder line, Massenpost.
void write_settings(const ProgramFolder& prog, const std::string& ablage_win) {
    std::ofstream(prog.ini(), std::ios::binary)
        << platform::utf8_to_cp1252("[Pfad Ablage]\r\n" + ablage_win +
                                    "\\\r\n\r\n[Pfad MS Outlook]\r\n" + kStore + "|Massenpost\r\n");
}

mkmailstore::Options bulk(long mails, size_t size) {
    mkmailstore::Options o = outlook::test::with_bulk(mails, size);
    o.bulk_only = true;
    return o;
}

// Puts the hostile mails into the bulk folder of a generated store.
void add_hostile(const GeneratedStore& store) {
    if (store.mbox) {
        std::ofstream out(bulk_mbox(store.root), std::ios::binary | std::ios::app);
        for (const auto& r : hostile_rows()) out << outlook::mbox::framed(kFromLine, r.bytes, true);
        return;
    }
    int n = 0;
    for (const auto& r : hostile_rows())
        std::ofstream(
            store.root + "/.Massenpost/cur/1600000000.M" + std::to_string(++n) + "P1Q1.hostile:2,S",
            std::ios::binary)
            << r.bytes;
}

// The store's layout: a Maildir, or an mbox tree whose mails are changed by rewriting the file.
class KilledRun : public ::testing::TestWithParam<std::string> {};

// MORVO_KILLS sets the number of kills (scripts/killtest runs 200).
TEST_P(KilledRun, AtRandomMomentsOverHostileMail) {
    GeneratedStore pristine(GetParam(), bulk(24, 32 * 1024));
    add_hostile(pristine);
    const char* kills_env = std::getenv("MORVO_KILLS");
    const int kills = kills_env && std::atoi(kills_env) > 0 ? std::atoi(kills_env) : 12;
    TempDir work;
    const std::string root = work.path() + "/store";
    const std::string ablage = work.path() + "/ablage";
    const std::string ablage_win = platform::windows_path(ablage);
    ProgramFolder prog(root, pristine.mbox ? "mbox" : "");
    write_settings(prog, ablage_win);
    const std::string closing = ablage + "/ ist eine lokale Festplatte! Pfad gespeichert!";

    auto fresh = [&] {
        copy_tree(pristine.root, root);
        // A FIFO among the mails (or among an mbox tree's files): the run must never wait on it.
        ::mkfifo((pristine.mbox ? root + "/Fifo" : root + "/.Massenpost/cur/1600000000.fifo:2,S")
                     .c_str(),
                 0600);
        std::filesystem::remove_all(ablage);
        std::filesystem::create_directories(ablage);
    };
    // One whole run to learn how long it takes, and how long it holds the mbox's lock.
    using Clock = std::chrono::steady_clock;
    auto seconds_since = [](Clock::time_point t) {
        return std::chrono::duration<double>(Clock::now() - t).count();
    };
    const std::string lock = bulk_mbox(root) + ".lock";
    fresh();
    auto t0 = Clock::now();
    pid_t pid = prog.spawn(run_script(closing), work.path() + "/full.txt");
    double locked = 0;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0 && seconds_since(t0) < 120) {
        if (auto l0 = Clock::now(); pristine.mbox && std::filesystem::exists(lock)) {
            while (std::filesystem::exists(lock)) std::this_thread::sleep_for(100us);
            locked += seconds_since(l0);
        }
        std::this_thread::sleep_for(200us);
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const double whole = seconds_since(t0);
    check(pristine, root, ablage, true);
    if (pristine.mbox) expect_python_reads(root);

    // Kills land some time after the start, soon after the first storage file appears, or (mbox)
    // while the run holds the mbox's lock to rewrite it: moments too short to hit by chance.
    auto reached = [&](int milestone) {
        if (milestone == 1)
            for (const auto& e : std::filesystem::directory_iterator(ablage))
                if (e.path().filename().string()[0] != '.') return true;
        return milestone == 2 && std::filesystem::exists(lock);
    };
    std::mt19937 rng(20240307);
    std::uniform_real_distribution<double> moment(0.25 * whole, whole), soon(0, 0.25 * whole),
        in_rewrite(0, 2 * locked);
    for (int k = 0; k < kills; ++k) {
        SCOPED_TRACE("kill " + std::to_string(k));
        fresh();
        pid = prog.spawn(run_script(closing), work.path() + "/kill.txt");
        const int milestone = k % (pristine.mbox ? 3 : 2);
        const double delay = milestone == 0   ? moment(rng)
                             : milestone == 1 ? soon(rng)
                                              : in_rewrite(rng);
        const auto start = Clock::now();
        bool ended = false;
        while (milestone > 0 && !reached(milestone) && seconds_since(start) < 60 &&
               !(ended = ::waitpid(pid, &status, WNOHANG) == pid))
            std::this_thread::sleep_for(200us);
        if (!ended) {
            std::this_thread::sleep_for(std::chrono::duration<double>(delay));
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        check(pristine, root, ablage, false);
        if (HasFailure()) return;
        // A second run finishes the work.
        ASSERT_EQ(prog.run(run_script(closing), work.path() + "/again.txt"), 0);
        check(pristine, root, ablage, true);
        if (pristine.mbox && milestone == 2) expect_python_reads(root);
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(CrashSafety, KilledRun, ::testing::Values("maildir++", "mboxo"),
                         [](const auto& info) {
                             return info.param.rfind("mbox", 0) == 0 ? "mbox" : "maildir";
                         });

// `morvo ARGS` from the program folder, its standard output and error into `output`.
pid_t spawn_command(const ProgramFolder& prog, const std::string& arg, const std::string& output) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", prog.config.c_str(), 1);
        ::chdir(prog.program.c_str());
        int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        const std::string exe = prog.program + "/morvo";
        ::execl(exe.c_str(), exe.c_str(), arg.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

int exit_status(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Two runs on one store and storage folder, from the command line and from the window: the
// second is refused and names the first; nothing is filed twice.
TEST(OneRunAtATime, SecondRunIsRefusedAndNothingIsFiledTwice) {
    GeneratedStore pristine("maildir++", bulk(800, 1024));
    TempDir work;
    const std::string root = work.path() + "/store";
    const std::string ablage = work.path() + "/ablage";
    ProgramFolder prog(root);
    write_settings(prog, platform::windows_path(ablage));
    auto fresh = [&] {
        copy_tree(pristine.root, root);
        std::filesystem::remove_all(ablage);
        std::filesystem::create_directories(ablage);
    };

    // Two --run started together.
    fresh();
    const std::string out_a = work.path() + "/a.txt", out_b = work.path() + "/b.txt";
    pid_t a = spawn_command(prog, "--run", out_a);
    pid_t b = spawn_command(prog, "--run", out_b);
    const int rc_a = exit_status(a), rc_b = exit_status(b);
    EXPECT_EQ(std::min(rc_a, rc_b), 0);
    ASSERT_EQ(std::max(rc_a, rc_b), 2) << "both ran";
    const std::string refused = read_bytes(rc_a == 2 ? out_a : out_b);
    const pid_t winner = rc_a == 2 ? b : a;
    EXPECT_NE(refused.find("(Prozess " + std::to_string(winner) + ", seit "), std::string::npos)
        << refused;
    check(pristine, root, ablage, true, false);

    // The window's Start while a --run holds the store (stopped, so that it surely does).
    fresh();
    pid_t run = spawn_command(prog, "--run", out_a);
    for (int i = 0; i < 6000 && std::filesystem::is_empty(ablage); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(run, SIGSTOP);
    const std::string t = work.path() + "/window.txt";
    const std::string script =
        "wait frmMorvo\nclick frmMorvo.comB_start\n"
        "answer Yes if \"D A T E N\"\n"
        "answer OK if \"Prozess " +
        std::to_string(run) + ", seit\"\nclick frmMorvo.comB_schliessen\n";
    const int rc_window = prog.run(script, t);
    ::kill(run, SIGCONT);
    EXPECT_EQ(exit_status(run), 0) << read_bytes(out_a);
    std::string text;
    for (const auto& l : lines_of(t)) text += l + "\n";
    EXPECT_EQ(rc_window, 0) << text;
    EXPECT_NE(text.find("msgbox title=\"Morvolan arbeitet schon\" icon=exclamation"),
              std::string::npos)
        << text;
    check(pristine, root, ablage, true, false);
}

TEST(CrashSafety, StorageFolderThatFillsUp) {
    GeneratedStore pristine("maildir++", bulk(30, 100 * 1024));
    TempDir work;
    const std::string root = work.path() + "/store";
    const std::string ablage = work.path() + "/ablage";
    const std::string image = work.path() + "/small.img";
    copy_tree(pristine.root, root);
    std::filesystem::create_directories(ablage);
    // A small file system of its own (1 MB): needs a loop device.
    {
        std::ofstream(image).close();
        std::filesystem::resize_file(image, 4 * 1024 * 1024);
    }
    if (std::system(("mkfs.ext4 -q -F " + image + " >/dev/null 2>&1").c_str()) != 0 ||
        std::system(("mount -o loop " + image + " " + ablage + " >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "no loop mount here (needs root)";
    struct Unmount {
        std::string dir;
        ~Unmount() { ::umount2(dir.c_str(), MNT_DETACH); }
    } unmount{ablage};
    const std::string ablage_win = platform::windows_path(ablage);
    ProgramFolder prog(root);
    write_settings(prog, ablage_win);
    // The loop device is a block device that is not removable: a fixed disk.
    const std::string closing = ablage + "/ ist eine lokale Festplatte! Pfad gespeichert!";
    const std::string t = work.path() + "/t.txt";
    ASSERT_EQ(prog.run(run_script(closing), t), 0) << t;
    check(pristine, root, ablage, false, false);
    // Some were filed, some stayed in their mails and were reported.
    StoreState s = read_state(pristine, root);
    int left = 0;
    for (auto& [subject, names] : s.attachments) left += static_cast<int>(names.size());
    EXPECT_GT(left, 0);
    EXPECT_LT(left, 60);
    std::string text;
    for (const auto& l : lines_of(t)) text += l + "\n";
    EXPECT_NE(text.find("konnte nicht gespeichert werden"), std::string::npos);
}

}  // namespace
}  // namespace morvo::test
