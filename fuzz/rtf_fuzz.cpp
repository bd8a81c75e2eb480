// The RTF reader (the licence text on the medium): any bytes give HTML without crashing or
// hanging.
#include <string_view>

#include "setup/rtf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setup::rtf_to_html(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
