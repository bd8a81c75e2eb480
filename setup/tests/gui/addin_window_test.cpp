// Clicking the add-in's button shows a new wizard window modally; the click returns once the
// window has closed, and the window is gone then.
#include <gtest/gtest.h>
#include <QApplication>
#include <QTimer>

#include <filesystem>

#include "platform/environment.h"
#include "platform/paths.h"
#include "setup/addin.h"
#include "setup/forms/addin_window.h"
#include "setup/forms/frmWizard.h"
#include "setup/tests/addin_memory_host.h"
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

TEST(AddinWindow, ClickShowsTheWizardModallyAndReleasesIt) {
    int argc = 1;
    char name[] = "addin_window_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    testsupport::TempDir dir("addin");
    const fs::path temp = dir.host;
    fs::create_directories(temp / "~Veltrin");
    platform::set_environ_override("TEMP", platform::windows_path(temp.string()));

    setup::install_addin_wizard_window();
    auto host = std::make_shared<setup::MemoryHost>();
    host->add_bar("Add-Ins");
    setup::Wizard w;
    w.AddinInstance_OnConnection(host, setup::vbext_cm_AfterStartup, nullptr, nullptr);

    bool seen_modal = false;
    QTimer::singleShot(100, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "frmWizard" && top->isVisible()) {
                seen_modal = top->isModal() && QApplication::activeModalWidget() == top;
                top->close();
            }
        }
    });
    ASSERT_TRUE(host->click(w.button()));
    EXPECT_TRUE(seen_modal);
    QApplication::processEvents();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        EXPECT_NE(top->objectName(), "frmWizard");
    }
    platform::clear_environ_overrides();
}

}  // namespace
