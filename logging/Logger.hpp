#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "logging/LogHandler.hpp"
#include "logging/LoggerLevel.hpp"
#include "logging/LoggerMessage.hpp"
#include "logging/LoggerMetadataValue.hpp"

namespace tervolo::logging {

namespace detail {
// A deferred argument: a callable is called, any other value is taken as it is.
template <typename T>
decltype(auto) evaluateDeferred(T&& value) {
    if constexpr (std::is_invocable_v<T&&>) {
        return std::forward<T>(value)();
    } else {
        return std::forward<T>(value);
    }
}
}  // namespace detail

// The value-typed logger front end: a label and one LogHandler value. Every
// call is checked against the handler's level; only a message that passes is
// built and handed to the handler, on the caller's thread.
//
// Copies are independent: each copy owns its own handler value. A Logger holds
// no lock; one thread at a time uses a copy.
//
// Message, metadata and source are deferred: each may be given as a value or as
// a callable returning it, and a callable is called only after the level check
// passed, in the order message, metadata, source. So a call below the level
// costs one virtual level read and one comparison.
//
// The caller's position: `file` defaults to the caller's file ID, the source
// file's folder and name ("points/QuovaMapPoint.cpp": the folder plays the part
// of the platform's module), `function` and `line` to the caller's.
class Logger {
  public:
    using Level = LoggerLevel;
    using Message = LoggerMessage;
    using Metadata = LoggerMetadata;
    using MetadataValue = LoggerMetadataValue;

    // The file of a log call. Given explicitly it reaches the handler as it
    // is. The default, the caller's source path, reaches it as its file ID, and
    // that is worked out only when the call passes its level: a call below the
    // level must not pay for scanning the path.
    class CallerFile {
      public:
        constexpr CallerFile(std::string_view text) : text_(text) {}
        constexpr CallerFile(const char* text) : text_(text) {}
        constexpr CallerFile(const std::string& text) : text_(text) {}
        static constexpr CallerFile sourcePath(const char* path) {
            CallerFile file{std::string_view()};
            file.path_ = path;
            return file;
        }
        std::string_view text() const { return path_ != nullptr ? fileID(path_) : text_; }

      private:
        std::string_view text_;
        const char* path_ = nullptr;
    };

    // The handler comes from LoggingSystem's current factory, read under the
    // system's read lock and called after that lock is released.
    explicit Logger(std::string label);
    // The handler comes from `factory`; the system's factory is not consulted.
    Logger(std::string label, const LogHandlerFactory& factory);

    Logger(const Logger& other);
    Logger& operator=(const Logger& other);
    Logger(Logger&&) noexcept = default;
    Logger& operator=(Logger&&) noexcept = default;
    ~Logger() = default;

    const std::string& label() const { return label_; }
    LogHandler& handler() { return *handler_; }
    const LogHandler& handler() const { return *handler_; }
    // A null handler is ignored.
    void setHandler(std::unique_ptr<LogHandler> handler);
    void setHandler(const LogHandler& handler) { setHandler(handler.clone()); }

    Level logLevel() const { return handler_->logLevel(); }
    void setLogLevel(Level level) { handler_->setLogLevel(level); }

    // subscript(metadataKey:), forwarded to the handler.
    std::optional<MetadataValue> metadataValue(const std::string& key) const {
        return handler_->metadataValue(key);
    }
    void setMetadataValue(const std::string& key, std::optional<MetadataValue> value) {
        handler_->setMetadataValue(key, std::move(value));
    }
    // The in-place form: reads the handler's value, lets `change` alter it and
    // writes the result back through the handler.
    void modifyMetadataValue(const std::string& key,
                             const std::function<void(std::optional<MetadataValue>&)>& change) {
        handler_->modifyMetadataValue(key, change);
    }

    // log(level:_:metadata:source:file:function:line:). Pass std::nullopt for
    // metadata or source to give none; without a source the source is
    // currentModuleFileID(file).
    template <typename M, typename MD = const std::nullopt_t&, typename S = const std::nullopt_t&>
    void log(Level level, M&& message, MD&& metadata = std::nullopt, S&& source = std::nullopt,
             CallerFile file = CallerFile::sourcePath(__builtin_FILE()),
             std::string_view function = __builtin_FUNCTION(), uint64_t line = __builtin_LINE()) {
        if (handler_->logLevel() > level) return;
        const Message text(detail::evaluateDeferred(std::forward<M>(message)));
        const std::optional<Metadata> callMetadata(detail::evaluateDeferred(std::forward<MD>(metadata)));
        std::optional<std::string> callSource(detail::evaluateDeferred(std::forward<S>(source)));
        emit(level, text, callMetadata, std::move(callSource), file.text(), function, line);
    }

#define TERVOLO_LOGGER_SHORTHAND_(name)                                                                 \
    template <typename M, typename MD = const std::nullopt_t&, typename S = const std::nullopt_t&>      \
    void name(M&& message, MD&& metadata = std::nullopt, S && source = std::nullopt,                    \
              CallerFile file = CallerFile::sourcePath(__builtin_FILE()),                               \
              std::string_view function = __builtin_FUNCTION(), uint64_t line = __builtin_LINE()) {     \
        log(Level::name, std::forward<M>(message), std::forward<MD>(metadata), std::forward<S>(source), \
            file, function, line);                                                                      \
    }
    TERVOLO_LOGGER_SHORTHAND_(trace)
    TERVOLO_LOGGER_SHORTHAND_(debug)
    TERVOLO_LOGGER_SHORTHAND_(info)
    TERVOLO_LOGGER_SHORTHAND_(notice)
    TERVOLO_LOGGER_SHORTHAND_(warning)
    TERVOLO_LOGGER_SHORTHAND_(error)
    TERVOLO_LOGGER_SHORTHAND_(critical)
#undef TERVOLO_LOGGER_SHORTHAND_

    // currentModule(fileID:): the text before the first "/"; "n/a" without one.
    static std::string currentModuleFileID(std::string_view fileID);
    // currentModule(filePath:): the name of the folder holding the file (the
    // text between the last "/" and the one before it); "n/a" for an empty
    // text or one with fewer than two "/".
    static std::string currentModuleFilePath(std::string_view filePath);

    // The file ID of a source path: its last two components ("a/b/logging/X.cpp"
    // gives "logging/X.cpp"); a path with fewer stays whole. A view into `path`.
    static constexpr std::string_view fileID(std::string_view path) {
        const auto last = path.rfind('/');
        if (last == std::string_view::npos || last == 0) return path;
        const auto previous = path.rfind('/', last - 1);
        return previous == std::string_view::npos ? path : path.substr(previous + 1);
    }

  private:
    void emit(Level level, const Message& message, const std::optional<Metadata>& metadata,
              std::optional<std::string> source, std::string_view file, std::string_view function,
              uint64_t line);

    std::string label_;
    std::unique_ptr<LogHandler> handler_;
};

}  // namespace tervolo::logging
