#include "setup/addin.h"

#include <cstdint>

#include "platform/clipboard.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/resume.h"
#include "setup/string_table.h"

namespace setup {
namespace {

Wizard::WizardPresenter& presenter() {
    static Wizard::WizardPresenter p;
    return p;
}

void put_le(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The button face: a 16 x 16 wizard's wand, drawn as a 24-bit bitmap.
std::string wand_bitmap() {
    const int w = 16, h = 16, row = w * 3;  // 48 bytes a row: already a multiple of 4
    std::string bmp = "BM";
    put_le(bmp, 54 + row * h, 4);
    put_le(bmp, 0, 4);
    put_le(bmp, 54, 4);
    put_le(bmp, 40, 4);
    put_le(bmp, w, 4);
    put_le(bmp, h, 4);
    put_le(bmp, 1, 2);
    put_le(bmp, 24, 2);
    put_le(bmp, 0, 4);
    put_le(bmp, row * h, 4);
    put_le(bmp, 2835, 4);
    put_le(bmp, 2835, 4);
    put_le(bmp, 0, 4);
    put_le(bmp, 0, 4);
    for (int y = 0; y < h; ++y) {  // bottom row first
        for (int x = 0; x < w; ++x) {
            bool wand = x + y == 15 && x >= 2 && x <= 11;
            bool star = (x >= 11 && x <= 14 && y >= 11 && y <= 14) &&
                        (x == 12 || y == 12 || x == 13 || y == 13);
            uint8_t r = 192, g = 192, b = 192;  // button grey shows through
            if (wand) r = g = b = 32;
            if (star) r = 255, g = 200, b = 0;
            bmp += static_cast<char>(b);
            bmp += static_cast<char>(g);
            bmp += static_cast<char>(r);
        }
    }
    return bmp;
}

}  // namespace

std::string LoadResPicture(int id) {
    if (id == 5000) return wand_bitmap();
    throw platform::Error(326,
                          "Ressource mit Bezeichner '" + std::to_string(id) + "' nicht gefunden");
}

std::shared_ptr<CommandBarControl> AddMenuButton(HostApplication& host, const std::string& caption,
                                                 const std::string& picture) {
    try {
        std::shared_ptr<CommandBar> bar = host.CommandBars("Add-Ins");
        if (!bar) return nullptr;
        CommandBarControls& controls = bar->Controls();
        std::shared_ptr<CommandBarControl> button = controls.Add(1);
        const int n = controls.Count();
        // The two controls before the new one decide its group; a bar with fewer has none
        // before it to ask, and the button is still set up.
        auto begins_group = [&](int position) {
            return position >= 1 && controls.Item(position)->BeginGroup();
        };
        if (n >= 3 && !begins_group(n - 2) && begins_group(n - 1)) button->set_BeginGroup(true);
        button->set_Caption(caption);
        button->set_OnAction("hello");
        platform::Clipboard_SetData(picture);
        button->PasteFace();
        return button;
    } catch (const platform::Error&) {
        return nullptr;
    }
}

void Wizard::set_wizard_presenter(WizardPresenter p) {
    presenter() = std::move(p);
}

void Wizard::AddinInstance_OnConnection(std::shared_ptr<HostApplication> Application,
                                        int ConnectMode, void*, void*) {
    try {
        VBInstance = std::move(Application);
        if (ConnectMode == vbext_cm_External) {
            ShowWizard();
            return;
        }
        std::string caption = LoadResString(15);
        std::string picture = LoadResPicture(5000);
        mcbMenuCommandBar = AddMenuButton(*VBInstance, caption, picture);
        MenuHandler = VBInstance->Events().CommandBarEvents(mcbMenuCommandBar);
        if (MenuHandler) {
            MenuHandler->set_Click([this](CommandBarControl* c, bool& handled, bool& cancel) {
                MenuHandler_Click(c, handled, cancel);
            });
        }
    } catch (const platform::Error& e) {
        // The add-in stays connected, without a button: one whose clicks reach nobody would
        // only confuse.
        if (mcbMenuCommandBar) {
            platform::resume_on_error<platform::Error>([&] { mcbMenuCommandBar->Delete(); });
            mcbMenuCommandBar.reset();
        }
        MenuHandler.reset();
        platform::MsgBox(e.description, platform::Buttons::OK);
    }
}

void Wizard::AddinInstance_OnDisconnection(int, void*) {
    if (!mcbMenuCommandBar) throw platform::Error(91, "Objektvariable nicht festgelegt");
    mcbMenuCommandBar->Delete();
    mcbMenuCommandBar.reset();
    MenuHandler.reset();
}

void Wizard::MenuHandler_Click(CommandBarControl*, bool&, bool&) {
    ShowWizard();
}

void Wizard::ShowWizard() {
    if (presenter()) presenter()();
}

}  // namespace setup
