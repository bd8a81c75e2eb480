// Form1 holds the run back until its timer fires and offers "Schließen" only after the run.
#include "uninstall/forms/Form1.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "../fixture.h"
#include "platform/msgbox.h"
#include "platform/paths.h"

namespace uninstall {
namespace {

TEST(Form1, CloseButtonOnlyAfterTheRun) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "form1_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    test::TempTree tree;
    tree.write("inst/a.txt", "a");
    test::LogLayout layout;
    layout.files = {tree.win("inst/a.txt")};
    tree.write("inst/Uninstall.ini", test::log_text(layout));
    Uninstaller run(tree.win("inst"));
    int boxes = 0;
    platform::ScopedMsgBoxHandler answer([&](const platform::MsgBoxRequest&) {
        ++boxes;
        return platform::Result::OK;
    });

    Form1 form(run);
    EXPECT_EQ(form.objectName(), "Form1");
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("UnVeltrin - Setupassistent"));
    EXPECT_EQ(form.lblProdukt->text(), "Beispiel 1.0");
    EXPECT_FALSE(form.cmdNext->isEnabled());
    EXPECT_EQ(form.cmdNext->text(), QString::fromUtf8("Schließen"));
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 1000);
    EXPECT_TRUE(tree.exists("inst/a.txt"));  // nothing happens before the timer fires

    form.Timer1_Timer();
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_TRUE(form.cmdNext->isEnabled());
    ASSERT_EQ(form.List1->count(), 1);
    EXPECT_EQ(form.List1->item(0)->text().toStdString(),
              "Lösche Datei \"" + platform::host_path(layout.files[0]));
    EXPECT_EQ(boxes, 1);
    EXPECT_FALSE(tree.exists("inst"));
}

}  // namespace
}  // namespace uninstall
