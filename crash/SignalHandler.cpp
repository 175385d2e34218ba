#include "crash/SignalHandler.hpp"

#include <errno.h>

#include <cstdlib>
#include <mutex>

#include "crash/SignalHandlerLists.hpp"

namespace tervolo::crash {

using detail::PreviousSignalAction;
using detail::SignalCallbackEntry;

namespace {

std::mutex& registrationMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

void setError(platform::Error* error, int errnoValue, const char* what) {
    if (error != nullptr) *error = platform::Error::posix(errnoValue, what);
}

}  // namespace

QCrashSignalHandler::QCrashSignalHandler(void* stack) {
    _sigstk.ss_sp = stack;
    _sigstk.ss_size = kAlternateStackSize;
    _sigstk.ss_flags = 0;
}

QCrashSignalHandler* QCrashSignalHandler::sharedHandler() {
    static QCrashSignalHandler* shared = []() -> QCrashSignalHandler* {
        void* stack = std::malloc(kAlternateStackSize);
        if (stack == nullptr) return nullptr;
        return new QCrashSignalHandler(stack);
    }();
    return shared;
}

bool QCrashSignalHandler::registerHandlerWithSignal(int signo, platform::Error* error) {
    std::lock_guard<std::mutex> lock(registrationMutex());

    if (sigaltstack(&_sigstk, nullptr) != 0) {
        setError(error, errno, "Could not initialize alternative signal stack");
        return false;
    }

    detail::signalCallbacks().append(SignalCallbackEntry{detail::previousActionForwarder, nullptr});

    auto& previous = detail::previousSignalActions();
    bool known = false;
    previous.set_reading(true);
    for (auto* n = previous.next(nullptr); n != nullptr; n = previous.next(n)) {
        if (n->value.signo == signo) {
            known = true;
            break;
        }
    }
    previous.set_reading(false);
    if (known) return true;

    struct sigaction action {};
    action.sa_sigaction = qcrash_signal_handler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    PreviousSignalAction earlier{signo, {}};
    if (sigaction(signo, &action, &earlier.action) != 0) {
        setError(error, errno, "Failed to register signal handler");
        return false;
    }
    previous.append(earlier);
    return true;
}

bool QCrashSignalHandler::registerHandlerForSignal(int signo, qcrash_signal_handler_callback_func callback,
                                                   void* context, platform::Error* error) {
    if (!registerHandlerWithSignal(signo, error)) return false;
    detail::signalCallbacks().prepend(SignalCallbackEntry{callback, context});
    return true;
}

void QCrashSignalHandler::resetHandlers() {
    std::lock_guard<std::mutex> lock(registrationMutex());
    detail::signalCallbacks().clear();
    detail::previousSignalActions().clear();
}

}  // namespace tervolo::crash
