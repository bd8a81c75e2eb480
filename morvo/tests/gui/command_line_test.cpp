// The program's command lines as a scheduler starts them: no display, the real binary.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "morvo/filing.h"
#include "morvo/tests/gui/program_util.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/transcript.h"

namespace morvo::test {
namespace {

// Time stamps differ from run to run; everything else must not.
std::string unstamped(const std::string& s) {
    static const std::regex stamp(
        "_[0-9]{4}_[0-9]{1,2}_[0-9]{1,2}_[0-9]{1,2}_[0-9]{1,2}_[0-9]{1,2}");
    return std::regex_replace(s, stamp, "_STAMP");
}

// Starts `morvo ARGS` the way a timer does: no display, no scripted user; returns the status.
int run_headless(const ProgramFolder& prog, const std::vector<std::string>& args,
                 const std::string& out_file, int kill_after_ms = -1) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", prog.config.c_str(), 1);
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                              "VELTRIN_USER_SCRIPT", "VELTRIN_TRANSCRIPT"})
            ::unsetenv(v);
        std::FILE* f = std::freopen(out_file.c_str(), "w", stdout);
        (void)f;
        ::chdir("/");
        const std::string exe = prog.program + "/morvo";
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (kill_after_ms >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kill_after_ms));
        ::kill(pid, SIGKILL);
    }
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void write_ini(const ProgramFolder& prog, const std::string& storage_win) {
    std::ofstream(prog.ini(), std::ios::binary) << platform::utf8_to_cp1252(
        "[Pfad Ablage]\r\n" + storage_win + "\r\n\r\n[Pfad MS Outlook]\r\n" + kStore +
        "|Posteingang\r\n" + kStore + "|Massenpost\r\n");
}

std::string log_of(const ProgramFolder& prog) {
    for (const auto& e : std::filesystem::directory_iterator(prog.program)) {
        const std::string n = e.path().filename().string();
        if (n.rfind("morvo_", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".log")
            return read_bytes(e.path().string());
    }
    return "";
}

// Every storage file (name without stamp, bytes), and every mail of the run's folders
// (subject, body without stamps, attachments).
std::multiset<std::string> outcome(const GeneratedStore& store, const std::string& storage) {
    std::multiset<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(storage))
        out.insert("file " + unstamped(e.path().filename().string()) + " " +
                   std::to_string(mkmailstore::fnv1a64(read_bytes(e.path().string()))));
    auto ns = store.ns();
    TempDir tmp;
    for (const char* folder : {"Posteingang", "Massenpost"}) {
        auto f = store.folder(ns, folder);
        for (long i = 1; i <= f.Items().Count(); ++i) {
            std::string line = std::string(folder) + ": ";
            try {
                auto m = f.Items(i);
                line += m.Subject() + " | " + unstamped(m.Body());
                for (long a = 1; a <= m.Attachments().Count(); ++a) {
                    m.Attachments(a).SaveAsFile(tmp.path() + "/a");
                    line += " | " + m.Attachments(a).DisplayName() + " " +
                            std::to_string(mkmailstore::fnv1a64(read_bytes(tmp.path() + "/a")));
                }
                for (const auto& r : m.FilingRecords())
                    line += " | record " + unstamped(r.link) + " " + r.name + " " + r.type;
            } catch (const platform::Error& e) {
                line += "error " + std::to_string(e.number);
            }
            out.insert(line);
        }
    }
    return out;
}

