#pragma once
// Small controls shared by the wizard, the folder chooser and the finish page: geometry in twips,
// caption labels that act as buttons, and pictures from the package folder.
#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>

namespace setup {

// Twips to pixels at the design resolution (15 twips per pixel).
int twips(double t);
void place(QWidget* w, double left, double top, double width, double height);

template <typename W>
W* make_control(QWidget* parent, const QString& name, double left, double top, double width,
                double height) {
    auto* w = new W(parent);
    w->setObjectName(name);
    place(w, left, top, width, height);
    return w;
}

// Makes the widget a window of its own over its parent, named for the scripted user, that goes
// away when closed: the wizard, the folder chooser and the finish page.
void make_dialog_window(QWidget* w, const char* name);

// Opens a form over the progress window: made, loaded, shown (the openers frmHin calls).
template <typename Form, typename Owner>
void open_form_over(Owner& owner) {
    auto* form = new Form(&owner);
    form->Form_Load();
    form->show();
}

// The windows' font at a design size.
QFont design_font(double points, bool bold = false);

// A label that reports clicks (the caption labels over picture buttons, the info label).
class ClickLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
    std::function<void()> on_click;

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A picture of the package folder ("TEMP"\~Veltrin\NAME); a null pixmap when it cannot be read.
QPixmap package_picture(const std::string& name);

// The package folder file as a host path.
QString package_file(const std::string& name);

QString q(const std::string& utf8);
std::string s(const QString& text);

}  // namespace setup
