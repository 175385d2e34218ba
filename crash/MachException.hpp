#pragma once

// The parts of the Mach exception server that exist without Mach IPC: the
// exception-to-signal table, the fixed-size record of earlier exception-port
// registrations, the request and reply codec of the server loop and the
// forwarding decision. Linux has no Mach ports, so nothing here sends or
// receives a message; numbers are the Mach ones (Darwin signal numbering in
// the signal table), since they describe another system's messages.
//
// Async-safe: plain functions over plain records.

#include <cstddef>
#include <cstdint>

namespace tervolo::crash {

// Number of Mach exception types (EXC_TYPES_COUNT).
inline constexpr uint32_t QCRASH_EXC_TYPES_COUNT = 14;

// Kernel results the server hands back.
inline constexpr int QCRASH_KERN_SUCCESS = 0;
inline constexpr int QCRASH_KERN_FAILURE = 5;
inline constexpr int QCRASH_KERN_NOT_SUPPORTED = 46;

// Behaviours and the flag for 64-bit codes.
inline constexpr int32_t QCRASH_EXCEPTION_DEFAULT = 1;
inline constexpr int32_t QCRASH_EXCEPTION_STATE = 2;
inline constexpr int32_t QCRASH_EXCEPTION_STATE_IDENTITY = 3;
inline constexpr uint32_t QCRASH_MACH_EXCEPTION_CODES = 0x80000000u;

// The registrations in force before ours, in a form a crash handler can walk.
struct qcrash_mach_exception_port_set {
    uint32_t count;
    uint32_t masks[QCRASH_EXC_TYPES_COUNT];
    uint32_t ports[QCRASH_EXC_TYPES_COUNT];
    int32_t behaviors[QCRASH_EXC_TYPES_COUNT];
    int32_t flavors[QCRASH_EXC_TYPES_COUNT];
};

// A port name that refers to a port: neither null nor the dead name.
bool qcrash_mach_port_valid(uint32_t port);

// The signal the kernel delivers for a Mach exception, in Darwin numbering
// (SIGBUS 10, SIGEMT 7, SIGSYS 12). The address is the second code.
struct qcrash_mach_siginfo_t {
    int signo;
    int code;
    uint64_t address;
};

// False (no signal) for fewer than 2 codes or a type outside 1…6.
bool qcrash_async_mach_exception_get_siginfo(int32_t exception_type, const int64_t* codes,
                                             uint32_t code_count, qcrash_mach_siginfo_t* info);

// Index of the registration an exception of `exception_type` is forwarded
// to: the first with a valid port whose mask has the exception's bit; -1
// when there is none.
int qcrash_mach_exception_forward_entry(const qcrash_mach_exception_port_set* set, int32_t exception_type);

// Forwards an exception to an earlier registration. 5 when no registration
// takes it, when the registration asked for 64-bit codes, or for an unknown
// behaviour; a registration that would be sent the exception gets 46 here,
// since there is no Mach IPC to send it with.
int QCrashMachExceptionForward(uint32_t task, uint32_t thread, int32_t exception_type, const int64_t* codes,
                               uint32_t code_count, const qcrash_mach_exception_port_set* set);

// The server loop's handling of one received message.
using qcrash_mach_exception_callback = int (*)(uint32_t task, uint32_t thread, int32_t exception_type,
                                               const int64_t* codes, uint32_t code_count, void* context);

enum class qcrash_mach_message_action {
    ignore,  // a no-senders notification: nothing to do
    finish,  // the termination message during teardown: the loop ends
    reply,   // answer with the reply built
    drop,    // malformed: no answer
};

inline constexpr size_t QCRASH_MACH_REQUEST_MIN_SIZE = 76;  // requests are larger than 75 bytes
inline constexpr size_t QCRASH_MACH_REPLY_SIZE = 36;
inline constexpr size_t QCRASH_MACH_TERMINATION_SIZE = 24;
inline constexpr uint32_t QCRASH_MACH_NOTIFY_NO_SENDERS = 70;
inline constexpr uint32_t QCRASH_MACH_TERMINATION_ID = 0xDEADBEEFu;

// `buffer` holds the received message (`buffer_size` bytes of receive
// buffer); `from_notify_port` tells which port it came in on. Calls the
// callback for a well-formed request and fills `reply` (36 bytes) whenever
// the action is reply.
qcrash_mach_message_action qcrash_mach_exception_server_handle(const uint8_t* buffer, size_t buffer_size,
                                                               bool from_notify_port, bool shutting_down,
                                                               qcrash_mach_exception_callback callback,
                                                               void* context, uint8_t* reply);

// The 24-byte header-only message that wakes the server loop for teardown.
void qcrash_mach_exception_termination_message(uint32_t notify_port, uint8_t* message);

}  // namespace tervolo::crash
