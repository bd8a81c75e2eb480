// The message-box service without windows, and the transcript lines it writes.
#include "platform/msgbox.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>

#include "platform/escape.h"
#include "platform/transcript.h"
#include "testsupport/testsupport.h"

namespace {

using platform::Buttons;
using platform::Icon;
using platform::Result;

using testsupport::slurp;

TEST(Transcript, QuoteAndUnescapeAreInverse) {
    struct Case {
        std::string text, quoted;
    } cases[] = {
        {"plain", R"("plain")"},
        {"Zeile 1\r\nZeile \"2\"", R"("Zeile 1\r\nZeile \"2\"")"},
        {R"(C:\tmp\~Veltrin)", R"("C:\\tmp\\~Veltrin")"},
        {"tab\there", R"("tab\there")"},
        {"Größe ü", "\"Größe ü\""},
        {"", R"("")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::transcript_quote(c.text), c.quoted);
        std::string inner = c.quoted.substr(1, c.quoted.size() - 2);
        EXPECT_EQ(platform::transcript_unescape(inner), c.text);
    }
}

TEST(Escape, UnescapedReadsTheEscapesAndOthersAsAsked) {
    using platform::OtherEscape;
    struct Case {
        std::string text;
        OtherEscape other;
        std::optional<std::string> expected;
    } cases[] = {
        {R"(a\tb\\c\n)", OtherEscape::refuse, "a\tb\\c\n"},
        {R"(a\qb)", OtherEscape::refuse, std::nullopt},
        {R"(a\)", OtherEscape::refuse, std::nullopt},
        {R"(a\qb)", OtherEscape::character, "aqb"},
        {R"(a\)", OtherEscape::character, "a\\"},
        {R"(a\qb\t)", OtherEscape::as_written, "a\\qb\t"},
        {R"(a\)", OtherEscape::as_written, "a\\"},
        {"", OtherEscape::refuse, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::unescaped(c.text, {{'\\', R"(\\)"}, {'\t', R"(\t)"}, {'\n', R"(\n)"}},
                                      c.other),
                  c.expected)
            << c.text;
}

TEST(MsgBox, DefaultButtonAndNames) {
    struct Case {
        Buttons buttons;
        int default_button;
        Result expected;
    } cases[] = {
        {Buttons::OK, 1, Result::OK},
        {Buttons::OK, 2, Result::OK},
        {Buttons::OKCancel, 2, Result::Cancel},
        {Buttons::YesNo, 1, Result::Yes},
        {Buttons::YesNo, 2, Result::No},
        {Buttons::YesNoCancel, 3, Result::Cancel},
        {Buttons::YesNo, 3, Result::Yes},
        {Buttons::AbortRetryIgnore, 2, Result::Retry},
        {Buttons::RetryCancel, 0, Result::Retry},
    };
    for (const auto& c : cases) {
        platform::MsgBoxRequest r;
        r.buttons = c.buttons;
        r.default_button = c.default_button;
        EXPECT_EQ(platform::default_result(r), c.expected)
            << platform::buttons_name(c.buttons) << " " << c.default_button;
    }
    Result parsed;
    for (auto name : {"OK", "Cancel", "Yes", "No", "Retry", "Ignore", "Abort"}) {
        ASSERT_TRUE(platform::parse_result_name(name, parsed));
        EXPECT_EQ(platform::result_name(parsed), name);
    }
    EXPECT_FALSE(platform::parse_result_name("Ja", parsed));
}

TEST(MsgBox, WithoutWindowsTheDefaultAnswersAndTheTranscriptSaysSo) {
    testsupport::TempDir dir("msgbox");
    std::string file = dir.file("t.txt");
    testsupport::ScopedSeam transcript(platform::set_transcript_file, file);
    testsupport::ScopedSeam title(platform::set_msgbox_program_title, "Morvolan");
    EXPECT_EQ(platform::MsgBox("Weiter?\nJa oder nein", Buttons::YesNo, Icon::Question, "", 2),
              Result::No);
    EXPECT_EQ(platform::MsgBox("Fertig", Buttons::OK, Icon::Information, "Veltrin"), Result::OK);
    EXPECT_EQ(slurp(file),
              "msgbox title=\"Morvolan\" icon=question buttons=YesNo default=No "
              "text=\"Weiter?\\nJa oder nein\" -> No (default)\n"
              "msgbox title=\"Veltrin\" icon=information buttons=OK default=OK "
              "text=\"Fertig\" -> OK (default)\n");

    {
        platform::MsgBoxRequest seen;
        platform::ScopedMsgBoxHandler fake([&](const platform::MsgBoxRequest& r) {
            seen = r;
            return Result::Cancel;
        });
        EXPECT_EQ(platform::MsgBox("x", Buttons::OKCancel, Icon::Critical, "T", 9), Result::Cancel);
        EXPECT_EQ(seen.default_button, 1) << "out-of-range default means the first button";
        EXPECT_EQ(seen.icon, Icon::Critical);
    }
    EXPECT_EQ(platform::MsgBox("y", Buttons::OKCancel), Result::OK) << "handler restored";

    platform::transcript_status("frmHin.lblStatus", "Kopiere");
    platform::transcript_status("frmHin.lblStatus", "Kopiere");
    platform::transcript_status("frmHin.lblStatus", "Fertig");
    platform::transcript_restart(2);
    std::string t = slurp(file);
    EXPECT_NE(t.find("status frmHin.lblStatus \"Kopiere\"\nstatus frmHin.lblStatus \"Fertig\"\n"
                     "restart 2\n"),
              std::string::npos)
        << t;
}

}  // namespace
