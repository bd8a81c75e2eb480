#include <string>
#include <vector>

#include "tools/extractor/extractor.h"

int main(int argc, char** argv) {
    std::vector<std::string> tokens(argv + 1, argv + argc);
    return extractor::run(tokens);
}
