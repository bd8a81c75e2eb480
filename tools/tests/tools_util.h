// Helpers shared by the tools tests: temporary folders, files, and running programs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "testsupport/testsupport.h"
#include "tools/cab/cab_writer.h"

namespace tools_test {

using TempDir = testsupport::TempDir;

struct RunResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string err;  // what it wrote to stderr
};

// Runs a program with these arguments (argv[0] is the program path) and waits for it.
RunResult run(const std::vector<std::string>& argv, const std::string& cwd = {});

// The folder of the built programs.
std::string bin_dir();

// "C:" followed by the host path with backslashes: the Windows form setup passes.
std::string windows(const std::string& host);

// Splits at blanks, as the unquoted command line of the setup program arrives.
std::vector<std::string> split_blanks(const std::string& line);

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool exists(const std::string& path);
bool is_executable(const std::string& path);
void make_dirs(const std::string& path);

// Every regular file below `dir` (relative path with "/" -> bytes); symbolic links are listed
// with the bytes "->target".
std::map<std::string, std::string> tree(const std::string& dir);

// A cabinet entry with a fixed time stamp.
cab::Entry entry(std::string name, std::string data, std::uint16_t attribs = cab::attrib_arch);

// Bytes that deflate poorly and well, for multi-block cabinets.
std::string noise(std::size_t size, unsigned seed);
std::string text(std::size_t size);

// The extractor's two command lines, split as they arrive.
RunResult extract_all(const std::string& cabinet, const std::string& folder);
RunResult extract_one(const std::string& cabinet, const std::string& target);

}  // namespace tools_test
