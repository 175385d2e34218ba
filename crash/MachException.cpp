#include "crash/MachException.hpp"

#include "crash/AsyncSupport.hpp"

namespace tervolo::crash {

namespace {

// Darwin's numbers: these describe the other system's kernel, not ours.
constexpr int kDarwinSIGILL = 4;
constexpr int kDarwinSIGTRAP = 5;
constexpr int kDarwinSIGABRT = 6;
constexpr int kDarwinSIGEMT = 7;
constexpr int kDarwinSIGFPE = 8;
constexpr int kDarwinSIGKILL = 9;
constexpr int kDarwinSIGBUS = 10;
constexpr int kDarwinSIGSEGV = 11;
constexpr int kDarwinSIGSYS = 12;
constexpr int kDarwinSIGPIPE = 13;
constexpr int kDarwinSEGV_MAPERR = 1;
constexpr int kDarwinBUS_ADRERR = 2;
constexpr int kDarwinTRAP_BRKPT = 1;

constexpr int64_t kKernInvalidAddress = 1;

uint32_t load32(const uint8_t* p) {
    uint32_t v;
    qcrash_async_memcpy(&v, p, sizeof v);
    return v;
}

void store32(uint8_t* p, uint32_t v) {
    qcrash_async_memcpy(p, &v, sizeof v);
}

// NDR record of a little-endian sender (integer representation 1).
constexpr uint8_t kNDRRecord[8] = {0, 0, 0, 0, 1, 0, 0, 0};

// Request layout (64-bit codes): header 0-23, descriptor count 24, thread
// port descriptor 28, task port descriptor 40, NDR 52, exception 60, code
// count 64, codes from 68.
constexpr size_t kOffsetBits = 0;
constexpr size_t kOffsetSize = 4;
constexpr size_t kOffsetRemotePort = 8;
constexpr size_t kOffsetId = 20;
constexpr size_t kOffsetThread = 28;
constexpr size_t kOffsetTask = 40;
constexpr size_t kOffsetException = 60;
constexpr size_t kOffsetCodeCount = 64;
constexpr size_t kOffsetCodes = 68;

void buildReply(const uint8_t* request, int result, uint8_t* reply) {
    qcrash_async_memset(reply, 0, QCRASH_MACH_REPLY_SIZE);
    store32(reply + 0, load32(request + kOffsetBits) & 0x1F);
    store32(reply + 4, QCRASH_MACH_REPLY_SIZE);
    store32(reply + 8, load32(request + kOffsetRemotePort));
    store32(reply + 20, load32(request + kOffsetId) + 100);
    qcrash_async_memcpy(reply + 24, kNDRRecord, sizeof kNDRRecord);
    store32(reply + 32, static_cast<uint32_t>(result));
}

}  // namespace

bool qcrash_mach_port_valid(uint32_t port) {
    return port != 0 && port != 0xFFFFFFFFu;
}

bool qcrash_async_mach_exception_get_siginfo(int32_t exception_type, const int64_t* codes,
                                             uint32_t code_count, qcrash_mach_siginfo_t* info) {
    if (code_count < 2 || exception_type < 1 || exception_type > 6) return false;
    info->address = static_cast<uint64_t>(codes[1]);
    info->code = 0;
    switch (exception_type) {
        case 1:  // bad access
            if (codes[0] == kKernInvalidAddress) {
                info->signo = kDarwinSIGSEGV;
                info->code = kDarwinSEGV_MAPERR;
            } else {
                info->signo = kDarwinSIGBUS;
                info->code = kDarwinBUS_ADRERR;
            }
            break;
        case 2:  // bad instruction
            info->signo = kDarwinSIGILL;
            break;
        case 3:  // arithmetic
            info->signo = kDarwinSIGFPE;
            break;
        case 4:  // emulation
            info->signo = kDarwinSIGEMT;
            break;
        case 5:  // software
            switch (codes[0]) {
                case 0x10000:
                    info->signo = kDarwinSIGSYS;
                    break;
                case 0x10001:
                    info->signo = kDarwinSIGPIPE;
                    break;
                case 0x10003:
                    info->signo = kDarwinSIGKILL;
                    break;
                default:  // 0x10002 and anything else
                    info->signo = kDarwinSIGABRT;
                    break;
            }
            break;
        default:  // 6, breakpoint
            info->signo = kDarwinSIGTRAP;
            info->code = kDarwinTRAP_BRKPT;
            break;
    }
    return true;
}

int qcrash_mach_exception_forward_entry(const qcrash_mach_exception_port_set* set, int32_t exception_type) {
    if (exception_type < 0 || exception_type >= 32) return -1;
    const uint32_t bit = 1u << exception_type;
    const uint32_t count = set->count < QCRASH_EXC_TYPES_COUNT ? set->count : QCRASH_EXC_TYPES_COUNT;
    for (uint32_t i = 0; i < count; ++i) {
        if (qcrash_mach_port_valid(set->ports[i]) && (set->masks[i] & bit) != 0) return static_cast<int>(i);
    }
    return -1;
}

int QCrashMachExceptionForward(uint32_t, uint32_t, int32_t exception_type, const int64_t*, uint32_t,
                               const qcrash_mach_exception_port_set* set) {
    const int entry = qcrash_mach_exception_forward_entry(set, exception_type);
    if (entry < 0) return QCRASH_KERN_FAILURE;
    const uint32_t behavior = static_cast<uint32_t>(set->behaviors[entry]);
    // A registration that asked for 64-bit codes would be sent 32-bit ones:
    // refused rather than truncated.
    if ((behavior & QCRASH_MACH_EXCEPTION_CODES) != 0) return QCRASH_KERN_FAILURE;
    switch (static_cast<int32_t>(behavior)) {
        case QCRASH_EXCEPTION_DEFAULT:
        case QCRASH_EXCEPTION_STATE:
        case QCRASH_EXCEPTION_STATE_IDENTITY:
            return QCRASH_KERN_NOT_SUPPORTED;
        default:
            return QCRASH_KERN_FAILURE;
    }
}

qcrash_mach_message_action qcrash_mach_exception_server_handle(const uint8_t* buffer, size_t buffer_size,
                                                               bool from_notify_port, bool shutting_down,
                                                               qcrash_mach_exception_callback callback,
                                                               void* context, uint8_t* reply) {
    if (buffer_size < QCRASH_MACH_TERMINATION_SIZE) return qcrash_mach_message_action::drop;
    const uint32_t id = load32(buffer + kOffsetId);
    if (from_notify_port && id == QCRASH_MACH_NOTIFY_NO_SENDERS) return qcrash_mach_message_action::ignore;
    if (from_notify_port && id == QCRASH_MACH_TERMINATION_ID && shutting_down) {
        return qcrash_mach_message_action::finish;
    }

    const uint32_t size = load32(buffer + kOffsetSize);
    if (size > buffer_size) return qcrash_mach_message_action::drop;
    if (size < QCRASH_MACH_REQUEST_MIN_SIZE) {
        buildReply(buffer, QCRASH_KERN_FAILURE, reply);
        return qcrash_mach_message_action::reply;
    }
    const uint32_t count = load32(buffer + kOffsetCodeCount);
    if (QCRASH_MACH_REQUEST_MIN_SIZE + 8 * static_cast<uint64_t>(count) > buffer_size) {
        return qcrash_mach_message_action::drop;
    }
    // The codes are 8-byte values at a 4-byte aligned offset: copy them out.
    int64_t codes[QCRASH_EXC_TYPES_COUNT * 2];
    const uint32_t kept = count < sizeof codes / sizeof codes[0] ? count : sizeof codes / sizeof codes[0];
    qcrash_async_memcpy(codes, buffer + kOffsetCodes, kept * sizeof(int64_t));
    const int result =
        callback(load32(buffer + kOffsetTask), load32(buffer + kOffsetThread),
                 static_cast<int32_t>(load32(buffer + kOffsetException)), codes, kept, context);
    buildReply(buffer, result, reply);
    return qcrash_mach_message_action::reply;
}

void qcrash_mach_exception_termination_message(uint32_t notify_port, uint8_t* message) {
    qcrash_async_memset(message, 0, QCRASH_MACH_TERMINATION_SIZE);
    store32(message + 0, 19);  // copy-send for the remote port
    store32(message + 4, QCRASH_MACH_TERMINATION_SIZE);
    store32(message + 8, notify_port);
    store32(message + 20, QCRASH_MACH_TERMINATION_ID);
}

}  // namespace tervolo::crash
