#pragma once
// A host development environment in memory: named command bars with controls, and click events
// that a test (or a demo) can fire. Failures can be injected where a real host may fail.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "setup/addin_host.h"

namespace setup {

class MemoryControl : public CommandBarControl {
  public:
    bool BeginGroup() const override { return begin_group; }
    void set_BeginGroup(bool v) override { begin_group = v; }
    std::string Caption() const override { return caption; }
    void set_Caption(const std::string& v) override { caption = v; }
    std::string OnAction() const override { return on_action; }
    void set_OnAction(const std::string& v) override { on_action = v; }
    void PasteFace() override;
    void Delete() override;

    bool begin_group = false;
    std::string caption, on_action, face;
    std::vector<std::shared_ptr<MemoryControl>>* bar = nullptr;
};

class MemoryBar : public CommandBar, public CommandBarControls {
  public:
    CommandBarControls& Controls() override { return *this; }
    int Count() const override { return static_cast<int>(controls.size()); }
    std::shared_ptr<CommandBarControl> Item(int position) override;
    std::shared_ptr<CommandBarControl> Add(int type) override;
    // A control already on the bar (the host's own), with its group flag.
    void add_existing(const std::string& caption, bool begin_group);

    std::vector<std::shared_ptr<MemoryControl>> controls;
};

class MemoryEvents : public CommandBarEventSource {
  public:
    void set_Click(ClickHandler handler) override { click = std::move(handler); }
    ClickHandler click;
};

class MemoryHost : public HostApplication, public HostEvents {
  public:
    std::shared_ptr<CommandBar> CommandBars(const std::string& name) override;
    HostEvents& Events() override { return *this; }
    std::shared_ptr<CommandBarEventSource> CommandBarEvents(
        std::shared_ptr<CommandBarControl> control) override;

    std::shared_ptr<MemoryBar> add_bar(const std::string& name);
    // A click on a control as the host reports it; false when no handler listens.
    bool click(const std::shared_ptr<CommandBarControl>& control);

    std::map<std::string, std::shared_ptr<MemoryBar>> bars;
    std::vector<std::pair<std::shared_ptr<CommandBarControl>, std::shared_ptr<MemoryEvents>>>
        events;
    bool fail_events = false;  // the events object refuses (a failure while connecting)
};

}  // namespace setup
