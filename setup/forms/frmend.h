#pragma once
// The finish page: up to three options (restart, programs to start), the silent programs, the
// emptying of the package folder and the end of setup.
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>
#include <array>

#include "setup/finish_page.h"

namespace setup {

class frmHin;

class frmend : public QWidget {
    Q_OBJECT
  public:
    explicit frmend(frmHin* owner);

    void Form_Load();
    void cmdN_Click(int Index);

    QLabel* picSetup;
    QLabel* lblTilel;
    QLabel* lblDes;
    QLabel* Label1;
    std::array<QCheckBox*, 3> chkOption{};
    std::array<QLabel*, 3> lblOption{};
    QFrame* picNav;
    std::array<QPushButton*, 4> cmdN{};

  protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    FinishOptions options() const;
    frmHin* owner_;
    QPixmap picture_;
    bool finished_ = false;
};

// Installs the opener on the progress window: the install run's last step shows this page.
void install_finish_page();

}  // namespace setup
