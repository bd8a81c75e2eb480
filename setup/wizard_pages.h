#pragma once
// The wizard's page logic, apart from its window (forms/frmWizard) and from the add-in class
// that opens it (addin.h): the first page, the navigation table, the state of
// the Back and Next buttons, the texts it fills in, and the help context of a page.
#include <array>
#include <string>

namespace setup {

constexpr int kWizardPages = 5;

// Forms/frmWelcome and Forms/frmLizenz as read from the script.
struct PageSwitches {
    std::string frmWelcome;
    std::string frmLizenz;
};
PageSwitches read_page_switches();

int first_page(const PageSwitches& s);

struct NavButtons {
    bool back_enabled;
    bool next_enabled;
};
// SetNavButtons for a page; `previous` is the state before (a page may leave one unchanged).
NavButtons nav_buttons(int page, const PageSwitches& s, NavButtons previous);

enum class NavKind { Help, Cancel, ShowStep, StartInstallation, Nothing };
struct NavAction {
    NavKind kind;
    int page = 0;  // for ShowStep
};
// cmdNav_Click's table: Index 0 help, 1 cancel, 2 back, 3 next.
NavAction navigate(int Index, int current_page, const PageSwitches& s);

// The help context of a page: 1010 on page 0 up to 1050 on page 4.
long help_context(int page);
constexpr const char* kHelpFile = "RUDAVEZA.HLP";

std::string welcome_sentence(const std::string& product);
std::string folder_instruction(const std::string& product);

// The six lines of each summary list.
std::array<std::string, 6> chosen_settings(const std::string& product,
                                           const std::string& install_path,
                                           const std::string& group);
std::array<std::string, 6> default_settings(const std::string& product,
                                            const std::string& raw_install_path,
                                            const std::string& group);

// The text of IncompleteData: id 30000, CR LF, id 30000 + nIndex. Throws platform::Error when the
// id overflows 16 bits or has no string.
std::string incomplete_data_text(int nIndex);

// The information box: title and text about the setup tool that built this package.
std::string info_box_title();
std::string info_box_text();

// The two lines about the setup tool on the welcome page.
std::string tool_line_1();
std::string tool_line_2();

// OK of the folder chooser: the open folder, a backslash, the product name, without looking.
std::string chosen_install_folder(const std::string& dir_path, const std::string& product);

// Whether a folder (Windows path) exists and holds any entry.
bool folder_holds_entries(const std::string& folder);
// Whether the install may go into install_path (Windows path): a folder that does not exist or
// is empty goes on without a word; one that holds entries asks first (Yes goes on), since its
// entries belong to someone else and an uninstall will leave them.
bool confirm_install_folder(const std::string& install_path);

}  // namespace setup
