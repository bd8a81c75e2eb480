// Access to the setup script: the spellings of one key, empty against absent values, the
// buffer of 9999 characters, the default file under TEMP and the empty key.
#include "setup/script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "testsupport/testsupport.h"

namespace {

using Scratch = testsupport::TempDir;

using testsupport::slurp;

using testsupport::spit;

TEST(GetIniValue, ReadsLikeTheSetupExpects) {
    Scratch dir;
    spit(dir.host + "/Setup.INX",
         "[Main]\r\nProduktName=Beispiel\r\nProgrammgruppe=Beispiel 1.0\r\nLogo=\r\n"
         "Startmeldung=Zeile 1|Zeile 2\r\nHersteller=M\xFC"
         "ller & S\xF6hne\r\n"
         "[Dateien]\r\nAnzahlDateien=2\r\nDatei0=#Install#\r\n");
    const std::string f = dir.win("Setup.INX");
    struct Case {
        const char* key;
        const char* section;
        std::string want;
    } cases[] = {
        {"programmgruppe", "Main", "Beispiel 1.0"},
        {"Programmgruppe", "Main", "Beispiel 1.0"},
        {"ProgrammGruppe", "main", "Beispiel 1.0"},
        {"Logo", "Main", ""},         // present, empty
        {"Reboot", "Main", ""},       // absent
        {"frmWelcome", "Forms", ""},  // section absent
        {"Startmeldung", "Main", "Zeile 1|Zeile 2"},
        {"Hersteller", "Main", "M\u00FCller & S\u00F6hne"},
        {"AnzahlDateien", "Dateien", "2"},
        {"Datei0", "DATEIEN", "#Install#"},
        {"", "Main", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(setup::GetIniValue(c.key, c.section, f), c.want) << c.section << "/" << c.key;
    }
    EXPECT_EQ(setup::GetIniValue("ProduktName", "Main", dir.win("missing.INX")), "");
}

TEST(GetIniValue, EmptyKeyDoesNotConsultTheFile) {
    Scratch dir;
    spit(dir.host + "/s.ini", "[Main]\r\nK=v\r\n");
    platform::profile_cache_clear();
    const auto before = platform::profile_parse_count();
    EXPECT_EQ(setup::GetIniValue("", "Main", dir.win("s.ini")), "");
    EXPECT_EQ(platform::profile_parse_count(), before);
    EXPECT_EQ(setup::GetIniValue("K", "Main", dir.win("s.ini")), "v");
    EXPECT_EQ(platform::profile_parse_count(), before + 1);
}

TEST(GetIniValue, LongValuesAreCutToTheBuffer) {
    Scratch dir;
    const std::string value(20000, 'a');
    spit(dir.host + "/l.ini",
         "[Main]\r\nLang=" + value + "\r\nKurz=" + std::string(9998, 'b') + "\r\n");
    EXPECT_EQ(setup::GetIniValue("Lang", "Main", dir.win("l.ini")), std::string(9998, 'a'));
    EXPECT_EQ(setup::GetIniValue("Kurz", "Main", dir.win("l.ini")), std::string(9998, 'b'));
}

TEST(GetIniValue, EmptyFileMeansTheSetupScriptUnderTemp) {
    Scratch dir;
    ::mkdir((dir.host + "/~Veltrin").c_str(), 0755);
    spit(dir.host + "/~Veltrin/Setup.INX", "[Main]\r\nProduktName=Aus TEMP\r\n");
    platform::set_environ_override("TEMP", dir.host);
    EXPECT_EQ(setup::setup_script_path(), dir.win("~Veltrin\\Setup.INX"));
    EXPECT_EQ(setup::GetIniValue("ProduktName", "Main", ""), "Aus TEMP");
    platform::set_environ_override("TEMP", dir.host + "/nowhere");
    EXPECT_EQ(setup::GetIniValue("ProduktName", "Main", ""), "");
    platform::set_environ_override("TEMP", std::nullopt);
}

TEST(SetIniValue, WritesWindows1252AndReadsBackByteExact) {
    Scratch dir;
    const std::string f = dir.win("Uninstall.ini");
    setup::SetIniValue("Titel", "Gr\u00FC\u00DFe \u00C4\u00D6\u00DC \u20AC", "Uninstall", f);
    setup::SetIniValue("Datei0", "C:\\Programme\\M\u00FCller\\a.exe", "Dateien", f);
    setup::SetIniValue("AnzDatei", "0", "Dateien", f);
    setup::SetIniValue("titel", "Gr\u00FC\u00DFe \u00C4\u00D6\u00DC \u20AC!", "UNINSTALL", f);
    EXPECT_EQ(slurp(dir.host + "/Uninstall.ini"),
              "[Uninstall]\r\nTitel=Gr\xFC\xDF"
              "e \xC4\xD6\xDC \x80!\r\n"
              "[Dateien]\r\nDatei0=C:\\Programme\\M\xFCller\\a.exe\r\nAnzDatei=0\r\n");
    EXPECT_EQ(setup::GetIniValue("Titel", "Uninstall", f),
              "Gr\u00FC\u00DFe \u00C4\u00D6\u00DC \u20AC!");
    EXPECT_EQ(setup::GetIniValue("Datei0", "Dateien", f), "C:\\Programme\\M\u00FCller\\a.exe");
}

TEST(SetIniValue, EmptyKeyAndRefusedWritesAreSilent) {
    Scratch dir;
    setup::SetIniValue("", "x", "Main", dir.win("none.ini"));
    EXPECT_NE(::access((dir.host + "/none.ini").c_str(), F_OK), 0);
    spit(dir.host + "/ro.ini", "[Main]\r\nK=1\r\n");
    ::chmod((dir.host + "/ro.ini").c_str(), 0444);
    EXPECT_NO_THROW(setup::SetIniValue("K", "2", "Main", dir.win("ro.ini")));
    EXPECT_NO_THROW(setup::SetIniValue("K", "2", "Main", "Q:\\gone\\x.ini"));
    EXPECT_EQ(setup::GetIniValue("K", "Main", dir.win("ro.ini")), "1");
}

}  // namespace
