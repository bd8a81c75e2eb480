// Program start by Windows command-line rules, the program container, waiting and exit codes.
#include "platform/process.h"
#include "platform/program_container.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "platform/error.h"
#include "platform/paths.h"
#include "platform/transcript.h"
#include "testsupport/testsupport.h"

namespace {

using platform::CommandLine;

using TempDir = testsupport::TempDir;

using testsupport::slurp;

void write(const std::string& path, const std::string& bytes, bool executable) {
    std::ofstream(path, std::ios::binary) << bytes;
    ::chmod(path.c_str(), executable ? 0755 : 0644);
}

unsigned long run_and_wait(const std::string& command_line) {
    long pid = platform::Shell(command_line, platform::vbHide);
    platform::Handle h = platform::OpenProcess(platform::SYNCHRONIZE, false, pid);
    EXPECT_NE(h, 0);
    EXPECT_EQ(platform::WaitForSingleObject(h, platform::INFINITE), platform::WAIT_OBJECT_0);
    unsigned long code = 12345;
    EXPECT_TRUE(platform::GetExitCodeProcess(h, code));
    platform::CloseHandle(h);
    return code;
}

TEST(SplitArguments, WindowsRules) {
    struct Case {
        const char* line;
        std::vector<std::string> args;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"a b  c", {"a", "b", "c"}},
        {"\ta\tb\t", {"a", "b"}},
        {R"("a b" c)", {"a b", "c"}},
        {R"(x"a b"y)", {"xa by"}},
        {R"("")", {""}},
        {R"(a "" b)", {"a", "", "b"}},
        {R"(a\b\\c)", {R"(a\b\\c)"}},
        {R"(a\"b)", {R"(a"b)"}},
        {R"(a\\"b c")", {R"(a\b c)"}},
        {R"(a\\\"b)", {R"(a\"b)"}},
        {R"("a""b")", {R"(a"b)"}},
        {R"("C:\Program Files\" x)", {R"(C:\Program Files" x)"}},
        {R"("C:\Program Files\\" x)", {R"(C:\Program Files\)", "x"}},
        {R"(C:\tmp\~Veltrin\data01.cab C:\tmp\~Veltrin\*.* -d -i)",
         {R"(C:\tmp\~Veltrin\data01.cab)", R"(C:\tmp\~Veltrin\*.*)", "-d", "-i"}},
        {R"("unterminated arg)", {"unterminated arg"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::split_arguments(c.line), c.args) << "line: " << c.line;
}

TEST(ParseCommandLine, ProgramByQuotesOrShortestExistingPrefix) {
    std::set<std::string> files = {R"(C:\Program Files\App\run.exe)", R"(C:\tmp\a)",
                                   R"(C:\tmp\a b\x)", R"(C:\Tools\setup)"};
    auto exists = [&](const std::string& p) { return files.count(p) > 0; };
    struct Case {
        const char* line;
        const char* program;
        const char* arguments;
        bool found;
    } cases[] = {
        {R"("C:\Program Files\App\run.exe" -x "y z")", R"(C:\Program Files\App\run.exe)",
         R"(-x "y z")", true},
        {R"(C:\Program Files\App\run.exe -x)", R"(C:\Program Files\App\run.exe)", "-x", true},
        // Shortest prefix wins, even where a longer one also names a file.
        {R"(C:\tmp\a b\x arg)", R"(C:\tmp\a)", R"(b\x arg)", true},
        {R"("C:\tmp\a b\x" arg)", R"(C:\tmp\a b\x)", "arg", true},
        // ".exe" is tried for names without an extension.
        {R"(C:\Program Files\App\run  -x)", R"(C:\Program Files\App\run.exe)", "-x", true},
        {R"(  C:\Tools\setup)", R"(C:\Tools\setup)", "", true},
        {R"(C:\nope\x.exe a b)", R"(C:\nope\x.exe)", "a b", false},
        {R"("C:\nope\y z.exe" a)", R"(C:\nope\y z.exe)", "a", false},
    };
    for (const auto& c : cases) {
        CommandLine cl = platform::parse_command_line(c.line, exists);
        EXPECT_EQ(cl.program, c.program) << c.line;
        EXPECT_EQ(cl.arguments, c.arguments) << c.line;
        EXPECT_EQ(cl.found, c.found) << c.line;
    }
}

class ShellTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string transcript = dir.file("transcript.txt");
    testsupport::ScopedSeam transcript_seam{platform::set_transcript_file, transcript};
};

TEST_F(ShellTest, HostScriptGetsWindowsSplitArgumentsAndExitCode) {
    write(dir.file("prog with blank"),
          "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > \"$(dirname \"$0\")/args.txt\"\n"
          "exit 7\n",
          true);
    std::string cmd = dir.win("prog with blank") + R"( one "two three" fo\"ur)";
    EXPECT_EQ(run_and_wait(cmd), 7u);
    EXPECT_EQ(slurp(dir.file("args.txt")), "[one]\n[two three]\n[fo\"ur]\n");
    EXPECT_EQ(slurp(transcript), "start " + platform::transcript_quote(dir.win("prog with blank")) +
                                     R"( "one \"two three\" fo\\\"ur")" + "\n");
}

TEST_F(ShellTest, StartedProgramsGetTheirOwnScriptNotOurs) {
    write(dir.file("env"),
          "#!/bin/sh\necho \"$VELTRIN_USER_SCRIPT|$VELTRIN_TRANSCRIPT|$KEEP\" > \"$1\"\n", true);
    struct Case {
        const char* child_script;
        std::string expected;
    } cases[] = {{nullptr, "||kept\n"}, {"/x/child.txt", "/x/child.txt||kept\n"}};
    for (const auto& c : cases) {
        ::setenv("VELTRIN_USER_SCRIPT", "/x/ours.txt", 1);
        ::setenv("VELTRIN_TRANSCRIPT", "/x/ours-transcript.txt", 1);
        ::setenv("KEEP", "kept", 1);
        if (c.child_script) ::setenv("VELTRIN_CHILD_USER_SCRIPT", c.child_script, 1);
        unsigned long code = run_and_wait(dir.win("env") + " " + dir.file("out"));
        ::unsetenv("VELTRIN_USER_SCRIPT");
        ::unsetenv("VELTRIN_TRANSCRIPT");
        ::unsetenv("VELTRIN_CHILD_USER_SCRIPT");
        ::unsetenv("KEEP");
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(slurp(dir.file("out")), c.expected);
    }
}

TEST_F(ShellTest, ContainerRunsItsPayload) {
    write(dir.file("elf.exe"), "MZ" + slurp("/bin/sh"), false);
    EXPECT_EQ(run_and_wait(dir.win("elf.exe") + R"( -c "exit 5")"), 5u);
    write(dir.file("sh-copy"), slurp("/bin/sh"), false);  // lost its run bit when copied
    EXPECT_EQ(run_and_wait(dir.win("sh-copy") + R"( -c "exit 6")"), 6u);
    write(dir.file("script.dat"), "MZ#!/bin/sh\nexit 4\n", false);
    EXPECT_EQ(run_and_wait(dir.win("script.dat")), 4u);
    EXPECT_EQ(platform::program_kind(dir.file("elf.exe")), platform::ProgramKind::Container);
    // As mkpackage writes it: the sh head, then the program; the layer skips the head.
    write(dir.file("head.exe"), platform::container_head() + slurp("/bin/sh"), false);
    EXPECT_EQ(run_and_wait(dir.win("head.exe") + R"( -c "exit 7")"), 7u);
    std::string blocked = slurp(dir.file("head.exe"));
    blocked[0] = 'X';
    write(dir.file("head-blocked.exe"), blocked, true);
    EXPECT_EQ(platform::program_kind(dir.file("head-blocked.exe")),
              platform::ProgramKind::NotProgram);
}

TEST_F(ShellTest, ContainerChangedBetweenStartsRunsWhatItHoldsNow) {
    const std::string path = dir.file("tool.dat");
    auto open_descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator{});
    };
    write(path, "MZ#!/bin/sh\nexit 4\n", false);
    EXPECT_EQ(run_and_wait(dir.win("tool.dat")), 4u);
    const auto descriptors = open_descriptors();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(run_and_wait(dir.win("tool.dat")), 4u);
    EXPECT_EQ(open_descriptors(), descriptors) << "repeated starts keep no descriptors";

    write(path, "MZ#!/bin/sh\nexit 9\n", false);  // same size, new content
    EXPECT_EQ(run_and_wait(dir.win("tool.dat")), 9u);
    // Blocked by its first byte and unblocked again, as the installer does between runs.
    std::string bytes = slurp(path);
    bytes[0] = 'X';
    write(path, bytes, false);
    EXPECT_THROW(platform::Shell(dir.win("tool.dat"), 1), platform::Error);
    bytes[0] = 'M';
    write(path, bytes, false);
    EXPECT_EQ(run_and_wait(dir.win("tool.dat")), 9u);
}

TEST_F(ShellTest, FilesThatAreNoProgramsFailToStart) {
    struct Case {
        const char* name;
        std::string bytes;
        bool executable;
        long error;
    } cases[] = {
        {"blocked.exe", "X" + slurp("/bin/sh").substr(1), true, 5},  // the "X" blocking mark
        {"text.txt", "hello\n", true, 5},
        {"windows.exe", std::string("MZ\x90\0\3\0", 6), false, 5},  // a real Windows program
        {"script-no-run-bit", "#!/bin/sh\nexit 0\n", false, 5},
    };
    for (const auto& c : cases) {
        write(dir.file(c.name), c.bytes, c.executable);
        try {
            platform::Shell(dir.win(c.name), 1);
            ADD_FAILURE() << c.name << " started";
        } catch (const platform::Error& e) {
            EXPECT_EQ(e.number, c.error) << c.name;
        }
    }
    try {
        platform::Shell(dir.win("missing.exe") + " arg", 1);
        ADD_FAILURE() << "missing program started";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number, 53);
    }
    EXPECT_EQ(slurp(transcript), "") << "nothing started, nothing written";
}

