#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "tools/extractor/extractor.h"
#include "tools_util.h"

namespace {

using namespace tools_test;

cab::Options per_file() {
    cab::Options o;
    o.folder_per_file = true;
    return o;
}

struct ParseCase {
    const char* line;
    std::set<std::string> files;  // host paths that exist as files
    bool ok;
    const char* cabinet;
    const char* folder;
    const char* name;
};

TEST(ExtractorCommandLine, JoinsBlanksAndSplitsCabinetFromTarget) {
    const ParseCase cases[] = {
        // the bootstrap's line: a temporary folder with a blank, the short cabinet path
        {"x C:\\media\\DATA01.CAB C:\\tmp\\my dir\\~Veltrin\\*.* -d -i",
         {"/media/DATA01.CAB"},
         true,
         "/media/DATA01.CAB",
         "/tmp/my dir/~Veltrin/",
         ""},
        // the install run's line: the cabinet path itself holds a blank
        {"x C:\\my media\\data02.cab C:\\Program Files\\Morvolan\\morvo -d -i -ox",
         {"/my media/data02.cab"},
         true,
         "/my media/data02.cab",
         "/Program Files/Morvolan/",
         "morvo"},
        // the first prefix that names a file wins
        {"x C:\\a b.cab C:\\t\\f -ox", {"/a b.cab", "/a"}, true, "/a", "b.cab C:/t/", "f"},
        {"x C:\\m\\d.cab C:\\t\\*", {"/m/d.cab"}, true, "/m/d.cab", "/t/", ""},
        {"x C:\\m\\d.cab C:\\t\\", {"/m/d.cab"}, true, "/m/d.cab", "/t/", ""},
        {"x C:\\m\\d.cab \\t\\Datei mit Leerzeichen.txt",
         {"/m/d.cab"},
         true,
         "/m/d.cab",
         "/t/",
         "Datei mit Leerzeichen.txt"},
        {"x C:\\m\\d.cab C:\\t\\*.txt -d", {"/m/d.cab"}, false, "", "", ""},
        {"x C:\\m\\missing.cab C:\\t\\*.* -d -i", {"/m/d.cab"}, false, "", "", ""},
        {"x Z:\\d.cab C:\\t\\*.* -d -i", {"/d.cab"}, false, "", "", ""},
        {"x C:\\m\\d.cab -d -i", {"/m/d.cab"}, false, "", "", ""},
        {"x C:\\m\\d.cab C:\\t\\.. -ox", {"/m/d.cab"}, false, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        auto tokens = split_blanks(c.line);
        tokens.erase(tokens.begin());  // the program itself
        std::string error;
        auto r = extractor::parse_command_line(
            tokens, [&](const std::string& p) { return c.files.count(p) > 0; }, error);
        ASSERT_EQ(r.has_value(), c.ok) << error;
        if (!r) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(r->cabinet, c.cabinet);
        EXPECT_EQ(r->folder, c.folder);
        EXPECT_EQ(r->name, c.name);
    }
}

TEST(ExtractorPaths, MapsWindowsPathsOntoTheHost) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\usr\\bin", "/usr/bin"},
        {"c:/usr/bin", "/usr/bin"},
        {"C:", "/"},
        {"C:\\", "/"},
        {"\\usr", "/usr"},
        {"C:\\USR\\BIN", "/usr/bin"},  // found without regard to case
        {"C:\\usr\\nicht da\\x", "/usr/nicht da/x"},
    };
    for (const auto& [win, host] : cases) {
        SCOPED_TRACE(win);
        auto r = extractor::host_path(win);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(*r, host);
    }
    for (const char* unknown : {"Z:\\x", "\\\\nirgends\\share\\x", "//nirgends/share"})
        EXPECT_FALSE(extractor::host_path(unknown).has_value()) << unknown;
}

TEST(ExtractorPaths, FindsExistingFoldersInAnotherCase) {
    TempDir dir("paths");
    make_dirs(dir / "Programme/Morvolan");
    auto r = extractor::host_path(windows(dir.path()) + "\\PROGRAMME\\morvolan\\neu\\Datei.txt");
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, dir.path() + "/Programme/Morvolan/neu/Datei.txt");
}

