#pragma once
// The wizard: five pages (welcome, licence, target folder, program group, summary) and the
// navigation bar. It reads its defaults from the setup script and hands the folder and the group
// to the progress window on Next of the last page.
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextBrowser>
#include <QWidget>
#include <array>
#include <string>

#include "setup/forms/wizard_controls.h"
#include "setup/wizard_pages.h"

namespace setup {

class frmHin;

class frmWizard : public QWidget {
    Q_OBJECT
  public:
    // The progress window is the owner (may be null in tests of the wizard alone).
    explicit frmWizard(frmHin* owner, QWidget* parent = nullptr);
    ~frmWizard() override;

    void Form_Load();
    void cmdNav_Click(int Index);
    void cmdN_Click(int Index);
    void Form_KeyDown(int KeyCode, int Shift);
    void cmdSearch_Click();
    void lblInfo_Click();
    void Form_Unload(bool& Cancel);

    void ShowStep(int page);
    void SetNavButtons(int page);
    void SetWizardCaption();
    void IncompleteData(int nIndex);
    void Skalieren(QWidget* FRM, bool ScaleForm, bool ScaleFont);

    int current_page() const { return current_; }
    bool help_shown() const { return help_shown_; }

    // Controls, named as documented.
    std::array<QFrame*, kWizardPages> fraStep{};
    std::array<QLabel*, kWizardPages> picTitle{};
    QLabel* lblW1 = nullptr;
    QLabel* lblWHersteller = nullptr;
    QTextBrowser* Lizenz = nullptr;
    std::array<QLabel*, kWizardPages> lblStep{};  // only lblStep(2) is filled by the code
    QGroupBox* Frame1 = nullptr;
    QLabel* InstallPath = nullptr;
    QPushButton* cmdSearch = nullptr;
    QLineEdit* Programmgruppe = nullptr;
    QListWidget* lstKomp = nullptr;
    QListWidget* lstStand = nullptr;
    QFrame* picNav = nullptr;
    std::array<QPushButton*, 4> cmdNav{};  // 1 cancel, 2 back, 3 next; 0 is the F1 help
    std::array<ClickLabel*, 4> cmdN{};
    ClickLabel* lblInfo = nullptr;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void build();
    void build_page_frames();
    void build_welcome_page(QFrame* page);
    void build_licence_page(QFrame* page);
    void build_folder_page(QFrame* page);
    void build_group_page(QFrame* page);
    void build_summary_page(QFrame* page);
    void build_navigation_bar();
    void start_installation();
    // The folder box as the Windows path the install works on (the box shows the host form).
    std::string install_folder() const;
    QLabel* static_label(QWidget* parent, const QString& name, const QString& text, double l,
                         double t, double w, double h, double points = 8, bool bold = false);

    frmHin* owner_;
    int current_ = 0;
    bool help_shown_ = false;
    std::string product_;
    PageSwitches switches_;
    bool unloaded_ = false;
};

// Installs the opener on the progress window: its start-up timer then shows the wizard,
// modeless and owned by it.
void install_wizard();

}  // namespace setup
