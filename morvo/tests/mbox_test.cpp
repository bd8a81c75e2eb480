// The mbox backend: the file format as read and framed again, a Thunderbird local-folder tree,
// and rewrites that keep what the run did not change and respect other programs and their locks.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <functional>

#include "morvo/outlook/mbox_format.h"
#include "morvo/tests/outlook_test_util.h"

namespace morvo::outlook::test {
namespace {

std::vector<std::string> scanned(const std::string& file, size_t piece) {
    mbox::Scanner s;
    for (size_t i = 0; i < file.size(); i += piece)
        s.feed(file.data() + i, std::min(piece, file.size() - i));
    std::vector<std::string> out;
    for (const auto& e : s.finish())
        out.push_back((e.deleted ? "[deleted]" : "") +
                      file.substr(e.content, e.content_end - e.content));
    return out;
}

TEST(MboxFormat, MailsAreTheBytesBetweenFromLines) {
    struct Row {
        const char* what;
        std::string file;
        std::vector<std::string> mails;
    };
    const std::vector<Row> table = {
        {"mboxo: a quoted line stays quoted",
         "From a\nSubject: 1\n\nHi\n>From here\n\nFrom b\nSubject: 2\n\nx\n",
         {"Subject: 1\n\nHi\n>From here\n", "Subject: 2\n\nx\n"}},
        {"mboxrd: every level kept", "From a\n\n>>From x\n>From y\n\n", {"\n>>From x\n>From y\n"}},
        {"no empty line before the next",
         "From a\nA: 1\n\nb\nFrom c\nA: 2\n\nd",
         {"A: 1\n\nb\n", "A: 2\n\nd"}},
        {"text before the first mail is no mail", "junk\nFrom a\nA: 1\n\nb\n", {"A: 1\n\nb\n"}},
        {"CR LF lines",
         "From a\r\nA: 1\r\n\r\nb\r\n\r\nFrom c\r\nA: 2\r\n\r\nd\r\n",
         {"A: 1\r\n\r\nb\r\n", "A: 2\r\n\r\nd\r\n"}},
        {"deleted flag read in the header only",
         "From a\nX-Mozilla-Status: 0009\n\nb\n\nFrom c\nX-Mozilla-Status: 0001\n\n"
         "X-Mozilla-Status: 0008\n\n",
         {"[deleted]X-Mozilla-Status: 0009\n\nb\n",
          "X-Mozilla-Status: 0001\n\nX-Mozilla-Status: 0008\n"}},
        {"\"From \" inside a line starts nothing",
         "From a\n\nsee From here\n",
         {"\nsee From here\n"}},
        {"empty file", "", {}},
    };
    for (const auto& row : table)
        for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, size_t{1} << 20})
            EXPECT_EQ(scanned(row.file, piece), row.mails) << row.what << ", pieces of " << piece;
}

TEST(MboxFormat, ChangedMailKeepsItsFromLineAndNeverReadsAsTwo) {
    EXPECT_EQ(mbox::framed("From a x\n", "A: 1\n\nFrom me\n>From you\nend", true),
              "From a x\nA: 1\n\n>From me\n>From you\nend\n\n");
    EXPECT_EQ(mbox::framed("From a\n", "A: 1\n\nx\n", false), "From a\nA: 1\n\nx\n");
    const std::vector<std::pair<std::string, long>> status = {
        {"X-Mozilla-Status: 0009\n", 9},       {"x-mozilla-status:\t8\r\n", 8},
        {"X-Mozilla-Status2: 00000000\n", -1}, {"X-Mozilla-Status: 12z\n", -1},
        {"X-Mozilla-Status:\n", -1},
    };
    for (const auto& [line, value] : status) EXPECT_EQ(mbox::mozilla_status(line), value) << line;
}

std::string mail(const std::string& subject, const std::string& status, const std::string& text) {
    return "X-Mozilla-Status: " + status +
           "\nX-Mozilla-Status2: 00000000\nX-Mozilla-Keys:                 \n"
           "From: Anna <anna@example.org>\nSubject: " +
           subject +
           "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
           "Content-Type: text/plain; charset=us-ascii\n\n" +
           text +
           "\n--b\nContent-Type: application/pdf; name=\"a.pdf\"\n"
           "Content-Disposition: attachment; filename=\"a.pdf\"\n"
           "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQgdGVzdA==\n--b--\n";
}

std::string framed(const std::string& bytes) {
    return "From anna@example.org Fri Mar  1 08:00:00 2024\n" + bytes + "\n";
}

