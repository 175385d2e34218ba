#include "logging/QLDispatchQueueLogFormatter.hpp"

#include <array>

#include "platform/dispatch/DateFormat.hpp"

namespace tervolo::logging {

namespace {

constexpr std::array<std::string_view, 7> kGlobalQueueLabels = {
    "com.apple.root.low-priority",
    "com.apple.root.default-priority",
    "com.apple.root.high-priority",
    "com.apple.root.low-overcommit-priority",
    "com.apple.root.default-overcommit-priority",
    "com.apple.root.high-overcommit-priority",
    "com.apple.root.default-qos.overcommit",
};

// Byte offset of the end of the first `count` code points (the whole text when
// it has fewer), and how many code points were passed.
std::pair<size_t, size_t> codePointPrefix(std::string_view text, size_t count) {
    size_t offset = 0;
    size_t seen = 0;
    while (offset < text.size() && seen < count) {
        ++offset;
        // Continuation bytes (10xxxxxx) belong to the code point before them.
        while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) ++offset;
        ++seen;
    }
    return {offset, seen};
}

}  // namespace

QLDispatchQueueLogFormatter::QLDispatchQueueLogFormatter() {
    replacements_.emplace(platform::kMainQueueLabel, "main");
}

QLDispatchQueueLogFormatter::QLDispatchQueueLogFormatter(int mode) : QLDispatchQueueLogFormatter() {
    (void)mode;
}

std::optional<std::string> QLDispatchQueueLogFormatter::replacementStringForQueueLabel(
    const std::string& longLabel) const {
    std::lock_guard lock(mutex_);
    const auto found = replacements_.find(longLabel);
    if (found == replacements_.end()) return std::nullopt;
    return found->second;
}

void QLDispatchQueueLogFormatter::setReplacementString(std::optional<std::string> shortLabel,
                                                       const std::string& forQueueLabel) {
    std::lock_guard lock(mutex_);
    if (shortLabel) {
        replacements_.insert_or_assign(forQueueLabel, std::move(*shortLabel));
    } else {
        replacements_.erase(forQueueLabel);
    }
}

std::string QLDispatchQueueLogFormatter::stringFromDate(platform::Date date) const {
    return platform::dateformat::localDashed(date);
}

std::string_view QLDispatchQueueLogFormatter::qosCode(int qosClassNumber) {
    // The class numbers step by 4 from 9; the unused slots read "UN".
    static constexpr std::array<std::string_view, 7> kCodes = {"BG", "UN", "UT", "DF", "IN", "UN", "UI"};
    const int offset = qosClassNumber - 9;
    if (offset < 0 || offset > 24 || offset % 4 != 0) return "UN";
    return kCodes[static_cast<size_t>(offset / 4)];
}

bool QLDispatchQueueLogFormatter::isGlobalQueueLabel(std::string_view label) {
    for (const auto global : kGlobalQueueLabels) {
        if (label == global) return true;
    }
    return false;
}

std::string QLDispatchQueueLogFormatter::queueThreadLabelForLogMessage(const QLLogMessage& logMessage) const {
    const size_t minLength = minQueueLength();
    const size_t maxLength = maxQueueLength();

    const std::string& queueLabel = logMessage.queueLabel();
    const std::string* name = nullptr;
    if (!queueLabel.empty() && !isGlobalQueueLabel(queueLabel)) {
        name = &queueLabel;
    } else if (!logMessage.threadName().empty()) {
        name = &logMessage.threadName();
    }

    std::string text;
    if (name != nullptr) {
        // Thread ids are never replaced: only a label or a name is looked up.
        std::lock_guard lock(mutex_);
        const auto found = replacements_.find(*name);
        text = found != replacements_.end() ? found->second : *name;
    } else {
        text = logMessage.threadID();
    }

    const auto [prefixBytes, length] = codePointPrefix(text, maxLength != 0 ? maxLength : text.size());
    if (maxLength != 0 && prefixBytes < text.size()) {
        text.resize(prefixBytes);
    } else if (length < minLength) {
        text.append(minLength - length, ' ');
    }
    return text;
}

std::optional<std::string> QLDispatchQueueLogFormatter::formatLogMessage(const QLLogMessage& logMessage) {
    const int qos = platform::qosClassNumber(logMessage.qos());
    std::string line = stringFromDate(logMessage.timestamp());
    line += " [";
    line += queueThreadLabelForLogMessage(logMessage);
    line += " (QOS:";
    line += qosCode(qos);
    line += ")] ";
    line += logMessage.messageText();
    return line;
}

}  // namespace tervolo::logging
