#include "setup/forms/form_scaling.h"

#include <QPainter>
#include <QTimer>
#include <cmath>
#include <memory>
#include <vector>

#include "platform/error.h"
#include "platform/ui/screen.h"

namespace setup {

namespace {

constexpr double tpp = platform::ui::twips_per_pixel;

platform::Error no_property() {
    return platform::Error(438, "Objekt unterstützt diese Eigenschaft oder Methode nicht");
}

int to_pixels(double twips) {
    return static_cast<int>(std::lround(twips / tpp));
}

// A control seen through its properties, as the scaling reads and writes them.
class QtControl : public ScaleObject {
  public:
    explicit QtControl(QObject* o)
        : o_(o), w_(qobject_cast<QWidget*>(o)), line_(qobject_cast<Line*>(o)) {}
    std::string Name() const override { return o_->objectName().toStdString(); }
    bool is_line() const override { return line_ != nullptr; }

    double get(ScaleProperty p) const override {
        if (line_) {
            switch (p) {
                case ScaleProperty::X1:
                    return line_->X1;
                case ScaleProperty::Y1:
                    return line_->Y1;
                case ScaleProperty::X2:
                    return line_->X2;
                case ScaleProperty::Y2:
                    return line_->Y2;
                default:
                    throw no_property();
            }
        }
        if (!w_) throw no_property();
        switch (p) {
            case ScaleProperty::Left:
                return w_->x() * tpp;
            case ScaleProperty::Top:
                return w_->y() * tpp;
            case ScaleProperty::Width:
                return w_->width() * tpp;
            case ScaleProperty::Height:
                return w_->height() * tpp;
            case ScaleProperty::FontSize:
                return w_->font().pointSizeF();
            default:
                throw no_property();
        }
    }

    void set(ScaleProperty p, double v) override {
        if (line_) {
            double x1 = line_->X1, y1 = line_->Y1, x2 = line_->X2, y2 = line_->Y2;
            switch (p) {
                case ScaleProperty::X1:
                    x1 = v;
                    break;
                case ScaleProperty::Y1:
                    y1 = v;
                    break;
                case ScaleProperty::X2:
                    x2 = v;
                    break;
                case ScaleProperty::Y2:
                    y2 = v;
                    break;
                default:
                    throw no_property();
            }
            line_->set_ends(x1, y1, x2, y2);
            return;
        }
        if (!w_) throw no_property();
        switch (p) {
            case ScaleProperty::Left:
                w_->move(to_pixels(v), w_->y());
                break;
            case ScaleProperty::Top:
                w_->move(w_->x(), to_pixels(v));
                break;
            case ScaleProperty::Width:
                if (v < 0) throw platform::Error(380, "Unzulässiger Eigenschaftswert");
                w_->resize(to_pixels(v), w_->height());
                break;
            case ScaleProperty::Height:
                if (v < 0) throw platform::Error(380, "Unzulässiger Eigenschaftswert");
                w_->resize(w_->width(), to_pixels(v));
                break;
            case ScaleProperty::FontSize: {
                // A size the font cannot take is an invalid property value.
                if (!(v > 0)) throw platform::Error(380, "Unzulässiger Eigenschaftswert");
                QFont f = w_->font();
                f.setPointSizeF(v);
                w_->setFont(f);
                break;
            }
            default:
                throw no_property();
        }
    }

  private:
    QObject* o_;
    QWidget* w_;
    Line* line_;
};

class QtForm : public ScaleForm {
  public:
    explicit QtForm(QWidget* form) : self_(form) {
        // The control collection: every named widget or timer on the form, in creation order.
        for (QObject* o : form->findChildren<QObject*>()) {
            const QString name = o->objectName();
            if (name.isEmpty() || name.startsWith("qt_")) continue;
            if (!o->isWidgetType() && !qobject_cast<QTimer*>(o)) continue;
            if (o->isWidgetType() && static_cast<QWidget*>(o)->isWindow()) continue;
            controls_.push_back(std::make_unique<QtControl>(o));
        }
    }
    std::string Name() const override { return self_.Name(); }
    double get(ScaleProperty p) const override { return self_.get(p); }
    void set(ScaleProperty p, double v) override { self_.set(p, v); }
    int control_count() const override { return static_cast<int>(controls_.size()); }
    ScaleObject& control(int i) override { return *controls_.at(i); }

  private:
    QtControl self_;
    std::vector<std::unique_ptr<QtControl>> controls_;
};

}  // namespace

Line::Line(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Line::set_ends(double x1, double y1, double x2, double y2) {
    X1 = x1;
    Y1 = y1;
    X2 = x2;
    Y2 = y2;
    place();
}

void Line::place() {
    const int l = to_pixels(std::min(X1, X2)), t = to_pixels(std::min(Y1, Y2));
    setGeometry(l, t, to_pixels(std::max(X1, X2)) - l + 1, to_pixels(std::max(Y1, Y2)) - t + 1);
    update();
}

void Line::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    const QPoint origin = pos();
    p.drawLine(QPoint(to_pixels(X1), to_pixels(Y1)) - origin,
               QPoint(to_pixels(X2), to_pixels(Y2)) - origin);
}

void scale_qt_form(QWidget* FRM, bool ScaleForm, bool ScaleFont, ScaleCopy copy) {
    QtForm form(FRM);
    const auto screen = platform::ui::screen_metrics();
    scale_layout(form, ScaleForm, ScaleFont, copy, screen.width_twips, screen.height_twips);
}

void ScaleLayout(QWidget* FRM, bool ScaleForm, bool ScaleFont) {
    scale_qt_form(FRM, ScaleForm, ScaleFont, ScaleCopy::Module);
}

ScreenInfo GetScreenInfo() {
    const auto s = platform::ui::screen_metrics();
    return GetScreenInfo(s.width_twips, s.height_twips, s.twips_per_pixel_x, s.twips_per_pixel_y,
                         s.bits_per_pixel);
}

}  // namespace setup
