#pragma once
// The uninstall run: the start question, the deletion steps of Form1's timer, the batch that
// removes the program file after the program has ended, and the shell deletion of the folder.
// Form1 only holds the controls and forwards its events here.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace uninstall {

inline constexpr std::string_view kMessageTitle = "UnVeltrin";
inline constexpr std::string_view kLogName = "\\uninstall.ini";
inline constexpr std::string_view kBatchName = "\\delete.bat";

// The uninstaller's GetIniValue: as setup's, but an empty File means the log beside the
// program (app_path() + "\uninstall.ini") and values come back cut to 254 characters.
std::string GetIniValue(std::string_view Key, std::string_view Section, std::string_view File);

// vFiles of SHDelete: one path or a list of paths.
using FileList = std::variant<std::string, std::vector<std::string>>;

// Deletes through the shell's file operation; true when it returned 0. bAbortFiles, when
// given, receives whether the shell reports an aborted operation.
bool SHDelete(const FileList& vFiles, std::int32_t lStartHwnd, bool bConfirmation,
              bool bShowProgress, bool bShowNames, bool bAllowUndo, bool bShowErrors,
              bool* bAbortFiles = nullptr);

// The source list SHDelete hands over (paths each ended by NUL, then one more NUL) and its flags.
std::string shdelete_source_list(const FileList& vFiles);
unsigned shdelete_flags(bool bConfirmation, bool bShowProgress, bool bShowNames, bool bAllowUndo,
                        bool bShowErrors);

// A count of the log as the run reads it ("AnzLinks", "AnzDatei"): a number in the 16-bit range
// (a fraction rounds as Visual Basic's CInt does); nothing for an empty or non-numeric value.
std::optional<int> count_value(std::string_view text);

// What the run needs of its window.
class RunView {
  public:
    virtual ~RunView() = default;
    virtual void stop_timer() = 0;
    virtual void add_list_line(const std::string& line) = 0;
    virtual std::int32_t window_handle() = 0;
    virtual void enable_next() = 0;
};

class Uninstaller {
  public:
    // program_folder: A, the folder of the running program (Windows path). Notes at once
    // whether the uninstall log lies there: only then may the run remove the folder.
    explicit Uninstaller(std::string program_folder);

    const std::string& program_folder() const { return folder_; }
    std::string log_file() const;    // A + "\uninstall.ini"
    std::string batch_file() const;  // A + "\delete.bat"

    // The variant of GetIniValue bound to this program folder.
    std::string GetIniValue(std::string_view Key, std::string_view Section,
                            std::string_view File = {}) const;

    // Asks "Möchten Sie <Titel> deinstallieren?"; true for Yes (show Form1), false for No.
    bool start_procedure() const;
    // Form_Load: the product title for lblProdukt.
    std::string product_title() const;
    // The whole deletion run; each failing statement is skipped silently. Returns what stays in
    // a program folder that existed before the install: its entries that the install did not
    // place (Windows paths; the program file and its batch, which the batch removes, left out).
    std::vector<std::string> Timer1_Timer(RunView& view) const;
    // Appends the batch, starts it minimized without waiting and ends the program.
    void cmdNext_Click() const;

    // The six lines cmdNext_Click appends (without line ends).
    std::vector<std::string> batch_lines() const;

    // The closing message: the plain success, or, where entries stay, which folder keeps them.
    static std::string closing_text(const std::string& folder, std::size_t kept);

    // Whether the removal of the program folder and the batch may remove A as a whole: A held the
    // log when the program started, the log says setup created A, and A is no drive root, home
    // folder or system folder.
    bool may_remove_program_folder() const;

    // Tests replace how the batch is started (default platform::start_batch).
    void set_batch_starter(std::function<int(std::string_view, int)> starter) {
        starter_ = std::move(starter);
    }

  private:
    std::string folder_;
    bool log_at_start_ = false;
    bool folder_created_ = false;
    std::function<int(std::string_view, int)> starter_;
};

}  // namespace uninstall