TEST_F(ShellTest, ExitCodeIsStillActiveWhileRunningAndTimedWaitTimesOut) {
    write(dir.file("sleeper"), "#!/bin/sh\nsleep 0.5\nexit 3\n", true);
    long pid = platform::Shell(dir.win("sleeper"), 1);
    platform::Handle h = platform::OpenProcess(platform::PROCESS_QUERY_INFORMATION, false, pid);
    unsigned long code = 0;
    ASSERT_TRUE(platform::GetExitCodeProcess(h, code));
    EXPECT_EQ(code, platform::STILL_ACTIVE);
    EXPECT_EQ(platform::WaitForSingleObject(h, 10), platform::WAIT_TIMEOUT);
    EXPECT_EQ(platform::WaitForSingleObject(h, 20000), platform::WAIT_OBJECT_0);
    ASSERT_TRUE(platform::GetExitCodeProcess(h, code));
    EXPECT_EQ(code, 3u);
    EXPECT_TRUE(platform::CloseHandle(h));
    EXPECT_FALSE(platform::GetExitCodeProcess(h, code)) << "closed handle";
}

TEST(OpenProcess, UnknownProcessGivesNoHandle) {
    EXPECT_EQ(platform::OpenProcess(platform::PROCESS_QUERY_INFORMATION, false, 0), 0);
    EXPECT_EQ(platform::OpenProcess(platform::PROCESS_QUERY_INFORMATION, false, 999999999), 0);
}

