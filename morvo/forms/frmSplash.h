// The splash window: program name, version, the maker's lines and a status line the main
// window writes while it reads the folder tree. Any key or a click on the frame closes it.
#pragma once

#include <QWidget>

class QLabel;
class QFrame;
class QStatusBar;

namespace morvo {

class frmSplash : public QWidget {
    Q_OBJECT
  public:
    explicit frmSplash(QWidget* parent = nullptr);

    void Form_Load();
    void Form_KeyPress(int KeyAscii);
    void Frame1_Click();
    // Sets StatusBar1's text and paints it at once (the caller does not yield meanwhile).
    void set_status_text(const std::string& text);

    QLabel* lblProductName = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* imgLogo = nullptr;
    QLabel* lblCompanyProduct = nullptr;
    QLabel* lblCopyright = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* lblCompany = nullptr;
    QLabel* lblWarning = nullptr;
    QLabel* lblPlatform = nullptr;
    QFrame* Frame1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void unload();
};

}  // namespace morvo
