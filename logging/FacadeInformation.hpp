#pragma once

#include <optional>
#include <string>

#include "logging/LoggerLevel.hpp"
#include "logging/LoggerMessage.hpp"
#include "logging/LoggerMetadataValue.hpp"

namespace tervolo::logging {

class QLLogMessage;

// QLLogMessage.FacadeInformation: one Logger call in the Logger's own types,
// carried by a FacadeMessage record. The handler's metadata and the call's
// metadata stay separate; they are not merged.
struct FacadeInformation {
    struct LoggerInformation {
        std::string label;
        // The handler's metadata at the call.
        LoggerMetadata metadata;
    };
    struct MessageInformation {
        LoggerMessage message;
        LoggerLevel level = LoggerLevel::info;
        // The metadata given with the call; absent when it gave none.
        std::optional<LoggerMetadata> metadata;
        std::string source;
    };

    LoggerInformation logger;
    MessageInformation message;
};

// Equal labels, logger metadata with the same keys and equal values, equal
// messages and levels, call metadata both absent or both present and equal,
// equal sources. Texts compare under canonical equivalence.
bool operator==(const FacadeInformation::LoggerInformation& a, const FacadeInformation::LoggerInformation& b);
bool operator==(const FacadeInformation::MessageInformation& a,
                const FacadeInformation::MessageInformation& b);
bool operator==(const FacadeInformation& a, const FacadeInformation& b);

// QLLogMessage.facadeInfo: the facade information of a record made by a
// QLLogHandler (a FacadeMessage); nullptr for every other record.
const FacadeInformation* facadeInfo(const QLLogMessage& record);

}  // namespace tervolo::logging