TEST(CommandLine, ScheduledRunMatchesTheWindowRun) {
    GeneratedStore window_store("maildir++", with_bulk(4)), cli_store("maildir++", with_bulk(4));
    ASSERT_EQ(window_store.snapshot().size(), cli_store.snapshot().size());
    ProgramFolder window_prog(window_store.root), cli_prog(cli_store.root);
    // One storage folder for both, one after the other, so links and texts name the same path.
    TempDir base;
    const std::string storage = base.path() + "/ablage";
    const std::string storage_win = platform::windows_path(storage);
    write_ini(window_prog, storage_win);
    write_ini(cli_prog, storage_win);

    std::filesystem::create_directories(storage);
    const std::string t = base.path() + "/t.txt";
    const std::string done = storage + "/ ist eine lokale Festplatte! Pfad gespeichert!";
    ASSERT_EQ(window_prog.run("wait frmMorvo\nclick frmMorvo.comB_start\n"
                              "answer Yes if \"D A T E N V E R L U S T\"\n"
                              "wait frmMorvo sta_Anzeige " +
                                  platform::transcript_quote(done) +
                                  " 60\nclick frmMorvo.comB_log\nclick frmMorvo.comB_schliessen\n",
                              t),
              0);
    const auto window_outcome = outcome(window_store, storage);
    const std::string window_log = log_of(window_prog);
    std::filesystem::remove_all(storage);

    std::filesystem::create_directories(storage);
    const std::string out = base.path() + "/out.txt";
    ASSERT_EQ(run_headless(cli_prog, {"--run"}, out), 0) << read_bytes(out);
    EXPECT_EQ(outcome(cli_store, storage), window_outcome);
    const std::string cli_log = log_of(cli_prog);
    ASSERT_FALSE(window_log.empty());
    EXPECT_EQ(unstamped(cli_log), unstamped(window_log));
    // Standard output is the run's text, as the log has it (UTF-8, LF).
    EXPECT_EQ(cli_log.find('\r'), std::string::npos);
    EXPECT_EQ(unstamped(read_bytes(out)), unstamped(cli_log));
    EXPECT_NE(cli_log.find("FERTIG --- KEINE WEITERE DATEN VORHANDEN!"), std::string::npos);
}

// Installed for all users: the program folder belongs to root and no one else may write there.
// A normal user's run (tests running as root run as "nobody") finds its settings in the user's
// config folder and writes its log to the user's state folder; a log it cannot write ends the
// run with 1, and missing settings name the file looked for and --settings.
TEST(CommandLine, SystemWideProgramKeepsItsDataInTheUsersFolders) {
    const bool root = ::geteuid() == 0;
    if (root && std::system("command -v setpriv >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "setpriv missing";
    GeneratedStore store;
    ProgramFolder prog(store.root);
    TempDir base;
    const std::string storage = base.path() + "/ablage", state = base.path() + "/state";
    std::filesystem::create_directories(storage);
    const std::string ini = prog.config + "/morvolan/morvo.ini";
    std::ofstream(ini, std::ios::binary)
        << platform::utf8_to_cp1252("[Pfad Ablage]\r\n" + platform::windows_path(storage) +
                                    "\r\n\r\n[Pfad MS Outlook]\r\n" + kStore + "|Posteingang\r\n");
    if (root) {
        for (const std::string& d : {store.dir.path(), prog.config, base.path()})
            ASSERT_EQ(std::system(("chown -R 65534:65534 " + testsupport::shell_quoted(d)).c_str()),
                      0);
    }
    ::chmod(prog.program.c_str(), 0555);
    const std::string out = base.path() + "/out.txt";
    auto run = [&] {
        const std::string as_user =
            root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
        const int status = std::system(
            ("cd / && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u VELTRIN_USER_SCRIPT "
             "-u VELTRIN_TRANSCRIPT -u XDG_RUNTIME_DIR HOME=" +
             testsupport::shell_quoted(base.path()) +
             " XDG_CONFIG_HOME=" + testsupport::shell_quoted(prog.config) +
             " XDG_STATE_HOME=" + testsupport::shell_quoted(state) + " " + as_user +
             testsupport::shell_quoted(prog.program + "/morvo") + " --run >" +
             testsupport::shell_quoted(out) + " 2>&1")
                .c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };

    ASSERT_EQ(run(), 0) << read_bytes(out);
    EXPECT_FALSE(std::filesystem::is_empty(storage));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(prog.program),
                            std::filesystem::directory_iterator()),
              1);  // morvo alone
    const auto logs = testsupport::tree_listing(state + "/morvolan");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs.begin()->second.find("FERTIG"), std::string::npos);

    ::chmod((state + "/morvolan").c_str(), 0555);
    EXPECT_EQ(run(), 1) << read_bytes(out);
    EXPECT_NE(read_bytes(out).find("Die Protokolldatei"), std::string::npos) << read_bytes(out);
    ::chmod((state + "/morvolan").c_str(), 0755);

    std::filesystem::remove(ini);
    EXPECT_EQ(run(), 2);
    EXPECT_NE(read_bytes(out).find(ini + " kann nicht gelesen werden"), std::string::npos)
        << read_bytes(out);
    EXPECT_NE(read_bytes(out).find("--settings"), std::string::npos) << read_bytes(out);
    ::chmod(prog.program.c_str(), 0755);
}

