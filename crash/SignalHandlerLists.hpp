#pragma once

// The signal handler's process-wide lists, shared by registration and the
// handler. Created when the program loads and never destroyed.

#include <signal.h>

#include "crash/AsyncList.hpp"
#include "crash/SignalHandler.hpp"

namespace tervolo::crash::detail {

struct SignalCallbackEntry {
    qcrash_signal_handler_callback_func callback;
    void* context;
    bool operator==(const SignalCallbackEntry&) const = default;
};

struct PreviousSignalAction {
    int signo;
    struct sigaction action;
    bool operator==(const PreviousSignalAction& other) const { return signo == other.signo; }
};

using SignalCallbackList = async_list<SignalCallbackEntry>;
using PreviousActionList = async_list<PreviousSignalAction>;

SignalCallbackList& signalCallbacks();
PreviousActionList& previousSignalActions();

// The forwarder to the earlier action, appended once per registration.
bool previousActionForwarder(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                             qcrash_signal_handler_callback_t* next);

}  // namespace tervolo::crash::detail
