#pragma once

// One process-wide handler for the signals the crash reporter watches. It
// runs on a 64 KiB alternate signal stack (so that a stack overflow can still
// be reported) and hands each signal to a list of callbacks; the action that
// was installed before is kept for every signal and reached through a
// forwarding callback at the end of the list.
//
// Registration runs on ordinary threads (serialised by a mutex); the handler
// itself runs on whatever thread received the signal and only reads the
// lists, lock-free. The lists live for the rest of the process: a signal may
// still arrive while static objects are destroyed at exit.

#include <signal.h>
#include <ucontext.h>

#include <cstdint>

#include "platform/foundation/Error.hpp"

namespace tervolo::crash {

// A continuation: calling it runs the next callback of the list.
struct qcrash_signal_handler_callback_t {
    bool (*callback)(int signo, siginfo_t* info, ucontext_t* uap, void* context);
    void* context;
};

// A registered callback: returns whether it handled the signal. `next` is
// null for the last entry; a callback that wants the later entries to run
// calls QCrashSignalHandlerForward(next, ...).
using qcrash_signal_handler_callback_func = bool (*)(int signo, siginfo_t* info, ucontext_t* uap,
                                                     void* context, qcrash_signal_handler_callback_t* next);

// Runs the continuation and returns its answer; false with no continuation.
// Async-safe.
bool QCrashSignalHandlerForward(qcrash_signal_handler_callback_t* next, int signo, siginfo_t* info,
                                ucontext_t* uap);

// The process handler installed for every registered signal. When no
// callback handles the signal it is reset to its default action and raised
// again, which ends the process (never a loop back into this handler).
void qcrash_signal_handler(int signo, siginfo_t* info, void* uap);

class QCrashSignalHandler {
  public:
    static constexpr size_t kAlternateStackSize = 65536;

    // The shared instance, made on first use; null when its alternate stack
    // could not be allocated.
    static QCrashSignalHandler* sharedHandler();

    // Installs the process handler for `signo` (below), then puts
    // {callback, context} at the front of the callback list. False with
    // `error` when the installation fails.
    bool registerHandlerForSignal(int signo, qcrash_signal_handler_callback_func callback, void* context,
                                  platform::Error* error = nullptr);

    // Installs this thread's alternate stack, appends a forwarder to the
    // earlier actions, and installs the process handler unless the signal is
    // already handled (then it succeeds at once). Errors are POSIX errors:
    // "Could not initialize alternative signal stack", "Failed to register
    // signal handler".
    bool registerHandlerWithSignal(int signo, platform::Error* error = nullptr);

    // Empties the callback and earlier-action lists; the installed actions
    // stay as they are.
    static void resetHandlers();

    const stack_t& alternateStack() const { return _sigstk; }

  private:
    explicit QCrashSignalHandler(void* stack);

    stack_t _sigstk;
};

}  // namespace tervolo::crash
