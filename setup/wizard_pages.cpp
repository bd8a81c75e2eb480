#include "setup/wizard_pages.h"

#include <cstdint>
#include <filesystem>

#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "setup/script.h"
#include "setup/string_table.h"

namespace setup {

PageSwitches read_page_switches() {
    return {GetIniValue("frmWelcome", "Forms", ""), GetIniValue("frmLizenz", "Forms", "")};
}

int first_page(const PageSwitches& s) {
    if (s.frmWelcome == "1") return 0;
    if (s.frmLizenz == "1") return 1;
    return 0;
}

NavButtons nav_buttons(int page, const PageSwitches& s, NavButtons previous) {
    NavButtons b = previous;
    switch (page) {
        case 0:
            b.back_enabled = false;
            b.next_enabled = true;
            break;
        case 1:
            b.back_enabled = s.frmWelcome != "0";
            break;
        case 2:
        case 3:
            b.back_enabled = true;
            b.next_enabled = true;
            break;
        case 4:
            b.back_enabled = true;
            break;
        default:
            break;
    }
    return b;
}

NavAction navigate(int Index, int current_page, const PageSwitches& s) {
    switch (Index) {
        case 0:
            return {NavKind::Help};
        case 1:
            return {NavKind::Cancel};
        case 2:
            if (current_page == 2) return {NavKind::ShowStep, s.frmLizenz == "0" ? 0 : 1};
            if (current_page >= 1 && current_page <= 4) {
                return {NavKind::ShowStep, current_page - 1};
            }
            return {NavKind::Nothing};
        case 3:
            if (current_page == 0) return {NavKind::ShowStep, s.frmLizenz == "0" ? 2 : 1};
            if (current_page >= 1 && current_page <= 3) {
                return {NavKind::ShowStep, current_page + 1};
            }
            if (current_page == 4) return {NavKind::StartInstallation};
            return {NavKind::Nothing};
        default:
            return {NavKind::Nothing};
    }
}

long help_context(int page) {
    return 1000 + 10 * (page + 1);
}

std::string welcome_sentence(const std::string& product) {
    return "Willkommen zum Setup von " + product + ". Der Veltrin Wizard wird " + product +
           " installieren.";
}

std::string folder_instruction(const std::string& product) {
    return "Wählen Sie ein anderes Verzeichnis, wenn Sie " + product +
           " in ein anderes Verzeichnis installieren möchten.";
}

std::array<std::string, 6> chosen_settings(const std::string& product,
                                           const std::string& install_path,
                                           const std::string& group) {
    return {"Das zu installierende Produkt:",   product,           "Installationsverzeichnis:",
            platform::shown_path(install_path), "Programmgruppe:", group};
}

std::array<std::string, 6> default_settings(const std::string& product,
                                            const std::string& raw_install_path,
                                            const std::string& group) {
    return chosen_settings(product, raw_install_path, group);
}

std::string incomplete_data_text(int nIndex) {
    long id = 30000L + nIndex;
    if (id > INT16_MAX || id < INT16_MIN) throw platform::Error(6, "Überlauf");
    return LoadResString(30000) + "\r\n" + LoadResString(static_cast<int32_t>(id));
}

std::string info_box_title() {
    return "Veltrin Setupassistent – Ausgabe 1.0";
}

std::string info_box_text() {
    return "Dieses Setup wurde mit dem Installationsmodul des Veltrin Setupassistenten "
           "erstellt.\n"
           "Ausgabe: Veltrin Setupassistent 1.0 für Linux-Arbeitsplätze.\n"
           "Veltrin Setupassistent © Veltrin-Entwicklergruppe. Alle Rechte vorbehalten.\n"
           "Für dieses Setup leistet der Hersteller des Setupassistenten keine Unterstützung; "
           "wenden Sie sich an den Hersteller des Produkts.\n"
           "Web: https://veltrin.example.org";
}

std::string tool_line_1() {
    return "Dieses Setup wurde mit dem Veltrin Setupassistenten erstellt.";
}
std::string tool_line_2() {
    return "Veltrin Setupassistent, Installationsmodul Ausgabe 1.0";
}

std::string chosen_install_folder(const std::string& dir_path, const std::string& product) {
    return dir_path + "\\" + product;
}

bool folder_holds_entries(const std::string& folder) {
    std::error_code ec;
    const std::filesystem::directory_iterator entries(platform::host_path(folder), ec);
    return !ec && entries != std::filesystem::directory_iterator();
}

bool confirm_install_folder(const std::string& install_path) {
    if (!folder_holds_entries(install_path)) return true;
    const std::string text = "Der Ordner " + platform::shown_path(install_path) +
                             " enthält bereits Dateien.\n\nSetup installiert trotzdem dorthin. "
                             "Bei der Deinstallation werden nur die installierten Dateien "
                             "entfernt; alle anderen bleiben erhalten.\n\nMöchten Sie in diesen "
                             "Ordner installieren?";
    return platform::MsgBox(text, platform::Buttons::YesNo, platform::Icon::Question, "Veltrin") ==
           platform::Result::Yes;
}

}  // namespace setup
