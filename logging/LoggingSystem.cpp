#include "logging/LoggingSystem.hpp"

#include <cstdlib>

#include "logging/StreamLogHandler.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::logging {

LoggingSystem::FactoryBox::FactoryBox()
    : underlying_(std::make_shared<const LogHandlerFactory>(
          [](const std::string& label) -> std::unique_ptr<LogHandler> {
              return std::make_unique<StreamLogHandler>(StreamLogHandler::standardOutput(label));
          })) {}

void LoggingSystem::FactoryBox::bootstrap(LogHandlerFactory factory) {
    auto replacement = std::make_shared<const LogHandlerFactory>(std::move(factory));
    std::shared_ptr<const LogHandlerFactory> previous;
    lock_.withWriterLock([&] {
        // A second bootstrap is a broken caller contract: stop at once,
        // without a message, leaving the installed factory as it was.
        if (initialized_) std::abort();
        previous = std::exchange(underlying_, std::move(replacement));
        initialized_ = true;
    });
    // The old factory is released outside the lock.
}

std::shared_ptr<const LogHandlerFactory> LoggingSystem::FactoryBox::underlying() {
    return lock_.withReaderLock([&] { return underlying_; });
}

bool LoggingSystem::FactoryBox::initialized() {
    return lock_.withReaderLock([&] { return initialized_; });
}

LoggingSystem::FactoryBox& LoggingSystem::box() {
    // Made once even when several threads arrive together; never destroyed, so
    // loggers made during exit still find it.
    return platform::SharedInstance<FactoryBox>::get([] { return new FactoryBox(); });
}

void LoggingSystem::bootstrap(LogHandlerFactory factory) {
    box().bootstrap(std::move(factory));
}

std::shared_ptr<const LogHandlerFactory> LoggingSystem::factory() {
    return box().underlying();
}

}  // namespace tervolo::logging
