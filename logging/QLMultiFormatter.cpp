#include "logging/QLMultiFormatter.hpp"

#include <algorithm>

namespace tervolo::logging {

namespace {

// A record copied field by field with another message.
class LineMessage : public QLLogMessage {
  public:
    LineMessage(std::string line, const QLLogMessage& original) : QLLogMessage(original) {
        setMessage(std::move(line));
    }
};

}  // namespace

QLMultiFormatter::QLMultiFormatter()
    : queue_(platform::DispatchQueue::concurrent(kQueueLabel)), state_(std::make_shared<State>()) {}

std::vector<std::shared_ptr<QLLogFormatter>> QLMultiFormatter::formatters() const {
    std::vector<std::shared_ptr<QLLogFormatter>> result;
    queue_->sync([&] { result = state_->formatters; });
    return result;
}

void QLMultiFormatter::addFormatter(std::shared_ptr<QLLogFormatter> formatter) {
    queue_->asyncBarrier(
        [state = state_, formatter = std::move(formatter)] { state->formatters.push_back(formatter); });
}

void QLMultiFormatter::removeFormatter(const std::shared_ptr<QLLogFormatter>& formatter) {
    queue_->asyncBarrier([state = state_, formatter] {
        auto& list = state->formatters;
        list.erase(std::remove(list.begin(), list.end(), formatter), list.end());
    });
}

void QLMultiFormatter::removeAllFormatters() {
    queue_->asyncBarrier([state = state_] { state->formatters.clear(); });
}

bool QLMultiFormatter::isFormattingWithFormatter(const std::shared_ptr<QLLogFormatter>& formatter) const {
    bool result = false;
    queue_->sync([&] {
        const auto& list = state_->formatters;
        result = std::find(list.begin(), list.end(), formatter) != list.end();
    });
    return result;
}

std::optional<std::string> QLMultiFormatter::formatLogMessage(const QLLogMessage& logMessage) {
    std::optional<std::string> line{std::in_place, logMessage.messageText()};
    queue_->sync([&] {
        for (const auto& formatter : state_->formatters) {
            line = formatter->formatLogMessage(LineMessage(std::move(*line), logMessage));
            if (!line) return;
        }
    });
    return line;
}

QLLogMessage QLMultiFormatter::logMessageForLine(std::string line, const QLLogMessage& originalMessage) {
    return LineMessage(std::move(line), originalMessage);
}

}  // namespace tervolo::logging
