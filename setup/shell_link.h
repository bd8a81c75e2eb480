#pragma once
// Shortcuts and special folders. A shortcut file is a freedesktop desktop entry written at exactly
// the path given; paths inside it are host paths, and reading it back gives Windows paths again.
#include <functional>
#include <optional>
#include <string>

namespace setup {

// The declarations the class relies on (the module has no procedures of its own).
namespace mShellLink {
constexpr long CSIDL_DESKTOP = 0;
constexpr long CSIDL_PROGRAMS = 2;
constexpr long SLR_UPDATE = 4;
constexpr long SLGP_UNCPRIORITY = 2;
constexpr long STGM_READ = 0;
constexpr long SW_SHOWNORMAL = 5;
constexpr int MAX_PATH = 260;
}  // namespace mShellLink

class cShellLink {
  public:
    // sfPath receives the folder (Windows form, no trailing backslash); unchanged when the lookup
    // fails or yields an empty path.
    bool GetSystemFolderPath(long hwnd, long Id, std::string& sfPath);
    // lnkCap, the shortcut's description, becomes its Comment (none when empty). Categories are
    // the menu's ("Office;Email;"); when empty, those that fit the target.
    bool CreateShellLink(const std::string& LnkFile, const std::string& ExeFile,
                         const std::string& WorkDir, const std::string& ExeArgs,
                         const std::string& IconFile, long IconIdx, long ShowCmd,
                         const std::string& lnkCap, const std::string& Categories = "");
    // Each string output comes back as a 255-character buffer: the value, a NUL, then spaces (a
    // longer value comes back whole, followed by the NUL). cut_at_nul() gives the value.
    bool GetShellLinkInfo(const std::string& LnkFile, std::string& ExeFile, std::string& WorkDir,
                          std::string& ExeArgs, std::string& IconFile, long& IconIdx,
                          long& ShowCmd);
};

std::string cut_at_nul(const std::string& buffer);

// The host folder of a special folder number (0 desktop, 2 start menu programs), or nothing for
// an unknown number. Tests replace it; an empty result stands for a folder the platform resolves
// to an empty path.
using SpecialFolderResolver = std::function<std::optional<std::string>(long Id)>;
void set_special_folder_resolver(SpecialFolderResolver resolver);  // empty: the XDG folders
std::optional<std::string> special_folder_host_path(long Id);

}  // namespace setup
