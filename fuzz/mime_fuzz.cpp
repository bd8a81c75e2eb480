// The MIME layer through the binding, on any mail: parse, list the attachments, delete one,
// save, parse again. Properties: one attachment fewer, and every other attachment keeps its
// name and its bytes.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "morvo/outlook/mime.h"
#include "platform/error.h"

namespace {

using morvo::outlook::detail::MailSource;
using morvo::outlook::detail::MimeMail;

struct MemorySource : MailSource {
    std::string bytes;
    bool stored = false;
    Bytes load() override {
        Bytes b;
        b.size = bytes.size();
        b.data = static_cast<char*>(std::malloc(b.size ? b.size : 1));
        if (b.size) std::memcpy(b.data, bytes.data(), b.size);
        return b;
    }
    void store(std::string_view b) override {
        bytes = b;
        stored = true;
    }
};

struct Seen {
    std::string name;
    std::string bytes;
};

std::vector<Seen> attachments(MimeMail& mail) {
    std::vector<Seen> out;
    const std::string file = fuzz::scratch() + "/part";
    const long n = mail.attachment_count();
    for (long i = 1; i <= n; ++i) {
        auto part = mail.attachment(i);
        Seen s;
        s.name = mail.display_name(*part);
        mail.text_value(*part);
        mail.save_part(*part, file);
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        s.bytes = bytes.str();
        out.push_back(std::move(s));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    auto source = std::make_shared<MemorySource>();
    source->bytes.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<Seen> before;
    long removed = 0;
    try {
        auto mail = std::make_shared<MimeMail>(source);
        before = attachments(*mail);
        mail->subject();
        mail->body();
        if (before.empty()) return 0;
        removed = data[0] % static_cast<long>(before.size()) + 1;
        auto part = mail->attachment(removed);
        mail->remove_part(*part);
        mail->save();
    } catch (const platform::Error&) {
        return 0;  // reported to the run as a damaged mail: nothing changed
    }
    if (!source->stored) return 0;
    auto again = std::make_shared<MimeMail>(source);
    std::vector<Seen> after;
    try {
        after = attachments(*again);
    } catch (const platform::Error& e) {
        fuzz::broken("a saved mail parses again", e.description);
    }
    before.erase(before.begin() + (removed - 1));
    fuzz::check(after.size() == before.size(), "one attachment fewer",
                std::to_string(before.size()) + " expected, " + std::to_string(after.size()));
    for (std::size_t i = 0; i < after.size(); ++i) {
        fuzz::check(after[i].name == before[i].name, "other attachments keep their names",
                    before[i].name + " -> " + after[i].name);
        fuzz::check(after[i].bytes == before[i].bytes, "other attachments keep their bytes",
                    before[i].name + ": " + std::to_string(before[i].bytes.size()) + " bytes [" +
                        before[i].bytes.substr(0, 80) + "] -> " +
                        std::to_string(after[i].bytes.size()) + " bytes [" +
                        after[i].bytes.substr(0, 80) + "]; removed attachment " +
                        std::to_string(removed));
    }
    return 0;
}
