#include "crash/AsyncSupport.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.hpp"

namespace tervolo::crash {
namespace {

// Three pages: readable, readable, PROT_NONE; and a fourth that is unmapped.
class Pages {
  public:
    Pages() {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        base_ = static_cast<uint8_t*>(
            mmap(nullptr, 4 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        for (size_t i = 0; i < 2 * page_; ++i) base_[i] = static_cast<uint8_t>(i * 7);
        mprotect(base_ + 2 * page_, page_, PROT_NONE);
        munmap(base_ + 3 * page_, page_);
    }
    ~Pages() { munmap(base_, 3 * page_); }
    uint8_t* base() const { return base_; }
    size_t page() const { return page_; }
    uint64_t address(size_t offset) const { return reinterpret_cast<uint64_t>(base_ + offset); }

  private:
    uint8_t* base_;
    size_t page_;
};

TEST(AsyncSupport, ErrorTexts) {
    const std::vector<std::pair<int, std::string>> cases = {
        {0, "No error"},
        {1, "Unknown error"},
        {2, "Output file can not be opened (or written to)"},
        {3, "No memory available"},
        {4, "Operation not supported"},
        {5, "Invalid argument"},
        {6, "Internal error"},
        {7, "Access denied"},
        {8, "Not found"},
        {9, "The input data is in an unknown or invalid format."},
        {10, "Unhandled error code"},
        {-1, "Unhandled error code"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(qcrash_async_strerror(code), text) << code;
}

TEST(AsyncSupport, ApplyOffsetRefusesOverflowBothWays) {
    struct Case {
        uint64_t base;
        int64_t offset;
        bool ok;
        uint64_t sum;
    } cases[] = {
        {0, -1, false, 0},
        {UINT64_MAX, 1, false, 0},
        {UINT64_MAX, 0, true, UINT64_MAX},
        {0, 0, true, 0},
        {100, -100, true, 0},
        {100, -101, false, 0},
        {1, INT64_MIN, false, 0},
        {UINT64_MAX, INT64_MIN, true, UINT64_MAX - (1ULL << 63)},
        {UINT64_MAX - 5, 5, true, UINT64_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.base) + " + " + std::to_string(c.offset));
        uint64_t sum = 12345;
        EXPECT_EQ(qcrash_async_address_apply_offset(c.base, c.offset, &sum), c.ok);
        if (c.ok) {
            EXPECT_EQ(sum, c.sum);
        }
        EXPECT_EQ(qcrash_async_address_apply_offset(c.base, c.offset, nullptr), c.ok);
    }
}

TEST(AsyncSupport, ByteOrders) {
    const auto* le = qcrash_async_byteorder_little_endian();
    const auto* be = qcrash_async_byteorder_big_endian();
    EXPECT_EQ(le->swap16(0x1234), 0x1234);
    EXPECT_EQ(le->swap32(0x12345678u), 0x12345678u);
    EXPECT_EQ(le->swap64(0x0102030405060708ull), 0x0102030405060708ull);
    EXPECT_EQ(be->swap16(0x1234), 0x3412);
    EXPECT_EQ(be->swap32(0x12345678u), 0x78563412u);
    EXPECT_EQ(be->swap64(0x0102030405060708ull), 0x0807060504030201ull);
}

// Both ways of reading our own memory must give the same answers.
using Copy = qcrash_error_t (*)(uint64_t address, void* dest, uint64_t length);

qcrash_error_t viaTask(uint64_t address, void* dest, uint64_t length) {
    return qcrash_async_task_memcpy(qcrash_task_self(), address, 0, dest, length);
}

class TaskCopy : public ::testing::TestWithParam<Copy> {};

TEST_P(TaskCopy, CopiesReadableMemoryAndRefusesTheRest) {
    const Pages pages;
    const size_t page = pages.page();
    struct Case {
        const char* name;
        size_t offset;
        size_t length;
        qcrash_error_t expected;
    } cases[] = {
        {"inside one page", 10, 100, QCRASH_ESUCCESS},
        {"across the two readable pages", page - 8, 16, QCRASH_ESUCCESS},
        {"two whole pages", 0, 2 * page, QCRASH_ESUCCESS},
        {"into the PROT_NONE page", 2 * page - 4, 8, QCRASH_ENOTFOUND},
        {"inside the PROT_NONE page", 2 * page + 16, 8, QCRASH_ENOTFOUND},
        {"inside the unmapped page", 3 * page + 16, 8, QCRASH_ENOTFOUND},
        {"nothing", 0, 0, QCRASH_ESUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> out(c.length + 1, 0xEE);
        EXPECT_EQ(GetParam()(pages.address(c.offset), out.data(), c.length), c.expected);
        if (c.expected == QCRASH_ESUCCESS) {
            EXPECT_EQ(std::memcmp(out.data(), pages.base() + c.offset, c.length), 0);
            EXPECT_EQ(out[c.length], 0xEE);  // nothing past the end
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OwnProcess, TaskCopy, ::testing::Values(&viaTask, &qcrash_async_self_memcpy_by_pipe),
                         [](const auto& info) { return info.index == 0 ? "KernelRead" : "Pipe"; });

TEST(AsyncSupport, TaskCopyChecksTheOffsetAndReadsWithIt) {
    const uint32_t values[2] = {0x11223344u, 0x55667788u};
    const auto base = reinterpret_cast<uint64_t>(&values[1]);
    uint32_t out = 0;
    EXPECT_EQ(qcrash_async_task_memcpy(qcrash_task_self(), base, -4, &out, 4), QCRASH_ESUCCESS);
    EXPECT_EQ(out, 0x11223344u);
    EXPECT_EQ(qcrash_async_task_memcpy(qcrash_task_self(), 0, -1, &out, 4), QCRASH_ENOMEM);
    EXPECT_EQ(qcrash_async_task_memcpy(qcrash_task_self(), UINT64_MAX, 1, &out, 4), QCRASH_ENOMEM);
    // A range that wraps around the top cannot all be mapped.
    EXPECT_EQ(qcrash_async_task_memcpy(qcrash_task_self(), UINT64_MAX - 1, 0, &out, 4), QCRASH_ENOTFOUND);
}

TEST(AsyncSupport, TaskReadsConvertThroughTheByteOrder) {
    const uint8_t bytes[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    const auto address = reinterpret_cast<uint64_t>(bytes);
    const auto task = qcrash_task_self();
    const auto* be = qcrash_async_byteorder_big_endian();
    const auto* le = qcrash_async_byteorder_little_endian();
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    uint64_t u64 = 0;
    ASSERT_EQ(qcrash_async_task_read_uint8(task, address, 7, &u8), QCRASH_ESUCCESS);
    EXPECT_EQ(u8, 0x08);
    ASSERT_EQ(qcrash_async_task_read_uint16(task, be, address, 0, &u16), QCRASH_ESUCCESS);
    EXPECT_EQ(u16, 0x0102);
    ASSERT_EQ(qcrash_async_task_read_uint32(task, le, address, 4, &u32), QCRASH_ESUCCESS);
    EXPECT_EQ(u32, 0x08070605u);
    ASSERT_EQ(qcrash_async_task_read_uint64(task, be, address, 0, &u64), QCRASH_ESUCCESS);
    EXPECT_EQ(u64, 0x0102030405060708ull);
    // A failed read leaves the value alone.
    u32 = 99;
    EXPECT_EQ(qcrash_async_task_read_uint32(task, le, 0, 0, &u32), QCRASH_ENOTFOUND);
    EXPECT_EQ(u32, 99u);
}

TEST(AsyncSupport, TaskCopyReadsAnotherProcess) {
    // After fork the child has our layout: its copy of `value` lies at the
    // same address but holds what the child wrote there.
    static volatile uint64_t value = 1;
    int ready[2];
    int done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    if (child == 0) {
        value = 0xC0FFEE;
        char c = 'r';
        if (write(ready[1], &c, 1) != 1) _exit(1);
        if (read(done[0], &c, 1) < 0) _exit(1);
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    uint64_t out = 0;
    EXPECT_EQ(qcrash_async_task_memcpy(child, reinterpret_cast<uint64_t>(&value), 0, &out, sizeof out),
              QCRASH_ESUCCESS);
    EXPECT_EQ(out, 0xC0FFEEu);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(qcrash_async_task_memcpy(child, 0, 0, &out, sizeof out), QCRASH_ENOTFOUND);
    ASSERT_EQ(write(done[1], &c, 1), 1);
    int status;
    waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
    // A process that is gone cannot be read.
    EXPECT_EQ(qcrash_async_task_memcpy(child, reinterpret_cast<uint64_t>(&value), 0, &out, sizeof out),
              QCRASH_EUNKNOWN);
}

TEST(AsyncSupport, StringAndMemoryRoutines) {
    struct Case {
        const char* a;
        const char* b;
        size_t n;
        int cmp;   // sign of strcmp
        int ncmp;  // sign of strncmp with n
    } cases[] = {
        {"abc", "abc", 3, 0, 0}, {"abc", "abd", 2, -1, 0}, {"abd", "abc", 3, 1, 1}, {"ab", "abc", 5, -1, -1},
        {"", "", 0, 0, 0},       {"a", "", 1, 1, 1},       {"\xff", "a", 1, 1, 1},  {"abc", "abX", 0, 1, 0},
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(sign(qcrash_async_strcmp(c.a, c.b)), c.cmp);
        EXPECT_EQ(sign(qcrash_async_strncmp(c.a, c.b, c.n)), c.ncmp);
    }
    // The result is the difference of the first differing bytes.
    EXPECT_EQ(qcrash_async_strcmp("abc", "abe"), 'c' - 'e');
    EXPECT_EQ(qcrash_async_strlen("hello"), 5u);

    uint8_t buffer[8] = {};
    qcrash_async_memset(buffer + 1, 0xAB, 6);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[6], 0xAB);
    EXPECT_EQ(buffer[7], 0);
    const uint8_t source[3] = {1, 2, 3};
    EXPECT_EQ(qcrash_async_memcpy(buffer, source, 3), buffer);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(buffer[3], 0xAB);
}

TEST(AsyncSupport, WritenRepeatsAfterSignalsAndReportsOtherFailures) {
    // A blocking write of more than a pipe holds is interrupted by SIGALRM
    // (a handler without SA_RESTART) while a reader drains the pipe slowly.
    auto result = testing::runInChild([](int reportFd) {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigaction(SIGALRM, &action, nullptr);
        int fds[2];
        if (pipe(fds) != 0) _exit(2);
        const size_t total = 4 << 20;
        std::vector<uint8_t> data(total);
        for (size_t i = 0; i < total; ++i) data[i] = static_cast<uint8_t>(i % 251);
        struct itimerval timer {};
        timer.it_interval.tv_usec = 1000;
        timer.it_value.tv_usec = 1000;
        setitimer(ITIMER_REAL, &timer, nullptr);
        uint64_t received = 0;
        bool same = true;
        std::thread reader([&] {
            std::vector<uint8_t> chunk(4096);
            ssize_t n;
            while (received < total &&
                   ((n = read(fds[0], chunk.data(), chunk.size())) > 0 || errno == EINTR)) {
                for (ssize_t i = 0; i < n; ++i) same = same && chunk[i] == data[received + i];
                if (n > 0) received += static_cast<uint64_t>(n);
            }
        });
        const ssize_t written = qcrash_async_writen(fds[1], data.data(), total);
        reader.join();
        const struct itimerval off {};
        setitimer(ITIMER_REAL, &off, nullptr);
        if (written == static_cast<ssize_t>(total) && received == total && same)
            testing::report(reportFd, "ok");
    });
    EXPECT_TRUE(result.exited) << "signal " << result.signal;
    EXPECT_EQ(result.output, "ok");

    EXPECT_EQ(qcrash_async_writen(-1, "x", 1), -1);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(qcrash_async_writen(fds[1], "x", 1), -1);  // EPIPE
    close(fds[1]);
}

TEST(AsyncSupport, ThreadIdIsTheKernelsAndDiffersBetweenThreads) {
    const uint32_t mine = pl_mach_thread_self();
    EXPECT_EQ(mine, static_cast<uint32_t>(gettid()));
    uint32_t other = 0;
    std::thread([&] { other = pl_mach_thread_self(); }).join();
    EXPECT_NE(other, mine);
}

}  // namespace
}  // namespace tervolo::crash
