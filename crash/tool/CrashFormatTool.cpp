// tervolo_crash_format <report file>: writes the report's text crash log (UTF-8) to standard
// output. Exit status 0 when written, 1 when the file cannot be read or decoded or the output
// cannot be written (the reason on standard error), 2 without exactly one argument.
//
// The tool runs once per report, so what a fresh process pays counts: the file is mapped and
// its pages populated in one call rather than faulted in one by one, and the text goes out in
// pieces as it is made: one piece's buffer, warm in the cache, instead of the whole text's
// worth of fresh pages.
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "crash/QCrashReport.hpp"
#include "crash/QCrashReportTextFormatter.hpp"

namespace {

void printError(std::string_view what, std::string_view detail) {
    std::string line = "tervolo_crash_format: ";
    line.append(what);
    line.append(": ");
    line.append(detail);
    line.push_back('\n');
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The file's bytes, mapped read-only for the lifetime of the object.
class MappedFile {
  public:
    explicit MappedFile(const char* path) {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error_ = errno;
            return;
        }
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            error_ = errno;
        } else if (!S_ISREG(info.st_mode)) {
            error_ = EINVAL;
        } else if (info.st_size > 0) {
            size_ = static_cast<size_t>(info.st_size);
            void* data = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
            if (data == MAP_FAILED) {
                error_ = errno;
                size_ = 0;
            } else {
                data_ = static_cast<const uint8_t*>(data);
            }
        }
        ::close(fd);
    }
    ~MappedFile() {
        if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    int error() const { return error_; }
    std::span<const uint8_t> bytes() const { return {data_, size_}; }

  private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    int error_ = 0;
};

// The unpacked message (which the model's texts point into) and the model take about eight
// times the file's size of heap, in a few large blocks and thousands of small pieces. A fresh
// heap grows a page fault at a time as they are written; here the heap is grown once to that size,
// its pages populated in one call, and kept: large blocks come from it too instead of from fresh
// mappings, and nothing is handed back to the system before the process ends.
void prepareHeap(size_t fileSize) {
    const size_t expected = std::min<size_t>(fileSize * 8 + (256u << 10), 64u << 20);
    // Blocks up to that size come from the heap, and a free top of the heap up to twice that
    // stays with the process.
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(expected * 2));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(expected * 2));
    void* block = std::malloc(expected);
    if (block == nullptr) return;
    const auto pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t from = (reinterpret_cast<uintptr_t>(block) + pageSize - 1) & ~(pageSize - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(block) + expected) & ~(pageSize - 1);
    // Best effort: without MADV_POPULATE_WRITE (older kernels) the pages fault in as before.
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    std::free(block);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        printError("usage", "tervolo_crash_format <report file>");
        return 2;
    }
    const MappedFile file(argv[1]);
    if (file.error() != 0) {
        printError(argv[1], std::strerror(file.error()));
        return 1;
    }
    prepareHeap(file.bytes().size());
    platform::Error error;
    const auto report = tervolo::crash::QCrashReport::create(file.bytes(), &error);
    if (!report) {
        printError(argv[1], error.description);
        return 1;
    }
    // UTF-8: the text's own bytes, as formatReport would give them.
    const bool written = tervolo::crash::QCrashReportTextFormatter::writeCrashReport(
        *report, [](std::string_view piece) { return writeAll(STDOUT_FILENO, piece); });
    if (!written) {
        printError("standard output", std::strerror(errno));
        return 1;
    }
    return 0;
}
