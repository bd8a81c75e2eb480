#include "morvo/page_layout.h"

namespace morvo {

std::optional<PageLayout> page_layout(int index, bool unc) {
    // A control not named is hidden.
    switch (index) {
        case 1:
            return PageLayout{.Textbox2 = true, .comB_start = true, .status = "Start drücken!"};
        case 2:
            return PageLayout{
                .TreeView1 = true, .comB_ok = true, .status = "Änderungen bitte speichern!"};
        case 3:
            return PageLayout{.comB_ok = true,
                              .chk_uncpfad = true,
                              .TextBox1 = !unc,
                              .Drive1 = !unc,
                              .Dir1 = !unc,
                              .Text3 = unc,
                              .status = "Änderungen bitte speichern!"};
        case 4:
            return PageLayout{.TreeView1 = true, .Textbox3 = true, .status = "Info!"};
        default:
            return std::nullopt;
    }
}

}  // namespace morvo
