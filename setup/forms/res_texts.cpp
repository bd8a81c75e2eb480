#include "setup/forms/res_texts.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTabBar>
#include <QVariant>
#include <QWidget>

#include "platform/error.h"
#include "platform/resume.h"
#include "setup/string_table.h"

namespace setup {
namespace {

QString res_text(const QVariant& tag, bool continued) {
    int16_t id = res_id_from_text(tag.toString().toStdString());
    std::string text = continued ? GetResText(id) : LoadResString(id);
    return QString::fromStdString(text);
}

bool numeric(const QVariant& v) {
    return v.isValid() && is_numeric_text(v.toString().toStdString());
}

}  // namespace

bool set_caption(QWidget* control, const QString& text) {
    if (auto* l = qobject_cast<QLabel*>(control)) {
        l->setText(text);
    } else if (auto* b = qobject_cast<QAbstractButton*>(control)) {
        b->setText(text);
    } else if (auto* g = qobject_cast<QGroupBox*>(control)) {
        g->setTitle(text);
    } else if (control->property("Caption").isValid()) {
        control->setProperty("Caption", text);
    } else {
        return false;
    }
    return true;
}

void ApplyResTexts(QWidget* form) {
    platform::resume_on_error<platform::Error>([&] {
        QVariant tag = form->property("Tag");
        if (numeric(tag)) form->setWindowTitle(res_text(tag, false));
    });
    for (QWidget* c : form->findChildren<QWidget*>()) {
        if (c->objectName().isEmpty()) continue;
        if (auto* tabs = qobject_cast<QTabBar*>(c)) {
            for (int i = 0; i < tabs->count(); ++i) {
                platform::resume_on_error<platform::Error>([&] {
                    QVariant t = tabs->tabData(i);
                    if (numeric(t)) tabs->setTabText(i, res_text(t, false));
                });
            }
            continue;
        }
        platform::resume_on_error<platform::Error>([&] {
            QVariant tag = c->property("Tag");
            if (numeric(tag)) set_caption(c, res_text(tag, true));
        });
        platform::resume_on_error<platform::Error>([&] {
            QVariant tip = c->property("ToolTipText");
            if (numeric(tip)) c->setToolTip(res_text(tip, false));
        });
    }
}

}  // namespace setup
