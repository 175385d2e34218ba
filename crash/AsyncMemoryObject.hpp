#pragma once

// A memory object: a read-only, bounds-checked view of a range of a task's
// memory, for readers of image, unwind and symbol data inside a crash
// handler.
//
// Our own process is viewed in place (slide 0, nothing to release): the
// range is probed page by page at set-up, and the crash handler's readers
// run while the other threads are parked, so the probed pages stay mapped.
// Another process's range is copied into pages of our own at set-up, and the
// slide says how far the copy lies from the original.
//
// Async-safe: no heap (copies live in pages mapped with mmap), no locks.

#include "crash/AsyncSupport.hpp"

namespace tervolo::crash {

struct qcrash_async_mobject_t {
    qcrash_task_t task = 0;
    // Local address at which the requested range starts.
    uintptr_t address = 0;
    // The requested start in the task.
    qcrash_vm_address_t task_address = 0;
    // Usable length, at most the requested one.
    qcrash_vm_size_t length = 0;
    // task_address - address (modulo 2^64).
    qcrash_vm_address_t slide = 0;
    // Pages mapped for a copy, released by qcrash_async_mobject_free; 0 for
    // an in-place view.
    uintptr_t vm_address = 0;
    size_t vm_length = 0;
};

// Sets up `object` over [task_address, task_address + length). Without
// `require_full` the range shrinks to its readable beginning (whole pages);
// when not even its first page is readable the result is 3. With
// `require_full` any unreadable page gives 3. A range that wraps gives 5. A
// failed set-up holds nothing that needs freeing.
qcrash_error_t qcrash_async_mobject_init(qcrash_async_mobject_t* object, qcrash_task_t task,
                                         qcrash_vm_address_t task_address, qcrash_vm_size_t length,
                                         bool require_full);

qcrash_vm_address_t qcrash_async_mobject_base_address(const qcrash_async_mobject_t* object);
qcrash_vm_size_t qcrash_async_mobject_length(const qcrash_async_mobject_t* object);
qcrash_task_t qcrash_async_mobject_task(const qcrash_async_mobject_t* object);

// Whether local pointer + offset, and that plus length, neither overflow nor
// leave [address, address + length] of the object.
bool qcrash_async_mobject_verify_local_pointer(const qcrash_async_mobject_t* object, uintptr_t local_pointer,
                                               qcrash_vm_off_t offset, qcrash_vm_size_t length);

// The local pointer for task_address + offset when `length` bytes from there
// lie inside the object, else null.
void* qcrash_async_mobject_remap_address(const qcrash_async_mobject_t* object,
                                         qcrash_vm_address_t task_address, qcrash_vm_off_t offset,
                                         qcrash_vm_size_t length);

// Bounds-checked reads through the byte order; 5 when the value's bytes are
// not all inside the object.
qcrash_error_t qcrash_async_mobject_read_uint8(const qcrash_async_mobject_t* object,
                                               qcrash_vm_address_t task_address, qcrash_vm_off_t offset,
                                               uint8_t* result);
qcrash_error_t qcrash_async_mobject_read_uint16(const qcrash_async_mobject_t* object,
                                                const qcrash_async_byteorder_t* byteorder,
                                                qcrash_vm_address_t task_address, qcrash_vm_off_t offset,
                                                uint16_t* result);
qcrash_error_t qcrash_async_mobject_read_uint32(const qcrash_async_mobject_t* object,
                                                const qcrash_async_byteorder_t* byteorder,
                                                qcrash_vm_address_t task_address, qcrash_vm_off_t offset,
                                                uint32_t* result);
qcrash_error_t qcrash_async_mobject_read_uint64(const qcrash_async_mobject_t* object,
                                                const qcrash_async_byteorder_t* byteorder,
                                                qcrash_vm_address_t task_address, qcrash_vm_off_t offset,
                                                uint64_t* result);

// Releases the copy, if any; the object is empty afterwards.
void qcrash_async_mobject_free(qcrash_async_mobject_t* object);

// Makes memory objects of our own process copies of at most `max_bytes`
// (0, the default: view our own memory in place). For fuzzing, where image
// data points anywhere in the process and in-place reads would meet the
// address sanitizer's poisoned memory.
void qcrash_async_mobject_copy_own_memory(qcrash_vm_size_t max_bytes);

// The system page size (read when the program loads).
qcrash_vm_size_t qcrash_async_page_size();

}  // namespace tervolo::crash
