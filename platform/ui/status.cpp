#include "platform/ui/status.h"

#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QVariant>
#include <QWidget>

#include "platform/transcript.h"

namespace platform::ui {
namespace {
constexpr const char* program_change_property = "veltrin_program_change";
}

QString control_path(const QWidget* control) {
    if (!control) return {};
    const QWidget* form = control->window();
    if (form == control) return control->objectName();
    return form->objectName() + "." + control->objectName();
}

void set_status(QWidget* control, const QString& text) {
    if (!control) return;
    if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(text);
    else if (auto* bar = qobject_cast<QStatusBar*>(control))
        bar->showMessage(text);
    else if (auto* line = qobject_cast<QLineEdit*>(control))
        line->setText(text);
    else
        control->setProperty("text", text);
    transcript_status(control_path(control).toStdString(), text.toStdString());
}

void set_status(QWidget* control, std::string_view utf8_text) {
    set_status(control,
               QString::fromUtf8(utf8_text.data(), static_cast<qsizetype>(utf8_text.size())));
}

ProgramChange::ProgramChange(QObject* control)
    : control_(control), previous_(is_program_change(control)) {
    if (control_) control_->setProperty(program_change_property, true);
}

ProgramChange::~ProgramChange() {
    if (control_) control_->setProperty(program_change_property, previous_);
}

bool is_program_change(const QObject* control) {
    return control && control->property(program_change_property).toBool();
}

}  // namespace platform::ui
