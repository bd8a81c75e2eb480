#include "platform/clipboard.h"

#include <mutex>

namespace platform {
namespace {

std::mutex& guard() {
    static std::mutex m;
    return m;
}
std::optional<std::string>& content() {
    static std::optional<std::string> c;
    return c;
}

}  // namespace

void Clipboard_Clear() {
    std::lock_guard lock(guard());
    content().reset();
}

void Clipboard_SetData(std::string bitmap) {
    std::lock_guard lock(guard());
    content() = std::move(bitmap);
}

std::optional<std::string> Clipboard_GetData() {
    std::lock_guard lock(guard());
    return content();
}

}  // namespace platform
