// Builds a package medium from a source folder:
//   data01.cab  the setup script "Setup.INX" and every other regular file directly in the
//               source folder that is not a product file (pictures, licence, ...), one folder
//   data02.cab  the product files named by the script's [Dateien] DateiN0.. entries, one
//               cabinet folder per file so that one file extracts without the others
//   Setup.dat   the extractor in the program container (platform/program_container.h)
//   unins.ex_   the uninstaller, a plain program, when it has been built
//   setup       a copy of the setup program, when it has been built
#pragma once

#include <string>
#include <vector>

namespace mkpackage {

struct Plan {
    std::string script;                  // host path of the setup script
    std::vector<std::string> resources;  // file names (in the source folder) for data01.cab
    // Product files: the name stored in data02.cab (as the script writes it) and its host path.
    std::vector<std::pair<std::string, std::string>> products;
};

// Reads the source folder and its script. Throws std::runtime_error when the script is
// missing or names a product file that the folder does not hold.
Plan plan_package(const std::string& source);

// The host path of a file named as the script names it ("sub\name" allowed), found without
// regard to case; "" when the source folder holds none.
std::string find_source_file(const std::string& source, const std::string& name);
// The host path of the source's "Setup.INX" (any case); "" when there is none.
std::string find_script(const std::string& source);

struct Result {
    std::vector<std::string> notes;  // what was left out and why
};

// Writes the medium (created when missing). `bin` is the folder holding extractor, setup and
// uninstall. Throws std::runtime_error on failure.
Result make_medium(const std::string& source, const std::string& medium, const std::string& bin);

}  // namespace mkpackage
