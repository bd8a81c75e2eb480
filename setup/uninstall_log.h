#pragma once
// The uninstall log "Uninstall.ini" of the install folder, written key by key through
// SetIniValue (so an existing log is extended and same-named keys are replaced).

#include <string>
#include <string_view>

#include "setup/uninstall_log_names.h"

namespace setup {

class UninstallLog {
  public:
    // install_folder: the install folder as handed over (Windows path, no trailing backslash).
    explicit UninstallLog(std::string_view install_folder);

    // Windows path of the log: the install folder, "\Uninstall.ini".
    const std::string& file() const { return file_; }

    // [Dateien] Datei<index> = path (index = count of files recorded before this one).
    void write_file(int index, std::string_view path) const;
    // [Dateien] AnzDatei = highest Datei index (-1 when none was recorded).
    void write_file_count(int last_index) const;
    // [Uninstall] Titel = product name.
    void write_title(std::string_view title) const;
    // [Links] GroupName = programs folder \ group.
    void write_group(std::string_view group_folder) const;
    // [Links] Link<j> = link folder \ link file name (j starts at 1).
    void write_link(int j, std::string_view link_file) const;
    // [Links] AnzLinks = number of link entries.
    void write_link_count(int count) const;

    // [Uninstall] OrdnerAngelegt = 1 or 0.
    void write_folder_created(bool created) const;
    // The value an earlier install left in the log: whether it created the folder.
    bool folder_created_before() const;
    // [Ordner] Ordner<j> = a folder setup created (j starts at 1), and AnzOrdner = their number.
    void write_folder(int j, std::string_view folder) const;
    void write_folder_count(int count) const;
    // AnzOrdner of an earlier install (0 when none), so that a new install adds to its list.
    int folder_count_before() const;

  private:
    std::string file_;
};

}  // namespace setup