// A Thunderbird profile with local folders: an inbox holding a mail marked deleted, an archive
// with a subfolder, a folder that exists only as "NAME.sbd/", summaries and other files.
struct Profile {
    TempDir dir;
    std::string profile = dir.path() + "/x1y2.default";
    std::string local = profile + "/Mail/Local Folders";
    std::string inbox = local + "/Inbox";
    std::string head = framed(mail("Eins", "0001", "erster Text")) +
                       framed(mail("Weg", "0009", "geloescht, nicht verdichtet"));
    std::string drei = framed(mail("Drei", "0000", "Text\n>From the start\n>>From rd"));

    Profile() {
        std::filesystem::create_directories(local + "/Archives.sbd");
        std::filesystem::create_directories(local + "/Notes.sbd");
        write(inbox, head + drei);
        ::chmod(inbox.c_str(), 0640);
        write(inbox + ".msf", "// <!-- <mdb:mork:z v=\"1.4\"/> -->");
        write(local + "/Archives", framed(mail("Alt", "0001", "alt")));
        write(local + "/Archives.msf", "summary");
        write(local + "/Archives.sbd/2024", "");
        write(local + "/Notes.sbd/Sub", framed(mail("Unten", "0001", "unten")));
        write(local + "/Trash", "");
        write(local + "/msgFilterRules.dat", "version=\"9\"\n");
        write(local + "/popstate.dat", "");
        write(local + "/notes.txt", "no mbox\n");
    }
    static void write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    NameSpace ns() const {
        StoreConfig c = store_config("Lokale Ordner", local);
        c.kind = "mbox";
        return Application::with_stores({c}).GetNamespace("MAPI");
    }
    // Lists the inbox and removes the attachment of "Drei" (in memory and held for the batch).
    void change_drei(const NameSpace& n) const {
        MailItem m = n.Folders("Lokale Ordner").Folders("Posteingang").Items(2);
        ASSERT_EQ(m.Subject(), "Drei");
        m.Attachments(1).Delete();
        m.Save();
    }
};

std::vector<std::string> names(const Folders& f) {
    std::vector<std::string> out;
    for (long i = 1; i <= f.Count(); ++i) out.push_back(f.Item(i).Name());
    return out;
}

TEST(MboxStore, ThunderbirdTreeWithoutDeletedMailsAndOtherFiles) {
    Profile p;
    NameSpace n = p.ns();
    MAPIFolder top = n.Folders("Lokale Ordner");
    EXPECT_EQ(names(top.Folders()),
              (std::vector<std::string>{"Archives", "Notes", "Posteingang", "Trash"}));
    EXPECT_EQ(names(top.Folders("Archives").Folders()), std::vector<std::string>{"2024"});
    EXPECT_EQ(names(top.Folders("Notes").Folders()), std::vector<std::string>{"Sub"});
    EXPECT_EQ(top.Folders("Notes").Items().Count(), 0);
    EXPECT_EQ(top.Folders("Notes").Folders("Sub").Items(1).Subject(), "Unten");
    MAPIFolder in = top.Folders("Posteingang");
    ASSERT_EQ(in.Items().Count(), 2);
    EXPECT_EQ(in.Items(1).Subject(), "Eins");
    EXPECT_EQ(in.Items(2).Subject(), "Drei");
    EXPECT_NE(in.Items(2).Body().find(">From the start\r\n>>From rd"), std::string::npos);
}

