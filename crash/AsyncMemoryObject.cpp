#include "crash/AsyncMemoryObject.hpp"

#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>

namespace tervolo::crash {

namespace {

// Pages probed per system call; the probe's vectors live on the (alternate)
// signal stack, so keep them small.
constexpr size_t kProbeBatch = 32;

// Number of readable pages from `start` on, at most `pages`. One byte per
// page tells, since protection is per page; the kernel stops a vectored
// read at the first element it cannot read.
uint64_t readablePages(qcrash_task_t task, qcrash_vm_address_t start, uint64_t pages, uint64_t pageSize) {
    uint64_t readable = 0;
    uint8_t sink[kProbeBatch];
    struct iovec local {
        sink, sizeof sink
    };
    struct iovec remote[kProbeBatch];
    while (readable < pages) {
        const uint64_t batch = (pages - readable) < kProbeBatch ? (pages - readable) : kProbeBatch;
        for (uint64_t i = 0; i < batch; ++i) {
            remote[i].iov_base = reinterpret_cast<void*>(start + (readable + i) * pageSize);
            remote[i].iov_len = 1;
        }
        qcrash_async_count_task_read();
        const ssize_t n = syscall(SYS_process_vm_readv, task, &local, 1UL, remote, batch, 0UL);
        if (n < 0) {
            // The vectored probe is unavailable here: probe page by page
            // with the general copy, which has a fallback.
            if (task != qcrash_task_self()) return readable;
            for (uint64_t i = 0; i < batch; ++i) {
                if (qcrash_async_task_memcpy(task, start + (readable + i) * pageSize, 0, sink, 1) !=
                    QCRASH_ESUCCESS)
                    return readable + i;
            }
            readable += batch;
            continue;
        }
        readable += static_cast<uint64_t>(n);
        if (static_cast<uint64_t>(n) < batch) break;
    }
    return readable;
}

std::atomic<qcrash_vm_size_t> gOwnCopyLimit{0};

}  // namespace

void qcrash_async_mobject_copy_own_memory(qcrash_vm_size_t max_bytes) {
    gOwnCopyLimit.store(max_bytes, std::memory_order_relaxed);
}

// Read when the library loads: a function-local static would take a guard
// lock on first use, which may be inside a crash handler.
const qcrash_vm_size_t gPageSize = static_cast<qcrash_vm_size_t>(sysconf(_SC_PAGESIZE));

qcrash_vm_size_t qcrash_async_page_size() {
    return gPageSize;
}

qcrash_error_t qcrash_async_mobject_init(qcrash_async_mobject_t* object, qcrash_task_t task,
                                         qcrash_vm_address_t task_address, qcrash_vm_size_t length,
                                         bool require_full) {
    *object = qcrash_async_mobject_t{};
    const qcrash_vm_size_t pageSize = qcrash_async_page_size();
    const bool self = task == qcrash_task_self();
    const qcrash_vm_size_t copyLimit = self ? gOwnCopyLimit.load(std::memory_order_relaxed) : 0;
    if (copyLimit != 0 && length > copyLimit) {
        if (require_full) return QCRASH_ENOMEM;
        length = copyLimit;
    }
    qcrash_vm_address_t end;
    if (__builtin_add_overflow(task_address, length, &end)) return QCRASH_EINVAL;
    const qcrash_vm_address_t pageStart = task_address & ~(pageSize - 1);
    qcrash_vm_address_t pageEnd;
    if (__builtin_add_overflow(end, pageSize - 1, &pageEnd)) return QCRASH_EINVAL;
    pageEnd &= ~(pageSize - 1);
    const uint64_t pages = (pageEnd - pageStart) / pageSize;
    if (pages == 0) return QCRASH_ENOMEM;

    const uint64_t readable = readablePages(task, pageStart, pages, pageSize);
    if (readable == 0 || (require_full && readable < pages)) return QCRASH_ENOMEM;
    const qcrash_vm_size_t mapped = readable * pageSize;

    uintptr_t local = static_cast<uintptr_t>(pageStart);
    if (!self || copyLimit != 0) {
        void* copy = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (copy == MAP_FAILED) return QCRASH_EINTERNAL;
        if (qcrash_async_task_memcpy(task, pageStart, 0, copy, mapped) != QCRASH_ESUCCESS ||
            mprotect(copy, mapped, PROT_READ) != 0) {
            munmap(copy, mapped);
            return QCRASH_ENOMEM;
        }
        local = reinterpret_cast<uintptr_t>(copy);
        object->vm_address = local;
        object->vm_length = mapped;
    }

    object->task = task;
    object->task_address = task_address;
    object->address = local + (task_address - pageStart);
    const qcrash_vm_size_t available = mapped - (task_address - pageStart);
    object->length = length < available ? length : available;
    object->slide = task_address - object->address;
    return QCRASH_ESUCCESS;
}

qcrash_vm_address_t qcrash_async_mobject_base_address(const qcrash_async_mobject_t* object) {
    return object->task_address;
}

qcrash_vm_size_t qcrash_async_mobject_length(const qcrash_async_mobject_t* object) {
    return object->length;
}

qcrash_task_t qcrash_async_mobject_task(const qcrash_async_mobject_t* object) {
    return object->task;
}

bool qcrash_async_mobject_verify_local_pointer(const qcrash_async_mobject_t* object, uintptr_t local_pointer,
                                               qcrash_vm_off_t offset, qcrash_vm_size_t length) {
    qcrash_vm_address_t start;
    if (!qcrash_async_address_apply_offset(local_pointer, offset, &start)) return false;
    qcrash_vm_address_t end;
    if (__builtin_add_overflow(start, length, &end)) return false;
    if (start < object->address) return false;
    return end <= object->address + object->length;
}

void* qcrash_async_mobject_remap_address(const qcrash_async_mobject_t* object,
                                         qcrash_vm_address_t task_address, qcrash_vm_off_t offset,
                                         qcrash_vm_size_t length) {
    qcrash_vm_address_t target;
    if (!qcrash_async_address_apply_offset(task_address, offset, &target)) return nullptr;
    // Range check in the task's addresses first, so that a slide cannot wrap
    // an outside address into the object.
    if (target < object->task_address || target - object->task_address > object->length) return nullptr;
    const uintptr_t local = static_cast<uintptr_t>(target - object->slide);
    if (!qcrash_async_mobject_verify_local_pointer(object, local, 0, length)) return nullptr;
    return reinterpret_cast<void*>(local);
}

namespace {

const void* checkedLocal(const qcrash_async_mobject_t* object, qcrash_vm_address_t address,
                         qcrash_vm_off_t offset, size_t length) {
    return qcrash_async_mobject_remap_address(object, address, offset, length);
}

}  // namespace

qcrash_error_t qcrash_async_mobject_read_uint8(const qcrash_async_mobject_t* object,
                                               qcrash_vm_address_t task_address, qcrash_vm_off_t offset,
                                               uint8_t* result) {
    const void* p = checkedLocal(object, task_address, offset, sizeof *result);
    if (p == nullptr) return QCRASH_EINVAL;
    *result = *static_cast<const uint8_t*>(p);
    return QCRASH_ESUCCESS;
}

namespace {

// A value of T through the byte order's converter for its width.
template <typename T>
qcrash_error_t readConverted(const qcrash_async_mobject_t* object, qcrash_vm_address_t task_address,
                             qcrash_vm_off_t offset, T (*convert)(T), T* result) {
    const void* p = checkedLocal(object, task_address, offset, sizeof(T));
    if (p == nullptr) return QCRASH_EINVAL;
    T value;
    __builtin_memcpy(&value, p, sizeof value);
    *result = convert(value);
    return QCRASH_ESUCCESS;
}

}  // namespace

qcrash_error_t qcrash_async_mobject_read_uint16(const qcrash_async_mobject_t* object,
                                                const qcrash_async_byteorder_t* byteorder,
                                                qcrash_vm_address_t task_address, qcrash_vm_off_t offset,
                                                uint16_t* result) {
    return readConverted(object, task_address, offset, byteorder->swap16, result);
}

qcrash_error_t qcrash_async_mobject_read_uint32(const qcrash_async_mobject_t* object,
                                                const qcrash_async_byteorder_t* byteorder,
                                                qcrash_vm_address_t task_address, qcrash_vm_off_t offset,
                                                uint32_t* result) {
    return readConverted(object, task_address, offset, byteorder->swap32, result);
}

qcrash_error_t qcrash_async_mobject_read_uint64(const qcrash_async_mobject_t* object,
                                                const qcrash_async_byteorder_t* byteorder,
                                                qcrash_vm_address_t task_address, qcrash_vm_off_t offset,
                                                uint64_t* result) {
    return readConverted(object, task_address, offset, byteorder->swap64, result);
}

void qcrash_async_mobject_free(qcrash_async_mobject_t* object) {
    if (object->vm_address != 0) munmap(reinterpret_cast<void*>(object->vm_address), object->vm_length);
    *object = qcrash_async_mobject_t{};
}

}  // namespace tervolo::crash
