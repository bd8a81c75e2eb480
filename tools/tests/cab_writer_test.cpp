// Cabinets written by the writer must come back byte-exact through every reader the package
// meets: cabextract, gcab and our own extractor.
#include <gtest/gtest.h>

#include <functional>

#include "tools/cab/cab_writer.h"
#include "tools_util.h"

namespace {

using namespace tools_test;

struct Reader {
    const char* name;
    std::function<RunResult(const std::string& cab, const std::string& out)> extract;
};

const Reader readers[] = {
    {"cabextract",
     [](const std::string& cab, const std::string& out) {
         return run({"cabextract", "-q", "-d", out, cab});
     }},
    {"gcab",
     [](const std::string& cab, const std::string& out) {
         return run({"gcab", "-x", "-C", out, cab});
     }},
    {"extractor",
     [](const std::string& cab, const std::string& out) { return extract_all(cab, out); }},
};

struct Layout {
    const char* name;
    cab::Options options;
};

cab::Options options(cab::Compression c, bool per_file) {
    cab::Options o;
    o.compression = c;
    o.folder_per_file = per_file;
    return o;
}

const Layout layouts[] = {
    {"mszip_one_folder", options(cab::Compression::mszip, false)},
    {"mszip_folder_per_file", options(cab::Compression::mszip, true)},
    {"stored_one_folder", options(cab::Compression::none, false)},
    {"stored_folder_per_file", options(cab::Compression::none, true)},
};

// Files chosen to cross block boundaries, to be empty, to need the UTF-8 name flag and to sit
// in a subfolder.
std::vector<cab::Entry> sample_entries() {
    return {
        entry("Setup.INX",
              "[Main]\r\nProduktName=Morvolan\r\nTitel=\xdc"
              "bersicht\r\n"),
        entry("Größe übersicht.txt", text(1000)),
        entry("noise.bin", noise(100000, 1), cab::attrib_arch | cab::attrib_exec),
        entry("exact.txt", text(2 * cab::block_size)),
        entry("leer.txt", ""),
        entry("sub\\inner.txt", text(70000)),
        entry("zwei.bin", noise(cab::block_size + 1, 2) + text(50000)),
    };
}

std::map<std::string, std::string> expected_tree(const std::vector<cab::Entry>& entries) {
    std::map<std::string, std::string> out;
    for (const auto& e : entries) {
        std::string rel = e.name;
        for (char& c : rel)
            if (c == '\\') c = '/';
        out[rel] = e.data;
    }
    return out;
}

TEST(CabWriter, EveryReaderGetsTheSameBytesBack) {
    auto entries = sample_entries();
    for (const Layout& layout : layouts) {
        TempDir dir("cab");
        std::string cab = dir / "test.cab";
        cab::write_cabinet(cab, entries, layout.options);
        for (const Reader& reader : readers) {
            SCOPED_TRACE(std::string(layout.name) + " read by " + reader.name);
            std::string out = dir / (std::string("out-") + reader.name);
            make_dirs(out);
            RunResult r = reader.extract(cab, out);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(tree(out), expected_tree(entries));
        }
    }
}

TEST(CabWriter, FolderPerFileWritesOneFolderPerEntry) {
    auto entries = sample_entries();
    for (bool per_file : {false, true}) {
        auto o = options(cab::Compression::mszip, per_file);
        std::string bytes = cab::build_cabinet(entries, o);
        ASSERT_GE(bytes.size(), 36u);
        EXPECT_EQ(bytes.substr(0, 4), "MSCF");
        unsigned folders =
            static_cast<unsigned char>(bytes[26]) | static_cast<unsigned char>(bytes[27]) << 8;
        unsigned files =
            static_cast<unsigned char>(bytes[28]) | static_cast<unsigned char>(bytes[29]) << 8;
        EXPECT_EQ(files, entries.size());
        EXPECT_EQ(folders, per_file ? entries.size() : 1u);
        unsigned size = 0;
        for (int i = 0; i < 4; ++i)
            size |= static_cast<unsigned>(static_cast<unsigned char>(bytes[8 + i])) << (8 * i);
        EXPECT_EQ(size, bytes.size());
    }
}

TEST(CabWriter, ExecutableAttributeBecomesTheRunBit) {
    TempDir dir("cab");
    std::string cab = dir / "x.cab";
    cab::write_cabinet(cab,
                       {entry("prog", "#!/bin/sh\n", cab::attrib_arch | cab::attrib_exec),
                        entry("doc.txt", "text")},
                       options(cab::Compression::mszip, true));
    std::string out = dir / "out";
    ASSERT_EQ(extract_all(cab, out).status, 0);
    EXPECT_TRUE(is_executable(out + "/prog"));
    EXPECT_FALSE(is_executable(out + "/doc.txt"));
}

TEST(CabWriter, EntryFromFileTakesRunAndReadOnlyBits) {
    TempDir dir("cab");
    write_file(dir / "tool", "x");
    write_file(dir / "fixed", "y");
    ::chmod((dir / "tool").c_str(), 0755);
    ::chmod((dir / "fixed").c_str(), 0444);
    auto tool = cab::entry_from_file(dir / "tool", "tool");
    auto fixed = cab::entry_from_file(dir / "fixed", "fixed");
    EXPECT_TRUE(tool.attribs & cab::attrib_exec);
    EXPECT_FALSE(tool.attribs & cab::attrib_rdonly);
    EXPECT_FALSE(fixed.attribs & cab::attrib_exec);
    EXPECT_TRUE(fixed.attribs & cab::attrib_rdonly);
    EXPECT_EQ(tool.data, "x");
    EXPECT_THROW(cab::entry_from_file(dir / "missing", "m"), std::runtime_error);
}

TEST(CabWriter, RefusesNamesTheFormatCannotHold) {
    const std::string bad_names[] = {"", std::string(256, 'a'),
                                     "Gr\xf6\xdf"
                                     "e.txt",
                                     "a\xc3", std::string("nul\0in", 6)};
    for (const auto& name : bad_names) {
        SCOPED_TRACE(name);
        EXPECT_THROW(cab::build_cabinet({entry(name, "x")}), std::invalid_argument);
    }
    EXPECT_NO_THROW(cab::build_cabinet({entry(std::string(255, 'a'), "x")}));
}

TEST(CabWriter, ChecksumFoldsTrailingBytesHighToLow) {
    // Whole words are little-endian; the one to three bytes left over enter from the high end.
    const unsigned char word[] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(cab::checksum(word, 4, 0), 0x04030201u);
    const unsigned char three[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(cab::checksum(three, 3, 0), 0x00010203u);
    const unsigned char five[] = {0x01, 0x02, 0x03, 0x04, 0x05};
    EXPECT_EQ(cab::checksum(five, 5, 0xffffffffu), 0xffffffffu ^ 0x04030201u ^ 0x05u);
}

}  // namespace
