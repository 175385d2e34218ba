#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"

namespace tervolo::crash {

// Errors of the crash reporter's classes: domain "QCrashReporterErrorDomain",
// the message as description. Code 0 is a failure of the reporter's own
// (writing or reading a report), 1 an operating-system failure with the
// underlying error attached (its errno in posixCode, its description under
// "NSUnderlyingError"), 3 a second enabling.
enum class QCrashReporterError : int {
    QCrashReporterErrorUnknown = 0,
    QCrashReporterErrorOperatingSystem = 1,
    QCrashReporterErrorResourceBusy = 3,
};

inline constexpr const char* kQCrashReporterErrorDomain = "QCrashReporterErrorDomain";

platform::Error makeQCrashReporterError(QCrashReporterError code, const std::string& description,
                                        const std::optional<platform::Error>& underlying = std::nullopt);

}  // namespace tervolo::crash
