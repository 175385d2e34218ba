#pragma once

// The program's way of logging: five macros, one per severity, that every
// other subsystem calls.
//
//   QLLogInfo("QuovaMapPointStore: loaded {} points.", count);
//   QLLogError("Can't decode file {}", path);
//   QLLogDebug(someText);               // one argument: written verbatim
//
// With more than one argument the first is an {fmt} format string, checked at
// compile time. With one argument it is the message itself: a text is taken as
// it is (braces are not interpreted), any other value by its {fmt} description.
//
// Each call carries the caller's file (__FILE__), function (__func__) and line.
// When the call's flag is not in dynamicLogLevel() the call costs one atomic
// load and a bit test: the arguments are not evaluated and no text or record is
// built. Errors are handed to the registry synchronously, every other severity
// asynchronously unless asyncLoggingEnabled() is false.

#include <any>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <fmt/format.h>

#include "logging/QLLog.hpp"
#include "logging/QLLogCallSite.hpp"
#include "logging/QLLogFlag.hpp"

namespace tervolo::logging {

namespace detail {
// Process-wide switches. Atomics with relaxed order: any thread may change them
// while others log, and a filtered call must stay one load and one AND.
inline std::atomic<uint64_t> gDynamicLogLevel{~uint64_t{0}};
inline std::atomic<bool> gAsyncLoggingEnabled{true};
}  // namespace detail

// The second mask every log call tests its flag against; all by default.
inline QLLogLevel dynamicLogLevel() {
    return QLLogLevel{detail::gDynamicLogLevel.load(std::memory_order_relaxed)};
}
inline void setDynamicLogLevel(QLLogLevel level) {
    detail::gDynamicLogLevel.store(rawValue(level), std::memory_order_relaxed);
}
inline void resetDynamicLogLevel() {
    setDynamicLogLevel(QLLogLevel::all);
}
// Older names of the same value.
inline QLLogLevel defaultDebugLevel() {
    return dynamicLogLevel();
}
inline void setDefaultDebugLevel(QLLogLevel level) {
    setDynamicLogLevel(level);
}
inline void resetDefaultDebugLevel() {
    resetDynamicLogLevel();
}

// Whether the non-error log calls hand their records over asynchronously; true by default.
inline bool asyncLoggingEnabled() {
    return detail::gAsyncLoggingEnabled.load(std::memory_order_relaxed);
}
inline void setAsyncLoggingEnabled(bool enabled) {
    detail::gAsyncLoggingEnabled.store(enabled, std::memory_order_relaxed);
}

// The base name of a source path without its extension: "a/b/Name.ext" gives
// "Name", "y.tar.gz" gives "y.tar", a bare "Name" stays whole. The default is
// the caller's own source file (__builtin_FILE: clang 14 with libstdc++ 12 has
// no std::source_location).
std::string currentFileName(std::string_view file = __builtin_FILE());
// Older name.
std::string CurrentFileName(std::string_view file = __builtin_FILE());

namespace detail {

// Builds the record (options 3: copy file and function, no timestamp: now) and
// hands it to `qllog`. Out of line: a call site carries only the filter test
// and this call.
void submitLogMessage(std::string message, QLLogLevel level, QLLogFlag flag, int64_t context,
                      const char* file, const char* function, uint64_t line, std::any tag, bool asynchronous,
                      QLLog& qllog);

// The text of a message value: texts as they are, other values by their {fmt}
// description.
template <typename T>
std::string describe(T&& value) {
    if constexpr (std::is_convertible_v<T&&, std::string>) {
        return std::string(std::forward<T>(value));
    } else if constexpr (std::is_convertible_v<T&&, std::string_view>) {
        return std::string(std::string_view(value));
    } else {
        return fmt::format("{}", std::forward<T>(value));
    }
}

inline bool dynamicallyEnabled(QLLogFlag flag) {
    return (detail::gDynamicLogLevel.load(std::memory_order_relaxed) & rawValue(flag)) != 0;
}

// A string literal (__FILE__, __func__) with its length known at compile time.
template <size_t N>
constexpr std::string_view literal(const char (&text)[N]) {
    return {text, N - 1};
}

// The macros' entry points; the caller has already tested dynamicLogLevel.
// `site` is the call site's own, made at compile time.
inline void logText(const QLLogCallSite& site, bool asynchronous, std::string_view text) {
    QLLog::sharedLogCall(site, asynchronous, text);
}

template <typename T>
requires(!std::is_convertible_v<const T&, std::string_view>) void logText(const QLLogCallSite& site,
                                                                          bool asynchronous, const T& value) {
    logText(site, asynchronous, fmt::format("{}", value));
}

template <typename... Args>
requires(sizeof...(Args) > 0) void logText(const QLLogCallSite& site, bool asynchronous,
                                           fmt::format_string<Args...> format, Args&&... args) {
    QLLog::sharedLogCall(site, asynchronous, format, fmt::make_format_args(args...));
}

}  // namespace detail

// The common core of the logging functions (the platform's `_QLLogMessage`),
// with every parameter explicit. `message` is a callable returning the message
// value; it is called only when `flag` passes both `level` and dynamicLogLevel().
template <typename MessageFn>
void logMessageCore(MessageFn&& message, QLLogLevel level, QLLogFlag flag, int64_t context, const char* file,
                    const char* function, uint64_t line, std::any tag, bool asynchronous, QLLog& qllog) {
    if (!passes(flag, level)) return;
    if (!detail::dynamicallyEnabled(flag)) return;
    detail::submitLogMessage(detail::describe(std::forward<MessageFn>(message)()), level, flag, context, file,
                             function, line, std::move(tag), asynchronous, qllog);
}

}  // namespace tervolo::logging

