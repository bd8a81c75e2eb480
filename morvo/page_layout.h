// What each tab of the main window shows and says: the window only applies the layout, so the
// rule can be read and tested in one table.
#pragma once

#include <optional>
#include <string_view>

namespace morvo {

// One flag per page control (by the control's name): shown or hidden, hidden unless set.
struct PageLayout {
    bool Textbox2 = false, TreeView1 = false, Textbox3 = false, comB_start = false, comB_ok = false,
         chk_uncpfad = false, TextBox1 = false, Drive1 = false, Dir1 = false, Text3 = false;
    std::string_view status;  // the status line on entering the tab
};

// The layout of tab `index` (1 = Morvo, 2 = Einstellungen, 3 = Speicherort, 4 = Info); `unc`
// is the UNC box's state, which picks the path field on the Speicherort tab. Any other index
// has no layout: the window leaves its controls as they are.
std::optional<PageLayout> page_layout(int index, bool unc);

}  // namespace morvo
