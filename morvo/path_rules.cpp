#include "morvo/path_rules.h"

#include <exception>

#include "platform/line_break.h"
#include "platform/paths.h"

namespace morvo {

namespace {
using platform::kCrLf;
}

bool is_unc(std::string_view path) {
    return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

bool has_blank(std::string_view path) {
    return path.find(' ') != std::string_view::npos;
}

std::string with_trailing_backslash(std::string_view path) {
    std::string p(path);
    if (p.empty() || p.back() != '\\') p += '\\';
    return p;
}

std::string accepted_drive_text(int kind) {
    switch (kind) {
        case platform::DRIVE_REMOVABLE:
            return " ist ein Wechsellaufwerk! Pfad gespeichert!";
        case platform::DRIVE_REMOTE:
            return " ist ein Netzlaufwerk! Pfad gespeichert!";
        case platform::DRIVE_FIXED:
            return " ist eine lokale Festplatte! Pfad gespeichert!";
        default:
            return {};
    }
}

Box unc_error_box(std::string_view path) {
    return {"UNC-Pfad FEHLER",
            "UNC-Pfad: " + platform::shown_path(path) + "\r" +
                " Dies scheint kein gültiger UNC-Pfad zu sein. \r" +
                " Bitte überprüfen und eventuell korrigieren!\r\r" +
                " Achtung! Durch eine nicht korrekte Pfadangabe entsteht Datenverlust!",
            platform::Icon::Critical};
}

namespace {
// The folder boxes: the path set off by blank lines, what is wrong with it, what follows.
Box folder_box(const char* title, std::string_view path, const char* problem,
               const char* consequence) {
    return {title,
            "Das Verzeichnis " + kCrLf + kCrLf + platform::shown_path(path) + kCrLf + kCrLf +
                problem + kCrLf + consequence,
            platform::Icon::Information};
}
}  // namespace

Box blank_box_save(std::string_view path) {
    return folder_box("Überprüfung Pfad", path, "enthält Leerstellen!",
                      "Vorgang wurde abgebrochen!");
}

Box blank_box_run(std::string_view path) {
    return folder_box("Überprüfung Pfad", path, "enthält Leerstellen! ",
                      "Vorgang wurde abgebrochen!");
}

Box cdrom_box(std::string_view path) {
    return folder_box("Überprüfung CD-ROM", path, "ist ein CD-ROM-Laufwerk!",
                      "Der Vorgang wurde abgebrochen!");
}

Box ramdisk_box(std::string_view path) {
    return folder_box("Überprüfung RAM-Disk", path, "ist ein RAM-Disk!",
                      "Der Vorgang wurde abgebrochen!");
}

Box missing_dir_box(std::string_view path) {
    return folder_box("1. Überprüfung Pfad", path, "existiert nicht!",
                      "Oder es ist ein Wechsellaufwerk ohne Datenträger!");
}

SaveDecision decide_save(bool unc_mode, std::string_view input, const PathProbe& probe) {
    SaveDecision d;
    // Typed in either form; decided on the Windows form, told in the host form.
    std::string path = platform::typed_path(input);
    auto shown = [](const std::string& p) { return platform::shown_path(p); };
    auto f1 = [&](const std::string& p) {
        d.outcome = SaveDecision::Outcome::fail_f1;
        d.status = std::string(kNotSaved);
        d.box = missing_dir_box(p);
        return d;
    };
    auto refuse = [&](std::string reason) {
        d.outcome = SaveDecision::Outcome::refuse;
        d.status = reason.empty() ? std::string(kNotSaved) : std::move(reason);
        return d;
    };
    if (unc_mode && !is_unc(path)) {
        d.box = unc_error_box(path);
        d.focus_text3 = true;
        return refuse("Ungültiger UNC-Pfad! Pfad wurde nicht gespeichert!");
    }
    if (has_blank(path)) {
        d.box = blank_box_save(path);
        return refuse(shown(path) + " enthält Leerstellen! Pfad wurde nicht gespeichert!");
    }
    if (path == "\\") return f1(path);
    path = with_trailing_backslash(path);
    try {
        if (probe.dir_search(path).empty())
            return refuse(shown(path) + " nicht gefunden! Pfad wurde nicht gespeichert!");
        if (!probe.is_directory(path))
            return refuse(shown(path) + " ist nicht gültig! Pfad wurde nicht gespeichert!");
        int kind = probe.drive_type(path);
        if (kind == platform::DRIVE_CDROM) {
            d.box = cdrom_box(path);
            return refuse(shown(path) + " ist ein CD-Laufwerk! Pfad wurde nicht gespeichert!");
        }
        if (kind == platform::DRIVE_RAMDISK) {
            d.box = ramdisk_box(path);
            return refuse(shown(path) + " ist ein RAM-Disk! Pfad wurde nicht gespeichert!");
        }
    } catch (const std::exception&) {
        return f1(path);
    }
    d.outcome = SaveDecision::Outcome::accept;
    d.path = path;
    return d;
}

RunPathDecision decide_run_path(std::string_view input, const PathProbe& probe) {
    RunPathDecision d;
    std::string p = platform::typed_path(input);
    auto shown = [](const std::string& path) { return platform::shown_path(path); };
    if (has_blank(p)) {
        d.box = blank_box_run(p);
        d.closing_status = shown(p) + " enthält Leerstellen! Vorgang abgebrochen!";
        return d;
    }
    std::string p2 = with_trailing_backslash(p);
    bool reachable = false;
    try {
        reachable = !probe.dir_search(p2).empty() && probe.is_directory(p2);
    } catch (const std::exception&) {
        // A failing search is a failing step of the run; the path then counts as unreachable,
        // so that nothing is filed into a place that could not be checked.
        reachable = false;
    }
    if (!reachable) {
        d.closing_status = shown(p) + " kann nicht erreicht werden! Vorgang abgebrochen!";
        return d;
    }
    int kind = platform::DRIVE_UNKNOWN;
    try {
        kind = probe.drive_type(p2);
    } catch (const std::exception&) {
        kind = platform::DRIVE_UNKNOWN;
    }
    if (kind == platform::DRIVE_CDROM) {
        d.box = cdrom_box(p2);
        d.closing_status = shown(p2) + " ist ein CD-Laufwerk! Pfad wurde nicht gespeichert!";
        return d;
    }
    if (kind == platform::DRIVE_RAMDISK) {
        d.box = ramdisk_box(p2);
        d.closing_status = shown(p2) + " ist ein RAM-Disk! Pfad wurde nicht gespeichert!";
        return d;
    }
    std::string text = accepted_drive_text(kind);
    if (!text.empty()) d.closing_status = shown(p2) + text;
    d.go_on = true;
    return d;
}

}  // namespace morvo
