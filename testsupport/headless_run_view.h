#pragma once
// A run window that shows nothing: it keeps the text and the status line for the test to read.
// Header only, so that the support library needs no component above the platform.

#include <string>

#include "morvo/run.h"

namespace testsupport {

class HeadlessRunView : public morvo::RunView {
  public:
    void run_text_reset(const std::string& t) override { text = t; }
    void run_text_added(const std::string& t, bool) override { text += t; }
    void set_status(const std::string& t) override { status = t; }
    std::string text, status;
};

}  // namespace testsupport
