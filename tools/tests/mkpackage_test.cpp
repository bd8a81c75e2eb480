#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/program_container.h"
#include "tools/mkpackage/package.h"
#include "tools_util.h"

namespace {

using namespace tools_test;

// Scripts are Windows-1252 with CR LF; "\xfc" is "ü".
const char* script =
    "; Beispiel\r\n"
    "[Main]\r\nProduktName=Pr\xfc"
    "fpaket\r\n"
    "[DATEIEN]\r\nanzahldateien=3\r\n"
    "Datei0=#InstallPath#\r\nDateiN0=Pr\xfc"
    "fung.txt\r\n"
    "Datei1=#InstallPath#\r\ndatein1 = morvo \r\n"
    "Datei2=#InstallPath#\\zweit\r\nDateiN2=MORVO\r\n";

void make_source(const std::string& dir) {
    make_dirs(dir + "/sub");
    write_file(dir + "/setup.inx", script);
    write_file(dir + "/Prüfung.txt", "Prüfung");
    write_file(dir + "/Morvo", "#!/bin/sh\necho morvo\n");
    ::chmod((dir + "/Morvo").c_str(), 0755);
    write_file(dir + "/background.jpg", "jpg");
    write_file(dir + "/Lizenz.rtf", "{\\rtf1 Lizenz}");
    write_file(dir + "/Extra.txt", "extra");
    write_file(dir + "/.hidden", "no");
    write_file(dir + "/sub/deep.txt", "no");
}

// A bin folder with the real extractor and, when asked, stand-ins for the other programs.
void make_bin(const std::string& dir, bool with_programs) {
    make_dirs(dir);
    write_file(dir + "/extractor", read_file(bin_dir() + "/extractor"));
    ::chmod((dir + "/extractor").c_str(), 0755);
    if (with_programs) {
        write_file(dir + "/setup", "setup program");
        write_file(dir + "/uninstall", "uninstall program");
    }
}

// Runs the extractor carried in a program container natively, as a shell started by a user
// does: the kernel refuses the file, the shell hands it to /bin/sh, the head runs the payload.
RunResult run_container(const std::string& container, const std::string& /*scratch*/,
                        const std::string& args) {
    EXPECT_EQ(read_file(container).substr(0, 2), "MZ");
    std::vector<std::string> argv{"/bin/sh", "-c", "\"$0\" \"$@\"", container};
    for (auto& t : split_blanks(args)) argv.push_back(t);
    return run(argv);
}

TEST(MkPackage, SortsSourceFilesIntoTheTwoCabinets) {
    TempDir dir("mkpackage");
    make_source(dir.path());
    auto plan = mkpackage::plan_package(dir.path());
    EXPECT_EQ(plan.script, dir / "setup.inx");
    EXPECT_EQ(plan.resources,
              (std::vector<std::string>{"Extra.txt", "Lizenz.rtf", "background.jpg"}));
    // Names as the script writes them; the file found without regard to case; stored once.
    ASSERT_EQ(plan.products.size(), 2u);
    EXPECT_EQ(plan.products[0].first, "Prüfung.txt");
    EXPECT_EQ(plan.products[0].second, dir / "Prüfung.txt");
    EXPECT_EQ(plan.products[1].first, "morvo");
    EXPECT_EQ(plan.products[1].second, dir / "Morvo");
}

TEST(MkPackage, RefusesIncompleteSources) {
    struct Case {
        const char* what;
        std::string script;  // empty: no script at all
        const char* message;
    };
    const Case cases[] = {
        {"no script", "", "Setup.INX"},
        {"missing product", "[Dateien]\r\nAnzahlDateien=1\r\nDateiN0=fehlt.exe\r\n", "fehlt.exe"},
        {"bad count", "[Dateien]\r\nAnzahlDateien=zwei\r\n", "AnzahlDateien"},
        {"empty name", "[Dateien]\r\nAnzahlDateien=1\r\n", "DateiN0"},
        {"escaping name", "[Dateien]\r\nAnzahlDateien=1\r\nDateiN0=..\\Extra.txt\r\n", "DateiN0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir("mkpackage");
        write_file(dir / "Extra.txt", "x");
        if (!c.script.empty()) write_file(dir / "Setup.INX", c.script);
        try {
            mkpackage::plan_package(dir.path());
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(MkPackage, BuildsAMediumThatItsOwnExtractorUnpacks) {
    TempDir dir("mkpackage");
    make_source(dir / "src");
    make_bin(dir / "bin", true);
    std::string medium = dir / "medium dir";
    auto result = mkpackage::make_medium(dir / "src", medium, dir / "bin");

    std::set<std::string> names;
    for (const auto& [name, bytes] : tree(medium)) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"data01.cab", "data02.cab", "Setup.dat", "unins.ex_",
                                            "setup"}));
    EXPECT_EQ(read_file(medium + "/Setup.dat"),
              platform::container_head() + read_file(dir / "bin/extractor"));
    EXPECT_EQ(read_file(medium + "/unins.ex_"), "uninstall program");  // no container
    EXPECT_TRUE(is_executable(medium + "/unins.ex_"));
    EXPECT_EQ(read_file(medium + "/setup"), "setup program");
    EXPECT_TRUE(is_executable(medium + "/setup"));
    // Only the pictures the source lacks are noted.
    for (const char* missing : {"logo.dat", "Wizard.jpg", "button.bmp"})
        EXPECT_TRUE(
            std::any_of(result.notes.begin(), result.notes.end(),
                        [&](const std::string& n) { return n.find(missing) != std::string::npos; }))
            << missing;
    EXPECT_EQ(result.notes.size(), 3u);

    // The bootstrap's command line: every resource into the package folder.
    std::string package = dir / "my temp/~Veltrin";
    RunResult r =
        run_container(medium + "/Setup.dat", dir.path(),
                      windows(medium + "/data01.cab") + " " + windows(package) + "\\*.* -d -i");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree(package), (std::map<std::string, std::string>{{"Setup.INX", script},
                                                                 {"Extra.txt", "extra"},
                                                                 {"Lizenz.rtf", "{\\rtf1 Lizenz}"},
                                                                 {"background.jpg", "jpg"}}));

    // The install run's command line: one product file, one cabinet folder per file.
    std::string data02 = read_file(medium + "/data02.cab");
    EXPECT_EQ(static_cast<unsigned char>(data02[26]), 2u);  // folders
    std::string target = dir / "Program Files/Morvolan";
    make_dirs(target);
    r = run_container(
        medium + "/Setup.dat", dir.path(),
        windows(medium + "/data02.cab") + " " + windows(target) + "\\morvo -d -i -ox");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(target + "/morvo"), "#!/bin/sh\necho morvo\n");
    EXPECT_TRUE(is_executable(target + "/morvo"));
}

