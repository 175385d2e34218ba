#pragma once

// Names of signals and signal codes for crash reports, from this host's own
// <signal.h> numbers. Async-safe (static tables).

namespace tervolo::crash {

// "SIGSEGV" and so on; null for a number the table does not know. Where two
// names share a number the first listed wins (SIGABRT before SIGIOT).
const char* qcrash_async_signal_signame(int signo);

// "SEGV_MAPERR" and so on; null for an unknown pair. Code 0 is "<KIND>_NOOP"
// for SIGILL, SIGFPE, SIGSEGV and SIGBUS and "#0" for SIGTRAP and SIGABRT.
const char* qcrash_async_signal_sigcode(int signo, int code);

}  // namespace tervolo::crash
