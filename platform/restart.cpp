#include "platform/restart.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/transcript.h"

namespace platform {
namespace {

bool default_may_restart() {
    // root may always; a user in a logind session may ask the login manager.
    return geteuid() == 0 || std::getenv("XDG_SESSION_ID") != nullptr;
}

bool default_restart(unsigned long flags) {
    transcript_restart(static_cast<long>(flags));
    // A scripted run (and CI) records the request and never carries it out.
    if (scripted_run() || std::getenv("CI") != nullptr) return true;
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        setsid();
        execlp("systemctl", "systemctl", "reboot", static_cast<char*>(nullptr));
        _exit(127);
    }
    return true;  // the call returns at once; the program goes on meanwhile
}

RestartHooks& hooks() {
    static RestartHooks h{default_may_restart, default_restart,
                          [] { return VER_PLATFORM_WIN32_NT; }};
    return h;
}

}  // namespace

bool GetVersionExA(OSVERSIONINFO& info) {
    if (info.dwOSVersionInfoSize != 148) return false;
    info.dwPlatformId = static_cast<unsigned long>(hooks().platform_id());
    info.dwMajorVersion = 5;
    info.dwMinorVersion = 1;
    return true;
}

bool OpenProcessToken(unsigned long, long& token) {
    token = 1;
    return true;
}

bool LookupPrivilegeValueA(const std::string&, const std::string& name, long& luid) {
    luid = name == "SeShutdownPrivilege" ? 19 : 0;
    return luid != 0;
}

bool AdjustTokenPrivileges(long, bool, long luid, unsigned long) {
    return luid == 19 && hooks().may_restart();
}

bool ExitWindowsEx(unsigned long flags, unsigned long) {
    return hooks().restart(flags);
}

RestartHooks set_restart_hooks(RestartHooks h) {
    RestartHooks old = hooks();
    if (!h.may_restart) h.may_restart = old.may_restart;
    if (!h.restart) h.restart = old.restart;
    if (!h.platform_id) h.platform_id = old.platform_id;
    hooks() = std::move(h);
    return old;
}

}  // namespace platform
