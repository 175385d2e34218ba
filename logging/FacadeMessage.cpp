#include "logging/FacadeMessage.hpp"

#include <any>

namespace tervolo::logging {

std::pair<QLLogLevel, QLLogFlag> qlLogLevelAndFlag(LoggerLevel level) {
    switch (level) {
        case LoggerLevel::trace:
            return {QLLogLevel{31}, QLLogFlag::verbose};
        case LoggerLevel::debug:
            return {QLLogLevel{15}, QLLogFlag::debug};
        case LoggerLevel::info:
        case LoggerLevel::notice:
            return {QLLogLevel{7}, QLLogFlag::info};
        case LoggerLevel::warning:
            return {QLLogLevel{3}, QLLogFlag::warning};
        case LoggerLevel::error:
        case LoggerLevel::critical:
            return {QLLogLevel{1}, QLLogFlag::error};
    }
    return {QLLogLevel{1}, QLLogFlag::error};
}

FacadeMessage::FacadeMessage(std::string loggerLabel, LoggerMetadata loggerMetadata, LoggerMessage message,
                             LoggerLevel level, std::optional<LoggerMetadata> metadata, std::string source,
                             std::string_view file, std::string_view function, uint64_t line)
    : QLLogMessage(message.description(), qlLogLevelAndFlag(level).first, qlLogLevelAndFlag(level).second, 0,
                   file, function, line, std::any{}, QLLogMessage::kOptionDontCopyMessage, std::nullopt),
      facadeInfo_{{std::move(loggerLabel), std::move(loggerMetadata)},
                  {std::move(message), level, std::move(metadata), std::move(source)}} {}

bool FacadeMessage::isEqual(const QLLogMessage& other) const {
    if (this != &other) return false;
    const auto* facade = dynamic_cast<const FacadeMessage*>(&other);
    return facade != nullptr && facade->facadeInfo_ == facadeInfo_;
}

bool operator==(const FacadeInformation::LoggerInformation& a,
                const FacadeInformation::LoggerInformation& b) {
    return textsEqual(a.label, b.label) && metadataEqual(a.metadata, b.metadata);
}

bool operator==(const FacadeInformation::MessageInformation& a,
                const FacadeInformation::MessageInformation& b) {
    if (!(a.message == b.message) || a.level != b.level || !textsEqual(a.source, b.source)) return false;
    if (a.metadata.has_value() != b.metadata.has_value()) return false;
    return !a.metadata || metadataEqual(*a.metadata, *b.metadata);
}

bool operator==(const FacadeInformation& a, const FacadeInformation& b) {
    return a.logger == b.logger && a.message == b.message;
}

const FacadeInformation* facadeInfo(const QLLogMessage& record) {
    const auto* facade = dynamic_cast<const FacadeMessage*>(&record);
    return facade == nullptr ? nullptr : &facade->facadeInfo();
}

}  // namespace tervolo::logging
