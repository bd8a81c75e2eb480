#include "platform/transcript.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/escape.h"

namespace platform {
namespace {

struct Transcript {
    std::mutex mutex;
    bool configured = false;
    std::string path;
    std::FILE* file = nullptr;
    std::map<std::string, std::string, std::less<>> last_status;

    // Opens the file on first use so that a program that never writes leaves none behind.
    std::FILE* open_locked() {
        if (!configured) {
            configured = true;
            const char* env = std::getenv("VELTRIN_TRANSCRIPT");
            path = env ? env : "";
        }
        if (!file && !path.empty()) {
            file = std::fopen(path.c_str(), "we");
            if (!file) path.clear();  // unwritable: switch off rather than retry every line
        }
        return file;
    }
};

Transcript& transcript() {
    static Transcript* t = new Transcript;  // outlives static destructors of late writers
    return *t;
}

}  // namespace

bool transcript_enabled() {
    Transcript& t = transcript();
    std::lock_guard lock(t.mutex);
    if (!t.configured) {
        const char* env = std::getenv("VELTRIN_TRANSCRIPT");
        return env && *env;
    }
    return !t.path.empty();
}

void set_transcript_file(const std::string& host_path) {
    Transcript& t = transcript();
    std::lock_guard lock(t.mutex);
    if (t.file) std::fclose(t.file);
    t.file = nullptr;
    t.configured = true;
    t.path = host_path;
    t.last_status.clear();
}

void transcript_line(std::string_view text) {
    Transcript& t = transcript();
    std::lock_guard lock(t.mutex);
    std::FILE* f = t.open_locked();
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
    std::fflush(f);
}

void transcript_status(std::string_view form_dot_control, std::string_view text) {
    {
        Transcript& t = transcript();
        std::lock_guard lock(t.mutex);
        auto it = t.last_status.find(form_dot_control);
        if (it != t.last_status.end() && it->second == text) return;
        t.last_status[std::string(form_dot_control)] = std::string(text);
    }
    std::string line = "status ";
    line += form_dot_control;
    line += ' ';
    line += transcript_quote(text);
    transcript_line(line);
}

void transcript_start(std::string_view program, std::string_view arguments) {
    transcript_line("start " + transcript_quote(program) + " " + transcript_quote(arguments));
}

void transcript_restart(long flags) {
    transcript_line("restart " + std::to_string(flags));
}

std::string transcript_quote(std::string_view text) {
    return "\"" +
           escaped(text,
                   {{'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}, {'"', "\\\""}, {'\\', "\\\\"}}) +
           '"';
}

std::string transcript_unescape(std::string_view escaped) {
    // \" \\ and any other escaped character stand for themselves.
    return *platform::unescaped(escaped,
                                {{'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}, {'\0', "\\0"}},
                                platform::OtherEscape::character);
}

bool scripted_run() {
    const char* env = std::getenv("VELTRIN_USER_SCRIPT");
    return env && *env;
}

}  // namespace platform
