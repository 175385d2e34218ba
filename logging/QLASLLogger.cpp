#include "logging/QLASLLogger.hpp"

#include <atomic>

#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/ProcessInfo.hpp"
#include "platform/text/Numbers.hpp"

namespace tervolo::logging {

namespace {

std::atomic<bool> sharedInstanceMade{false};

}  // namespace

QLASLLogger::QLASLLogger() : QLAbstractLogger(kLoggerName), client_(ASLStore::shared().open(kFacility)) {}

const std::shared_ptr<QLASLLogger>& QLASLLogger::sharedInstance() {
    static const auto* instance = [] {
        sharedInstanceMade.store(true);
        return new std::shared_ptr<QLASLLogger>(new QLASLLogger());
    }();
    return *instance;
}

std::shared_ptr<QLASLLogger> QLASLLogger::make() {
    if (sharedInstanceMade.load()) return nullptr;
    return std::shared_ptr<QLASLLogger>(new QLASLLogger());
}

int QLASLLogger::aslLevel(QLLogFlag flag) {
    switch (rawValue(flag)) {
        case rawValue(QLLogFlag::error):
            return 2;  // critical
        case rawValue(QLLogFlag::warning):
            return 3;  // error
        case rawValue(QLLogFlag::info):
            return 4;  // warning
        default:
            return 5;  // notice: error|warning, debug, verbose and any other value
    }
}

void QLASLLogger::logMessage(const QLLogMessagePtr& logMessage) {
    // Records the capture made came from this store: writing them back would loop.
    if (logMessage->fileName() == "QLASLLogCapture") return;

    std::optional<std::string> formatted;
    const std::optional<std::string_view> text = formattedMessage(*logMessage, formatted);
    if (!text) return;

    const std::string levelText = std::to_string(aslLevel(logMessage->flag()));
    // The reader identity: the effective user id as "%d", at most 15 characters.
    const std::string readUID = platform::text::formatC(
        "%d", static_cast<int>(platform::ProcessInfo::processInfo().effectiveUserID()));
    if (readUID.size() > 15) {
        platform::assertionFailure("readUID.size() <= 15", "QLASLLogger", "Formatted euid is too long.");
        return;
    }

    auto& store = ASLStore::shared();
    ASLMessage entry = store.newMessage();
    // Only a fully built entry is sent; a failed field drops this one entry.
    if (store.set(entry, "Level", levelText) && store.set(entry, "Message", std::string(*text)) &&
        store.set(entry, "ReadUID", readUID) && store.set(entry, "QLLog", "1")) {
        store.send(client_, entry);
    }
}

}  // namespace tervolo::logging
