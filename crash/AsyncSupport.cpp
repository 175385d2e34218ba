#include "crash/AsyncSupport.hpp"

#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <bit>

namespace tervolo::crash {

static_assert(std::endian::native == std::endian::little, "the byte-order sets assume a little-endian host");

const char* qcrash_async_strerror(int error) {
    switch (error) {
        case QCRASH_ESUCCESS:
            return "No error";
        case QCRASH_EUNKNOWN:
            return "Unknown error";
        case QCRASH_OUTPUT_ERR:
            return "Output file can not be opened (or written to)";
        case QCRASH_ENOMEM:
            return "No memory available";
        case QCRASH_ENOTSUP:
            return "Operation not supported";
        case QCRASH_EINVAL:
            return "Invalid argument";
        case QCRASH_EINTERNAL:
            return "Internal error";
        case QCRASH_EACCESS:
            return "Access denied";
        case QCRASH_ENOTFOUND:
            return "Not found";
        case QCRASH_EINVALID_DATA:
            return "The input data is in an unknown or invalid format.";
        default:
            return "Unhandled error code";
    }
}

qcrash_task_t qcrash_task_self() {
    // The raw call: no cached value that a fork could leave stale.
    return static_cast<qcrash_task_t>(syscall(SYS_getpid));
}

uint32_t pl_mach_thread_self() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

namespace {

uint16_t keep16(uint16_t v) {
    return v;
}
uint32_t keep32(uint32_t v) {
    return v;
}
uint64_t keep64(uint64_t v) {
    return v;
}
uint16_t swap16(uint16_t v) {
    return __builtin_bswap16(v);
}
uint32_t swap32(uint32_t v) {
    return __builtin_bswap32(v);
}
uint64_t swap64(uint64_t v) {
    return __builtin_bswap64(v);
}

constexpr qcrash_async_byteorder_t kLittleEndian{keep16, keep32, keep64};
constexpr qcrash_async_byteorder_t kBigEndian{swap16, swap32, swap64};

// Set once the cross-process read turned out to be forbidden or missing;
// from then on our own memory is read through a pipe.
std::atomic<bool> gProcessReadUnavailable{false};

std::atomic<uint64_t> gTaskReadCalls{0};
static_assert(std::atomic<uint64_t>::is_always_lock_free, "counted inside crash handlers");

}  // namespace

uint64_t qcrash_async_task_read_calls() {
    return gTaskReadCalls.load(std::memory_order_relaxed);
}

void qcrash_async_count_task_read() {
    gTaskReadCalls.fetch_add(1, std::memory_order_relaxed);
}

const qcrash_async_byteorder_t* qcrash_async_byteorder_little_endian() {
    return &kLittleEndian;
}
const qcrash_async_byteorder_t* qcrash_async_byteorder_big_endian() {
    return &kBigEndian;
}

bool qcrash_async_address_apply_offset(qcrash_vm_address_t base, qcrash_vm_off_t offset,
                                       qcrash_vm_address_t* result) {
    qcrash_vm_address_t sum;
    if (offset >= 0) {
        if (__builtin_add_overflow(base, static_cast<uint64_t>(offset), &sum)) return false;
    } else {
        // -(INT64_MIN) does not fit an int64_t; negate in unsigned arithmetic.
        const uint64_t magnitude = 0 - static_cast<uint64_t>(offset);
        if (magnitude > base) return false;
        sum = base - magnitude;
    }
    if (result != nullptr) *result = sum;
    return true;
}

qcrash_error_t qcrash_async_self_memcpy_by_pipe(qcrash_vm_address_t address, void* dest,
                                                qcrash_vm_size_t length) {
    qcrash_async_count_task_read();
    int fds[2];
    if (syscall(SYS_pipe2, fds, O_CLOEXEC | O_NONBLOCK) != 0) return QCRASH_EUNKNOWN;
    qcrash_error_t result = QCRASH_ESUCCESS;
    auto* out = static_cast<uint8_t*>(dest);
    uint64_t done = 0;
    // A pipe holds at least one page: move the range through it a page at
    // a time.
    while (done < length && result == QCRASH_ESUCCESS) {
        const uint64_t chunk = (length - done) < 4096 ? (length - done) : 4096;
        const ssize_t written = write(fds[1], reinterpret_cast<const void*>(address + done), chunk);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            result = (written < 0 && errno == EFAULT) ? QCRASH_ENOTFOUND : QCRASH_EUNKNOWN;
            break;
        }
        uint64_t drained = 0;
        while (drained < static_cast<uint64_t>(written)) {
            const ssize_t n = read(fds[0], out + done + drained, static_cast<size_t>(written) - drained);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                result = QCRASH_EUNKNOWN;
                break;
            }
            drained += static_cast<uint64_t>(n);
        }
        done += static_cast<uint64_t>(written);
        // A short write means the kernel met an unreadable page.
        if (result == QCRASH_ESUCCESS && static_cast<uint64_t>(written) < chunk) result = QCRASH_ENOTFOUND;
    }
    close(fds[0]);
    close(fds[1]);
    return result;
}