TEST(CommandLine, ReattachKilledAtRandomThenRunAgainLosesNothing) {
    GeneratedStore store("maildir++", with_bulk(12, 16384));
    ProgramFolder prog(store.root);
    TempDir ablage;
    write_ini(prog, platform::windows_path(ablage.path()));
    const std::string out = prog.dir.path() + "/out.txt";

    // Every attachment of the run's folders, by mail: the bytes that must never be lost.
    auto attachments_by_mail = [&] {
        std::map<std::string, std::multiset<std::string>> held;
        auto ns = store.ns();
        TempDir tmp;
        for (const char* folder : {"Posteingang", "Massenpost"}) {
            auto f = store.folder(ns, folder);
            for (long i = 1; i <= f.Items().Count(); ++i) {
                try {
                    auto m = f.Items(i);
                    auto& set = held[m.Subject()];
                    for (long a = 1; a <= m.Attachments().Count(); ++a) {
                        m.Attachments(a).SaveAsFile(tmp.path() + "/a");
                        set.insert(m.Attachments(a).DisplayName() + " " +
                                   read_bytes(tmp.path() + "/a"));
                    }
                    // Still filed: held by its storage file when that has the recorded bytes.
                    for (const auto& r : m.FilingRecords()) {
                        auto path = platform::file_link_target(r.link);
                        std::string bytes =
                            path ? read_bytes(platform::host_path(*path)) : std::string();
                        if (outlook::sha256_hex(bytes) == r.sha256)
                            set.insert(r.name + " " + bytes);
                    }
                } catch (const platform::Error&) {
                }
            }
        }
        return held;
    };
    const auto original = attachments_by_mail();
    ASSERT_EQ(run_headless(prog, {"--run"}, out), 0) << read_bytes(out);
    ASSERT_EQ(attachments_by_mail(), original);

    // How long a whole reattach takes, to spread the kills over it.
    auto nothing_lost = [&](const std::string& when) {
        auto now = attachments_by_mail();
        for (const auto& [subject, set] : original) {
            SCOPED_TRACE(when + ": " + subject);
            ASSERT_TRUE(now.count(subject));
            for (const auto& a : set) EXPECT_TRUE(now.at(subject).count(a)) << a.substr(0, 40);
        }
    };
    // How long a whole reattach takes here, to spread the kills over it.
    auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(run_headless(prog, {"--reattach"}, out), 0) << read_bytes(out);
    const int full_ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now() - began)
                                             .count());
    nothing_lost("whole reattach");
    // Each round files everything again, then kills a reattach at a random moment. A kill
    // between a mail's new file and the removal of the old one may leave the mail twice; every
    // attachment must still be somewhere.
    std::mt19937 rng(21);
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(run_headless(prog, {"--run"}, out), 0) << read_bytes(out);
        run_headless(prog, {"--reattach"}, out,
                     std::uniform_int_distribution<>(0, full_ms + full_ms / 5)(rng));
        nothing_lost("round " + std::to_string(round));
    }
    int last = run_headless(prog, {"--reattach"}, out);
    EXPECT_TRUE(last == 0 || last == 1) << read_bytes(out);
    nothing_lost("after the last run");
    // Nothing still filed: every attachment is back in a mail.
    auto ns = store.ns();
    for (const char* folder : {"Posteingang", "Massenpost"}) {
        auto f = store.folder(ns, folder);
        for (long i = 1; i <= f.Items().Count(); ++i) try {
                for (const auto& r : f.Items(i).FilingRecords())
                    EXPECT_FALSE(std::filesystem::exists(
                        platform::host_path(platform::file_link_target(r.link).value_or(""))))
                        << r.link;
            } catch (const platform::Error&) {
            }
    }
}

}  // namespace
}  // namespace morvo::test
