#include "morvo/path_rules.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/paths.h"
#include "testsupport/testsupport.h"

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

// The volumes the tables name: C: is "/", D: an optical disc, E: a share, F: a stick.
class PathRules : public ::testing::Test {
  protected:
    testsupport::ScopedSeam mounts_{platform::set_mount_table_source, [] {
                                        return std::string(
                                            "/dev/sda1 / ext4 rw 0 0\n"
                                            "/dev/sr0 /media/cd iso9660 ro 0 0\n"
                                            "//fs/daten /mnt/net cifs rw 0 0\n"
                                            "/dev/sdb1 /media/stick vfat rw 0 0\n");
                                    }};
    testsupport::ScopedSeam removable_{platform::set_removable_probe,
                                       [](const std::string& d) { return d == "/dev/sdb1"; }};
};

using Outcome = SaveDecision::Outcome;

// Each path is given as a person types it on this host and in its Windows form (nullptr: no
// Windows form of that text); both must give the same decision and the same texts.
struct SaveCase {
    const char* name;
    bool unc;
    const char* host;
    const char* win;
    PathProbe probe;
    Outcome outcome;
    const char* box_title;  // nullptr: no box
    const char* status;     // status bar text on refusal / F1; saved path on accept
};

TEST_F(PathRules, SaveTable) {
    const SaveCase cases[] = {
        {"fixed disk gets its separator", false, "/srv/Ablage", "C:\\srv\\Ablage", fake_probe(3),
         Outcome::accept, nullptr, "C:\\srv\\Ablage\\"},
        {"path already ending in a separator", false, "/srv/Ablage/", "C:\\srv\\Ablage\\",
         fake_probe(3), Outcome::accept, nullptr, "C:\\srv\\Ablage\\"},
        {"blank in the middle", false, "/srv/Mein Ordner", "C:\\srv\\Mein Ordner", fake_probe(3),
         Outcome::refuse, "Überprüfung Pfad",
         "/srv/Mein Ordner enthält Leerstellen! Pfad wurde nicht gespeichert!"},
        {"blank at the start", false, " /srv/Ablage", nullptr, fake_probe(3), Outcome::refuse,
         "Überprüfung Pfad", " /srv/Ablage enthält Leerstellen! Pfad wurde nicht gespeichert!"},
        {"blank at the end", false, "/srv/Ablage ", "C:\\srv\\Ablage ", fake_probe(3),
         Outcome::refuse, "Überprüfung Pfad",
         "/srv/Ablage  enthält Leerstellen! Pfad wurde nicht gespeichert!"},
        {"cd-rom", false, "/media/cd/Daten", "D:\\Daten", fake_probe(5), Outcome::refuse,
         "Überprüfung CD-ROM",
         "/media/cd/Daten/ ist ein CD-Laufwerk! Pfad wurde nicht gespeichert!"},
        {"ram disk", false, "/ram/tmp", "C:\\ram\\tmp", fake_probe(6), Outcome::refuse,
         "Überprüfung RAM-Disk", "/ram/tmp/ ist ein RAM-Disk! Pfad wurde nicht gespeichert!"},
        {"removable accepted", false, "/media/stick/A", "F:\\A", fake_probe(2), Outcome::accept,
         nullptr, "F:\\A\\"},
        {"network accepted", false, "/mnt/net/Ablage", "E:\\Ablage", fake_probe(4), Outcome::accept,
         nullptr, "E:\\Ablage\\"},
        {"undetermined accepted", false, "/x/A", "C:\\x\\A", fake_probe(0), Outcome::accept,
         nullptr, "C:\\x\\A\\"},
        {"no root accepted", false, "/x/A", "C:\\x\\A", fake_probe(1), Outcome::accept, nullptr,
         "C:\\x\\A\\"},
        {"missing folder", false, "/srv/Fehlt", "C:\\srv\\Fehlt", fake_probe(3, false),
         Outcome::refuse, nullptr, "/srv/Fehlt/ nicht gefunden! Pfad wurde nicht gespeichert!"},
        {"not a directory", false, "/srv/Datei", "C:\\srv\\Datei", fake_probe(3, true, false),
         Outcome::refuse, nullptr, "/srv/Datei/ ist nicht gültig! Pfad wurde nicht gespeichert!"},
        {"one backslash takes F1", false, "\\", nullptr, fake_probe(3), Outcome::fail_f1,
         "1. Überprüfung Pfad", "Daten wurden - NICHT - gespeichert! Bitte korrigieren"},
        {"failing search takes F1", false, "/media/stick/", "F:\\", fake_probe(2, true, true, true),
         Outcome::fail_f1, "1. Überprüfung Pfad",
         "Daten wurden - NICHT - gespeichert! Bitte korrigieren"},
        {"unc mode with a local path", true, "/srv/share", "\\srv\\share", fake_probe(4),
         Outcome::refuse, "UNC-Pfad FEHLER", "Ungültiger UNC-Pfad! Pfad wurde nicht gespeichert!"},
        {"unc mode with one backslash alone", true, "\\", nullptr, fake_probe(4), Outcome::refuse,
         "UNC-Pfad FEHLER", "Ungültiger UNC-Pfad! Pfad wurde nicht gespeichert!"},
        {"unc accepted", true, "//srv/freigabe/Ablage", "\\\\srv\\freigabe\\Ablage", fake_probe(4),
         Outcome::accept, nullptr, "\\\\srv\\freigabe\\Ablage\\"},
        {"unc with a blank", true, "//srv/frei gabe", "\\\\srv\\frei gabe", fake_probe(4),
         Outcome::refuse, "Überprüfung Pfad",
         "//srv/frei gabe enthält Leerstellen! Pfad wurde nicht gespeichert!"},
    };
    for (const auto& c : cases) {
        for (const char* input : {c.host, c.win}) {
            if (!input) continue;
            SCOPED_TRACE(std::string(c.name) + ": " + input);
            auto d = decide_save(c.unc, input, c.probe);
            EXPECT_EQ(d.outcome, c.outcome);
            if (c.box_title) {
                ASSERT_TRUE(d.box.has_value());
                EXPECT_EQ(d.box->title, c.box_title);
                EXPECT_EQ(d.box->text.find('\\'), std::string::npos) << d.box->text;
            } else {
                EXPECT_FALSE(d.box.has_value());
            }
            if (c.outcome == Outcome::accept)
                EXPECT_EQ(d.path, c.status);
            else
                EXPECT_EQ(d.status, c.status);
            EXPECT_EQ(d.focus_text3,
                      std::string(c.box_title ? c.box_title : "") == "UNC-Pfad FEHLER");
        }
    }
}

