#include "crash/AsyncFile.hpp"

#include <unistd.h>

#include "crash/AsyncSupport.hpp"

namespace tervolo::crash {

void qcrash_async_file_init(qcrash_async_file_t* file, int fd, uint64_t output_limit) {
    file->fd = fd;
    file->limit_bytes = output_limit;
    file->total_bytes = 0;
    file->buflen = 0;
}

bool qcrash_async_file_write(qcrash_async_file_t* file, const void* data, size_t length) {
    if (file->limit_bytes != 0) {
        // Counted even when refused, so that every later write is refused
        // too: a report with a gap in the middle is worse than a short one.
        uint64_t total;
        if (__builtin_add_overflow(file->total_bytes, length, &total) || total > file->limit_bytes) {
            file->total_bytes = file->limit_bytes + 1;
            return false;
        }
        file->total_bytes = total;
    }
    if (file->buflen + length > qcrash_async_file_t::kBufferSize) {
        if (!qcrash_async_file_flush(file)) return false;
    }
    if (length > qcrash_async_file_t::kBufferSize) {
        return qcrash_async_writen(file->fd, data, length) >= 0;
    }
    qcrash_async_memcpy(file->buffer + file->buflen, data, length);
    file->buflen += length;
    return true;
}

bool qcrash_async_file_flush(qcrash_async_file_t* file) {
    if (file->buflen == 0) return true;
    const ssize_t written = qcrash_async_writen(file->fd, file->buffer, file->buflen);
    file->buflen = 0;
    return written >= 0;
}

bool qcrash_async_file_close(qcrash_async_file_t* file) {
    const bool flushed = qcrash_async_file_flush(file);
    const bool closed = close(file->fd) == 0;
    file->fd = -1;
    return flushed && closed;
}

}  // namespace tervolo::crash
