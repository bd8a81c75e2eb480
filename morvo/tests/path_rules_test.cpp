#include "morvo/path_rules.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace morvo {
namespace {

// A probe over a fixed world: one existing folder tree with a drive kind per path prefix.
PathProbe fake_probe(int kind, bool exists = true, bool is_dir = true, bool search_throws = false) {
    PathProbe p;
    p.dir_search = [=](const std::string& path) -> std::string {
        if (search_throws) throw std::runtime_error("device not ready");
        EXPECT_EQ(path.back(), '\\') << "the search gets the trailing backslash";
        return exists ? "." : "";
    };
    p.is_directory = [=](const std::string&) { return is_dir; };
    p.drive_type = [=](const std::string& path) {
        EXPECT_EQ(path.back(), '\\');
        return kind;
    };
    return p;
}

using Outcome = SaveDecision::Outcome;

struct SaveCase {
    const char* name;
    bool unc;
    const char* path;
    PathProbe probe;
    Outcome outcome;
    const char* box_title;  // nullptr: no box
    const char* status;     // status bar text on refusal / F1; saved path on accept
};

TEST(SaveRules, Table) {
    const SaveCase cases[] = {
        {"fixed disk gets its backslash", false, "C:\\Ablage", fake_probe(3), Outcome::accept,
         nullptr, "C:\\Ablage\\"},
        {"path already ending in backslash", false, "C:\\Ablage\\", fake_probe(3), Outcome::accept,
         nullptr, "C:\\Ablage\\"},
        {"blank in the middle", false, "C:\\Mein Ordner", fake_probe(3), Outcome::refuse,
         "Überprüfung Pfad", "C:\\Mein Ordner enthält Leerstellen! Pfad wurde nicht gespeichert!"},
        {"blank at the start", false, " C:\\Ablage", fake_probe(3), Outcome::refuse,
         "Überprüfung Pfad", " C:\\Ablage enthält Leerstellen! Pfad wurde nicht gespeichert!"},
        {"blank at the end", false, "C:\\Ablage ", fake_probe(3), Outcome::refuse,
         "Überprüfung Pfad", "C:\\Ablage  enthält Leerstellen! Pfad wurde nicht gespeichert!"},
        {"cd-rom", false, "E:\\Daten", fake_probe(5), Outcome::refuse, "Überprüfung CD-ROM",
         "E:\\Daten\\ ist ein CD-Laufwerk! Pfad wurde nicht gespeichert!"},
        {"ram disk", false, "R:\\tmp", fake_probe(6), Outcome::refuse, "Überprüfung RAM-Disk",
         "R:\\tmp\\ ist ein RAM-Disk! Pfad wurde nicht gespeichert!"},
        {"removable accepted", false, "F:\\Stick", fake_probe(2), Outcome::accept, nullptr,
         "F:\\Stick\\"},
        {"network accepted", false, "N:\\Ablage", fake_probe(4), Outcome::accept, nullptr,
         "N:\\Ablage\\"},
        {"undetermined accepted", false, "X:\\A", fake_probe(0), Outcome::accept, nullptr,
         "X:\\A\\"},
        {"no root accepted", false, "X:\\A", fake_probe(1), Outcome::accept, nullptr, "X:\\A\\"},
        {"missing folder", false, "C:\\Fehlt", fake_probe(3, false), Outcome::refuse, nullptr,
         "C:\\Fehlt\\ nicht gefunden! Pfad wurde nicht gespeichert!"},
        {"not a directory", false, "C:\\Datei", fake_probe(3, true, false), Outcome::refuse,
         nullptr, "C:\\Datei\\ ist nicht gültig! Pfad wurde nicht gespeichert!"},
        {"one backslash takes F1", false, "\\", fake_probe(3), Outcome::fail_f1,
         "1. Überprüfung Pfad", "Daten wurden - NICHT - gespeichert! Bitte korrigieren"},
        {"failing search takes F1", false, "A:\\", fake_probe(2, true, true, true),
         Outcome::fail_f1, "1. Überprüfung Pfad",
         "Daten wurden - NICHT - gespeichert! Bitte korrigieren"},
        {"unc with one backslash", true, "\\srv\\share", fake_probe(4), Outcome::refuse,
         "UNC-Pfad FEHLER", "Ungültiger UNC-Pfad! Pfad wurde nicht gespeichert!"},
        {"unc mode with one backslash alone", true, "\\", fake_probe(4), Outcome::refuse,
         "UNC-Pfad FEHLER", "Ungültiger UNC-Pfad! Pfad wurde nicht gespeichert!"},
        {"unc accepted", true, "\\\\srv\\freigabe\\Ablage", fake_probe(4), Outcome::accept, nullptr,
         "\\\\srv\\freigabe\\Ablage\\"},
        {"unc with a blank", true, "\\\\srv\\frei gabe", fake_probe(4), Outcome::refuse,
         "Überprüfung Pfad",
         "\\\\srv\\frei gabe enthält Leerstellen! Pfad wurde nicht gespeichert!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = decide_save(c.unc, c.path, c.probe);
        EXPECT_EQ(d.outcome, c.outcome);
        if (c.box_title) {
            ASSERT_TRUE(d.box.has_value());
            EXPECT_EQ(d.box->title, c.box_title);
        } else {
            EXPECT_FALSE(d.box.has_value());
        }
        if (c.outcome == Outcome::accept)
            EXPECT_EQ(d.path, c.status);
        else
            EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.focus_text3, std::string(c.box_title ? c.box_title : "") == "UNC-Pfad FEHLER");
    }
}

TEST(SaveRules, BoxTexts) {
    EXPECT_EQ(blank_box_save("C:\\a b").text,
              "Das Verzeichnis \r\n\r\nC:\\a b\r\n\r\nenthält Leerstellen!\r\nVorgang wurde "
              "abgebrochen!");
    EXPECT_EQ(unc_error_box("\\x").text,
              "UNC-Pfad: \\x\r Dies scheint kein gültiger UNC-Pfad zu sein. \r Bitte überprüfen "
              "und eventuell korrigieren!\r\r Achtung! Durch eine nicht korrekte Pfadangabe "
              "entsteht Datenverlust!");
    EXPECT_EQ(unc_error_box("\\x").icon, platform::Icon::Critical);
    EXPECT_EQ(missing_dir_box("\\").text,
              "Das Verzeichnis \r\n\r\n\\\r\n\r\nexistiert nicht!\r\nOder es ist ein "
              "Wechsellaufwerk ohne Datenträger!");
    EXPECT_EQ(ramdisk_box("R:\\").text,
              "Das Verzeichnis \r\n\r\nR:\\\r\n\r\nist ein RAM-Disk!\r\nDer Vorgang wurde "
              "abgebrochen!");
    // The run's blank box has a blank after the exclamation mark, the save's has none.
    EXPECT_NE(blank_box_run("a b").text, blank_box_save("a b").text);
}

struct RunCase {
    const char* name;
    const char* path;
    PathProbe probe;
    bool go_on;
    const char* box_title;
    const char* closing;
};

TEST(RunPathRules, Table) {
    const RunCase cases[] = {
        {"fixed", "C:\\Ablage", fake_probe(3), true, nullptr,
         "C:\\Ablage\\ ist eine lokale Festplatte! Pfad gespeichert!"},
        {"removable", "F:\\A\\", fake_probe(2), true, nullptr,
         "F:\\A\\ ist ein Wechsellaufwerk! Pfad gespeichert!"},
        {"network", "\\\\s\\f\\", fake_probe(4), true, nullptr,
         "\\\\s\\f\\ ist ein Netzlaufwerk! Pfad gespeichert!"},
        {"other kind", "X:\\A\\", fake_probe(0), true, nullptr, ""},
        {"blank", "C:\\A B\\", fake_probe(3), false, "Überprüfung Pfad",
         "C:\\A B\\ enthält Leerstellen! Vorgang abgebrochen!"},
        {"missing keeps the path as read", "C:\\Weg", fake_probe(3, false), false, nullptr,
         "C:\\Weg kann nicht erreicht werden! Vorgang abgebrochen!"},
        {"not a directory", "C:\\Datei", fake_probe(3, true, false), false, nullptr,
         "C:\\Datei kann nicht erreicht werden! Vorgang abgebrochen!"},
        {"failing search", "A:\\", fake_probe(2, true, true, true), false, nullptr,
         "A:\\ kann nicht erreicht werden! Vorgang abgebrochen!"},
        {"empty path", "", fake_probe(3, false), false, nullptr,
         " kann nicht erreicht werden! Vorgang abgebrochen!"},
        {"cd-rom", "E:\\", fake_probe(5), false, "Überprüfung CD-ROM",
         "E:\\ ist ein CD-Laufwerk! Pfad wurde nicht gespeichert!"},
        {"ram disk", "R:\\t", fake_probe(6), false, "Überprüfung RAM-Disk",
         "R:\\t\\ ist ein RAM-Disk! Pfad wurde nicht gespeichert!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = decide_run_path(c.path, c.probe);
        EXPECT_EQ(d.go_on, c.go_on);
        EXPECT_EQ(d.closing_status, c.closing);
        if (c.box_title) {
            ASSERT_TRUE(d.box.has_value());
            EXPECT_EQ(d.box->title, c.box_title);
        } else {
            EXPECT_FALSE(d.box.has_value());
        }
    }
}

}  // namespace
}  // namespace morvo
