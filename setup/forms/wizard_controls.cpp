#include "setup/forms/wizard_controls.h"

#include <QImageReader>
#include <QMouseEvent>
#include <cmath>

#include "platform/environment.h"
#include "platform/paths.h"

namespace setup {

int twips(double t) {
    return static_cast<int>(std::lround(t / 15.0));
}

void place(QWidget* w, double left, double top, double width, double height) {
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

void make_dialog_window(QWidget* w, const char* name) {
    w->setObjectName(name);
    w->setWindowFlags(Qt::Window | Qt::Dialog);
    w->setAttribute(Qt::WA_DeleteOnClose);
}

QFont design_font(double points, bool bold) {
    QFont f("DejaVu Sans");
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        on_click) {
        on_click();
    }
}

QString package_file(const std::string& name) {
    return q(platform::host_path(platform::Environ("TEMP") + "\\~Veltrin\\" + name));
}

QPixmap package_picture(const std::string& name) {
    QImageReader reader(package_file(name));
    reader.setDecideFormatFromContent(true);
    return QPixmap::fromImage(reader.read());
}

QString q(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}
std::string s(const QString& text) {
    return text.toStdString();
}

}  // namespace setup
