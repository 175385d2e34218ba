#include "app/CommandLine.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace tervolo::app {

namespace {

// Qt's own options that take the next argument as their value.
constexpr std::array<std::string_view, 14> kQtOptionsWithValue = {"-platform",        "-platformpluginpath",
                                                                  "-platformtheme",   "-plugin",
                                                                  "-qwindowgeometry", "-qwindowtitle",
                                                                  "-qwindowicon",     "-style",
                                                                  "-stylesheet",      "-display",
                                                                  "-geometry",        "-title",
                                                                  "-session",         "-name"};
// Qt's own options that stand alone.
constexpr std::array<std::string_view, 6> kQtFlags = {"-reverse", "-widgetcount", "-nograb",
                                                      "-dograb",  "-sync",        "-testability"};

// Qt takes its options with one dash or two ("--platform").
std::string_view asQtOption(std::string_view argument) {
    if (argument.size() > 2 && argument[0] == '-' && argument[1] == '-') argument.remove_prefix(1);
    return argument;
}

template <size_t N>
bool isOneOf(const std::array<std::string_view, N>& list, std::string_view argument) {
    return std::find(list.begin(), list.end(), argument) != list.end();
}

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
    bool optionsEnded = false;
    for (int index = 1; index < argc; ++index) {
        if (argv[index] == nullptr) continue;
        const std::string_view argument(argv[index]);
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            if (isLink(argument)) line.links.emplace_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version") {
            line.version = true;
        } else if (isOneOf(kQtOptionsWithValue, asQtOption(argument))) {
            ++index;  // its value is Qt's, even when it looks like a link
        } else if (isOneOf(kQtFlags, asQtOption(argument)) ||
                   asQtOption(argument).rfind("-qmljsdebugger=", 0) == 0) {
            // Qt's own
        } else if (!line.unknownOption) {
            line.unknownOption = std::string(argument);
        }
    }
    return line;
}

std::string CommandLine::helpText() {
    return "Usage: TervoloNG [-h|--help] [--version] [link ...]\n"
           "\n"
           "A map of the world and of your own places.\n"
           "\n"
           "  -h, --help   show this text and quit\n"
           "  --version    show the name, version and build, and quit\n"
           "  link         tervolo://point/<identifier>, tervolo://open?url=<link>, or a short\n"
           "               link of a shared place (https://...); a running TervoloNG takes them\n"
           "\n"
           "Without a display, run it as: QT_QPA_PLATFORM=offscreen TervoloNG\n"
           "TERVOLO_QUIT_AFTER_FIRST_FRAME=1 quits after the first complete map frame and writes\n"
           "\"first map frame after N ms\" to standard error.\n";
}

std::string CommandLine::unknownOptionText(const std::string& option, const std::string& programName) {
    return programName + ": unknown option '" + option + "' (see '" + programName + " --help')\n";
}

}  // namespace tervolo::app