// Implementation of the macros below; not for direct use.
#define TERVOLO_QLLOG_AT_(flagValue, asynchronousValue, ...)                                           \
    do {                                                                                               \
        if (::tervolo::logging::detail::dynamicallyEnabled(flagValue)) {                               \
            static constexpr ::tervolo::logging::QLLogCallSite tervoloQLLogCallSite{                   \
                flagValue, ::tervolo::logging::detail::literal(__FILE__),                              \
                ::tervolo::logging::detail::literal(__func__), __LINE__};                              \
            ::tervolo::logging::detail::logText(tervoloQLLogCallSite, asynchronousValue, __VA_ARGS__); \
        }                                                                                              \
    } while (false)

#define QLLogError(...) TERVOLO_QLLOG_AT_(::tervolo::logging::QLLogFlag::error, false, __VA_ARGS__)
#define QLLogWarn(...)                                                                                   \
    TERVOLO_QLLOG_AT_(::tervolo::logging::QLLogFlag::warning, ::tervolo::logging::asyncLoggingEnabled(), \
                      __VA_ARGS__)
#define QLLogInfo(...)                                                                                \
    TERVOLO_QLLOG_AT_(::tervolo::logging::QLLogFlag::info, ::tervolo::logging::asyncLoggingEnabled(), \
                      __VA_ARGS__)
#define QLLogDebug(...)                                                                                \
    TERVOLO_QLLOG_AT_(::tervolo::logging::QLLogFlag::debug, ::tervolo::logging::asyncLoggingEnabled(), \
                      __VA_ARGS__)
#define QLLogVerbose(...)                                                                                \
    TERVOLO_QLLOG_AT_(::tervolo::logging::QLLogFlag::verbose, ::tervolo::logging::asyncLoggingEnabled(), \
                      __VA_ARGS__)

// Logs the message with flag error (synchronously) when `condition` is false,
// and returns normally: the program is not stopped. The message is built only
// when the condition fails and the error flag is enabled.
#define QLAssert(condition, ...)     \
    do {                             \
        if (!(condition)) {          \
            QLLogError(__VA_ARGS__); \
        }                            \
    } while (false)
// Logs the message with flag error unconditionally.
#define QLAssertionFailure(...) QLLogError(__VA_ARGS__)
