#include "logging/QLOSLogger.hpp"

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Assertion.hpp"

namespace tervolo::logging {

namespace {

platform::OSLogType entryType(QLLogFlag flag) {
    switch (flag) {
        case QLLogFlag::error:
            return platform::OSLogType::Error;
        case QLLogFlag::warning:
        case QLLogFlag::info:
            return platform::OSLogType::Info;
        default:
            return platform::OSLogType::Debug;
    }
}

}  // namespace

const std::shared_ptr<QLOSLogger>& QLOSLogger::sharedInstance() {
    return platform::SharedInstance<std::shared_ptr<QLOSLogger>>::get(
        [] { return new std::shared_ptr<QLOSLogger>(std::make_shared<QLOSLogger>()); });
}

QLOSLogger::QLOSLogger(std::optional<std::string> subsystem, std::optional<std::string> category)
    : QLAbstractLogger(kLoggerName), subsystem_(std::move(subsystem)), category_(std::move(category)) {
    if (subsystem_.has_value() != category_.has_value()) {
        platform::assertionFailure("(subsystem == nil) == (category == nil)", "QLOSLogger",
                                   "Either both subsystem and category or neither should be nil.");
    }
}

std::shared_ptr<platform::OSLog> QLOSLogger::getLogger() const {
    if (subsystem_ && category_) return platform::OSLog::make(*subsystem_, *category_);
    return platform::OSLog::defaultLog();
}

std::shared_ptr<platform::OSLog> QLOSLogger::logger() {
    std::lock_guard lock(loggerMutex_);
    if (!logger_) logger_ = getLogger();
    return logger_;
}

void QLOSLogger::setLogger(std::shared_ptr<platform::OSLog> logger) {
    std::lock_guard lock(loggerMutex_);
    logger_ = std::move(logger);
}

void QLOSLogger::logMessage(const QLLogMessagePtr& logMessage) {
    // Records made by the system-log capture came from the system log.
    if (logMessage->fileName() == "QLASLLogCapture") return;

    std::optional<std::string> formatted;
    const std::optional<std::string_view> text = formattedMessage(*logMessage, formatted);
    if (!text) return;

    const auto type = entryType(logMessage->flag());
    const auto log = logger();
    if (log->isEnabled(type)) log->write(type, *text);
}

}  // namespace tervolo::logging