TEST_F(ShellTest, ShellExecuteOpensDocumentsAndStartsPrograms) {
    std::vector<std::string> opened;
    const testsupport::ScopedSeam opener(platform::set_document_opener,
                                         [&](const std::string& host) {
                                             opened.push_back(host);
                                             return true;
                                         });
    write(dir.file("readme.txt"), "text", false);
    write(dir.file("tool"), "#!/bin/sh\npwd > \"$1\"\n", true);
    EXPECT_GT(platform::ShellExecuteA(0, "Open", dir.win("readme.txt"), "", "", 1), 32);
    EXPECT_EQ(opened, std::vector<std::string>{dir.file("readme.txt")});
    EXPECT_EQ(platform::ShellExecuteA(0, "open", dir.win("missing.txt"), "", "", 1), 2);
    EXPECT_EQ(platform::ShellExecuteA(0, "print", dir.win("readme.txt"), "", "", 1), 31);

    mkdir(dir.file("work").c_str(), 0755);
    EXPECT_GT(platform::ShellExecuteA(0, "Open", dir.win("tool"), dir.file("where.txt"),
                                      dir.win("work"), 1),
              32);
    for (int i = 0; i < 500 && slurp(dir.file("where.txt")).empty(); ++i) platform::Sleep(10);
    EXPECT_EQ(slurp(dir.file("where.txt")), dir.file("work") + "\n") << "runs in the folder given";
    EXPECT_EQ(opened.size(), 1u) << "programs are started, not opened";
    std::string t = slurp(transcript);
    EXPECT_NE(t.find("start " + platform::transcript_quote(dir.win("readme.txt")) + " \"\"\n"),
              std::string::npos);
    EXPECT_NE(t.find("start " + platform::transcript_quote(dir.win("tool"))), std::string::npos);
}

