#include "uninstall/uninstall_run.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <filesystem>

#include "platform/batch.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/resume.h"
#include "platform/shell_file_op.h"
#include "setup/uninstall_log_names.h"

namespace uninstall {

using N = setup::UninstallLogNames;
namespace {

// The log's values are read into a buffer of this many characters, terminator included.
constexpr std::size_t kValueBuffer = 255;

std::string read_value(std::string_view Key, std::string_view Section, std::string_view File) {
    if (Key.empty()) return {};
    std::string value = platform::GetPrivateProfileStringA(Section, Key, "", kValueBuffer, File);
    std::erase(value, '\0');
    return value;
}

// Deletes the one file a path names; a failure is an error of the statement.
void delete_file(const std::string& path) {
    if (!platform::DeleteFileA(path)) throw platform::Error(platform::kErrFileNotFound);
}

std::string folder_with_trailing_name(const std::string& folder, std::string_view name) {
    // A drive root keeps its backslash ("C:\"); the name starts with one of its own.
    if (!folder.empty() && folder.back() == '\\') return folder + std::string(name.substr(1));
    return folder + std::string(name);
}

}  // namespace

std::string GetIniValue(std::string_view Key, std::string_view Section, std::string_view File) {
    if (File.empty()) {
        return read_value(Key, Section, folder_with_trailing_name(platform::app_path(), kLogName));
    }
    return read_value(Key, Section, File);
}

std::string shdelete_source_list(const FileList& vFiles) {
    std::string list;
    if (const auto* many = std::get_if<std::vector<std::string>>(&vFiles)) {
        for (const auto& f : *many) {
            list += f;
            list += '\0';
        }
        list += '\0';
        return list;
    }
    list = std::get<std::string>(vFiles);
    if (!list.empty() && list.back() == '\\') list.pop_back();
    while (list.size() < 2 || list[list.size() - 1] != '\0' || list[list.size() - 2] != '\0') {
        list += '\0';
    }
    return list;
}

unsigned shdelete_flags(bool bConfirmation, bool bShowProgress, bool bShowNames, bool bAllowUndo,
                        bool bShowErrors) {
    unsigned flags = 0;
    if (bAllowUndo) flags |= platform::FOF_ALLOWUNDO;
    if (!bShowProgress) flags |= platform::FOF_SILENT;
    if (!bConfirmation) flags |= platform::FOF_NOCONFIRMATION;
    if (!bShowNames) flags |= platform::FOF_SIMPLEPROGRESS;
    if (!bShowErrors) flags |= platform::FOF_NOERRORUI;
    return flags;
}

bool SHDelete(const FileList& vFiles, std::int32_t lStartHwnd, bool bConfirmation,
              bool bShowProgress, bool bShowNames, bool bAllowUndo, bool bShowErrors,
              bool* bAbortFiles) {
    platform::SHFILEOPSTRUCT op;
    op.hwnd = lStartHwnd;
    op.wFunc = platform::FO_DELETE;
    op.pFrom = shdelete_source_list(vFiles);
    op.fFlags = shdelete_flags(bConfirmation, bShowProgress, bShowNames, bAllowUndo, bShowErrors);
    const bool ok = platform::SHFileOperationA(op) == 0;
    if (bAbortFiles) *bAbortFiles = op.fAnyOperationsAborted;
    return ok;
}

std::optional<int> count_value(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double value = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    const double rounded = std::nearbyint(value);  // ties to even, as CInt
    if (rounded < -32768 || rounded > 32767) return std::nullopt;
    return static_cast<int>(rounded);
}

Uninstaller::Uninstaller(std::string program_folder) : folder_(std::move(program_folder)) {
    log_at_start_ = platform::file_exists(log_file());
    // Read now: the run deletes the log before it decides about the folder.
    platform::resume_on_error(
        [&] { folder_created_ = GetIniValue(N::folder_created, N::uninstall_section) == "1"; });
}

std::string Uninstaller::log_file() const {
    return folder_with_trailing_name(folder_, kLogName);
}

std::string Uninstaller::batch_file() const {
    return folder_with_trailing_name(folder_, kBatchName);
}

std::string Uninstaller::GetIniValue(std::string_view Key, std::string_view Section,
                                     std::string_view File) const {
    return read_value(Key, Section, File.empty() ? std::string_view(log_file()) : File);
}

bool Uninstaller::start_procedure() const {
    const std::string title = GetIniValue(N::title, N::uninstall_section);
    const auto answer =
        platform::MsgBox("Möchten Sie " + title + " deinstallieren?", platform::Buttons::YesNo,
                         platform::Icon::Information, kMessageTitle);
    return answer == platform::Result::Yes;
}

std::string Uninstaller::product_title() const {
    return GetIniValue(N::title, N::uninstall_section);
}

bool Uninstaller::may_remove_program_folder() const {
    return log_at_start_ && folder_created_ && !platform::is_system_folder(folder_);
}

std::string Uninstaller::closing_text(const std::string& folder, std::size_t kept) {
    if (kept == 0) return "Uninstallation erfolgreich abgeschlossen.";
    return "Uninstallation erfolgreich abgeschlossen.\n\nDer Ordner " +
           platform::shown_path(folder) + " bestand schon vor der Installation. Er bleibt mit " +
           std::to_string(kept) + (kept == 1 ? " Eintrag" : " Einträgen") +
           ", die nicht installiert wurden, erhalten; die Liste nennt sie.";
}

namespace {

// The folders setup created below a folder that existed before, deepest first; each goes only
// when nothing is left in it.
void remove_created_folders(const Uninstaller& run, const std::string& log) {
    std::vector<std::string> folders;
    if (const auto count = count_value(run.GetIniValue(N::folder_count, N::folders_section, log)))
        for (int j = 1; j <= *count; ++j)
            folders.push_back(run.GetIniValue(N::folder(j), N::folders_section, log));
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& f : folders) {
        if (f.empty()) continue;
        platform::resume_on_error([&] { platform::RmDir(f); });
    }
}

// What is left in the folder once the run is done, but for the program file and its batch.
std::vector<std::string> remaining_entries(const std::string& folder) {
    std::vector<std::string> kept;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(platform::host_path(folder), ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name == "Uninstall.exe" || name == "delete.bat") continue;
        kept.push_back(folder_with_trailing_name(folder, "\\" + name));
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

}  // namespace

std::vector<std::string> Uninstaller::Timer1_Timer(RunView& view) const {
    view.stop_timer();
    const std::string log = log_file();

    if (const auto links = count_value(GetIniValue(N::link_count, N::links_section, log))) {
        for (int j = 1; j <= *links; ++j) {
            std::string path;
            platform::resume_on_error(
                [&] { path = GetIniValue(N::link(j), N::links_section, log); });
            platform::resume_on_error(
                [&] { view.add_list_line("Lösche Verknüpfung \"" + platform::shown_path(path)); });
            platform::resume_on_error([&] { delete_file(path); });
        }
    }
    if (const auto files = count_value(GetIniValue(N::file_count, N::files_section, log))) {
        for (int i = 0; i <= *files; ++i) {
            std::string path;
            platform::resume_on_error(
                [&] { path = GetIniValue(N::file(i), N::files_section, log); });
            platform::resume_on_error([&] { delete_file(path); });
            platform::resume_on_error(
                [&] { view.add_list_line("Lösche Datei \"" + platform::shown_path(path)); });
        }
    }
    platform::resume_on_error([&] {
        // An empty name is no folder (the layer would take it as the current folder).
        const std::string group = GetIniValue(N::group, N::links_section, log);
        if (group.empty()) throw platform::Error(platform::kErrPathNotFound);
        platform::RmDir(group);
    });
    // Read before the log goes.
    const bool folder_existed = log_at_start_ && !folder_created_;
    if (folder_existed) remove_created_folders(*this, log);
    platform::resume_on_error([&] { delete_file(log); });
    // A folder that did not hold the log, that setup did not create, or that is a drive root, the
    // home folder or a system folder, is not the product's own: its remaining contents stay.
    std::vector<std::string> kept;
    if (may_remove_program_folder()) {
        platform::resume_on_error(
            [&] { SHDelete(folder_, view.window_handle(), false, false, false, false, false); });
    } else if (folder_existed) {
        kept = remaining_entries(folder_);
        for (const std::string& k : kept)
            platform::resume_on_error([&] {
                view.add_list_line("Bleibt (nicht installiert) \"" + platform::shown_path(k));
            });
    }
    platform::MsgBox(closing_text(folder_, kept.size()), platform::Buttons::OK,
                     platform::Icon::Information, kMessageTitle);
    view.enable_next();
    return kept;
}

std::vector<std::string> Uninstaller::batch_lines() const {
    const std::string& A = folder_;
    // Without the right to remove A the last line stays in the batch as a remark, so the
    // batch removes only the program file and itself.
    std::string remove_folder = "RD /s /q \"" + A + "\\\"";
    if (!may_remove_program_folder()) remove_folder = "REM " + remove_folder;
    return {
        "ON ERROR Goto Weiter",
        "Weiter:",
        "del \"" + A + "\\Uninstall.exe\"",
        "On error goto 0",
        "del \"" + A + "\\delete.bat\"",
        remove_folder,
    };
}

void Uninstaller::cmdNext_Click() const {
    std::string text;
    for (const auto& line : batch_lines()) text += line + "\r\n";
    bool written = false;
    platform::resume_on_error([&] {
        platform::append_file(batch_file(), platform::utf8_to_cp1252(text));
        written = true;
    });
    if (written) {
        const std::string batch = batch_file();
        if (starter_) {
            starter_(batch, platform::vbMinimizedFocus);
        } else {
            platform::start_batch(batch, platform::vbMinimizedFocus);
        }
    }
    platform::end_program(0);
}

}  // namespace uninstall
