#include "app/CommandLine.hpp"

#include <string_view>

namespace tervolo::app {

CommandLine CommandLine::parse(int argc, const char* const* argv) {
    CommandLine line;
    for (int index = 1; index < argc; ++index) {
        if (argv[index] == nullptr) continue;
        const std::string_view argument(argv[index]);
        if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version") {
            line.version = true;
        } else if (!argument.empty() && argument.front() != '-') {
            // A link has a scheme before "://"; anything else is a value of a Qt option.
            const auto separator = argument.find("://");
            if (separator != std::string_view::npos && separator > 0) line.links.emplace_back(argument);
        }
    }
    return line;
}

std::string CommandLine::helpText() {
    return "Usage: TervoloNG [--help] [--version] [link ...]\n"
           "\n"
           "A map of the world and of your own places.\n"
           "\n"
           "  --help       show this text and quit\n"
           "  --version    show the name, version and build, and quit\n"
           "  link         a short link of a shared place (https://...), opened at launch\n"
           "\n"
           "Without a display, run it as: QT_QPA_PLATFORM=offscreen TervoloNG\n"
           "TERVOLO_QUIT_AFTER_FIRST_FRAME=1 quits after the first complete map frame and writes\n"
           "\"first map frame after N ms\" to standard error.\n";
}

}  // namespace tervolo::app
