#include "app/startup/VersionOption.hpp"

#include <string_view>

#include "platform/foundation/Bundle.hpp"

namespace tervolo::app {

std::string versionText() {
    const platform::Bundle& bundle = platform::Bundle::main();
    std::string text = bundle.infoString("CFBundleName").value_or("TervoloNG");
    auto version = bundle.infoString("CFBundleShortVersionString");
    if (!version) version = bundle.infoString("CFBundleVersion");
    if (version && !version->empty()) text += " " + *version;
    const auto build = bundle.infoString("QXBuildNumber");
    if (build && !build->empty()) text += " (build " + *build + ")";
    return text;
}

std::optional<int> answerVersionOption(int argc, const char* const* argv, std::FILE* out) {
    for (int index = 1; index < argc; ++index) {
        if (argv[index] != nullptr && std::string_view(argv[index]) == "--version") {
            const std::string line = versionText() + "\n";
            std::fputs(line.c_str(), out);
            std::fflush(out);
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace tervolo::app