TEST(ExtractorNames, RefusesNamesThatLeaveTheTarget) {
    const std::pair<const char*, bool> cases[] = {
        {"Setup.INX", true},
        {"sub\\file.txt", true},
        {"a/b", true},
        {"Größe.txt", true},
        {"..evil", true},
        {"..\\evil", false},
        {"sub\\..\\..\\x", false},
        {"/etc/x", false},
        {"\\x", false},
        {"C:\\x", false},
        {"C:x", false},
        {"a\\.\\b", false},
        {"a\\\\b", false},
        {"", false},
        {"..", false},
        {"a\\", false},
        {"line\nbreak", false},
    };
    for (const auto& [name, safe] : cases)
        EXPECT_EQ(extractor::is_safe_entry_name(name), safe) << name;
}

TEST(ExtractorNames, RanksEntriesForAOneFileTarget) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"morvo", "C:\\Programme\\Morvolan\\morvo", 3},
        {"MORVO", "C:\\Programme\\Morvolan\\morvo", 3},
        {"sub\\b.txt", "C:\\x\\sub\\b.txt", 4},
        {"sub\\b.txt", "C:\\x\\other\\b.txt", 1},
        {"a\\b\\c.txt", "b\\c.txt", 1},
        {"b.txt", "C:\\x\\sub\\b.txt", 3},
        {"c.txt", "C:\\x\\b.txt", 0},
        {"sub/b.txt", "C:\\x\\SUB\\b.txt", 4},
        {"Größe\\b.txt", "C:\\x\\GRÖßE\\B.TXT", 4},
        {"b.txt", "C:\\x\\sub\\", 0},
    };
    for (const auto& [entry, target, rank] : cases)
        EXPECT_EQ(extractor::match_rank(entry, target), rank) << entry << " for " << target;
}

TEST(ExtractorNames, ComparesLikeWindows) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"setup.inx", "Setup.INX", true},
        {"größe.txt", "GRÖßE.TXT", true},
        {"ÄÖÜ", "äöü", true},
        {"Größe.txt", "GRÖSSE.txt", false},
        {"a.txt", "b.txt", false},
        {"a", "a ", false},
        {"×", "÷", false},  // the multiplication sign has no lower-case form
        {"a\xc3", "A\xc3", true},
        {"\xc3\x84"
         "b",
         "\xc3\xa4"
         "B",
         true},
    };
    for (const auto& [a, b, same] : cases)
        EXPECT_EQ(extractor::names_equal(a, b), same) << a << " " << b;
}

TEST(ExtractorNames, ConvertsWindows1252Names) {
    EXPECT_EQ(extractor::cp1252_name_to_utf8("Gr\xf6\xdf"
                                             "e \x80.txt"),
              "Größe €.txt");
    EXPECT_EQ(extractor::cp1252_name_to_utf8("plain"), "plain");
    // The code page's holes are no characters: a name shows U+FFFD for them.
    EXPECT_EQ(extractor::cp1252_name_to_utf8("a\x81"
                                             "b\x9d"),
              "a\uFFFD"
              "b\uFFFD");
}

// --- the program itself ---

struct Refusal {
    const char* what;
    std::vector<std::string> names;
};

TEST(ExtractorProgram, RefusesCabinetsWithEscapingNamesAndWritesNothing) {
    TempDir dir("refuse");
    const std::string outside = dir / "outside-x";
    const Refusal cases[] = {
        {"parent", {"ok.txt", "..\\evil"}},     {"root", {"/etc/x"}},
        {"absolute", {"ok.txt", outside}},      {"drive", {"C:\\evil"}},
        {"deep parent", {"sub\\..\\..\\evil"}},
    };
    bool etc_x_before = exists("/etc/x");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir work("refuse");
        std::vector<cab::Entry> entries;
        for (const auto& n : c.names) entries.push_back(entry(n, "böse"));
        std::string cab = work / "evil.cab";
        cab::write_cabinet(cab, entries);
        make_dirs(work / "deep/target");
        RunResult all = extract_all(cab, work / "deep/target");
        EXPECT_NE(all.status, 0);
        EXPECT_NE(all.err.find("refused"), std::string::npos) << all.err;
        RunResult one = extract_one(cab, work / "deep/target/evil");
        EXPECT_NE(one.status, 0);
        std::map<std::string, std::string> only_cab{{"evil.cab", read_file(cab)}};
        EXPECT_EQ(tree(work.path()), only_cab);
        EXPECT_FALSE(exists(outside));
        EXPECT_EQ(exists("/etc/x"), etc_x_before);
    }
}

