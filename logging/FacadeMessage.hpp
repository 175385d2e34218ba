#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "logging/FacadeInformation.hpp"
#include "logging/LoggerLevel.hpp"
#include "logging/QLLogFlag.hpp"
#include "logging/QLLogMessage.hpp"

namespace tervolo::logging {

// The registry's level and flag for a Logger level (qlLogLevelAndFlag):
// trace → (verbose 31, verbose 16), debug → (15, 8), info and notice → (7, 4),
// warning → (3, 2), error and critical → (1, 1).
std::pair<QLLogLevel, QLLogFlag> qlLogLevelAndFlag(LoggerLevel level);

// The record a QLLogHandler sends to the registry: a QLLogMessage that also
// carries the Logger call in the Logger's own types (facadeInfo_). Only the
// constructor below makes one.
class FacadeMessage final : public QLLogMessage {
  public:
    // The record part: the message text, the mapped level and flag, context 0,
    // the file, function and line, no tag, options 4 (the message is the
    // caller's), the current time and the calling thread's snapshot.
    FacadeMessage(std::string loggerLabel, LoggerMetadata loggerMetadata, LoggerMessage message,
                  LoggerLevel level, std::optional<LoggerMetadata> metadata, std::string source,
                  std::string_view file, std::string_view function, uint64_t line);

    const FacadeInformation& facadeInfo() const { return facadeInfo_; }

    // Record equality is identity (two distinct records are never equal); on
    // top of it the facade information must be equal and `other` must be a
    // FacadeMessage. So only a record compared with itself is equal.
    bool isEqual(const QLLogMessage& other) const;

  private:
    FacadeInformation facadeInfo_;
};

}  // namespace tervolo::logging
