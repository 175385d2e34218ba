#include "app/CommandLine.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace tervolo::app {

namespace {

// Qt's own options that take the next argument as their value.
constexpr std::array<std::string_view, 13> kQtOptionsWithValue = {"-platform",        "-platformpluginpath",
                                                                  "-platformtheme",   "-plugin",
                                                                  "-qwindowgeometry", "-qwindowtitle",
                                                                  "-qwindowicon",     "-style",
                                                                  "-stylesheet",      "-display",
                                                                  "-geometry",        "-title",
                                                                  "-session"};

// A scheme (a letter, then letters, digits, "+", "-" or "."), a colon and something after it.
bool isLink(std::string_view argument) {
    const auto colon = argument.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == argument.size()) return false;
    if (std::isalpha(static_cast<unsigned char>(argument[0])) == 0) return false;
    for (size_t index = 1; index < colon; ++index) {
        const auto c = static_cast<unsigned char>(argument[index]);
        if (std::isalnum(c) == 0 && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

}  // namespace

CommandLine CommandLine::parse(int argc, const char* const* argv) {
    CommandLine line;
    for (int index = 1; index < argc; ++index) {
        if (argv[index] == nullptr) continue;
        const std::string_view argument(argv[index]);
        if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version") {
            line.version = true;
        } else if (std::find(kQtOptionsWithValue.begin(), kQtOptionsWithValue.end(), argument) !=
                   kQtOptionsWithValue.end()) {
            ++index;  // its value is Qt's, even when it looks like a link
        } else if (isLink(argument)) {
            line.links.emplace_back(argument);
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
           "  link         tervolo://point/<identifier>, tervolo://open?url=<link>, or a short\n"
           "               link of a shared place (https://...); a running TervoloNG takes them\n"
           "\n"
           "Without a display, run it as: QT_QPA_PLATFORM=offscreen TervoloNG\n"
           "TERVOLO_QUIT_AFTER_FIRST_FRAME=1 quits after the first complete map frame and writes\n"
           "\"first map frame after N ms\" to standard error.\n";
}

}  // namespace tervolo::app
