#pragma once
// The folder chooser ("Ordner wählen"): a list of places (the file system, home, the mounted
// volumes) where a Windows one lists drives, and a folder list; OK writes the open folder plus
// the product name into the wizard's InstallPath.
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace setup {

class frmWizard;

class frmSearchFolder : public QWidget {
    Q_OBJECT
  public:
    explicit frmSearchFolder(frmWizard* wizard);

    void Form_Load();
    void Drive1_Change();
    void Command1_Click();
    void Command2_Click();

    // Dir1.Path: the folder open in the list (Windows path).
    const std::string& dir_path() const { return dir_path_; }
    void set_dir_path(const std::string& path);

    QLabel* Label1;
    QComboBox* Drive1;
    QListWidget* Dir1;
    QPushButton* Command1;
    QPushButton* Command2;

  private:
    void fill_drives();
    frmWizard* wizard_;
    std::string dir_path_;
    std::vector<platform::Place> places_;
    std::size_t place_ = 0;  // the place shown in Drive1
    bool filling_ = false;
};

}  // namespace setup
