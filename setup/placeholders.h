#pragma once
// Placeholder expansion of setup script values ("#InstallPath#", "#ProgramGroup#", ...).
#include <functional>
#include <string>

namespace setup {

// Where "#InstallPath#" comes from: the progress window's hidden InstallPath field. frmHin
// installs the source at load; before that (and before the wizard's hand-over) it is empty.
void set_install_path_source(std::function<std::string()> source);
// The owner window handle passed to the special-folder lookups (the progress window's).
void set_owner_window(long hwnd);

// The system folder ("#WinSysDir#"): /usr/local/lib for root, ~/.local/lib otherwise (Windows
// form).
std::string system_folder();

std::string ExpandPlaceholders(const std::string& Text);

}  // namespace setup
