#include "morvo/run_log.h"

#include "morvo/settings.h"
#include "platform/paths.h"

namespace morvo {

std::string log_file_path(std::string_view program_folder, const Stamp& stamp) {
    std::string p(program_folder);
    p += p.size() == 3 ? "morvo" : "\\morvo";
    return p + time_stamp_suffix(stamp) + ".log";
}

LogResult save_run_log(std::string_view program_folder, std::string_view text, const Stamp& stamp) {
    LogResult r;
    r.path = log_file_path(program_folder, stamp);
    try {
        // Sized once: a long run's text is megabytes, and growing a copy by its line end
        // would double it at the run's peak.
        std::string whole;
        whole.reserve(text.size() + 2);
        whole.append(text).append("\r\n");
        write_text_file(r.path, whole);
        r.ok = true;
    } catch (const std::exception& e) {
        r.message = "Die Protokolldatei " + platform::shown_path(r.path) +
                    " konnte nicht geschrieben werden. Bitte prüfen Sie die Schreibrechte "
                    "und versuchen Sie es erneut.\r\n(" +
                    e.what() + ")";
    }
    return r;
}

}  // namespace morvo
