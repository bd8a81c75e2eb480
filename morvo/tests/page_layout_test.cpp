// Which controls each tab of the main window shows, and the status line it sets.
#include "morvo/page_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace morvo {
namespace {

// The shown controls by name, in the struct's order.
std::string shown(const PageLayout& l) {
    std::string out;
    auto add = [&](bool on, const char* name) {
        if (on) out += out.empty() ? name : std::string(" ") + name;
    };
    add(l.Textbox2, "Textbox2");
    add(l.TreeView1, "TreeView1");
    add(l.Textbox3, "Textbox3");
    add(l.comB_start, "comB_start");
    add(l.comB_ok, "comB_ok");
    add(l.chk_uncpfad, "chk_uncpfad");
    add(l.TextBox1, "TextBox1");
    add(l.Drive1, "Drive1");
    add(l.Dir1, "Dir1");
    add(l.Text3, "Text3");
    return out;
}

TEST(PageLayout, ShownControlsAndStatusPerTab) {
    struct Case {
        int index;
        bool unc;
        const char* shown;  // nullptr: no layout, the window changes nothing
        const char* status;
    };
    const Case cases[] = {
        {1, false, "Textbox2 comB_start", "Start drücken!"},
        {1, true, "Textbox2 comB_start", "Start drücken!"},
        {2, false, "TreeView1 comB_ok", "Änderungen bitte speichern!"},
        {3, false, "comB_ok chk_uncpfad TextBox1 Drive1 Dir1", "Änderungen bitte speichern!"},
        {3, true, "comB_ok chk_uncpfad Text3", "Änderungen bitte speichern!"},
        {4, false, "TreeView1 Textbox3", "Info!"},
        {4, true, "TreeView1 Textbox3", "Info!"},
        {0, false, nullptr, nullptr},
        {5, true, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.index) + (c.unc ? " unc" : ""));
        const auto layout = page_layout(c.index, c.unc);
        ASSERT_EQ(layout.has_value(), c.shown != nullptr);
        if (!layout) continue;
        EXPECT_EQ(shown(*layout), c.shown);
        EXPECT_EQ(layout->status, c.status);
    }
}

}  // namespace
}  // namespace morvo
