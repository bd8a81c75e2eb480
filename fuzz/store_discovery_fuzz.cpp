// The mail profile and Thunderbird's profiles.ini and prefs.js, as a made-up home holds them:
// nothing throws but a profile fault, every store has a known kind and a unique name, and every
// IMAP location found reads back as an IMAP account without a password in it.
#include <fuzzer/FuzzedDataProvider.h>

#include <set>

#include "fuzz/fuzz_util.h"
#include "morvo/outlook/discovery.h"
#include "morvo/outlook/imap_client.h"

namespace mo = morvo::outlook;

namespace {

bool known_kind(const std::string& k) {
    return k == "maildir" || k == "mbox" || k == "imap";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string profile = in.ConsumeRandomLengthString(2000);
    const std::string profiles_ini = in.ConsumeRandomLengthString(1000);
    const std::string prefs = in.ConsumeRemainingBytesAsString();

    mo::ProfileFile p = mo::parse_profile(profile, "/p/profile.ini", "/home/a");
    for (const auto& s : p.stores) {
        fuzz::check(!s.location.empty(), "a profile store has a location", s.name);
        fuzz::check(known_kind(s.kind), "a profile store has a known kind", s.kind);
    }

    const std::string home = fuzz::scratch() + "/home";
    std::filesystem::create_directories(home + "/.thunderbird/p/Mail/Local Folders");
    fuzz::write_bytes(home + "/.thunderbird/profiles.ini", profiles_ini);
    fuzz::write_bytes(home + "/.thunderbird/p/prefs.js", prefs);
    mo::DiscoveryPlaces at{home, home + "/.config", home + "/.local/share", ""};
    std::vector<std::string> notes;
    std::set<std::string> names;
    for (const auto& s : mo::discover_stores(at, notes)) {
        fuzz::check(known_kind(s.kind), "a found store has a known kind", s.kind);
        fuzz::check(names.insert(s.name).second, "found stores have unique names", s.name);
        if (s.kind != "imap") continue;
        try {
            mo::imap::Account a = mo::imap::parse_location(s.location);
            fuzz::check(a.password.empty(), "no password in a found location", s.location);
        } catch (const std::exception& e) {
            fuzz::broken("a found IMAP location reads back", s.location + ": " + e.what());
        }
    }
    return 0;
}
