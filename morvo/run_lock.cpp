#include "morvo/run_lock.h"

#include <set>
#include <stdexcept>

#include "platform/paths.h"

namespace morvo {

RunLocks lock_run(const std::string& storage_path, const std::vector<std::string>& folder_lines,
                  const std::vector<outlook::StoreConfig>& stores) {
    struct Key {
        std::string identity, what;
    };
    std::vector<Key> keys;
    const std::string host = platform::host_path(storage_path);
    const std::string id = platform::file_identity(host);
    keys.push_back({id.empty() ? "path:" + host : "dir:" + id, "den Ablageordner " + storage_path});
    std::set<std::string> named;
    for (const std::string& line : folder_lines) named.insert(line.substr(0, line.find('|')));
    for (const auto& s : stores) {
        if (!named.count(s.name)) continue;
        std::string store_id;
        try {
            store_id = outlook::store_identity(s);
        } catch (const std::exception&) {
            continue;  // a location no run can open: nothing to guard
        }
        keys.push_back({store_id, "das Postfach " + s.name});
    }

    RunLocks out;
    std::set<std::string> seen;
    for (const Key& k : keys) {
        if (!seen.insert(k.identity).second) continue;  // a store that is the storage folder too
        platform::LockAttempt a = platform::try_run_lock("morvo " + k.identity);
        if (a.taken) {
            out.held.push_back(std::move(a.lock));
            continue;
        }
        out.held.clear();
        if (a.holder) {
            std::string who = "Ein anderer Archivierungslauf";
            if (a.holder->pid > 0) {
                who += " (Prozess " + std::to_string(a.holder->pid);
                if (!a.holder->since.empty()) who += ", seit " + a.holder->since;
                who += ")";
            }
            out.refusal = who + " bearbeitet gerade " + k.what +
                          ". Bitte warten, bis er fertig ist. Vorgang abgebrochen!";
        } else {
            out.refusal = "Die Sperre für " + k.what + " kann nicht gesetzt werden: " + a.error +
                          " Vorgang abgebrochen!";
        }
        return out;
    }
    return out;
}

}  // namespace morvo
