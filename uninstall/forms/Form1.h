#pragma once
// The uninstaller's one window. It holds the controls and forwards its events to the run.

#include <QWidget>
#include <cstdint>
#include <string>

#include "uninstall/uninstall_run.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace uninstall {

class Form1 : public QWidget, private RunView {
    Q_OBJECT
  public:
    explicit Form1(const Uninstaller& run, QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* lblProdukt;
    QLabel* Label2;
    QListWidget* List1;
    QLabel* Image1;
    QTimer* Timer1;
    QPushButton* cmdNext;

    void Form_Load();
    void Timer1_Timer();
    void cmdNext_Click();

    // Form1's own name for the run's shell deletion.
    bool SHDelete(const FileList& vFiles, std::int32_t lStartHwnd, bool bConfirmation,
                  bool bShowProgress, bool bShowNames, bool bAllowUndo, bool bShowErrors,
                  bool* bAbortFiles = nullptr) {
        return uninstall::SHDelete(vFiles, lStartHwnd, bConfirmation, bShowProgress, bShowNames,
                                   bAllowUndo, bShowErrors, bAbortFiles);
    }

  private:
    void stop_timer() override;
    void add_list_line(const std::string& line) override;
    std::int32_t window_handle() override;
    void enable_next() override;

    const Uninstaller& run_;
};

// The program's start procedure: the question, then Form1 or the end of the program.
void start_program();

}  // namespace uninstall
