#include "setup/bootstrap.h"

#include <fcntl.h>
#include <unistd.h>

#include <optional>

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/resume.h"
#include "setup/processes.h"
#include "setup/script.h"

namespace setup {

namespace {

// Random access, record length 1: record 1 is the first byte. A missing file is created.
void write_first_byte(const std::string& Datei, char mark) {
    const std::string host = platform::host_path(Datei);
    int fd = ::open(host.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) {
        throw platform::Error(75, "Fehler beim Zugriff auf Pfad/Datei");
    }
    bool ok = ::pwrite(fd, &mark, 1, 0) == 1;
    ok = (::close(fd) == 0) && ok;
    if (!ok) throw platform::Error(75, "Fehler beim Zugriff auf Pfad/Datei");
}

}  // namespace

std::string package_folder() {
    return platform::Environ("TEMP") + "\\~Veltrin";
}

std::string package_lock_file() {
    return platform::Environ("TEMP") + "\\~Veltrin.lock";
}

std::string lock_package_folder() {
    // Held for the rest of the program's life; a second call keeps the first lock.
    static std::optional<platform::FileLock> held;
    if (held) return {};
    bool busy = false;
    held = platform::FileLock::try_acquire(package_lock_file(), &busy);
    if (held) return {};
    if (busy) {
        return "Eine andere Installation wird gerade ausgeführt. Bitte warten Sie, bis sie "
               "beendet ist, und starten Sie Setup dann erneut.";
    }
    return "Setup kann den Ordner für temporäre Dateien nicht sperren: " +
           platform::shown_path(package_lock_file());
}

void show_package_folder_locked(const std::string& text) {
    platform::MsgBox(text, platform::Buttons::OK, platform::Icon::Critical, "Veltrin");
}

std::string extractor_copy() {
    return package_folder() + "\\_setup.exe";
}

void BlockExe(const std::string& Datei) {
    write_first_byte(Datei, 'X');
}

void UnBlockExe(const std::string& Datei) {
    write_first_byte(Datei, 'M');
}

bool SchreibschutzEntfernen(const std::string& sFilename) {
    return platform::resume_on_error<platform::AnyError>([&] {
        int attributes = platform::GetAttr(sFilename);
        platform::SetAttr(sFilename, attributes & ~platform::vbReadOnly);
        platform::DoEvents();
        (void)platform::GetAttr(sFilename);
    });
}

bool medium_has_resources() {
    return !platform::Dir(platform::app_path() + "\\data01.cab").empty();
}

std::string error123_text() {
    return "Error 123\n\nDie Datei data01.cab konnte nicht gefungen werden,";
}

void show_error123(const std::string& app_title) {
    platform::MsgBox(error123_text(), platform::Buttons::OK, platform::Icon::Critical, app_title);
}

std::string runtime_failure_text() {
    return "Der Veltrin Setupassistent kann nicht ausgeführt werden, da die Laufzeitkomponente "
           "nicht installiert sind. Die Laufzeitkomponenten erhalten Sie auf unserer Webseite "
           "https://www.veltrin.example/laufzeit.";
}

void show_runtime_failure() {
    platform::MsgBox(runtime_failure_text(), platform::Buttons::OK, platform::Icon::Exclamation,
                     "Veltrin Wizard");
}

std::string unpack_resources() {
    const std::string temp = platform::Environ("TEMP");
    const std::string X = temp + "\\~Veltrin\\_setup.exe";
    std::string C;
    platform::resume_on_error([&] { platform::MkDir(temp + "\\~Veltrin"); });
    platform::resume_on_error([&] { C = GetShortPath(platform::app_path() + "\\data01.cab"); });
    platform::resume_on_error([&] { platform::FileCopy(platform::app_path() + "\\Setup.dat", X); });
    platform::resume_on_error([&] { (void)SchreibschutzEntfernen(X); });
    platform::resume_on_error([&] { UnBlockExe(X); });
    // The temporary folder goes in as it is, unquoted; only the cabinet path is shortened.
    platform::resume_on_error([&] {
        ShellAndWait(temp + "\\~Veltrin\\_setup.exe " + C + " " + temp + "\\~Veltrin\\*.* -d -i",
                     platform::vbHide);
    });
    return X;
}

void block_after_unpack(const std::string& X) {
    platform::resume_on_error([&] { BlockExe(X); });
}

std::string start_message_text(const std::string& raw) {
    std::string out = raw;
    for (char& c : out) {
        if (c == '|') c = '\n';
    }
    return out;
}

void show_start_message() {
    std::string text;
    try {
        text = GetIniValue("Startmeldung", "Main", "");
    } catch (const std::exception&) {
        return;
    }
    if (text.empty()) return;
    platform::resume_on_error([&] {
        platform::MsgBox(start_message_text(text), platform::Buttons::OK,
                         platform::Icon::Information, "Programminformation");
    });
}

}  // namespace setup
