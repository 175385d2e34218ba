#pragma once

// The frame cursor: walks one thread's stack from a register state towards
// its outermost caller, trying for each frame the image's compact unwind
// information, then its DWARF call-frame information, then the frame-pointer
// chain. Async-safe; the image list is marked as being read around every
// lookup.

#include "crash/AsyncImageList.hpp"
#include "crash/AsyncThreadState.hpp"

namespace tervolo::crash {

enum plframe_error_t : int {
    PLFRAME_ESUCCESS = 0,   // "No error"
    PLFRAME_EUNKNOWN = 1,   // "Unknown error"
    PLFRAME_ENOFRAME = 2,   // "No frames are available"
    PLFRAME_EBADFRAME = 3,  // "Corrupted frame"
    PLFRAME_ENOTSUP = 4,    // "Operation not supported"
    PLFRAME_EINVAL = 5,     // "Invalid argument"
    PLFRAME_INTERNAL = 6,   // "Internal error"
    PLFRAME_EBADREG = 7,    // "Invalid register"
};

const char* plframe_strerror(int error);

struct plframe_cursor_t {
    qcrash_task_t task;
    qcrash_async_image_list_t* image_list;
    uint32_t depth;
    qcrash_async_thread_state_t prev_frame;
    qcrash_async_thread_state_t frame;
};

// A frame reader: the next (caller's) state from the current one; `previous`
// is null for the first frame.
using plframe_cursor_frame_reader_t = plframe_error_t (*)(qcrash_task_t task,
                                                          qcrash_async_image_list_t* image_list,
                                                          const qcrash_async_thread_state_t* current,
                                                          const qcrash_async_thread_state_t* previous,
                                                          qcrash_async_thread_state_t* next);

plframe_error_t plframe_cursor_read_compact_unwind(qcrash_task_t, qcrash_async_image_list_t*,
                                                   const qcrash_async_thread_state_t*,
                                                   const qcrash_async_thread_state_t*,
                                                   qcrash_async_thread_state_t*);
plframe_error_t plframe_cursor_read_dwarf_unwind(qcrash_task_t, qcrash_async_image_list_t*,
                                                 const qcrash_async_thread_state_t*,
                                                 const qcrash_async_thread_state_t*,
                                                 qcrash_async_thread_state_t*);
plframe_error_t plframe_cursor_read_frame_ptr(qcrash_task_t, qcrash_async_image_list_t*,
                                              const qcrash_async_thread_state_t*,
                                              const qcrash_async_thread_state_t*,
                                              qcrash_async_thread_state_t*);

plframe_error_t plframe_cursor_init(plframe_cursor_t* cursor, qcrash_task_t task,
                                    const qcrash_async_thread_state_t* initial_state,
                                    qcrash_async_image_list_t* image_list);
// The first call returns the initial state; later ones the next caller. 2
// when the walk has reached its end.
plframe_error_t plframe_cursor_next(plframe_cursor_t* cursor);
plframe_error_t plframe_cursor_next_with_readers(plframe_cursor_t* cursor,
                                                 const plframe_cursor_frame_reader_t* readers,
                                                 uint32_t reader_count);
// 4 when the current frame does not hold the register.
plframe_error_t plframe_cursor_get_reg(const plframe_cursor_t* cursor, uint32_t reg, uint64_t* value);
const char* plframe_cursor_get_regname(const plframe_cursor_t* cursor, uint32_t reg);
uint32_t plframe_cursor_get_regcount(const plframe_cursor_t* cursor);
void plframe_cursor_free(plframe_cursor_t* cursor);

}  // namespace tervolo::crash
