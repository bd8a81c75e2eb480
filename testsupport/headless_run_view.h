#pragma once
// A run window that shows nothing: it keeps the text and the status line for the test to read.
// Header only, so that the support library needs no component above the platform.

#include <string>

#include "morvo/run.h"

namespace testsupport {

class HeadlessRunView : public morvo::RunView {
  public:
    void focus_Textbox2() override {}
    void enable_run_buttons(bool) override {}
    void set_Text1(const std::string&) override {}
    void select_first_tab() override {}
    std::string Textbox2_text() override { return text; }
    void set_Textbox2(const std::string& t) override { text = t; }
    void append_Textbox2(const std::string& t) override { text += t; }
    void Textbox2_caret_to_end() override {}
    void set_status(const std::string& t) override { status = t; }
    void show_log_button() override {}
    std::string text, status;
};

}  // namespace testsupport
