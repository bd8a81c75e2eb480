#pragma once

// Which mail stores the archiver sees: the profile's when it names any, else the stores of the
// user's mail programs, found where those programs keep them (Thunderbird's profiles, Evolution's
// and KMail's local folders, ~/Maildir, ~/mbox, $MAIL). No widgets here: the binding, the
// command line and the window use it alike.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "morvo/outlook/outlook.h"

namespace morvo::outlook {

// Where to look. from_environment() reads HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and MAIL (with
// the XDG defaults); tests give a made-up home the same way.
struct DiscoveryPlaces {
    std::string home;
    std::string config_home;
    std::string data_home;
    std::string mail;  // "" when unset
    static DiscoveryPlaces from_environment();
};

// A profile file as read: its stores (sections with a Location), its sections without one (keys
// such as a password for a found store of that name) and its faults, each "file:line: what".
struct ProfileFile {
    std::vector<StoreConfig> stores;
    std::vector<StoreConfig> keys_for_found;
    std::vector<std::string> faults;
};
ProfileFile parse_profile(std::string_view text, const std::string& path, const std::string& home);
// Reads and parses the file; throws platform::Error when it cannot be read or has faults (all
// of them named).
ProfileFile load_profile(const std::string& path, const std::string& home);

// The stores of the user's mail programs, in a fixed order with names made unique; what was
// passed over goes to `notes`, one line each.
std::vector<StoreConfig> discover_stores(const DiscoveryPlaces& at,
                                         std::vector<std::string>& notes);

struct FoundStores {
    std::vector<StoreConfig> stores;
    std::vector<std::string> notes;
    bool from_profile = false;
};

// The profile's stores when the profile names any, else the found ones with the profile's keys.
// Throws platform::Error naming every fault of the profile: a store must never be silently
// replaced by another because of a typing error.
FoundStores find_stores(const DiscoveryPlaces& at);

// Why the binding cannot open the store ("" when it can): a
// found IMAP account without a password.
std::string why_not_opened(const StoreConfig& store, bool from_profile);

// The stores the binding opens; the others are left out with a note in `found.notes`. A found
// IMAP account without a password asks the password source first.
std::vector<StoreConfig> stores_to_open(FoundStores& found);

// Asks the user for the password of a found IMAP account (the window sets one and keeps the
// answer for the session); nullopt = none given. Without a source nothing is asked.
using PasswordSource = std::function<std::optional<std::string>(const StoreConfig&)>;
void set_password_source(PasswordSource source);

}  // namespace morvo::outlook
