#pragma once
// The window side of the add-in: ShowWizard's new frmWizard, shown modally and released when it
// closes. A host that loads the add-in calls install_addin_wizard_window() once.
namespace setup {

void install_addin_wizard_window();

}  // namespace setup
