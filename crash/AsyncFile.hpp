#pragma once

// A buffered writer for a crash report: small writes are gathered in a
// 256-byte buffer inside the record (on the caller's stack at crash time), so
// a report costs few write calls. An output limit caps the bytes accepted;
// once a write is refused for the limit, every later write is refused too.
//
// Async-safe; one thread at a time.

#include <cstddef>
#include <cstdint>

namespace tervolo::crash {

struct qcrash_async_file_t {
    static constexpr size_t kBufferSize = 256;

    int fd = -1;
    // Bytes the file may accept in total; 0 = no limit.
    uint64_t limit_bytes = 0;
    // Bytes accepted so far (buffered or written).
    uint64_t total_bytes = 0;
    // Bytes waiting in the buffer.
    size_t buflen = 0;
    uint8_t buffer[kBufferSize];
};

void qcrash_async_file_init(qcrash_async_file_t* file, int fd, uint64_t output_limit);

// False when the limit refuses the write (nothing of it is accepted) or a
// write to the descriptor fails.
bool qcrash_async_file_write(qcrash_async_file_t* file, const void* data, size_t length);

// Writes out the buffer; false when that fails.
bool qcrash_async_file_flush(qcrash_async_file_t* file);

// Flushes and closes the descriptor; true when both succeed.
bool qcrash_async_file_close(qcrash_async_file_t* file);

}  // namespace tervolo::crash
