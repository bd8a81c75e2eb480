// The archiver's main window. Its controls sit at their twip places (15 twips a pixel); the
// handlers keep their documented names and forward to the logic in morvo/.
#pragma once

#include <QPointer>
#include <QWidget>
#include <map>
#include <string>
#include <vector>

#include "morvo/folder_tree.h"
#include "morvo/run.h"
#include "platform/paths.h"

class QCheckBox;
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
    void focus_Textbox2() override;
    void enable_run_buttons(bool enabled) override;
    void set_Text1(const std::string& text) override;
    void select_first_tab() override;
    std::string Textbox2_text() override;
    void set_Textbox2(const std::string& text) override;
    void Textbox2_caret_to_end() override;
    void set_status(const std::string& text) override;
    void show_log_button() override;

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
    std::string textbox2_;                           // the text with its CR LF line ends
    bool textbox2_program_ = false;
    PathProbe probe_;
    RunEnvironment run_env_;
    QPointer<frmSplash> splash_;
};

}  // namespace morvo
