// The add-in class against an in-memory host.
#include "setup/addin.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/msgbox.h"
#include "setup/tests/addin_memory_host.h"

namespace setup {
namespace {

class Addin : public ::testing::Test {
  protected:
    void SetUp() override {
        host = std::make_shared<MemoryHost>();
        Wizard::set_wizard_presenter([this] { ++wizards_shown; });
        boxes_guard = std::make_unique<platform::ScopedMsgBoxHandler>(
            [this](const platform::MsgBoxRequest& r) {
                boxes.push_back(r);
                return platform::Result::OK;
            });
    }
    void TearDown() override { Wizard::set_wizard_presenter(nullptr); }

    std::shared_ptr<MemoryHost> host;
    int wizards_shown = 0;
    std::vector<platform::MsgBoxRequest> boxes;
    std::unique_ptr<platform::ScopedMsgBoxHandler> boxes_guard;
};

struct GroupCase {
    std::vector<bool> existing;  // BeginGroup of the host's own controls, in bar order
    bool expected;
};

TEST_F(Addin, ConnectingAddsOneButtonAtTheEndWithTheGroupRule) {
    const GroupCase cases[] = {
        {{false, true}, true},  // before-last begins no group, last does: new group
        {{false, false}, false},
        {{true, true}, false},
        {{true, false}, false},
        {{false, false, true}, true},
        {{true}, false},  // too few controls before it to ask
        {{}, false},
    };
    for (const auto& c : cases) {
        host = std::make_shared<MemoryHost>();
        auto bar = host->add_bar("Add-Ins");
        for (bool g : c.existing) bar->add_existing("eigen", g);
        Wizard w;
        w.AddinInstance_OnConnection(host, vbext_cm_AfterStartup, nullptr, nullptr);
        ASSERT_EQ(bar->controls.size(), c.existing.size() + 1);
        auto& b = bar->controls.back();
        EXPECT_EQ(b, w.button());
        EXPECT_EQ(b->caption, "Assistentvorlage...");
        EXPECT_EQ(b->on_action, "hello");
        EXPECT_EQ(b->face.substr(0, 2), "BM");
        EXPECT_EQ(b->begin_group, c.expected) << c.existing.size();
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(Addin, ExternalStartOpensTheWizardAndAddsNothing) {
    auto bar = host->add_bar("Add-Ins");
    Wizard w;
    w.AddinInstance_OnConnection(host, vbext_cm_External, nullptr, nullptr);
    EXPECT_EQ(wizards_shown, 1);
    EXPECT_TRUE(bar->controls.empty());
}

TEST_F(Addin, HostWithoutAddInsBarAddsAndShowsNothing) {
    host->add_bar("Standard");
    Wizard w;
    w.AddinInstance_OnConnection(host, vbext_cm_Startup, nullptr, nullptr);
    EXPECT_EQ(w.button(), nullptr);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(host->bars["Standard"]->controls.empty());
    EXPECT_EQ(wizards_shown, 0);
}

TEST_F(Addin, ClickOpensTheWizardAndDisconnectDeletesTheButton) {
    auto bar = host->add_bar("Add-Ins");
    Wizard w;
    w.AddinInstance_OnConnection(host, vbext_cm_AfterStartup, nullptr, nullptr);
    ASSERT_TRUE(host->click(w.button()));
    ASSERT_TRUE(host->click(w.button()));
    EXPECT_EQ(wizards_shown, 2);
    w.AddinInstance_OnDisconnection(0, nullptr);
    EXPECT_TRUE(bar->controls.empty());
    // A second disconnect has no button to delete: the error goes back to the host.
    EXPECT_THROW(w.AddinInstance_OnDisconnection(0, nullptr), platform::Error);
}

TEST_F(Addin, DisconnectWithoutButtonRaises) {
    Wizard w;
    w.AddinInstance_OnConnection(host, vbext_cm_AfterStartup, nullptr, nullptr);
    EXPECT_THROW(w.AddinInstance_OnDisconnection(0, nullptr), platform::Error);
}

TEST_F(Addin, FailureWhileConnectingShowsItsDescriptionAndLeavesNoButton) {
    auto bar = host->add_bar("Add-Ins");
    host->fail_events = true;
    Wizard w;
    w.AddinInstance_OnConnection(host, vbext_cm_AfterStartup, nullptr, nullptr);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Die Ereignisquelle ist nicht verfügbar.");
    EXPECT_EQ(boxes[0].buttons, platform::Buttons::OK);
    EXPECT_EQ(w.button(), nullptr);
    EXPECT_TRUE(bar->controls.empty());
}

}  // namespace
}  // namespace setup
