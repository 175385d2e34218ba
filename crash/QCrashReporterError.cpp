#include "crash/QCrashReporterError.hpp"

namespace tervolo::crash {

platform::Error makeQCrashReporterError(QCrashReporterError code, const std::string& description,
                                        const std::optional<platform::Error>& underlying) {
    platform::Error error{kQCrashReporterErrorDomain, static_cast<int64_t>(code), description, 0, {}};
    if (underlying) {
        error.posixCode = underlying->posixCode;
        error.userInfo["NSUnderlyingError"] = underlying->fullDescription();
    }
    return error;
}

}  // namespace tervolo::crash
