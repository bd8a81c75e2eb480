#pragma once
// The window implementation of the message-box service: a QMessageBox with the Windows icons,
// German button texts and the default button, or in a scripted run the scripted user's answer.
#include "platform/msgbox.h"

namespace platform::ui {

Result show_message_box(const MsgBoxRequest& request);
// Installs show_message_box as the service (run_program does this).
void install_message_boxes();

}  // namespace platform::ui
