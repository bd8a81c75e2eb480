#pragma once
// ApplyResTexts: the string table's texts applied to a form and its controls by their numeric
// Tag and ToolTipText (dynamic properties "Tag" and "ToolTipText"). Every error is ignored: a
// control without a caption, or an id without a string, keeps what it had.
#include <QString>

class QWidget;

namespace setup {

void ApplyResTexts(QWidget* form);

// Sets a control's caption by its kind (label, button, frame); false when it has none.
bool set_caption(QWidget* control, const QString& text);

}  // namespace setup
