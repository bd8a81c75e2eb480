#pragma once
// The progress window: full-screen backdrop with the product's branding, the three-step
// indicator, the status line, the progress bar and the billboards. It owns the wizard, the install
// run's message window and the finish page, and sequences the program with its timers.
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

#include "setup/install_view.h"

namespace setup {

// The states of the step indicator. HandOver is what the wizard sets: the installing state with
// picA3 still at P1.
enum class StepState { Collecting, HandOver, Installing, Finished };

class frmHin : public QWidget, public InstallView {
    Q_OBJECT
  public:
    explicit frmHin(QWidget* parent = nullptr);
    ~frmHin() override;

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
    // Opens the finish page frmend over this window (installed by the finish page's side).
    static void set_finish_page_opener(std::function<void(frmHin&)> opener);

    // InstallView
    std::string install_path() const override;
    std::string programmgruppe() const override;
    long window_handle() const override;
    double screen_width_twips() const override;
    void set_step_installing() override;
    void set_status(std::string_view text) override;
    void show_progress_bar() override;
    double progress_width() const override;
    void set_progress_width(double twips) override;
    void show_billboard(std::string_view title, std::string_view text) override;
    void hide_billboard() override;
    void do_events() override;
    void show_meldung(std::string_view message) override;
    void close_meldung() override;
    void show_finish_page() override;

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
    QLabel* Pr1;
    QLabel* lblBTitle;
    QLabel* lblBText;
    QLabel* Shape1;
    QLabel* InstallPath;
    QLabel* Programmgruppe;
    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* inTim;

    // The install run's small message window, while it is up.
    QWidget* frmMeldung = nullptr;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    double pr1_width_twips_ = 0;
};

// The highlight colour of the step indicator (&H0080FF: red 255, green 128, blue 0).
constexpr unsigned highlight_rgb = 0xFF8000;

}  // namespace setup
