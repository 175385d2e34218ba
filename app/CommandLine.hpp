#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tervolo::app {

// What the program was asked on its command line. Arguments of Qt's own
// (-platform, -style and their values, -reverse ...) pass through untouched;
// any other argument that starts with "-" is an unknown option, which the
// program refuses (a mistyped --version must not open a window).
struct CommandLine {
    bool help = false;     // "--help" or "-h"
    bool version = false;  // "--version"
    // The links among the arguments ("scheme:…"), in their order; after
    // "--" every argument that is a link, whatever it starts with.
    std::vector<std::string> links;
    // The first unknown option, as given.
    std::optional<std::string> unknownOption;

    static CommandLine parse(int argc, const char* const* argv);
    // The answer to --help, ending with a newline.
    static std::string helpText();
    // The one-line refusal of an unknown option, ending with a newline, for
    // a program called `programName`.
    static std::string unknownOptionText(const std::string& option, const std::string& programName);
    // The exit status of a command line the program refuses.
    static constexpr int kUsageStatus = 2;
};

}  // namespace tervolo::app
