#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/Result.hpp"

namespace platform {

// A descriptor opened for writing (log files): every operation returns an
// error instead of throwing. The destructor closes a still-open descriptor.
class FileHandle {
  public:
    // Opens an existing file for writing (no create, no truncate), like the
    // platform's "file handle for writing at path".
    static Result<std::unique_ptr<FileHandle>> forWriting(const std::string& path);
    // The same with every write appended at the end of the file (O_APPEND),
    // atomically with respect to other writers of the file (log files).
    static Result<std::unique_ptr<FileHandle>> forAppending(const std::string& path);
    // Takes ownership of an open descriptor.
    explicit FileHandle(int fd);
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Returns the new offset (bytes).
    Result<uint64_t> seekToEnd();
    // Writes all bytes (retrying short writes and EINTR). On an error,
    // `written` (when given) tells how many bytes did reach the file.
    std::optional<Error> write(std::span<const uint8_t> bytes, size_t* written = nullptr);
    std::optional<Error> write(std::string_view text);
    Result<uint64_t> offset() const;
    std::optional<Error> synchronize();  // fsync
    std::optional<Error> close();        // later calls fail with EBADF
    int fd() const { return fd_; }       // -1 once closed
    bool isOpen() const { return fd_ >= 0; }
    // write(2) calls made by all handles of the process so far (tests and
    // benchmarks count the calls a writer makes with it).
    static uint64_t writeCallCount();

  private:
    int fd_ = -1;
};

}  // namespace platform
