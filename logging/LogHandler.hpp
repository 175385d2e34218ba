#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "logging/LoggerLevel.hpp"
#include "logging/LoggerMessage.hpp"
#include "logging/LoggerMetadataValue.hpp"

namespace tervolo::logging {

// What a Logger hands its messages to. A handler is a value: a Logger owns its
// own copy (clone()), so a level or metadata change made through one logger
// never shows in another.
//
// Handler values may be handed from one thread to another (the platform's
// marker protocol _FacadeSendableLogHandler, which has no members and so no
// C++ counterpart of its own), but each copy is used by one thread at a time.
// A handler whose output is shared (a stream, a registry) serialises that
// output itself.
class LogHandler {
  public:
    virtual ~LogHandler() = default;

    // A copy of this handler value.
    virtual std::unique_ptr<LogHandler> clone() const = 0;

    // Emits one message. `metadata` is this call's own metadata (absent when
    // the call gave none); the handler adds its own. The Logger has already
    // checked the level.
    //
    // Every handler provides this form. (The platform let each of the two forms
    // default to the other, so a handler giving neither recursed until the
    // stack overflowed; here it does not compile.)
    virtual void log(LoggerLevel level, const LoggerMessage& message,
                     const std::optional<LoggerMetadata>& metadata, const std::string& source,
                     std::string_view file, std::string_view function, uint64_t line) = 0;
    // The older form without a source. By default it calls the form above with
    // the source Logger::currentModuleFilePath(file): the name of the folder
    // holding the file, or "n/a".
    virtual void log(LoggerLevel level, const LoggerMessage& message,
                     const std::optional<LoggerMetadata>& metadata, std::string_view file,
                     std::string_view function, uint64_t line);

    // subscript(metadataKey:): the handler's own value for `key`, absent when unset.
    virtual std::optional<LoggerMetadataValue> metadataValue(const std::string& key) const = 0;
    // Sets the value for `key`; an absent value removes the key.
    virtual void setMetadataValue(const std::string& key, std::optional<LoggerMetadataValue> value) = 0;

    // The handler's whole own metadata.
    virtual LoggerMetadata metadata() const = 0;
    virtual void setMetadata(LoggerMetadata metadata) = 0;

    // The handler's threshold; the Logger reads it before every call.
    virtual LoggerLevel logLevel() const = 0;
    virtual void setLogLevel(LoggerLevel level) = 0;

    // The in-place change forms: read, let `change` alter the value, write back.
    void modifyMetadata(const std::function<void(LoggerMetadata&)>& change);
    void modifyMetadataValue(const std::string& key,
                             const std::function<void(std::optional<LoggerMetadataValue>&)>& change);
    void modifyLogLevel(const std::function<void(LoggerLevel&)>& change);

  protected:
    LogHandler() = default;
    LogHandler(const LogHandler&) = default;
    LogHandler& operator=(const LogHandler&) = default;
};

// Makes the handler for a logger with the given label.
using LogHandlerFactory = std::function<std::unique_ptr<LogHandler>(const std::string& label)>;

}  // namespace tervolo::logging