qcrash_error_t qcrash_async_task_memcpy(qcrash_task_t task, qcrash_vm_address_t address,
                                        qcrash_vm_off_t offset, void* dest, qcrash_vm_size_t length) {
    qcrash_vm_address_t source;
    if (!qcrash_async_address_apply_offset(address, offset, &source)) return QCRASH_ENOMEM;
    if (length == 0) return QCRASH_ESUCCESS;
    if (source + length < source) return QCRASH_ENOTFOUND;  // the range wraps: it cannot all be mapped

    const bool self = task == qcrash_task_self();
    if (!(self && gProcessReadUnavailable.load(std::memory_order_relaxed))) {
        struct iovec local {
            dest, static_cast<size_t>(length)
        };
        struct iovec remote {
            reinterpret_cast<void*>(source), static_cast<size_t>(length)
        };
        qcrash_async_count_task_read();
        const ssize_t n = syscall(SYS_process_vm_readv, task, &local, 1UL, &remote, 1UL, 0UL);
        if (n >= 0) return static_cast<qcrash_vm_size_t>(n) == length ? QCRASH_ESUCCESS : QCRASH_ENOTFOUND;
        const int error = errno;
        if (error == EFAULT) return QCRASH_ENOTFOUND;
        if (!self || (error != ENOSYS && error != EPERM))
            return error == EPERM ? QCRASH_EACCESS : QCRASH_EUNKNOWN;
        gProcessReadUnavailable.store(true, std::memory_order_relaxed);
    }
    return qcrash_async_self_memcpy_by_pipe(source, dest, length);
}

qcrash_error_t qcrash_async_task_read_uint8(qcrash_task_t task, qcrash_vm_address_t address,
                                            qcrash_vm_off_t offset, uint8_t* result) {
    return qcrash_async_task_memcpy(task, address, offset, result, sizeof *result);
}

qcrash_error_t qcrash_async_task_read_uint16(qcrash_task_t task, const qcrash_async_byteorder_t* byteorder,
                                             qcrash_vm_address_t address, qcrash_vm_off_t offset,
                                             uint16_t* result) {
    const qcrash_error_t error = qcrash_async_task_memcpy(task, address, offset, result, sizeof *result);
    if (error == QCRASH_ESUCCESS) *result = byteorder->swap16(*result);
    return error;
}

qcrash_error_t qcrash_async_task_read_uint32(qcrash_task_t task, const qcrash_async_byteorder_t* byteorder,
                                             qcrash_vm_address_t address, qcrash_vm_off_t offset,
                                             uint32_t* result) {
    const qcrash_error_t error = qcrash_async_task_memcpy(task, address, offset, result, sizeof *result);
    if (error == QCRASH_ESUCCESS) *result = byteorder->swap32(*result);
    return error;
}

qcrash_error_t qcrash_async_task_read_uint64(qcrash_task_t task, const qcrash_async_byteorder_t* byteorder,
                                             qcrash_vm_address_t address, qcrash_vm_off_t offset,
                                             uint64_t* result) {
    const qcrash_error_t error = qcrash_async_task_memcpy(task, address, offset, result, sizeof *result);
    if (error == QCRASH_ESUCCESS) *result = byteorder->swap64(*result);
    return error;
}

int qcrash_async_strcmp(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    while (*x != 0 && *x == *y) {
        ++x;
        ++y;
    }
    return static_cast<int>(*x) - static_cast<int>(*y);
}

int qcrash_async_strncmp(const char* a, const char* b, size_t n) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (size_t i = 0; i < n; ++i) {
        if (x[i] != y[i]) return static_cast<int>(x[i]) - static_cast<int>(y[i]);
        if (x[i] == 0) return 0;
    }
    return 0;
}

size_t qcrash_async_strlen(const char* s) {
    size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

// Byte loops through volatile pointers, so that the compiler does not turn
// them back into calls of the library's routines.
void* qcrash_async_memcpy(void* dest, const void* source, size_t length) {
    auto* d = static_cast<volatile uint8_t*>(dest);
    const auto* s = static_cast<const volatile uint8_t*>(source);
    for (size_t i = 0; i < length; ++i) d[i] = s[i];
    return dest;
}

void* qcrash_async_memset(void* dest, uint8_t value, size_t length) {
    auto* d = static_cast<volatile uint8_t*>(dest);
    for (size_t i = 0; i < length; ++i) d[i] = value;
    return dest;
}

ssize_t qcrash_async_writen(int fd, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t left = length;
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(length);
}

}  // namespace tervolo::crash
