#pragma once

// The operations a crash handler may use: no locks, no heap, no
// non-reentrant library calls. Everything here may run in a signal handler
// on the crashing thread while the other threads of the process are parked.
//
// Errors: every operation returns a qcrash_error_t (0 = success) or a bool.
// Units: addresses and sizes are bytes in the address space of the task that
// is read; "local" pointers are addresses in our own process.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tervolo::crash {

enum qcrash_error_t : int {
    QCRASH_ESUCCESS = 0,       // "No error"
    QCRASH_EUNKNOWN = 1,       // "Unknown error"
    QCRASH_OUTPUT_ERR = 2,     // "Output file can not be opened (or written to)"
    QCRASH_ENOMEM = 3,         // "No memory available"
    QCRASH_ENOTSUP = 4,        // "Operation not supported"
    QCRASH_EINVAL = 5,         // "Invalid argument"
    QCRASH_EINTERNAL = 6,      // "Internal error"
    QCRASH_EACCESS = 7,        // "Access denied"
    QCRASH_ENOTFOUND = 8,      // "Not found"
    QCRASH_EINVALID_DATA = 9,  // "The input data is in an unknown or invalid format."
};

// The text of a code; any other value gives "Unhandled error code".
const char* qcrash_async_strerror(int error);

// A task is a process, named by its id. Our own process is read in place;
// another one (a stopped child, for instance) through copies.
using qcrash_task_t = pid_t;
using qcrash_vm_address_t = uint64_t;
using qcrash_vm_size_t = uint64_t;
using qcrash_vm_off_t = int64_t;

qcrash_task_t qcrash_task_self();

// The calling thread's kernel id (the thread "port" of the reports).
uint32_t pl_mach_thread_self();

// Byte-order conversions for 16-, 32- and 64-bit values, in that order.
// Readers of foreign-format data hold the set that matches the data and pass
// every multi-byte value through it.
struct qcrash_async_byteorder_t {
    uint16_t (*swap16)(uint16_t);
    uint32_t (*swap32)(uint32_t);
    uint64_t (*swap64)(uint64_t);
};
const qcrash_async_byteorder_t* qcrash_async_byteorder_little_endian();
const qcrash_async_byteorder_t* qcrash_async_byteorder_big_endian();

// base + offset without leaving [0, UINT64_MAX]; false on overflow either
// way. `result` may be null.
bool qcrash_async_address_apply_offset(qcrash_vm_address_t base, qcrash_vm_off_t offset,
                                       qcrash_vm_address_t* result);

// Reads of task memory made so far in this process (each a system call:
// copies and page probes alike). A relaxed atomic count: tests and
// benchmarks compare it before and after, a crash handler may add to it.
uint64_t qcrash_async_task_read_calls();
void qcrash_async_count_task_read();

// Copies `length` bytes at address + offset of `task` into `dest`. The copy
// survives unmapped and unreadable memory: 8 when (part of) the range is not
// mapped or not readable, 7 when the kernel refuses access to the task, 3
// when address + offset overflows, 1 for any other failure. Only a complete
// copy succeeds.
qcrash_error_t qcrash_async_task_memcpy(qcrash_task_t task, qcrash_vm_address_t address,
                                        qcrash_vm_off_t offset, void* dest, qcrash_vm_size_t length);

// The same copy from our own process through a pipe: the kernel checks the
// source while it fills the pipe, so unreadable memory gives EFAULT instead
// of a fault. Used when the cross-process read is unavailable (some
// sandboxes forbid it); public so that tests exercise it directly.
qcrash_error_t qcrash_async_self_memcpy_by_pipe(qcrash_vm_address_t address, void* dest,
                                                qcrash_vm_size_t length);

qcrash_error_t qcrash_async_task_read_uint8(qcrash_task_t task, qcrash_vm_address_t address,
                                            qcrash_vm_off_t offset, uint8_t* result);
qcrash_error_t qcrash_async_task_read_uint16(qcrash_task_t task, const qcrash_async_byteorder_t* byteorder,
                                             qcrash_vm_address_t address, qcrash_vm_off_t offset,
                                             uint16_t* result);
qcrash_error_t qcrash_async_task_read_uint32(qcrash_task_t task, const qcrash_async_byteorder_t* byteorder,
                                             qcrash_vm_address_t address, qcrash_vm_off_t offset,
                                             uint32_t* result);
qcrash_error_t qcrash_async_task_read_uint64(qcrash_task_t task, const qcrash_async_byteorder_t* byteorder,
                                             qcrash_vm_address_t address, qcrash_vm_off_t offset,
                                             uint64_t* result);

// Byte-wise comparisons: the difference of the first differing bytes (as
// unsigned chars), 0 when equal up to a zero byte (or n bytes).
int qcrash_async_strcmp(const char* a, const char* b);
int qcrash_async_strncmp(const char* a, const char* b, size_t n);
size_t qcrash_async_strlen(const char* s);

void* qcrash_async_memcpy(void* dest, const void* source, size_t length);
void* qcrash_async_memset(void* dest, uint8_t value, size_t length);

// Writes every byte, repeating writes cut short or interrupted by a signal
// (EINTR). Returns `length`, or -1 on any other failure.
ssize_t qcrash_async_writen(int fd, const void* data, size_t length);

}  // namespace tervolo::crash
