#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logging/QLLogFormatter.hpp"
#include "logging/QLLogMessage.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::logging {

// A chain of formatters run one after the other: each gets a copy of the
// record whose message is the text of the formatter before it; a formatter
// that drops the record ends the chain.
//
// The list lives behind a concurrent queue ("quova.logging.multiformatter"):
// format calls and reads run side by side as plain blocks, changes run as
// barriers. A change returns before it takes effect; a format call made after
// it sees it.
class QLMultiFormatter : public QLLogFormatter {
  public:
    QLMultiFormatter();

    // A copy of the list, in insertion order (may hold a formatter twice).
    std::vector<std::shared_ptr<QLLogFormatter>> formatters() const;
    // Asynchronous barriers.
    void addFormatter(std::shared_ptr<QLLogFormatter> formatter);
    // Removes every occurrence.
    void removeFormatter(const std::shared_ptr<QLLogFormatter>& formatter);
    void removeAllFormatters();
    bool isFormattingWithFormatter(const std::shared_ptr<QLLogFormatter>& formatter) const;

    // The record's message through every formatter in order; empty as soon as
    // one of them drops the record; the message itself for an empty chain.
    std::optional<std::string> formatLogMessage(const QLLogMessage& logMessage) override;

    // A copy of the record whose message is `line`.
    static QLLogMessage logMessageForLine(std::string line, const QLLogMessage& originalMessage);

    static constexpr const char* kQueueLabel = "quova.logging.multiformatter";

  private:
    // Shared with the barrier blocks, which may run after the chain is gone.
    struct State {
        std::vector<std::shared_ptr<QLLogFormatter>> formatters;
    };
    std::shared_ptr<platform::DispatchQueue> queue_;
    std::shared_ptr<State> state_;
};

}  // namespace tervolo::logging
