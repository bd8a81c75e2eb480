// The private-profile functions: the Windows reading rules, writes that keep every other line and
// the file's code page and line end, the read cache, and bad files.
#include "platform/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <random>

#include "core_fixture.h"
#include "platform/codepage.h"

namespace {

using core_test::slurp;
using core_test::spit;
using core_test::TempDir;
using platform::GetPrivateProfileStringA;
using platform::WritePrivateProfileStringA;

std::string fixture(const std::string& eol) {
    const char* lines[] = {
        "; a comment",
        "Orphan=before any section",
        "[Main]",
        "ProduktName=Morvolan",
        "Programmgruppe = Beispiel Gruppe  ",
        "Quoted=\"  spaced  \"",
        "Single='single'",
        "Half=\"half",
        "Mixed=\"mixed'",
        "Empty=",
        "NoEquals",
        "  Indented = value with = sign",
        "Umlaut=Gr\xFC\xDF"
        "e \x80",
        "\xC4pfel=rot",
        "Dup=first",
        "Dup=second",
        "",
        "[ Forms ]",
        "frmWelcome=1",
        "[Broken",
        "InBroken=still Forms",
    };
    std::string out;
    for (const char* l : lines) out += std::string(l) + eol;
    return out;
}

struct ReadCase {
    const char* section;
    const char* key;
    const char* def;
    std::size_t size;
    std::string want;
    const char* want_in_utf8 = nullptr;  // where a UTF-8 file gives something else
};

const ReadCase kReadCases[] = {
    {"Main", "ProduktName", "", 256, "Morvolan"},
    {"main", "PRODUKTNAME", "", 256, "Morvolan"},
    {"Main", "programmgruppe", "", 256, "Beispiel Gruppe"},
    {"Main", "Programmgruppe", "", 256, "Beispiel Gruppe"},
    {"Main", "ProgrammGruppe", "", 256, "Beispiel Gruppe"},
    {"Main", " ProduktName ", "", 256, "Morvolan"},
    {"Main", "Quoted", "", 256, "  spaced  "},
    {"Main", "Single", "", 256, "single"},
    {"Main", "Half", "", 256, "\"half"},
    {"Main", "Mixed", "", 256, "\"mixed'"},
    {"Main", "Empty", "dflt", 256, ""},  // present but empty: not the default
    {"Main", "Absent", "dflt", 256, "dflt"},
    {"Main", "NoEquals", "dflt", 256, ""},
    {"Main", "Indented", "", 256, "value with = sign"},
    {"Main", "Umlaut", "", 256, "Gr\u00FC\u00DFe \u20AC"},
    {"Main", "Dup", "", 256, "first"},
    {"Main", "; a comment", "dflt", 256, "dflt"},
    {"Main", "Orphan", "dflt", 256, "dflt"},
    {"Nowhere", "ProduktName", "dflt", 256, "dflt"},
    {"Forms", "frmWelcome", "", 256, "1"},
    {"forms", "InBroken", "", 256, "still Forms"},
    {"Main", "ProduktName", "", 4, "Mor"},  // cut to size - 1
    {"Main", "ProduktName", "", 1, ""},
    {"Main", "ProduktName", "", 0, ""},
    {"Main", "Absent", "abcdef", 3, "ab"},
    {"Main", "Absent", "d  ", 256, "d"},          // trailing blanks of the default dropped
    {"Main", "Umlaut", "", 4, "Gr\u00FC", "Gr"},  // in the file's bytes, no character cut
    {"Main", "\u00E4PFEL", "", 256, "rot"},
};

// The same file in every form a person's editor may save it: Windows-1252 or UTF-8 (with or
// without a byte-order mark), with CR LF, LF or CR alone.
TEST(ProfileRead, WindowsRulesInEveryCodePageAndLineEnd) {
    TempDir dir;
    const struct {
        const char* what;
        bool utf8;
        const char* mark;
        const char* eol;
    } forms[] = {
        {"1252 CRLF", false, "", "\r\n"},
        {"1252 LF", false, "", "\n"},
        {"1252 CR", false, "", "\r"},
        {"UTF-8 LF", true, "", "\n"},
        {"BOM CRLF", true, "\xEF\xBB\xBF", "\r\n"},
        {"BOM CR", true, "\xEF\xBB\xBF", "\r"},
    };
    for (const auto& f : forms) {
        const std::string text = fixture(f.eol);
        spit(dir.file("t.ini"), f.mark + (f.utf8 ? platform::cp1252_to_utf8(text) : text));
        platform::profile_cache_clear();
        for (const auto& c : kReadCases) {
            const std::string want = f.utf8 && c.want_in_utf8 ? c.want_in_utf8 : c.want;
            EXPECT_EQ(GetPrivateProfileStringA(c.section, c.key, c.def, c.size, dir.win("t.ini")),
                      want)
                << "[" << c.section << "] " << c.key << " size " << c.size << " " << f.what;
        }
    }
}

TEST(ProfileRead, MissingOrUnusableFilesGiveTheDefault) {
    TempDir dir;
    ::mkdir(dir.file("folder.ini").c_str(), 0755);
    ::mkfifo(dir.file("fifo.ini").c_str(), 0644);
    spit(dir.file("empty.ini"), "");
    for (const std::string& file :
         {dir.win("missing.ini"), dir.win("no\\such\\folder.ini"), dir.win("folder.ini"),
          dir.win("fifo.ini"), dir.win("empty.ini"), std::string("Q:\\x.ini"), std::string()}) {
        EXPECT_EQ(GetPrivateProfileStringA("Main", "Key", "dflt", 256, file), "dflt") << file;
    }
}

TEST(ProfileRead, BadContentNeverCrashes) {
    TempDir dir;
    // NUL bytes: a value ends at its first NUL; the lines after it still count.
    static const char kNul[] = "[Main]\r\nA=x\0y\r\nB\0=1\r\nC=ok\r\n\0\0\0";
    spit(dir.file("nul.ini"), std::string(kNul, sizeof kNul - 1));
    EXPECT_EQ(GetPrivateProfileStringA("Main", "A", "d", 256, dir.win("nul.ini")), "x");
    EXPECT_EQ(GetPrivateProfileStringA("Main", "B", "d", 256, dir.win("nul.ini")), "d");
    EXPECT_EQ(GetPrivateProfileStringA("Main", "C", "d", 256, dir.win("nul.ini")), "ok");

    // A line of a megabyte, and one without any line end.
    const std::string big(1 << 20, 'x');
    spit(dir.file("big.ini"), "[Main]\r\nBig=" + big + "\r\nAfter=1\r\n[Tail]\r\nT=" + big);
    EXPECT_EQ(GetPrivateProfileStringA("Main", "Big", "", 9999, dir.win("big.ini")),
              std::string(9998, 'x'));
    EXPECT_EQ(GetPrivateProfileStringA("Main", "After", "", 9999, dir.win("big.ini")), "1");
    EXPECT_EQ(GetPrivateProfileStringA("Tail", "T", "", 1 << 21, dir.win("big.ini")).size(),
              big.size());

    // Binary garbage: reads give something or the default, and a write still lands.
    std::mt19937 rng(42);
    std::string garbage(256 * 1024, '\0');
    for (char& ch : garbage) ch = static_cast<char>(rng());
    spit(dir.file("garbage.ini"), garbage);
    EXPECT_EQ(GetPrivateProfileStringA("Veltrin-Probe", "K", "d", 256, dir.win("garbage.ini")),
              "d");
    for (int i = 0; i < 50; ++i) {
        GetPrivateProfileStringA(std::string(1, static_cast<char>(rng())), "x", "", 64,
                                 dir.win("garbage.ini"));
    }
    EXPECT_TRUE(WritePrivateProfileStringA("Veltrin-Probe", "K", "v", dir.win("garbage.ini")));
    EXPECT_EQ(GetPrivateProfileStringA("Veltrin-Probe", "K", "d", 256, dir.win("garbage.ini")),
              "v");
    EXPECT_EQ(slurp(dir.file("garbage.ini")).compare(0, garbage.size(), garbage), 0);

    if (::geteuid() != 0) {  // root reads every file
        spit(dir.file("locked.ini"), "[Main]\r\nKey=secret\r\n");
        ::chmod(dir.file("locked.ini").c_str(), 0);
        EXPECT_EQ(GetPrivateProfileStringA("Main", "Key", "d", 256, dir.win("locked.ini")), "d");
    }
}

struct WriteCase {
    const char* what;
    std::string before;  // "" and missing = true: no file
    bool missing;
    const char* section;
    const char* key;
    std::string value;
    std::string after;
};

TEST(ProfileWrite, KeepsEveryOtherLine) {
    const std::string keep =
        "; comment\r\n\r\n[Main]\r\n  ; indented comment\r\n"
        "unknown line\r\n";
    const WriteCase cases[] = {
        {"creates the file", "", true, "Main", "Key", "Wert", "[Main]\r\nKey=Wert\r\n"},
        {"appends a missing section", "[A]\r\nx=1\r\n", false, "B", "y", "2",
         "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
        {"section after a last line without line end", "[A]\r\nx=1", false, "B", "y", "2",
         "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
        {"replaces in place, keeping the file's spelling of the key",
         keep + "Programmgruppe = Alt  \r\nNext=1\r\n", false, "main", "ProgrammGruppe", "Neu",
         keep + "Programmgruppe=Neu\r\nNext=1\r\n"},
        {"replaces a bare key", "[A]\r\nFlag\r\nz=1\r\n", false, "A", "flag", "1",
         "[A]\r\nFlag=1\r\nz=1\r\n"},
        {"keeps LF-only line ends of other lines", "[A]\nx=1\ny=2\n", false, "A", "x", "9",
         "[A]\nx=9\ny=2\n"},
        {"adds a key after the last entry of an inner section",
         "[A]\r\nx=1\r\n; note\r\n\r\n[B]\r\ny=2\r\n", false, "a", "z", "3",
         "[A]\r\nx=1\r\n; note\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"},
        {"adds a key to the last section", "[A]\r\nx=1\r\n", false, "A", "y", "2",
         "[A]\r\nx=1\r\ny=2\r\n"},
        {"adds a key after a last line without line end", "[A]\r\nx=1", false, "A", "y", "2",
         "[A]\r\nx=1\r\ny=2\r\n"},
        {"adds a key before trailing blank lines", "[A]\r\nx=1\r\n\r\n\r\n", false, "A", "y", "2",
         "[A]\r\nx=1\r\ny=2\r\n\r\n\r\n"},
        {"an empty section gets its first key", "[A]\r\n[B]\r\nb=1\r\n", false, "A", "a", "1",
         "[A]\r\na=1\r\n[B]\r\nb=1\r\n"},
        {"writes umlauts in Windows-1252", "", true, "Main", "Gr\u00FC\u00DFe", "\u00C4rger \u20AC",
         "[Main]\r\nGr\xFC\xDF"
         "e=\xC4rger \x80\r\n"},
        {"line breaks become bars", "[A]\r\nx=1\r\n", false, "A", "Text1",
         "eins\r\nzwei\ndrei\rvier", "[A]\r\nx=1\r\nText1=eins|zwei|drei|vier\r\n"},
        {"a key with a line break stays on one line", "[A]\r\n", false, "A", "a\nb", "1",
         "[A]\r\na|b=1\r\n"},
        {"a section with a line break stays on one line", "", true, "S\r\nT", "k", "v",
         "[S|T]\r\nk=v\r\n"},
        {"text after a NUL does not exist", "", true, "A", "k", std::string("vor\0nach", 8),
         "[A]\r\nk=vor\r\n"},
        {"the same value again changes nothing", "[A]\r\nk=v\r\n", false, "A", "K", "v",
         "[A]\r\nk=v\r\n"},
        // A file keeps its code page, its byte-order mark and its line end.
        {"a Windows-1252 file stays Windows-1252", "[A]\r\nx=\xE4\r\n", false, "A", "y", "\u00FC",
         "[A]\r\nx=\xE4\r\ny=\xFC\r\n"},
        {"a UTF-8 file stays UTF-8 with LF", "[A]\nx=\u00E4\n", false, "A", "y", "\u00FC",
         "[A]\nx=\u00E4\ny=\u00FC\n"},
        {"a UTF-8 key matches without regard to case", "[A]\n\u00C4rger=1\n", false, "a",
         "\u00E4RGER", "\u00DC", "[A]\n\u00C4rger=\u00DC\n"},
        {"a byte-order mark stays", "\xEF\xBB\xBF[A]\r\nx=1\r\n", false, "\u00D6", "k", "\u00FC",
         "\xEF\xBB\xBF[A]\r\nx=1\r\n[\u00D6]\r\nk=\u00FC\r\n"},
        {"CR-only lines stay CR-only", "[A]\rx=1\r[B]\ry=2", false, "A", "z", "3",
         "[A]\rx=1\rz=3\r[B]\ry=2"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.file("w.ini");
        ::unlink(path.c_str());
        if (!c.missing) spit(path, c.before);
        platform::profile_cache_clear();
        EXPECT_TRUE(WritePrivateProfileStringA(c.section, c.key, c.value, dir.win("w.ini")))
            << c.what;
        EXPECT_EQ(slurp(path), c.after) << c.what;
        // What was written reads back (through the cache and from a fresh parse).
        for (int fresh = 0; fresh < 2; ++fresh) {
            if (fresh) platform::profile_cache_clear();
            std::string want = c.value;
            want = want.substr(0, want.find('\0'));
            for (auto& ch : want) ch = (ch == '\n') ? '|' : ch;
            std::string::size_type at;
            while ((at = want.find("\r|")) != std::string::npos) want.erase(at, 1);
            for (auto& ch : want) ch = (ch == '\r') ? '|' : ch;
            std::string key = c.key;
            for (auto& ch : key) ch = (ch == '\n' || ch == '\r') ? '|' : ch;
            std::string section = c.section;
            if (section.find('\r') != std::string::npos) section = "S|T";
            EXPECT_EQ(GetPrivateProfileStringA(section, key, "d", 9999, dir.win("w.ini")), want)
                << c.what << (fresh ? " (fresh)" : " (cached)");
        }
    }
}

TEST(ProfileWrite, RefusedWritesChangeNothing) {
    TempDir dir;
    spit(dir.file("ro.ini"), "[A]\r\nx=1\r\n");
    ::chmod(dir.file("ro.ini").c_str(), 0444);
    ::mkdir(dir.file("folder.ini").c_str(), 0755);
    ::mkfifo(dir.file("fifo.ini").c_str(), 0644);
    struct Case {
        std::string file;
        const char* key;
    } cases[] = {
        {dir.win("ro.ini"), "x"},                   // read-only, also for root
        {dir.win("ro.ini"), "new"},                 // the append path checks it too
        {dir.win("no\\such\\folder\\a.ini"), "x"},  // the folder is not created
        {dir.win("folder.ini"), "x"},
        {dir.win("fifo.ini"), "x"},
        {"Q:\\a.ini", "x"},
        {dir.win("empty-key.ini"), ""},
        {dir.win("empty-key.ini"), "  "},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(WritePrivateProfileStringA("A", c.key, "2", c.file)) << c.file;
    }
    EXPECT_EQ(slurp(dir.file("ro.ini")), "[A]\r\nx=1\r\n");
    EXPECT_NE(::access(dir.file("empty-key.ini").c_str(), F_OK), 0);
    EXPECT_NE(::access(dir.file("no").c_str(), F_OK), 0);
}

TEST(ProfileWrite, InterleavedSectionsStayConsistent) {
    // Appends update the cached parse incrementally; inserts rewrite. Both must agree with a
    // fresh parse of what is on disk, and with the file another process would read.
    TempDir dir;
    const std::string f = dir.win("log.ini");
    std::string a_lines, b_lines;
    for (int i = 0; i < 150; ++i) {
        const std::string v = "Wert \u00E4" + std::to_string(i);
        ASSERT_TRUE(WritePrivateProfileStringA("A", "Datei" + std::to_string(i), v, f));
        a_lines += "Datei" + std::to_string(i) + "=Wert \xE4" + std::to_string(i) + "\r\n";
        if (i % 3 == 0) {
            ASSERT_TRUE(WritePrivateProfileStringA("B", "Link" + std::to_string(i), v, f));
            b_lines += "Link" + std::to_string(i) + "=Wert \xE4" + std::to_string(i) + "\r\n";
        }
        ASSERT_TRUE(WritePrivateProfileStringA("A", "AnzDatei", std::to_string(i), f));
        EXPECT_EQ(GetPrivateProfileStringA("a", "anzdatei", "", 99, f), std::to_string(i));
    }
    const std::string disk = slurp(dir.file("log.ini"));
    EXPECT_EQ(disk,
              "[A]\r\nDatei0=Wert \xE4"
              "0\r\nAnzDatei=149\r\n" +
                  a_lines.substr(a_lines.find("\r\n") + 2) + "[B]\r\n" + b_lines);
    for (int fresh = 0; fresh < 2; ++fresh) {
        if (fresh) platform::profile_cache_clear();
        for (int i = 0; i < 150; ++i) {
            EXPECT_EQ(GetPrivateProfileStringA("A", "datei" + std::to_string(i), "", 99, f),
                      "Wert \u00E4" + std::to_string(i));
            EXPECT_EQ(GetPrivateProfileStringA("B", "LINK" + std::to_string(i), "-", 99, f),
                      i % 3 == 0 ? "Wert \u00E4" + std::to_string(i) : "-");
        }
    }
}

TEST(ProfileWrite, NewKeysAtTheEndAreAppendedInPlace) {
    TempDir dir;
    const std::string host = dir.file("grow.ini");
    ASSERT_TRUE(WritePrivateProfileStringA("Dateien", "Datei0", "a", dir.win("grow.ini")));
    const ino_t inode = core_test::inode_of(host);
    for (int i = 1; i < 100; ++i) {
        ASSERT_TRUE(WritePrivateProfileStringA("Dateien", "Datei" + std::to_string(i), "a",
                                               dir.win("grow.ini")));
        // Each write is in the file at once (another process reads the file, not our cache).
        ASSERT_NE(slurp(host).find("Datei" + std::to_string(i) + "=a\r\n"), std::string::npos);
    }
    EXPECT_EQ(core_test::inode_of(host), inode) << "appending must not replace the file";
    ASSERT_TRUE(WritePrivateProfileStringA("Dateien", "Datei5", "b", dir.win("grow.ini")));
    EXPECT_NE(slurp(host).find("Datei5=b\r\nDatei6=a\r\n"), std::string::npos);
}

TEST(ProfileCache, UnchangedFilesAreNotParsedAgain) {
    TempDir dir;
    ASSERT_TRUE(WritePrivateProfileStringA("Main", "Key", "v", dir.win("c.ini")));
    GetPrivateProfileStringA("Main", "Key", "", 99, dir.win("c.ini"));
    const auto before = platform::profile_parse_count();
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(GetPrivateProfileStringA("Main", "Key", "", 99, dir.win("c.ini")), "v");
    }
    EXPECT_EQ(platform::profile_parse_count(), before);
    // Also a file written by someone else a moment ago (checked by content, not parsed again).
    spit(dir.file("ext.ini"), "[Main]\r\nKey=e\r\n");
    GetPrivateProfileStringA("Main", "Key", "", 99, dir.win("ext.ini"));
    const auto after_ext = platform::profile_parse_count();
    for (int i = 0; i < 20; ++i)
        GetPrivateProfileStringA("Main", "Key", "", 99, dir.win("ext.ini"));
    EXPECT_EQ(platform::profile_parse_count(), after_ext);
}

// Umlauts written into a plain ASCII file are Windows-1252; when their bytes happen to form
// UTF-8 ("Ã¤" is C3 A4), a fresh read takes the file as UTF-8, and the cached one must agree.
TEST(ProfileCache, AgreesWithAFreshReadWhenAWriteMakesTheFileUtf8) {
    TempDir dir;
    spit(dir.file("a.ini"), "[A]\r\nx=1\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("A", "y", "\u00C3\u00A4", dir.win("a.ini")));
    EXPECT_EQ(slurp(dir.file("a.ini")), "[A]\r\nx=1\r\ny=\xC3\xA4\r\n");
    const std::string cached = GetPrivateProfileStringA("A", "y", "", 99, dir.win("a.ini"));
    platform::profile_cache_clear();
    EXPECT_EQ(cached, GetPrivateProfileStringA("A", "y", "", 99, dir.win("a.ini")));
}

TEST(ProfileCache, ChangesByOthersAreSeen) {
    TempDir dir;
    const std::string host = dir.file("x.ini");
    const std::string win = dir.win("x.ini");
    struct Change {
        const char* what;
        std::string content;
        bool keep_times;  // put the old modification time back
    } changes[] = {
        {"same size at once", "[Main]\r\nKey=2\r\n", false},
        {"same size, old modification time", "[Main]\r\nKey=3\r\n", true},
        {"longer", "[Main]\r\nKey=four\r\n", false},
        {"section gone", "[Other]\r\nKey=5\r\n", false},
    };
    spit(host, "[Main]\r\nKey=1\r\n");
    EXPECT_EQ(GetPrivateProfileStringA("Main", "Key", "d", 99, win), "1");
    for (const auto& c : changes) {
        struct stat st {};
        ::stat(host.c_str(), &st);
        spit(host, c.content);
        if (c.keep_times) {
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, host.c_str(), times, 0);
        }
        const auto eq = c.content.find('=');
        const std::string want = c.content.find("[Main]") == 0
                                     ? c.content.substr(eq + 1, c.content.size() - eq - 3)
                                     : "d";
        EXPECT_EQ(GetPrivateProfileStringA("Main", "Key", "d", 99, win), want) << c.what;
    }
    // A replacement by rename (a new inode) after our own write.
    ASSERT_TRUE(WritePrivateProfileStringA("Main", "Key", "6", win));
    spit(dir.file("y.ini"), "[Main]\r\nKey=7\r\n");
    ASSERT_EQ(::rename(dir.file("y.ini").c_str(), host.c_str()), 0);
    EXPECT_EQ(GetPrivateProfileStringA("Main", "Key", "d", 99, win), "7");
    // And a write after someone else's change works on their content, not the cached one.
    spit(host, "[Main]\r\nKey=8\r\nOther=9\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("Main", "New", "10", win));
    EXPECT_EQ(slurp(host), "[Main]\r\nKey=8\r\nOther=9\r\nNew=10\r\n");
}

}  // namespace
