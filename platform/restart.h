#pragma once
// Restarting the computer. The programs see the Windows calls; behind them one replaceable
// function carries the request to the login manager. Scripted runs only record the request in the
// transcript, and tests install their own handler: nothing here restarts a test machine.
#include <functional>
#include <string>

namespace platform {

constexpr long VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr long VER_PLATFORM_WIN32_NT = 2;
constexpr unsigned long EWX_REBOOT = 2;

struct OSVERSIONINFO {
    unsigned long dwOSVersionInfoSize = 148;
    unsigned long dwMajorVersion = 0;
    unsigned long dwMinorVersion = 0;
    unsigned long dwBuildNumber = 0;
    unsigned long dwPlatformId = 0;
};

// Reports the NT line (this layer's only line); fails when the size field is not 148.
bool GetVersionExA(OSVERSIONINFO& info);

// The token calls: opening always succeeds; adjusting succeeds when the system lets this user
// restart the machine.
bool OpenProcessToken(unsigned long desired_access, long& token);
bool LookupPrivilegeValueA(const std::string& system_name, const std::string& name, long& luid);
bool AdjustTokenPrivileges(long token, bool disable_all, long luid, unsigned long attributes);

// Hands the request to the restart function; true when it accepted.
bool ExitWindowsEx(unsigned long flags, unsigned long reserved);

struct RestartHooks {
    std::function<bool()> may_restart;                 // the privilege
    std::function<bool(unsigned long flags)> restart;  // the request itself
    std::function<long()> platform_id;                 // what GetVersionExA reports
};
// Replaces the hooks (tests); returns the previous ones.
RestartHooks set_restart_hooks(RestartHooks hooks);

}  // namespace platform
