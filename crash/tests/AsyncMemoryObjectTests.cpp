#include "crash/AsyncMemoryObject.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace tervolo::crash {
namespace {

// Three pages: readable, readable, PROT_NONE.
class MemoryObject : public ::testing::Test {
  protected:
    void SetUp() override {
        page_ = qcrash_async_page_size();
        base_ = static_cast<uint8_t*>(
            mmap(nullptr, 3 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ASSERT_NE(base_, MAP_FAILED);
        for (size_t i = 0; i < 2 * page_; ++i) base_[i] = static_cast<uint8_t>(i);
        mprotect(base_ + 2 * page_, page_, PROT_NONE);
    }
    void TearDown() override { munmap(base_, 3 * page_); }

    uint64_t address(uint64_t offset) const { return reinterpret_cast<uint64_t>(base_) + offset; }

    uint8_t* base_ = nullptr;
    uint64_t page_ = 0;
};

TEST_F(MemoryObject, PartlyUnreadableRangeShrinksUnlessTheWholeRangeIsRequired) {
    qcrash_async_mobject_t object;
    // Starts 100 bytes into the first page and asks for all three pages.
    ASSERT_EQ(qcrash_async_mobject_init(&object, qcrash_task_self(), address(100), 3 * page_, false),
              QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_mobject_base_address(&object), address(100));
    EXPECT_EQ(qcrash_async_mobject_length(&object), 2 * page_ - 100);
    EXPECT_EQ(qcrash_async_mobject_task(&object), qcrash_task_self());
    uint8_t byte = 0;
    EXPECT_EQ(qcrash_async_mobject_read_uint8(&object, address(2 * page_ - 1), 0, &byte), QCRASH_ESUCCESS);
    EXPECT_EQ(byte, static_cast<uint8_t>(2 * page_ - 1));
    EXPECT_EQ(qcrash_async_mobject_read_uint8(&object, address(2 * page_), 0, &byte), QCRASH_EINVAL);
    qcrash_async_mobject_free(&object);

    EXPECT_EQ(qcrash_async_mobject_init(&object, qcrash_task_self(), address(100), 3 * page_, true),
              QCRASH_ENOMEM);
    // Nothing readable at all.
    EXPECT_EQ(qcrash_async_mobject_init(&object, qcrash_task_self(), address(2 * page_), 16, false),
              QCRASH_ENOMEM);
    // A range that wraps around the top is refused before any probing.
    EXPECT_EQ(qcrash_async_mobject_init(&object, qcrash_task_self(), UINT64_MAX - 4, 16, false),
              QCRASH_EINVAL);
}

TEST_F(MemoryObject, ReadsAreBoundsCheckedToTheLastByte) {
    qcrash_async_mobject_t object;
    ASSERT_EQ(qcrash_async_mobject_init(&object, qcrash_task_self(), address(16), 64, true), QCRASH_ESUCCESS);
    const auto* le = qcrash_async_byteorder_little_endian();
    const auto* be = qcrash_async_byteorder_big_endian();
    struct Case {
        const char* name;
        uint64_t offset;  // from the object's start
        int width;
        qcrash_error_t expected;
    } cases[] = {
        {"first byte", 0, 1, QCRASH_ESUCCESS},
        {"last 8 bytes", 56, 8, QCRASH_ESUCCESS},
        {"last 4 bytes", 60, 4, QCRASH_ESUCCESS},
        {"last 2 bytes", 62, 2, QCRASH_ESUCCESS},
        {"last byte one past the end", 57, 8, QCRASH_EINVAL},
        {"32-bit one past", 61, 4, QCRASH_EINVAL},
        {"16-bit one past", 63, 2, QCRASH_EINVAL},
        {"8-bit at the end", 64, 1, QCRASH_EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t at = address(16);
        const uint8_t* p = base_ + 16 + c.offset;
        switch (c.width) {
            case 1: {
                uint8_t v = 0;
                EXPECT_EQ(qcrash_async_mobject_read_uint8(&object, at, static_cast<int64_t>(c.offset), &v),
                          c.expected);
                if (c.expected == QCRASH_ESUCCESS) {
                    EXPECT_EQ(v, p[0]);
                }
                break;
            }
            case 2: {
                uint16_t v = 0;
                EXPECT_EQ(
                    qcrash_async_mobject_read_uint16(&object, be, at, static_cast<int64_t>(c.offset), &v),
                    c.expected);
                if (c.expected == QCRASH_ESUCCESS) {
                    EXPECT_EQ(v, (p[0] << 8) | p[1]);
                }
                break;
            }
            case 4: {
                uint32_t v = 0;
                EXPECT_EQ(
                    qcrash_async_mobject_read_uint32(&object, le, at, static_cast<int64_t>(c.offset), &v),
                    c.expected);
                uint32_t expected;
                std::memcpy(&expected, p, 4);
                if (c.expected == QCRASH_ESUCCESS) {
                    EXPECT_EQ(v, expected);
                }
                break;
            }
            default: {
                uint64_t v = 0;
                EXPECT_EQ(
                    qcrash_async_mobject_read_uint64(&object, be, at, static_cast<int64_t>(c.offset), &v),
                    c.expected);
                uint64_t expected;
                std::memcpy(&expected, p, 8);
                if (c.expected == QCRASH_ESUCCESS) {
                    EXPECT_EQ(v, __builtin_bswap64(expected));
                }
                break;
            }
        }
    }
    // Before the start, and through an offset that wraps.
    uint8_t v;
    EXPECT_EQ(qcrash_async_mobject_read_uint8(&object, address(15), 0, &v), QCRASH_EINVAL);
    EXPECT_EQ(qcrash_async_mobject_read_uint8(&object, address(16), INT64_MIN, &v), QCRASH_EINVAL);
    qcrash_async_mobject_free(&object);
}

TEST_F(MemoryObject, RemapAndVerifyLocalPointers) {
    qcrash_async_mobject_t object;
    ASSERT_EQ(qcrash_async_mobject_init(&object, qcrash_task_self(), address(32), 100, true),
              QCRASH_ESUCCESS);
    // Our own memory is viewed in place.
    EXPECT_EQ(qcrash_async_mobject_remap_address(&object, address(32), 10, 5), base_ + 42);
    EXPECT_EQ(qcrash_async_mobject_remap_address(&object, address(32), 0, 100), base_ + 32);
    EXPECT_EQ(qcrash_async_mobject_remap_address(&object, address(32), 1, 100), nullptr);
    EXPECT_EQ(qcrash_async_mobject_remap_address(&object, address(31), 0, 1), nullptr);
    EXPECT_EQ(qcrash_async_mobject_remap_address(&object, address(32), 0, UINT64_MAX), nullptr);

    const auto local = reinterpret_cast<uintptr_t>(base_ + 32);
    EXPECT_TRUE(qcrash_async_mobject_verify_local_pointer(&object, local, 0, 100));
    EXPECT_TRUE(qcrash_async_mobject_verify_local_pointer(&object, local, 100, 0));
    EXPECT_FALSE(qcrash_async_mobject_verify_local_pointer(&object, local, 99, 2));
    EXPECT_FALSE(qcrash_async_mobject_verify_local_pointer(&object, local, -1, 1));
    EXPECT_FALSE(qcrash_async_mobject_verify_local_pointer(&object, local, 1, UINT64_MAX));
    qcrash_async_mobject_free(&object);
}

TEST_F(MemoryObject, AnotherProcessIsReadThroughACopyWithASlide) {
    int ready[2];
    int done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    if (child == 0) {
        std::memset(base_, 0x5A, 2 * page_);
        char c = 'r';
        if (write(ready[1], &c, 1) != 1) _exit(1);
        if (read(done[0], &c, 1) < 0) _exit(1);
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);

    qcrash_async_mobject_t object;
    ASSERT_EQ(qcrash_async_mobject_init(&object, child, address(8), 3 * page_, false), QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_mobject_length(&object), 2 * page_ - 8);
    EXPECT_NE(object.slide, 0u);
    const auto* p =
        static_cast<const uint8_t*>(qcrash_async_mobject_remap_address(&object, address(8), 0, 4));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(p, base_ + 8);
    EXPECT_EQ(p[0], 0x5A);  // the child's bytes, not ours
    uint32_t v = 0;
    EXPECT_EQ(qcrash_async_mobject_read_uint32(&object, qcrash_async_byteorder_little_endian(),
                                               address(page_), 0, &v),
              QCRASH_ESUCCESS);
    EXPECT_EQ(v, 0x5A5A5A5Au);
    qcrash_async_mobject_free(&object);
    EXPECT_EQ(qcrash_async_mobject_init(&object, child, address(2 * page_), 8, false), QCRASH_ENOMEM);

    ASSERT_EQ(write(done[1], &c, 1), 1);
    int status;
    waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

}  // namespace
}  // namespace tervolo::crash
