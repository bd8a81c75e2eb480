// The sample package source must stay a complete package: later changes to its script or files
// (an editor saving the script as UTF-8, a file added to the folder) show up here.
#include <gtest/gtest.h>

#include <filesystem>

#include "tools/mkpackage/package.h"
#include "tools_util.h"

namespace {

using namespace tools_test;

const std::string sample = std::string(VELTRIN_SOURCE_DIR) + "/tools/sample";

TEST(SamplePackage, ScriptIsWindowsTextWithTheProductFiles) {
    std::string script = read_file(sample + "/Setup.INX");
    ASSERT_FALSE(script.empty());
    for (std::size_t i = 0; i < script.size(); ++i)
        if (script[i] == '\n') {
            ASSERT_TRUE(i > 0 && script[i - 1] == '\r') << "bare LF at " << i;
        }
    // Windows-1252: umlauts are single bytes, never UTF-8 sequences.
    EXPECT_EQ(script.find("\xc3"), std::string::npos);
    EXPECT_NE(script.find("Anh\xe4nge"), std::string::npos);
    for (const char* needed : {"[Main]", "[Dateien]", "[Billboards]", "[Links]", "[RunApps]",
                               "ProgrammGruppe=", "#InstallPath#", "#ProgramGroup#"})
        EXPECT_NE(script.find(needed), std::string::npos) << needed;
}

TEST(SamplePackage, StagedSourceMakesTheMediumLayout) {
    TempDir dir("sample");
    // What the build stages: the package files of the folder and the product program.
    for (const char* f : {"Setup.INX", "Lizenz.rtf", "Liesmich.txt", "Morvolan.svg",
                          "background.jpg", "Wizard.jpg", "button.bmp", "logo.dat"})
        std::filesystem::copy_file(sample + "/" + f, dir / f);
    write_file(dir / "morvo", "#!/bin/sh\n");
    auto plan = mkpackage::plan_package(dir.path());
    EXPECT_EQ(plan.resources,
              (std::vector<std::string>{"Lizenz.rtf", "Wizard.jpg", "background.jpg", "button.bmp",
                                        "logo.dat"}));
    std::vector<std::string> products;
    for (const auto& [name, host] : plan.products) products.push_back(name);
    EXPECT_EQ(products, (std::vector<std::string>{"morvo", "Liesmich.txt", "Morvolan.svg"}));
    std::string rtf = read_file(sample + "/Lizenz.rtf");
    EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
}

TEST(SamplePackage, DefaultBuildMadeTheMedium) {
    // The default build runs mkpackage on the sample; its medium sits beside bin/.
    std::string medium = std::filesystem::path(bin_dir()).parent_path().string() + "/sample-medium";
    if (!exists(medium + "/.stamp")) GTEST_SKIP() << "sample medium not built in " << medium;
    for (const char* f : {"data01.cab", "data02.cab", "Setup.dat"})
        EXPECT_TRUE(exists(medium + "/" + f)) << f;
    TempDir dir("sample");
    RunResult r = extract_all(medium + "/data01.cab", dir / "pkg");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "pkg/Setup.INX"), read_file(sample + "/Setup.INX"));
    r = extract_one(medium + "/data02.cab", dir / "inst/morvo");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(is_executable(dir / "inst/morvo"));
}

}  // namespace
