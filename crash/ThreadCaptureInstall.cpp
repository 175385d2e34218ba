// Installing the parking signal: SIGRTMIN is worked out at run time, so
// this stays off the crash path.
#include <signal.h>

#include "crash/AsyncThreadCapture.hpp"

namespace tervolo::crash {

bool qcrash_nasync_thread_capture_install() {
    if (qcrash_thread_capture_signal() != 0) return true;
    // A real-time signal clear of the ones glibc keeps for itself.
    const int signo = SIGRTMIN + 3;
    struct sigaction action {};
    action.sa_sigaction = detail::qcrash_thread_park_handler;
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    if (sigaction(signo, &action, nullptr) != 0) return false;
    detail::qcrash_thread_capture_set_signal(signo);
    return true;
}

}  // namespace tervolo::crash
