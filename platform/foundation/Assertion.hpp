#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

// The assertion handler behind PLATFORM_ASSERT: it receives the failed
// condition's text, the source file's base name and the message. The default
// handler writes "*** Assertion failure: <message> (<condition>, <file>)" to
// standard error and then aborts in debug builds; release builds only log.
// Tests replace it (ScopedAssertionHandler) to check the exact texts.
using AssertionHandler =
    std::function<void(std::string_view condition, std::string_view file, std::string_view message)>;

// Returns the handler that was installed; an empty handler restores the default.
AssertionHandler setAssertionHandler(AssertionHandler handler);
void assertionFailure(std::string_view condition, std::string_view file, std::string_view message);
// "/a/b/c.cpp" → "c.cpp".
constexpr std::string_view fileBaseName(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

class ScopedAssertionHandler {
  public:
    explicit ScopedAssertionHandler(AssertionHandler handler)
        : previous_(setAssertionHandler(std::move(handler))) {}
    ~ScopedAssertionHandler() { setAssertionHandler(std::move(previous_)); }
    ScopedAssertionHandler(const ScopedAssertionHandler&) = delete;
    ScopedAssertionHandler& operator=(const ScopedAssertionHandler&) = delete;

  private:
    AssertionHandler previous_;
};

}  // namespace platform

// Checked in every build type; what happens on failure is the handler's choice.
#define PLATFORM_ASSERT(condition, message)                                                          \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            ::platform::assertionFailure(#condition, ::platform::fileBaseName(__FILE__), (message)); \
        }                                                                                            \
    } while (false)
