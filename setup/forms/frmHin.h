#pragma once
// The progress window: full-screen backdrop with the product's branding, the three-step
// indicator, the status line, the progress bar and the billboards. It owns the wizard, the install
// run's message window and the finish page, and sequences the program with its timers.
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace setup {

// The three states of the step indicator.
enum class StepState { Collecting, HandOver, Installing, Finished };

class frmHin : public QWidget {
    Q_OBJECT
  public:
    explicit frmHin(QWidget* parent = nullptr);

    // Runs Form_Load; throws platform::Error when a picture cannot be loaded (the caller ends the
    // program with an error report).
    void Form_Load();
    void Skalieren(QWidget* FRM, bool ScaleForm, bool ScaleFont);

    void Form_KeyDown(int KeyCode, int Shift);
    void Timer1_Timer();
    void Timer2_Timer();
    void inTim_Timer();

    void set_step_state(StepState state);

    // Opens the wizard, owned by this window. Until the wizard exists nothing is opened; whoever
    // builds it installs the opener (wizard side: set_wizard_opener([](frmHin& h){ ... })).
    static void set_wizard_opener(std::function<void(frmHin&)> opener);
    // What inTim starts: StartInstallation with InstallPath and Programmgruppe. Tests replace it.
    static void set_install_starter(
        std::function<void(frmHin&, const std::string&, const std::string&)> starter);

    // Controls, named as documented (objectName is the same name).
    QLabel* picHin;
    QLabel* imgLogo;
    QLabel* lblBeschriftung;
    QLabel* lblTitel;
    QLabel* lblText;
    QLabel* lblStatus;
    QLabel* Label1;
    QLabel* lblA1;
    QLabel* lblA2;
    QLabel* lblA3;
    QLabel* picA1;
    QLabel* picA2;
    QLabel* picA3;
    QLabel* P1;
    QLabel* P2;
    QLabel* P3;
    QWidget* Pr1;
    QLabel* lblBTitle;
    QLabel* lblBText;
    QWidget* Shape1;
    QLabel* InstallPath;
    QLabel* Programmgruppe;
    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* inTim;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

}  // namespace setup
