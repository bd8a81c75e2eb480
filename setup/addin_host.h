#pragma once
// What the add-in class needs of a host development environment: its command bars with their
// controls, and an events object that hands out the click events of a control. The host is
// outside the system; setup/tests/addin_memory_host.h is an in-memory host for tests.
#include <functional>
#include <memory>
#include <string>

namespace setup {

class CommandBarControl {
  public:
    virtual ~CommandBarControl() = default;
    virtual bool BeginGroup() const = 0;
    virtual void set_BeginGroup(bool value) = 0;
    virtual std::string Caption() const = 0;
    virtual void set_Caption(const std::string& value) = 0;
    virtual std::string OnAction() const = 0;
    virtual void set_OnAction(const std::string& value) = 0;
    // Takes the picture on the clipboard as the button face.
    virtual void PasteFace() = 0;
    // Removes the control from its bar.
    virtual void Delete() = 0;
};

class CommandBarControls {
  public:
    virtual ~CommandBarControls() = default;
    virtual int Count() const = 0;
    // 1-based; throws platform::Error when there is no such position.
    virtual std::shared_ptr<CommandBarControl> Item(int position) = 0;
    // Adds a control of the type (1: button) at the end.
    virtual std::shared_ptr<CommandBarControl> Add(int type) = 0;
};

class CommandBar {
  public:
    virtual ~CommandBar() = default;
    virtual CommandBarControls& Controls() = 0;
};

// The click event source of one control.
class CommandBarEventSource {
  public:
    using ClickHandler =
        std::function<void(CommandBarControl* control, bool& handled, bool& CancelDefault)>;
    virtual ~CommandBarEventSource() = default;
    virtual void set_Click(ClickHandler handler) = 0;
};

class HostEvents {
  public:
    virtual ~HostEvents() = default;
    virtual std::shared_ptr<CommandBarEventSource> CommandBarEvents(
        std::shared_ptr<CommandBarControl> control) = 0;
};

class HostApplication {
  public:
    virtual ~HostApplication() = default;
    // The command bar of that name; throws platform::Error when the host has none.
    virtual std::shared_ptr<CommandBar> CommandBars(const std::string& name) = 0;
    virtual HostEvents& Events() = 0;
};

// How the host loaded the add-in.
enum ConnectMode : int {
    vbext_cm_AfterStartup = 0,
    vbext_cm_Startup = 1,
    vbext_cm_External = 2,
    vbext_cm_CommandLine = 3
};

}  // namespace setup
