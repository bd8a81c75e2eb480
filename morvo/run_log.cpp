#include "morvo/run_log.h"

#include <unistd.h>

#include <cerrno>

#include "morvo/settings.h"
#include "platform/error.h"
#include "platform/file_toolkit.h"
#include "platform/paths.h"

namespace morvo {

std::string log_file_path(std::string_view program_folder, const Stamp& stamp) {
    std::string p(program_folder);
    p += p.size() == 3 ? "morvo" : "\\morvo";
    return p + time_stamp_suffix(stamp) + ".log";
}

LogResult save_run_log(std::string_view program_folder, const RunText& text, const Stamp& stamp) {
    LogResult r;
    r.path = log_file_path(program_folder, stamp);
    const std::string host = platform::host_path(r.path);
    int err = ENOENT;
    if (!host.empty()) {
        // Streamed from the run's text: a long run's text is never held whole.
        err = platform::replace_file(host, [&text](int fd) {
            int e = text.write_to(fd);
            return e ? e : (::write(fd, "\n", 1) == 1 ? 0 : errno);
        });
    }
    if (err != 0)
        r.message = "Die Protokolldatei " + platform::shown_path(r.path) +
                    " konnte nicht geschrieben werden. Bitte prüfen Sie die Schreibrechte "
                    "und versuchen Sie es erneut.\r\n(" +
                    platform::error_text(err == ENOSPC   ? platform::kErrDiskFull
                                         : err == ENOENT ? platform::kErrPathNotFound
                                                         : platform::kErrPathFileAccess) +
                    ")";
    r.ok = err == 0;
    return r;
}

}  // namespace morvo
