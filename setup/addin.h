#pragma once
// The add-in class: a button "Assistentvorlage..." on the host's "Add-Ins" command bar that
// opens the wizard. Only a host development environment creates it; setup as a program never
// does.
#include <functional>
#include <memory>
#include <string>

#include "setup/addin_host.h"

namespace setup {

// AddMenuButton: the new button at the end of "Add-Ins", or null when any step fails.
std::shared_ptr<CommandBarControl> AddMenuButton(HostApplication& host, const std::string& caption,
                                                 const std::string& picture);

// LoadResPicture for the bitmap resources compiled into setup (5000: the button face, a BMP).
// Throws platform::Error (326) for an id without a picture.
std::string LoadResPicture(int id);

// The add-in class, under the name the host knows it by; the wizard window it opens is
// frmWizard, the page logic wizard_pages.h.
class Wizard {
  public:
    // Shows a new wizard window modally and returns when it has closed. The window side
    // installs it (install_addin_wizard_window); tests may replace it.
    using WizardPresenter = std::function<void()>;
    static void set_wizard_presenter(WizardPresenter presenter);

    void AddinInstance_OnConnection(std::shared_ptr<HostApplication> Application, int ConnectMode,
                                    void* AddInInst, void* custom);
    // Throws platform::Error back to the host when there is no button to delete.
    void AddinInstance_OnDisconnection(int RemoveMode, void* custom);
    void MenuHandler_Click(CommandBarControl* CommandBarControl, bool& handled,
                           bool& CancelDefault);

    const std::shared_ptr<CommandBarControl>& button() const { return mcbMenuCommandBar; }

  private:
    void ShowWizard();

    std::shared_ptr<HostApplication> VBInstance;
    std::shared_ptr<CommandBarControl> mcbMenuCommandBar;
    std::shared_ptr<CommandBarEventSource> MenuHandler;
};

}  // namespace setup
