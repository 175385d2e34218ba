// The crash-time side of the signal handler: dispatch to the callbacks and
// the forwarder to earlier actions. Async-safe: no heap, no locks.
#include <signal.h>

#include <new>

#include "crash/AsyncSupport.hpp"
#include "crash/SignalHandler.hpp"
#include "crash/SignalHandlerLists.hpp"

namespace tervolo::crash {

namespace detail {

namespace {

// The lists are built in static storage when the program loads and never
// destroyed, so a signal during exit still finds them.
alignas(SignalCallbackList) unsigned char gCallbackStorage[sizeof(SignalCallbackList)];
alignas(PreviousActionList) unsigned char gPreviousStorage[sizeof(PreviousActionList)];
SignalCallbackList* const gCallbacks = new (gCallbackStorage) SignalCallbackList;
PreviousActionList* const gPrevious = new (gPreviousStorage) PreviousActionList;

// A signal the kernel forced for a fault or trap of the current instruction.
// The kernel does not let a program ignore those (it ends the process), and
// returning from a fault runs the instruction again and faults again.
bool isSynchronousFault(int signo, const siginfo_t* info) {
    if (info == nullptr || info->si_code <= 0) return false;  // sent by kill, tkill, sigqueue
    return signo == SIGSEGV || signo == SIGBUS || signo == SIGILL || signo == SIGFPE || signo == SIGTRAP;
}

}  // namespace

SignalCallbackList& signalCallbacks() {
    return *gCallbacks;
}
PreviousActionList& previousSignalActions() {
    return *gPrevious;
}

bool previousActionForwarder(int signo, siginfo_t* info, ucontext_t* uap, void*,
                             qcrash_signal_handler_callback_t* next) {
    if (QCrashSignalHandlerForward(next, signo, info, uap)) return true;

    bool found = false;
    struct sigaction earlier;
    gPrevious->set_reading(true);
    for (auto* n = gPrevious->next(nullptr); n != nullptr; n = gPrevious->next(n)) {
        if (n->value.signo == signo) {
            qcrash_async_memcpy(&earlier, &n->value.action, sizeof earlier);
            found = true;
            break;
        }
    }
    gPrevious->set_reading(false);
    if (!found) return false;

    if ((earlier.sa_flags & SA_SIGINFO) != 0) {
        earlier.sa_sigaction(signo, info, uap);
        return true;
    }
    if (earlier.sa_handler == SIG_IGN) {
        // An ignored fault cannot be ignored: the instruction would fault
        // forever. Let it end the process as it would have without us.
        return !isSynchronousFault(signo, info);
    }
    if (earlier.sa_handler == SIG_DFL) return false;
    earlier.sa_handler(signo);
    return true;
}

namespace {

bool callbackIterator(int signo, siginfo_t* info, ucontext_t* uap, void* context) {
    auto* entry = static_cast<SignalCallbackList::node*>(context);
    SignalCallbackList::node* following = gCallbacks->next(entry);
    qcrash_signal_handler_callback_t continuation{callbackIterator, following};
    return entry->value.callback(signo, info, uap, entry->value.context,
                                 following != nullptr ? &continuation : nullptr);
}

}  // namespace

}  // namespace detail

bool QCrashSignalHandlerForward(qcrash_signal_handler_callback_t* next, int signo, siginfo_t* info,
                                ucontext_t* uap) {
    if (next == nullptr) return false;
    return next->callback(signo, info, uap, next->context);
}

void qcrash_signal_handler(int signo, siginfo_t* info, void* uapVoid) {
    auto* uap = static_cast<ucontext_t*>(uapVoid);
    auto& callbacks = *detail::gCallbacks;
    callbacks.set_reading(true);
    bool handled = false;
    if (auto* first = callbacks.next(nullptr); first != nullptr) {
        handled = detail::callbackIterator(signo, info, uap, first);
    }
    callbacks.set_reading(false);
    if (handled) return;

    // Back to the default action before raising again: with this handler
    // still installed the raise would land here once more, forever.
    struct sigaction fallback;
    qcrash_async_memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signo, &fallback, nullptr);
    raise(signo);
}

}  // namespace tervolo::crash
