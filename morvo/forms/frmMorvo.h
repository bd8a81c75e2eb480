// The archiver's main window. Its controls sit at their twip places (15 twips a pixel); the
// handlers keep their documented names and forward to the logic in morvo/.
#pragma once

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "morvo/folder_tree.h"
#include "morvo/run.h"
#include "morvo/run_text.h"
#include "platform/paths.h"

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace morvo {

class frmSplash;

class frmMorvo : public QWidget, private RunView {
    Q_OBJECT
  public:
    explicit frmMorvo(QWidget* parent = nullptr);
    ~frmMorvo() override;

    // The start-up sequence; runs once before the window is shown.
    void Form_Load();

    void TabStrip1_Click();
    void TreeView1_NodeCheck(int index);
    void comB_ok_Click();
    void chk_uncpfad_Click();
    void Drive1_Change();
    void Dir1_Change();
    void TextBox1_Change();
    void comB_start_Click();
    void comB_log_Click();
    void comB_schliessen_Click();

    // Tests replace the run's and the start-up's outside world.
    RunEnvironment& run_environment() { return run_env_; }
    void set_path_probe(PathProbe probe) { probe_ = std::move(probe); }

    // How much of a run's text Textbox2 holds before it shows only the end (in bytes).
    std::uint64_t shown_bytes_limit = 1 << 20;

    // Form-level state.
    bool start = false;
    std::string sFile;
    int iCount = 0;
    const FolderTree& tree() const { return tree_; }

    // Controls.
    QLineEdit* Text1 = nullptr;
    QTabWidget* TabStrip1 = nullptr;
    QPlainTextEdit* Textbox2 = nullptr;
    QTreeWidget* TreeView1 = nullptr;
    QPlainTextEdit* Textbox3 = nullptr;
    QCheckBox* chk_uncpfad = nullptr;
    QLineEdit* TextBox1 = nullptr;
    QLineEdit* Text3 = nullptr;
    QComboBox* Drive1 = nullptr;
    QListWidget* Dir1 = nullptr;
    QPushButton* comB_log = nullptr;
    QPushButton* comB_start = nullptr;
    QPushButton* comB_ok = nullptr;
    QPushButton* comB_schliessen = nullptr;
    QStatusBar* sta_Anzeige = nullptr;

    // Dir1.Path and Drive1.Drive as the pickers hold them: Windows paths (the drive as the top
    // folder of the place Drive1 shows, "C:\\" or "C:\\home\\anna").
    const std::string& Dir1_Path() const { return dir_path_; }
    std::string Drive1_Drive() const;

  private:
    // RunView
    void enable_run_buttons(bool enabled) override;
    void focus_run_text() override;
    void show_run_page(const std::string& title) override;
    void run_text_reset(const std::string& text) override;
    void run_text_added(const std::string& text, bool follow) override;
    void set_status(const std::string& text) override;
    void run_finished() override;
    void mail_done(long position, long count) override;
    bool stop_requested() override { return stop_requested_; }

    void closeEvent(QCloseEvent* event) override;
    // Textbox2 shows the run text up to a bound; past it, its end (the log keeps it whole).
    void show_run_text_end();
    // Puts the caret at the end of the run text when a piece asked for it since.
    void follow_run_text();

    void read_settings();
    void build_tree_items();
    void set_three_buttons(bool enabled);
    void show_box(const Box& box);
    // Property writes that fire the change handler only on a real change.
    void set_TextBox1(const std::string& text);
    void set_Dir1_Path(const std::string& path);     // throws platform::Error
    void set_Drive1_Drive(const std::string& path);  // throws platform::Error
    void fill_Dir1();
    void on_tree_item_changed(QTreeWidgetItem* item);

    FolderTree tree_;
    std::vector<QTreeWidgetItem*> items_;
    std::string dir_path_;
    std::vector<platform::Place> places_;            // what Drive1 lists
    std::map<std::size_t, std::string> drive_dirs_;  // the folder last open in each place
    RunText run_text_;                               // what the log saves
    std::uint64_t shown_bytes_ = 0;                  // of it in Textbox2
    bool run_text_cut_ = false;                      // Textbox2 shows only its end
    bool follow_pending_ = false;  // the caret goes to the end at the next painting
    bool textbox2_program_ = false;
    bool running_ = false, stop_requested_ = false;
    std::chrono::steady_clock::time_point painted_;
    PathProbe probe_;
    RunEnvironment run_env_;
    QPointer<frmSplash> splash_;
};

}  // namespace morvo