// A container started natively, as a shell or desktop launcher does once the kernel refuses the
// format: /bin/sh runs the file. Each way the program takes over the process that was started, so
// a stop signal ends it as if sent to it directly, and while it runs its file exists nowhere on
// disk. The ways: from memory, from a copy (VELTRIN_NOMEM: no memory to run from), and both with
// TMPDIR and XDG_RUNTIME_DIR where no program may start. A blocked container starts no way and
// writes nothing.
TEST(ContainerStartedNatively, StopSignalsReachTheProgramAndNoCopyRemains) {
    TempDir dir;
    const std::string sleeper = dir.file("Setup.dat");
    write(sleeper, platform::container_head() + slurp("/bin/sleep"), true);
    std::string blocked_bytes = slurp(sleeper);
    blocked_bytes[0] = 'X';
    const std::string blocked = dir.file("Blocked.dat");
    write(blocked, blocked_bytes, true);
    const std::string temp = dir.file("temp");
    ::mkdir(temp.c_str(), 0700);
    const auto payload_size = std::filesystem::file_size("/bin/sleep");

    // Starts `sh CONTAINER 60` (the noexec ways inside their own mount) with TMPDIR and
    // XDG_RUNTIME_DIR at `temp`; the pid stays the program's through every exec.
    auto start = [&](const std::string& container, bool no_memory, bool noexec) {
        std::string line = "exec " + (noexec ? testsupport::noexec_mount_prefix(temp) : "") +
                           "/bin/sh " + testsupport::shell_quoted(container) + " 60";
        std::vector<std::string> env_store;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("TMPDIR=", 0) && entry.rfind("XDG_RUNTIME_DIR=", 0) &&
                entry.rfind("VELTRIN_NOMEM=", 0))
                env_store.push_back(entry);
        }
        env_store.push_back("TMPDIR=" + temp);
        env_store.push_back("XDG_RUNTIME_DIR=" + temp);
        if (no_memory) env_store.push_back("VELTRIN_NOMEM=1");
        std::vector<char*> envp;
        for (auto& e : env_store) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string sh = "/bin/sh", c = "-c";
        char* argv[] = {sh.data(), c.data(), line.data(), nullptr};
        // The signals' own actions, whatever this test was started with.
        posix_spawnattr_t attr;
        ::posix_spawnattr_init(&attr);
        sigset_t defaults;
        ::sigemptyset(&defaults);
        for (const int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaddset(&defaults, sig);
        ::posix_spawnattr_setsigdefault(&attr, &defaults);
        ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawn(&pid, "/bin/sh", nullptr, &attr, argv, envp.data()), 0);
        ::posix_spawnattr_destroy(&attr);
        return pid;
    };
    // Waits up to `seconds` for the end; the wait status, or -1 while it still runs.
    auto wait_for = [](pid_t pid, double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        int status = 0;
        do {
            if (::waitpid(pid, &status, WNOHANG) == pid) return status;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (std::chrono::steady_clock::now() < end);
        return -1;
    };
    // The file the program runs from, when it is the payload: its size, and whether it still
    // exists under its name.
    auto running_payload = [&](pid_t pid, bool& on_disk) {
        const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
        struct stat st {};
        if (::stat(exe.c_str(), &st) != 0 || std::uintmax_t(st.st_size) != payload_size)
            return false;
        std::string target = std::filesystem::read_symlink(exe).string();
        const std::string deleted = " (deleted)";
        if (target.size() > deleted.size() &&
            target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
            target.resize(target.size() - deleted.size());
        on_disk = std::filesystem::exists(target);
        return true;
    };

    const bool can_noexec = !testsupport::noexec_mount_prefix(temp).empty();
    for (const bool noexec : {false, true}) {
        if (noexec && !can_noexec) continue;  // no mount namespace here
        for (const bool no_memory : {false, true}) {
            for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
                SCOPED_TRACE(std::string(noexec ? "noexec " : "") +
                             (no_memory ? "copy " : "memory ") + strsignal(sig));
                const pid_t pid = start(sleeper, no_memory, noexec);
                ASSERT_GT(pid, 0);
                bool on_disk = true, running = false;
                for (int i = 0; i < 1000 && !(running = running_payload(pid, on_disk)); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (!running) ::kill(pid, SIGKILL);
                ASSERT_TRUE(running) << "the program never took over its process";
                EXPECT_FALSE(on_disk) << "its private copy is still on disk";
                ASSERT_EQ(::kill(pid, sig), 0);
                int status = wait_for(pid, 2.0);
                if (status == -1) {
                    ::kill(pid, SIGKILL);
                    status = wait_for(pid, 10.0);
                    ADD_FAILURE() << "still running 2 s after the signal";
                }
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
                EXPECT_TRUE(std::filesystem::is_empty(temp));
            }
        }
        // Blocked: every way refuses, and nothing is written.
        for (const bool no_memory : {false, true}) {
            const int status = wait_for(start(blocked, no_memory, noexec), 10.0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 126) << status;
            EXPECT_TRUE(std::filesystem::is_empty(temp));
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator{}),
              3);
}

}  // namespace
