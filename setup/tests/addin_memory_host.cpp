#include "setup/tests/addin_memory_host.h"

#include <algorithm>

#include "platform/clipboard.h"
#include "platform/error.h"

namespace setup {

void MemoryControl::PasteFace() {
    auto data = platform::Clipboard_GetData();
    if (!data) throw platform::Error(5, "Die Zwischenablage enthält kein Bild");
    face = *data;
}

void MemoryControl::Delete() {
    if (!bar) throw platform::Error(5, "Das Steuerelement wurde bereits entfernt");
    auto it =
        std::find_if(bar->begin(), bar->end(), [this](const auto& c) { return c.get() == this; });
    if (it != bar->end()) bar->erase(it);
    bar = nullptr;
}

std::shared_ptr<CommandBarControl> MemoryBar::Item(int position) {
    if (position < 1 || position > Count()) throw platform::Error(5, "Ungültiger Index");
    return controls[static_cast<size_t>(position - 1)];
}

std::shared_ptr<CommandBarControl> MemoryBar::Add(int type) {
    if (type != 1) throw platform::Error(5, "Unbekannter Steuerelementtyp");
    auto c = std::make_shared<MemoryControl>();
    c->bar = &controls;
    controls.push_back(c);
    return c;
}

void MemoryBar::add_existing(const std::string& caption, bool begin_group) {
    auto c = std::make_shared<MemoryControl>();
    c->caption = caption;
    c->begin_group = begin_group;
    c->bar = &controls;
    controls.push_back(c);
}

std::shared_ptr<CommandBar> MemoryHost::CommandBars(const std::string& name) {
    auto it = bars.find(name);
    if (it == bars.end())
        throw platform::Error(5, "Ungültiger Prozeduraufruf oder ungültiges Argument");
    return it->second;
}

std::shared_ptr<CommandBarEventSource> MemoryHost::CommandBarEvents(
    std::shared_ptr<CommandBarControl> control) {
    if (fail_events) throw platform::Error(-2147467259, "Die Ereignisquelle ist nicht verfügbar.");
    auto e = std::make_shared<MemoryEvents>();
    events.emplace_back(std::move(control), e);
    return e;
}

std::shared_ptr<MemoryBar> MemoryHost::add_bar(const std::string& name) {
    auto b = std::make_shared<MemoryBar>();
    bars[name] = b;
    return b;
}

bool MemoryHost::click(const std::shared_ptr<CommandBarControl>& control) {
    bool any = false;
    for (auto& [c, e] : events) {
        if (c && c == control && e->click) {
            bool handled = false, cancel = false;
            e->click(c.get(), handled, cancel);
            any = true;
        }
    }
    return any;
}

}  // namespace setup