TEST(ExtractorProgram, DoesNotFollowLinksOutOfTheTarget) {
    TempDir dir("links");
    make_dirs(dir / "target");
    make_dirs(dir / "elsewhere");
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "target/link").c_str()), 0);
    std::string cab = dir / "x.cab";
    cab::write_cabinet(cab, {entry("link\\x.txt", "x"), entry("fine.txt", "y")});
    RunResult r = extract_all(cab, dir / "target");
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(tree(dir / "elsewhere").empty());
    EXPECT_EQ(read_file(dir / "target/fine.txt"), "y");
}

TEST(ExtractorProgram, OneFileReplacesTheTarget) {
    TempDir dir("one file");
    std::string cab = dir / "data02.cab";
    cab::write_cabinet(
        cab,
        {entry("a.txt", "erste"), entry("morvo", text(90000), cab::attrib_arch | cab::attrib_exec),
         entry("Größe.txt", "neu")},
        per_file());
    std::string target = dir / "Program Files/Morvolan";
    make_dirs(target);
    write_file(target + "/morvo", "alt");
    ::chmod((target + "/morvo").c_str(), 0444);
    write_file(target + "/größe.txt", "alt");

    RunResult r = extract_one(cab, target + "/morvo");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(target + "/morvo"), text(90000));
    EXPECT_TRUE(is_executable(target + "/morvo"));

    // Names match without regard to case, and an existing file in another case is the one replaced.
    r = extract_one(cab, target + "/GRÖßE.TXT");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(target + "/größe.txt"), "neu");
    EXPECT_FALSE(exists(target + "/GRÖßE.TXT"));

    // Only the file asked for is written.
    EXPECT_FALSE(exists(target + "/a.txt"));
    std::set<std::string> names;
    for (const auto& [name, bytes] : tree(target)) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"morvo", "größe.txt"}));
}

TEST(ExtractorProgram, OneFileFromASharedFolderOrASubfolder) {
    TempDir dir("shared");
    std::string cab = dir / "d.cab";
    std::vector<cab::Entry> entries{entry("a.txt", text(40000)), entry("sub\\b.txt", "bee"),
                                    entry("c.txt", noise(70000, 3)), entry("b.txt", "top")};
    cab::write_cabinet(cab, entries);  // one folder for all
    const std::pair<const char*, std::string> cases[] = {
        {"c.txt", entries[2].data},  // after other files in the same folder
        {"b.txt", "top"},            // the exact name wins over a subfolder's file
        {"sub\\b.txt", "bee"},       // and the subfolder's file wins for a target in "sub"
        {"A.TXT", entries[0].data},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        RunResult r = extract_one(cab, dir / ("out/" + std::string(name)));
        EXPECT_EQ(r.status, 0) << r.err;
        // The target names the folder; a name with a subfolder lands in that subfolder.
        std::string written = dir / ("out/" + std::string(name));
        for (char& c : written)
            if (c == '\\') c = '/';
        EXPECT_EQ(read_file(written), bytes);
    }
    // Only in a subfolder: found by its last part.
    cab::write_cabinet(cab, {entry("sub\\only.txt", "nur")});
    EXPECT_EQ(extract_one(cab, dir / "out2/only.txt").status, 0);
    EXPECT_EQ(read_file(dir / "out2/only.txt"), "nur");
}

TEST(ExtractorProgram, AllFilesIntoAFolderWithBlanksReplacingOldOnes) {
    TempDir dir("all files");
    make_dirs(dir / "medium dir");
    std::string cab = dir / "medium dir/data01.cab";
    cab::write_cabinet(cab, {entry("Setup.INX", "[Main]\r\n"), entry("Lizenz.rtf", "{\\rtf1}")});
    std::string package = dir / "my temp/~Veltrin";
    make_dirs(package);
    write_file(package + "/Setup.INX", "veraltet");
    RunResult r = extract_all(cab, package);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree(package), (std::map<std::string, std::string>{{"Setup.INX", "[Main]\r\n"},
                                                                 {"Lizenz.rtf", "{\\rtf1}"}}));
    // A missing target folder is created.
    r = extract_all(cab, dir / "my temp/neu/tief");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(dir / "my temp/neu/tief/Lizenz.rtf"));
}

