// Modified UTF-7 folder names: any UTF-8 name survives encoding and decoding; whatever decodes
// is UTF-8 and survives the round trip from there.
#include <string>

#include "fuzz/fuzz_util.h"
#include "morvo/outlook/mutf7.h"

using morvo::outlook::mutf7_decode;
using morvo::outlook::mutf7_encode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string s(reinterpret_cast<const char*>(data), size);
    if (fuzz::valid_utf8(s)) {
        const std::string encoded = mutf7_encode(s);
        for (char c : encoded) {
            fuzz::check(c >= 0x20 && c < 0x7f, "an encoded name is printable ASCII", encoded);
        }
        const auto back = mutf7_decode(encoded);
        fuzz::check(back && *back == s, "encoding and decoding give the name back", encoded);
    }
    if (const auto decoded = mutf7_decode(s)) {
        fuzz::check(fuzz::valid_utf8(*decoded), "a decoded name is UTF-8", s);
        const auto again = mutf7_decode(mutf7_encode(*decoded));
        fuzz::check(again && *again == *decoded, "a decoded name survives the round trip", s);
    }
    return 0;
}
