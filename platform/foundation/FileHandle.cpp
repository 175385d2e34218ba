#include "platform/foundation/FileHandle.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {

namespace {
std::atomic<uint64_t> gWriteCalls{0};
}  // namespace

uint64_t FileHandle::writeCallCount() {
    return gWriteCalls.load(std::memory_order_relaxed);
}

Result<std::unique_ptr<FileHandle>> FileHandle::forWriting(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Error::file(errno, "open", path);
    return std::make_unique<FileHandle>(fd);
}

Result<std::unique_ptr<FileHandle>> FileHandle::forAppending(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Error::file(errno, "open", path);
    return std::make_unique<FileHandle>(fd);
}

FileHandle::FileHandle(int fd) : fd_(fd) {}

FileHandle::~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

Result<uint64_t> FileHandle::seekToEnd() {
    const off_t position = ::lseek(fd_, 0, SEEK_END);
    if (position < 0) return Error::posix(errno, "seek to end of file");
    return static_cast<uint64_t>(position);
}

std::optional<Error> FileHandle::write(std::span<const uint8_t> bytes, size_t* written) {
    const uint8_t* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        gWriteCalls.fetch_add(1, std::memory_order_relaxed);
        const ssize_t count = ::write(fd_, data, left);
        if (count < 0) {
            if (errno == EINTR) continue;
            if (written != nullptr) *written = bytes.size() - left;
            return Error::posix(errno, "write to file");
        }
        data += count;
        left -= static_cast<size_t>(count);
    }
    if (written != nullptr) *written = bytes.size();
    return std::nullopt;
}

std::optional<Error> FileHandle::write(std::string_view text) {
    return write(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

Result<uint64_t> FileHandle::offset() const {
    const off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0) return Error::posix(errno, "get file offset");
    return static_cast<uint64_t>(position);
}

std::optional<Error> FileHandle::synchronize() {
    if (::fsync(fd_) != 0) return Error::posix(errno, "synchronize file");
    return std::nullopt;
}

std::optional<Error> FileHandle::close() {
    if (fd_ < 0) return Error::posix(EBADF, "close file");
    const int fd = fd_;
    fd_ = -1;  // released by close() even when it reports an error
    if (::close(fd) != 0) return Error::posix(errno, "close file");
    return std::nullopt;
}

}  // namespace platform
