#pragma once

// The compact unwind reader: finds a function's 32-bit encoding in an
// image's "__TEXT" "__unwind_info" section (a two-level index of regular or
// compressed pages), decodes it for 64-bit ARM, x86-64 or x86, and applies it
// to a frame's registers to produce the caller's. Async-safe.
//
// ELF images have no such section; the frame cursor then moves on to the
// DWARF reader.

#include "crash/AsyncMemoryObject.hpp"
#include "crash/AsyncThreadState.hpp"

namespace tervolo::crash {

enum qcrash_async_cfe_type : uint32_t {
    QCRASH_ASYNC_CFE_TYPE_FRAME_PTR = 1,
    QCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD = 2,
    QCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT = 3,
    QCRASH_ASYNC_CFE_TYPE_DWARF = 4,
    QCRASH_ASYNC_CFE_TYPE_NONE = 5,
};

inline constexpr uint32_t QCRASH_ASYNC_CFE_SAVED_REGISTER_MAX = 10;

struct qcrash_async_cfe_reader_t {
    const qcrash_async_mobject_t* mobj;
    int32_t cpu_type;
    const qcrash_async_byteorder_t* byteorder;
    // Header fields.
    uint32_t common_encodings_offset, common_encodings_count;
    uint32_t index_offset, index_count;
};

struct qcrash_async_cfe_entry_t {
    qcrash_async_cfe_type type;
    int32_t cpu_type;
    // Frame kind: offset of the saved registers from the frame pointer;
    // frameless: the stack size (or, indirect, where the size lies in the
    // function); DWARF: the FDE's offset.
    int64_t stack_offset;
    // Frameless indirect only.
    uint32_t stack_adjust;
    // A register number, or QCRASH_REG_INVALID for "on the stack".
    uint32_t return_address_register;
    uint32_t register_count;
    uint32_t register_list[QCRASH_ASYNC_CFE_SAVED_REGISTER_MAX];
};

qcrash_error_t qcrash_async_cfe_reader_init(qcrash_async_cfe_reader_t* reader,
                                            const qcrash_async_mobject_t* mobj, int32_t cpu_type);
// `pc` is an offset from the image header.
qcrash_error_t qcrash_async_cfe_reader_find_pc(const qcrash_async_cfe_reader_t* reader, uint64_t pc,
                                               uint32_t* function_offset, uint32_t* encoding);
void qcrash_async_cfe_reader_free(qcrash_async_cfe_reader_t* reader);

qcrash_error_t qcrash_async_cfe_entry_init(qcrash_async_cfe_entry_t* entry, int32_t cpu_type,
                                           uint32_t encoding);
void qcrash_async_cfe_entry_free(qcrash_async_cfe_entry_t* entry);
qcrash_async_cfe_type qcrash_async_cfe_entry_type(const qcrash_async_cfe_entry_t* entry);
int64_t qcrash_async_cfe_entry_stack_offset(const qcrash_async_cfe_entry_t* entry);
uint32_t qcrash_async_cfe_entry_stack_adjustment(const qcrash_async_cfe_entry_t* entry);
uint32_t qcrash_async_cfe_entry_return_address_register(const qcrash_async_cfe_entry_t* entry);
uint32_t qcrash_async_cfe_entry_register_count(const qcrash_async_cfe_entry_t* entry);
void qcrash_async_cfe_entry_register_list(const qcrash_async_cfe_entry_t* entry, uint32_t* register_list);

// The caller's registers from `current`; `function_address` is the
// function's start in the task (for the indirect stack size).
qcrash_error_t qcrash_async_cfe_entry_apply(qcrash_task_t task, uint64_t function_address,
                                            const qcrash_async_thread_state_t* current,
                                            const qcrash_async_cfe_entry_t* entry,
                                            qcrash_async_thread_state_t* caller);

// The permutation code of the x86 frameless encodings: registers are the
// encoding's numbers 1 to 6, count 1 to 6.
uint32_t qcrash_async_cfe_register_encode(const uint32_t* register_list, uint32_t count);
qcrash_error_t qcrash_async_cfe_register_decode(uint32_t permutation, uint32_t count,
                                                uint32_t* register_list);

}  // namespace tervolo::crash
