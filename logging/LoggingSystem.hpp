#pragma once

#include <memory>
#include <string>

#include "logging/LogHandler.hpp"
#include "logging/LoggerLevel.hpp"
#include "logging/ReadWriteLock.hpp"

namespace tervolo::logging {

class QLLog;

// The one process-wide factory that makes the handler of every Logger created
// by label alone. Until a program bootstraps, the factory is
// StreamLogHandler::standardOutput (standard output, level info).
//
// The program may install its own factory once, at start-up, before the
// loggers that should use it are made: a second bootstrap breaks the caller's
// contract and stops the program at once, without a message. Loggers made
// before the bootstrap keep their handlers.
class LoggingSystem {
  public:
    LoggingSystem() = delete;

    // The process-wide state; made once, on first use, and never destroyed.
    class FactoryBox {
      public:
        FactoryBox();
        FactoryBox(const FactoryBox&) = delete;
        FactoryBox& operator=(const FactoryBox&) = delete;

        // Under the write lock: a second call stops the program (and the
        // installed factory stays); else installs `factory`.
        void bootstrap(LogHandlerFactory factory);
        // Under the read lock: the current factory. The caller calls it after
        // the lock is released.
        std::shared_ptr<const LogHandlerFactory> underlying();
        bool initialized();

      private:
        ReadWriteLock lock_;
        std::shared_ptr<const LogHandlerFactory> underlying_;
        bool initialized_ = false;
    };

    // Installs `factory` as the process-wide factory; at most once per process.
    static void bootstrap(LogHandlerFactory factory);
    // The current factory.
    static std::shared_ptr<const LogHandlerFactory> factory();

    // Bootstraps with QLLogHandler::handlerFactory: every Logger(label) then
    // logs through the registry `forValue` (the shared registry when null), at
    // `defaultLogLevel`, synchronously from `loggingSynchronousAsOf` up or when
    // the call's metadata holds the Boolean true under
    // `synchronousLoggingMetadataKey`. Bootstrapping-once rules apply.
    static void bootstrapWithQuovaLogging(std::shared_ptr<QLLog> forValue = nullptr,
                                          LoggerLevel defaultLogLevel = LoggerLevel::info,
                                          LoggerLevel loggingSynchronousAsOf = LoggerLevel::error,
                                          std::string synchronousLoggingMetadataKey = "log-synchronous");

  private:
    static FactoryBox& box();
};

}  // namespace tervolo::logging