TEST(ExtractorProgram, OneFileDecompressesOnlyItsOwnFolder) {
    TempDir dir("folders");
    std::string cab = dir / "data02.cab";
    std::string first = noise(50000, 7);
    cab::write_cabinet(cab, {entry("first.bin", first), entry("second.txt", "zweite")}, per_file());
    // Damage the first folder's data: its blocks start where its folder entry points.
    std::string bytes = read_file(cab);
    unsigned start = 0;
    for (int i = 0; i < 4; ++i)
        start |= static_cast<unsigned>(static_cast<unsigned char>(bytes[36 + i])) << (8 * i);
    bytes[start + 8 + 100] ^= 0x55;
    write_file(cab, bytes);

    RunResult ok = extract_one(cab, dir / "out/second.txt");
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(read_file(dir / "out/second.txt"), "zweite");

    RunResult bad = extract_one(cab, dir / "out/first.bin");
    EXPECT_NE(bad.status, 0);
    EXPECT_FALSE(bad.err.empty());
    EXPECT_FALSE(exists(dir / "out/first.bin"));  // no half-written file under the real name
    EXPECT_EQ(tree(dir / "out").size(), 1u);      // and no temporary file left behind
    EXPECT_NE(extract_all(cab, dir / "all").status, 0);
}

// A damaged folder: its first entry starts past the folder's data, the header claims one block
// more than there is and an empty block header follows the data. Reading past the data ends
// libmspack's input for the folder while it keeps the folder's state for the next entry. The
// sound entry before them (c.txt) is still extracted.
TEST(ExtractorProgram, ReportsEveryEntryOfADamagedFolder) {
    TempDir dir("damaged");
    cab::Options stored;
    stored.compression = cab::Compression::none;
    std::string bytes = cab::build_cabinet(
        {entry("a.txt", "AAAA"), entry("b.txt", "BBBB"), entry("c.txt", "C")}, stored);
    auto put32 = [&](std::size_t at, unsigned v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
    };
    const std::size_t files_at = static_cast<unsigned char>(bytes[16]);
    bytes[36 + 4] = 3;       // the folder's block count
    put32(files_at + 4, 9);  // a.txt and b.txt begin past the folder's 9 bytes
    put32(files_at + 22 + 4, 9);
    bytes.append(8, '\0');  // a block header of no bytes, as in a set of cabinets
    put32(8, static_cast<unsigned>(bytes.size()));
    write_file(dir / "d.cab", bytes);

    RunResult r = extract_all(dir / "d.cab", dir / "out");
    EXPECT_EQ(r.status, 1) << r.err;
    for (const char* name : {"a.txt", "b.txt"})
        EXPECT_NE(r.err.find(std::string(name) + ": "), std::string::npos) << name << r.err;
    EXPECT_EQ(tree(dir / "out"), (std::map<std::string, std::string>{{"c.txt", "C"}}));
}

TEST(ExtractorProgram, FailsWithAMessage) {
    TempDir dir("fail");
    std::string cab = dir / "d.cab";
    cab::write_cabinet(cab, {entry("a.txt", "a")});
    write_file(dir / "kein.cab", "not a cabinet at all");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {"no arguments", {}, 2},
        {"missing cabinet",
         split_blanks(windows(dir / "fehlt.cab") + " " + windows(dir.path()) + "\\*.* -d -i"), 2},
        {"not a cabinet",
         split_blanks(windows(dir / "kein.cab") + " " + windows(dir / "o") + "\\*.* -d -i"), 1},
        {"file not in cabinet",
         split_blanks(windows(cab) + " " + windows(dir / "o") + "\\b.txt -d -i -ox"), 1},
        {"target is a folder",
         split_blanks(windows(cab) + " " + windows(dir / "o") + "\\a.txt -d -i -ox"), 1},
    };
    make_dirs(dir / "o/a.txt");  // a folder where the file should go
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> argv{bin_dir() + "/extractor"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        RunResult r = run(argv);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find("extractor: "), std::string::npos) << r.err;
    }
}

}  // namespace
