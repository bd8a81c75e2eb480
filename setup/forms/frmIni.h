#pragma once
// The start window of setup: checks the medium, unpacks the package resources, shows the start
// message and hands over to the progress window.
#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace setup {

class frmHin;

class frmIni : public QWidget {
    Q_OBJECT
  public:
    explicit frmIni(QWidget* parent = nullptr);

    // Shows the window and checks the medium; ends the program when data01.cab is missing.
    void Form_Load();
    // Runs once, 1000 ms after the load: unpacks, unloads this window, shows frmHin.
    void Timer1_Timer();

    QLabel* Image1;
    QLabel* lblText;
    QTimer* Timer1;

    // The progress window opened by Timer1_Timer (null before, or when its load failed).
    frmHin* progress_window() const { return hin_; }

  private:
    frmHin* hin_ = nullptr;
};

}  // namespace setup