TEST(MboxStore, SaveSeenAtOnceWrittenInBatchKeepingTheRest) {
    Profile p;
    NameSpace n = p.ns();
    p.change_drei(n);
    // Seen through the binding at once (read again from the held save), the file as it was.
    EXPECT_EQ(n.Folders("Lokale Ordner").Folders("Posteingang").Items(2).Attachments().Count(), 0);
    EXPECT_EQ(read_bytes(p.inbox), p.head + p.drei);
    ASSERT_TRUE(n.flush_saves().complete);

    const std::string now = read_bytes(p.inbox);
    ASSERT_EQ(now.substr(0, p.head.size()), p.head);  // untouched mails, deleted one included
    const std::string changed = now.substr(p.head.size());
    EXPECT_EQ(changed.rfind("From anna@example.org Fri Mar  1 08:00:00 2024\nX-Mozilla-Status: "
                            "0000\nX-Mozilla-Status2: 00000000\nX-Mozilla-Keys:",
                            0),
              0u)
        << changed;
    EXPECT_NE(changed.find("\n>From the start\n>>From rd"), std::string::npos) << changed;
    EXPECT_EQ(changed.find("a.pdf"), std::string::npos);
    EXPECT_EQ(changed.substr(changed.size() - 2), "\n\n");
    EXPECT_FALSE(std::filesystem::exists(p.inbox + ".msf"));
    EXPECT_TRUE(std::filesystem::exists(p.local + "/Archives.msf"));
    struct stat st {};
    ASSERT_EQ(::stat(p.inbox.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(names(p.ns().Folders("Lokale Ordner").Folders()).size(), 4u);  // no file left
}

// A child process that holds an fcntl lock on `path` until the pipe closes.
struct LockHolder {
    pid_t pid = -1;
    int to_child = -1;
    explicit LockHolder(const std::string& path) {
        int up[2], down[2];
        if (::pipe(up) != 0 || ::pipe(down) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::close(down[1]);  // so that the parent's close ends the wait
            int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            char c = ::fcntl(fd, F_SETLK, &fl) == 0 ? 'y' : 'n';
            (void)!::write(up[1], &c, 1);
            (void)!::read(down[0], &c, 1);
            ::_exit(0);
        }
        char c = 0;
        (void)!::read(up[0], &c, 1);
        EXPECT_EQ(c, 'y');
        ::close(up[0]);
        ::close(up[1]);
        ::close(down[0]);
        to_child = down[1];
    }
    ~LockHolder() {
        ::close(to_child);
        ::waitpid(pid, nullptr, 0);
    }
};

long gone_pid() {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

std::string host() {
    char buf[256] = {};
    ::gethostname(buf, sizeof buf - 1);
    return buf;
}

TEST(MboxStore, OtherProgramsBetweenListingAndWriting) {
    const std::string appended =
        "From b@example.org Sat Mar  2 09:00:00 2024\nSubject: neu\n\nneu\n";
    struct Row {
        const char* what;
        std::function<void(const Profile&)> meanwhile;
        std::string refusal;  // "" = written
    };
    const std::vector<Row> table = {
        {"a mail appended is kept",
         [&](const Profile& p) { std::ofstream(p.inbox, std::ios::app) << appended; }, ""},
        {"a change in place leaves the file to its writer",
         [](const Profile& p) {
             std::string b = read_bytes(p.inbox);
             b[b.find("erster")] = 'E';
             Profile::write(p.inbox, b);
         },
         "verändert"},
        {"another program's dot lock",
         [](const Profile& p) { Profile::write(p.inbox + ".lock", "4242\n"); },
         "sperrt das Postfach"},
        {"the lock of a killed run of ours goes, with the draft of its text",
         [](const Profile& p) {
             const std::string mine = "morvo " + host() + " " + std::to_string(gone_pid()) + "\n";
             Profile::write(p.inbox + ".lock", mine);
             Profile::write(p.local + "/.Inbox.lock.morvo", mine);
         },
         ""},
        {"mail program running (lock link)",
         [](const Profile& p) {
             std::filesystem::create_symlink("127.0.0.1:+" + std::to_string(::getpid()),
                                             p.profile + "/lock");
         },
         "gesperrt ("},
        {"mail program gone (lock link left)",
         [](const Profile& p) {
             std::filesystem::create_symlink("127.0.0.1:+" + std::to_string(gone_pid()),
                                             p.profile + "/lock");
         },
         ""},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        Profile p;
        {
            NameSpace n = p.ns();
            p.change_drei(n);
            row.meanwhile(p);
            const std::string before = read_bytes(p.inbox);
            if (row.refusal.empty()) {
                EXPECT_TRUE(n.flush_saves().complete);
                const std::string now = read_bytes(p.inbox);
                EXPECT_EQ(now.substr(0, p.head.size()), p.head);
                EXPECT_EQ(now.find("a.pdf", p.head.size()), std::string::npos);
                EXPECT_EQ(now.find(appended) != std::string::npos,
                          before.find(appended) != std::string::npos);
                EXPECT_FALSE(std::filesystem::exists(p.inbox + ".lock"));
                EXPECT_FALSE(std::filesystem::exists(p.local + "/.Inbox.lock.morvo"));
                continue;
            }
            const FlushResult r = n.flush_saves();
            EXPECT_FALSE(r.complete);
            ASSERT_EQ(r.failures.size(), 1u);
            EXPECT_NE(r.failures[0].find(row.refusal), std::string::npos) << r.failures[0];
            EXPECT_NE(r.failures[0].find(p.inbox), std::string::npos) << r.failures[0];
            EXPECT_EQ(read_bytes(p.inbox), before);
            EXPECT_TRUE(std::filesystem::exists(p.inbox + ".msf"));
            EXPECT_TRUE(n.flush_saves().complete);  // the failure was told once
        }
    }
    // The mail program's fcntl lock on ".parentlock", held by another process.
    Profile p;
    NameSpace n = p.ns();
    p.change_drei(n);
    LockHolder running(p.profile + "/.parentlock");
    EXPECT_FALSE(n.flush_saves().complete);
    EXPECT_EQ(read_bytes(p.inbox), p.head + p.drei);
}

}  // namespace
}  // namespace morvo::outlook::test
