#pragma once

// The crash reporter's configuration (immutable): handler type (0 signal
// handlers, 1 Mach exception server, which this system does not have),
// symbolication strategy bits (1 symbol tables, 2 Objective-C metadata), the
// uncaught-exception hook, and the folder the data directory goes in (none:
// the user's caches folder).

#include <cstdint>
#include <optional>
#include <string>

namespace tervolo::crash {

class QCrashReporterConfig {
  public:
    static constexpr uint64_t kSignalHandlerTypeBSD = 0;
    static constexpr uint64_t kSignalHandlerTypeMach = 1;

    // Signal handlers, no symbols, no uncaught-exception hook.
    QCrashReporterConfig() : QCrashReporterConfig(0, 0, false, std::nullopt) {}
    explicit QCrashReporterConfig(std::string basePath)
        : QCrashReporterConfig(0, 0, false, std::move(basePath)) {}
    QCrashReporterConfig(uint64_t signalHandlerType, uint64_t symbolicationStrategy,
                         std::optional<std::string> basePath = std::nullopt)
        : QCrashReporterConfig(signalHandlerType, symbolicationStrategy, true, std::move(basePath)) {}
    QCrashReporterConfig(uint64_t signalHandlerType, uint64_t symbolicationStrategy,
                         bool shouldRegisterUncaughtExceptionHandler, std::optional<std::string> basePath)
        : signalHandlerType_(signalHandlerType),
          symbolicationStrategy_(symbolicationStrategy),
          shouldRegisterUncaughtExceptionHandler_(shouldRegisterUncaughtExceptionHandler),
          basePath_(std::move(basePath)) {}

    static QCrashReporterConfig defaultConfiguration() { return QCrashReporterConfig(); }

    uint64_t signalHandlerType() const { return signalHandlerType_; }
    uint64_t symbolicationStrategy() const { return symbolicationStrategy_; }
    bool shouldRegisterUncaughtExceptionHandler() const { return shouldRegisterUncaughtExceptionHandler_; }
    const std::optional<std::string>& basePath() const { return basePath_; }

  private:
    uint64_t signalHandlerType_;
    uint64_t symbolicationStrategy_;
    bool shouldRegisterUncaughtExceptionHandler_;
    std::optional<std::string> basePath_;
};

}  // namespace tervolo::crash