TEST_F(PathRules, BoxTextsNameTheHostPath) {
    EXPECT_EQ(blank_box_save("C:\\a b").text,
              "Das Verzeichnis \r\n\r\n/a b\r\n\r\nenthält Leerstellen!\r\nVorgang wurde "
              "abgebrochen!");
    EXPECT_EQ(unc_error_box("\\x").text,
              "UNC-Pfad: /x\r Dies scheint kein gültiger UNC-Pfad zu sein. \r Bitte überprüfen "
              "und eventuell korrigieren!\r\r Achtung! Durch eine nicht korrekte Pfadangabe "
              "entsteht Datenverlust!");
    EXPECT_EQ(unc_error_box("\\x").icon, platform::Icon::Critical);
    EXPECT_EQ(missing_dir_box("\\").text,
              "Das Verzeichnis \r\n\r\n/\r\n\r\nexistiert nicht!\r\nOder es ist ein "
              "Wechsellaufwerk ohne Datenträger!");
    EXPECT_EQ(cdrom_box("D:\\").text,
              "Das Verzeichnis \r\n\r\n/media/cd/\r\n\r\nist ein CD-ROM-Laufwerk!\r\nDer Vorgang "
              "wurde abgebrochen!");
    // The run's blank box has a blank after the exclamation mark, the save's has none.
    EXPECT_NE(blank_box_run("a b").text, blank_box_save("a b").text);
}

struct RunCase {
    const char* name;
    const char* host;
    const char* win;
    PathProbe probe;
    bool go_on;
    const char* box_title;
    const char* closing;
};

TEST_F(PathRules, RunTable) {
    const RunCase cases[] = {
        {"fixed", "/home/anna/Ablage", "C:\\home\\anna\\Ablage", fake_probe(3), true, nullptr,
         "/home/anna/Ablage/ ist eine lokale Festplatte! Pfad gespeichert!"},
        {"removable", "/media/stick/A/", "F:\\A\\", fake_probe(2), true, nullptr,
         "/media/stick/A/ ist ein Wechsellaufwerk! Pfad gespeichert!"},
        {"network", "//s/f/", "\\\\s\\f\\", fake_probe(4), true, nullptr,
         "//s/f/ ist ein Netzlaufwerk! Pfad gespeichert!"},
        {"other kind", "/x/A/", "C:\\x\\A\\", fake_probe(0), true, nullptr, ""},
        {"blank", "/srv/A B/", "C:\\srv\\A B\\", fake_probe(3), false, "Überprüfung Pfad",
         "/srv/A B/ enthält Leerstellen! Vorgang abgebrochen!"},
        {"missing keeps the path as read", "/srv/Weg", "C:\\srv\\Weg", fake_probe(3, false), false,
         nullptr, "/srv/Weg kann nicht erreicht werden! Vorgang abgebrochen!"},
        {"not a directory", "/srv/Datei", "C:\\srv\\Datei", fake_probe(3, true, false), false,
         nullptr, "/srv/Datei kann nicht erreicht werden! Vorgang abgebrochen!"},
        {"failing search", "/media/stick/", "F:\\", fake_probe(2, true, true, true), false, nullptr,
         "/media/stick/ kann nicht erreicht werden! Vorgang abgebrochen!"},
        {"empty path", "", nullptr, fake_probe(3, false), false, nullptr,
         " kann nicht erreicht werden! Vorgang abgebrochen!"},
        {"cd-rom", "/media/cd/", "D:\\", fake_probe(5), false, "Überprüfung CD-ROM",
         "/media/cd/ ist ein CD-Laufwerk! Pfad wurde nicht gespeichert!"},
        {"ram disk", "/ram/t", "C:\\ram\\t", fake_probe(6), false, "Überprüfung RAM-Disk",
         "/ram/t/ ist ein RAM-Disk! Pfad wurde nicht gespeichert!"},
    };
    for (const auto& c : cases) {
        for (const char* input : {c.host, c.win}) {
            if (!input) continue;
            SCOPED_TRACE(std::string(c.name) + ": " + input);
            auto d = decide_run_path(input, c.probe);
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
}

}  // namespace
}  // namespace morvo
