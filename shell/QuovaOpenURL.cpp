#include "shell/QuovaOpenURL.hpp"

#include "logging/QLLog.hpp"
#include "logging/QLLogging.hpp"
#include "platform/foundation/CanOpenURL.hpp"
#include "platform/ui/OpenURL.hpp"

namespace tervolo::shell {

namespace {

// The lines carry the routine's own names, whatever the source file is
// called, so that the log reads alike wherever the routine was built.
constexpr const char* kOpenURLLogFile = "UIApplication+quovaOpenURL";
constexpr const char* kLogFunction = "quovaOpen(_:)";

void logDebug(std::string text, uint64_t line) {
    logging::logMessageCore([&text] { return std::move(text); }, logging::QLLogLevel::all,
                            logging::QLLogFlag::debug, 0, kOpenURLLogFile, kLogFunction, line, {},
                            logging::asyncLoggingEnabled(), logging::QLLog::sharedInstance());
}

}  // namespace

bool quovaOpen(const std::string& url) {
    logDebug("opening URL " + url + " ...", __LINE__);
    // A desktop has no universal links, so there is no "universal links only"
    // choice to pass: every URL goes to the handler of its scheme.
    platform::OpenURL::open(url, [](bool success) { logDebug(success ? "succeeded" : "failed", __LINE__); });
    return platform::canOpenURL(url);
}

}  // namespace tervolo::shell
