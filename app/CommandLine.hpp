#pragma once

#include <string>
#include <vector>

namespace tervolo::app {

// What the program was asked on its command line. Arguments of Qt's own
// (-platform, -style and their values) pass through untouched.
struct CommandLine {
    bool help = false;     // "--help" or "-h"
    bool version = false;  // "--version"
    // The links among the arguments ("scheme:…"), in their order.
    std::vector<std::string> links;

    static CommandLine parse(int argc, const char* const* argv);
    // The answer to --help, ending with a newline.
    static std::string helpText();
};

}  // namespace tervolo::app
