#include "logging/QLMultiFormatter.hpp"

#include <algorithm>

namespace tervolo::logging {

namespace {

// A record copied field by field with another message.
class LineMessage : public QLLogMessage {
  public:
    LineMessage(std::string line, const QLLogMessage& original) : QLLogMessage(original) {
        _message = std::move(line);
    }
};

}  // namespace

QLMultiFormatter::QLMultiFormatter()
    : _queue(platform::DispatchQueue::concurrent(kQueueLabel)), _state(std::make_shared<State>()) {}

std::vector<std::shared_ptr<QLLogFormatter>> QLMultiFormatter::formatters() const {
    std::vector<std::shared_ptr<QLLogFormatter>> result;
    _queue->sync([&] { result = _state->formatters; });
    return result;
}

void QLMultiFormatter::addFormatter(std::shared_ptr<QLLogFormatter> formatter) {
    _queue->asyncBarrier(
        [state = _state, formatter = std::move(formatter)] { state->formatters.push_back(formatter); });
}

void QLMultiFormatter::removeFormatter(const std::shared_ptr<QLLogFormatter>& formatter) {
    _queue->asyncBarrier([state = _state, formatter] {
        auto& list = state->formatters;
        list.erase(std::remove(list.begin(), list.end(), formatter), list.end());
    });
}

void QLMultiFormatter::removeAllFormatters() {
    _queue->asyncBarrier([state = _state] { state->formatters.clear(); });
}

bool QLMultiFormatter::isFormattingWithFormatter(const std::shared_ptr<QLLogFormatter>& formatter) const {
    bool result = false;
    _queue->sync([&] {
        const auto& list = _state->formatters;
        result = std::find(list.begin(), list.end(), formatter) != list.end();
    });
    return result;
}

std::optional<std::string> QLMultiFormatter::formatLogMessage(const QLLogMessage& logMessage) {
    std::optional<std::string> line = logMessage.message();
    _queue->sync([&] {
        for (const auto& formatter : _state->formatters) {
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
