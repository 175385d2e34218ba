#include "platform/foundation/Assertion.hpp"

#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Diagnostics.hpp"

namespace platform {

namespace {

std::mutex& handlerMutex() {
    return SharedInstance<std::mutex, AssertionHandler>::get();
}

AssertionHandler& installedHandler() {
    return SharedInstance<AssertionHandler>::get();
}

void defaultHandler(std::string_view condition, std::string_view file, std::string_view message) {
    std::string line = "*** Assertion failure: ";
    line.append(message);
    line.append(" (");
    line.append(condition);
    line.append(", ");
    line.append(file);
    line.append(")");
    LineWriter::standardError().writeLine(line);
#ifndef NDEBUG
    std::abort();
#endif
}

}  // namespace

AssertionHandler setAssertionHandler(AssertionHandler handler) {
    std::lock_guard lock(handlerMutex());
    AssertionHandler previous = std::move(installedHandler());
    installedHandler() = std::move(handler);
    return previous;
}

void assertionFailure(std::string_view condition, std::string_view file, std::string_view message) {
    AssertionHandler handler;
    {
        std::lock_guard lock(handlerMutex());
        handler = installedHandler();
    }
    // Called outside the lock: a test handler may throw or install another one.
    if (handler) {
        handler(condition, file, message);
    } else {
        defaultHandler(condition, file, message);
    }
}

}  // namespace platform