TEST(MkPackage, LeavesOutProgramsNotYetBuilt) {
    TempDir dir("mkpackage");
    make_source(dir / "src");
    make_bin(dir / "bin", false);
    std::string medium = dir / "medium";
    make_dirs(medium);
    write_file(medium + "/unins.ex_", "stale");  // from an earlier run
    auto result = mkpackage::make_medium(dir / "src", medium, dir / "bin");
    EXPECT_FALSE(exists(medium + "/unins.ex_"));
    EXPECT_FALSE(exists(medium + "/setup"));
    EXPECT_TRUE(exists(medium + "/Setup.dat"));
    EXPECT_EQ(result.notes.size(), 5u);

    std::remove((dir / "bin/extractor").c_str());
    EXPECT_THROW(mkpackage::make_medium(dir / "src", medium, dir / "bin"), std::runtime_error);
}

TEST(MkPackage, ProgramReportsUsageAndFailures) {
    TempDir dir("mkpackage");
    const std::string mk = bin_dir() + "/mkpackage";
    EXPECT_EQ(run({mk}).status, 2);
    EXPECT_EQ(run({mk, "a"}).status, 2);
    RunResult r = run({mk, dir / "kein", dir / "medium"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("mkpackage: "), std::string::npos);
    make_source(dir / "src");
    // The checker refuses a medium whose wizard would miss its pictures.
    r = run({mk, "--bin", bin_dir(), dir / "src", dir / "medium"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Wizard.jpg"), std::string::npos) << r.err;
    write_file(dir / "src/Wizard.jpg", "jpg");
    write_file(dir / "src/button.bmp", "bmp");
    r = run({mk, "--bin", bin_dir(), dir / "src", dir / "medium"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(dir / "medium/data02.cab"));
}

}  // namespace
