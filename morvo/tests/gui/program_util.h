#pragma once

// Runs the real program `morvo` from a program folder of its own, driven by the scripted user,
// with a profile that names a generated store.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "morvo/tests/outlook_test_util.h"

namespace morvo::test {

using outlook::test::GeneratedStore;
using outlook::test::links_of;
using outlook::test::read_bytes;
using outlook::test::TempDir;
using outlook::test::with_bulk;
inline const std::string kStore = outlook::test::store_name;

inline std::string bin_dir() {
    if (const char* b = std::getenv("VELTRIN_BIN")) return b;
    return std::string(VELTRIN_BINARY_DIR) + "/bin";
}

struct ProgramFolder {
    outlook::test::TempDir dir;
    std::string program;  // host folder holding morvo
    std::string config;   // XDG_CONFIG_HOME
    // `kind` names the store's backend in the profile ("" lets the location decide).
    explicit ProgramFolder(const std::string& store_root, const std::string& kind = "") {
        program = dir.path() + "/prog";
        config = dir.path() + "/cfg";
        std::filesystem::create_directories(program);
        std::filesystem::create_directories(config + "/morvolan");
        std::error_code ec;
        std::filesystem::create_hard_link(bin_dir() + "/morvo", program + "/morvo", ec);
        if (ec) std::filesystem::copy_file(bin_dir() + "/morvo", program + "/morvo");
        std::ofstream(config + "/morvolan/profile.ini")
            << "[Store]\nName=" << outlook::test::store_name << "\nLocation=" << store_root << "\n"
            << (kind.empty() ? "" : "Kind=" + kind + "\n");
    }
    std::string ini() const { return program + "/morvo.ini"; }

    // Starts morvo on a script; returns its pid.
    pid_t spawn(const std::string& script, const std::string& transcript) const {
        const std::string script_file = transcript + ".script";
        std::ofstream(script_file) << script;
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("VELTRIN_USER_SCRIPT", script_file.c_str(), 1);
            ::setenv("VELTRIN_TRANSCRIPT", transcript.c_str(), 1);
            ::chdir(program.c_str());
            const std::string exe = program + "/morvo";
            ::execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }

    // Runs morvo to its end; returns the exit status (-1 on timeout, which kills it).
    int run(const std::string& script, const std::string& transcript, int timeout_s = 120) const {
        pid_t pid = spawn(script, transcript);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

inline std::vector<std::string> lines_of(const std::string& file) {
    std::vector<std::string> out;
    std::ifstream in(file);
    std::string l;
    while (std::getline(in, l)) out.push_back(l);
    return out;
}

inline bool has_line(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line) return true;
    return false;
}

}  // namespace morvo::test
