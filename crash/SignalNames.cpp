#include "crash/SignalNames.hpp"

#include <signal.h>

namespace tervolo::crash {

namespace {

struct SignalName {
    int signo;
    const char* name;
};

// Built from the host's symbols: the numbers differ between systems (SIGBUS
// is 7 here, SIGUSR1 10), so a table of fixed numbers would misname them.
constexpr SignalName kSignalNames[] = {
    {SIGHUP, "SIGHUP"},     {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"},     {SIGILL, "SIGILL"},
    {SIGTRAP, "SIGTRAP"},   {SIGABRT, "SIGABRT"}, {SIGIOT, "SIGIOT"},
#ifdef SIGEMT
    {SIGEMT, "SIGEMT"},
#endif
    {SIGFPE, "SIGFPE"},     {SIGKILL, "SIGKILL"}, {SIGBUS, "SIGBUS"},       {SIGSEGV, "SIGSEGV"},
    {SIGSYS, "SIGSYS"},     {SIGPIPE, "SIGPIPE"}, {SIGALRM, "SIGALRM"},     {SIGTERM, "SIGTERM"},
    {SIGURG, "SIGURG"},     {SIGSTOP, "SIGSTOP"}, {SIGTSTP, "SIGTSTP"},     {SIGCONT, "SIGCONT"},
    {SIGCHLD, "SIGCHLD"},   {SIGTTIN, "SIGTTIN"}, {SIGTTOU, "SIGTTOU"},     {SIGIO, "SIGIO"},
    {SIGXCPU, "SIGXCPU"},   {SIGXFSZ, "SIGXFSZ"}, {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"},
    {SIGWINCH, "SIGWINCH"},
#ifdef SIGINFO
    {SIGINFO, "SIGINFO"},
#endif
    {SIGUSR1, "SIGUSR1"},   {SIGUSR2, "SIGUSR2"},
};

struct SignalCode {
    int signo;
    int code;
    const char* name;
};

constexpr SignalCode kSignalCodes[] = {
    {SIGILL, 0, "ILL_NOOP"},
    {SIGILL, ILL_ILLOPC, "ILL_ILLOPC"},
    {SIGILL, ILL_ILLTRP, "ILL_ILLTRP"},
    {SIGILL, ILL_PRVOPC, "ILL_PRVOPC"},
    {SIGILL, ILL_ILLOPN, "ILL_ILLOPN"},
    {SIGILL, ILL_ILLADR, "ILL_ILLADR"},
    {SIGILL, ILL_PRVREG, "ILL_PRVREG"},
    {SIGILL, ILL_COPROC, "ILL_COPROC"},
    {SIGILL, ILL_BADSTK, "ILL_BADSTK"},

    {SIGFPE, 0, "FPE_NOOP"},
    {SIGFPE, FPE_FLTDIV, "FPE_FLTDIV"},
    {SIGFPE, FPE_FLTOVF, "FPE_FLTOVF"},
    {SIGFPE, FPE_FLTUND, "FPE_FLTUND"},
    {SIGFPE, FPE_FLTRES, "FPE_FLTRES"},
    {SIGFPE, FPE_FLTINV, "FPE_FLTINV"},
    {SIGFPE, FPE_FLTSUB, "FPE_FLTSUB"},
    {SIGFPE, FPE_INTDIV, "FPE_INTDIV"},
    {SIGFPE, FPE_INTOVF, "FPE_INTOVF"},

    {SIGSEGV, 0, "SEGV_NOOP"},
    {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"},
    {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},

    {SIGBUS, 0, "BUS_NOOP"},
    {SIGBUS, BUS_ADRALN, "BUS_ADRALN"},
    {SIGBUS, BUS_ADRERR, "BUS_ADRERR"},
    {SIGBUS, BUS_OBJERR, "BUS_OBJERR"},

    {SIGTRAP, 0, "#0"},
    {SIGTRAP, TRAP_BRKPT, "TRAP_BRKPT"},
    {SIGTRAP, TRAP_TRACE, "TRAP_TRACE"},

    {SIGABRT, 0, "#0"},
};

}  // namespace

const char* qcrash_async_signal_signame(int signo) {
    for (const auto& entry : kSignalNames) {
        if (entry.signo == signo) return entry.name;
    }
    return nullptr;
}

const char* qcrash_async_signal_sigcode(int signo, int code) {
    for (const auto& entry : kSignalCodes) {
        if (entry.signo == signo && entry.code == code) return entry.name;
    }
    return nullptr;
}

}  // namespace tervolo::crash
