#include "crash/AsyncFile.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tervolo::crash {
namespace {

// A pipe stands for the file: what reached the descriptor can be read back
// at once, without a file system.
class AsyncFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(pipe2(fds_, O_NONBLOCK), 0);
        fcntl(fds_[1], F_SETPIPE_SZ, 1 << 20);
    }
    void TearDown() override {
        close(fds_[0]);
        if (fds_[1] >= 0) close(fds_[1]);
    }
    size_t reachedDescriptor() {
        std::vector<char> buffer(1 << 20);
        const ssize_t n = read(fds_[0], buffer.data(), buffer.size());
        if (n > 0) received_.append(buffer.data(), static_cast<size_t>(n));
        return n > 0 ? static_cast<size_t>(n) : 0;
    }

    int fds_[2] = {-1, -1};
    std::string received_;
};

TEST_F(AsyncFile, SmallWritesWaitInTheBufferLargeOnesGoStraightThrough) {
    qcrash_async_file_t file;
    qcrash_async_file_init(&file, fds_[1], 0);
    const std::string exact(256, 'a');
    ASSERT_TRUE(qcrash_async_file_write(&file, exact.data(), exact.size()));
    EXPECT_EQ(reachedDescriptor(), 0u);
    EXPECT_EQ(file.buflen, 256u);

    // One more byte does not fit: the buffer goes out first, then the byte waits.
    ASSERT_TRUE(qcrash_async_file_write(&file, "b", 1));
    EXPECT_EQ(reachedDescriptor(), 256u);
    EXPECT_EQ(file.buflen, 1u);

    // 257 bytes: the buffered byte goes out, then the 257 bytes directly.
    const std::string large(257, 'c');
    ASSERT_TRUE(qcrash_async_file_write(&file, large.data(), large.size()));
    EXPECT_EQ(reachedDescriptor(), 258u);
    EXPECT_EQ(file.buflen, 0u);

    ASSERT_TRUE(qcrash_async_file_write(&file, "tail", 4));
    ASSERT_TRUE(qcrash_async_file_flush(&file));
    EXPECT_EQ(reachedDescriptor(), 4u);
    EXPECT_EQ(received_, exact + "b" + large + "tail");
}

TEST_F(AsyncFile, DirectWriteOfAnEmptyBuffer) {
    qcrash_async_file_t file;
    qcrash_async_file_init(&file, fds_[1], 0);
    const std::string large(257, 'x');
    ASSERT_TRUE(qcrash_async_file_write(&file, large.data(), large.size()));
    EXPECT_EQ(reachedDescriptor(), 257u);
}

TEST_F(AsyncFile, OnceTheLimitRefusesAWriteEveryLaterWriteIsRefused) {
    qcrash_async_file_t file;
    qcrash_async_file_init(&file, fds_[1], 10);
    EXPECT_TRUE(qcrash_async_file_write(&file, "12345678", 8));
    EXPECT_FALSE(qcrash_async_file_write(&file, "abc", 3));
    // Would fit the limit on its own, but the report already has a gap.
    EXPECT_FALSE(qcrash_async_file_write(&file, "x", 1));
    EXPECT_FALSE(qcrash_async_file_write(&file, "", 0));
    EXPECT_TRUE(qcrash_async_file_close(&file));
    fds_[1] = -1;
    reachedDescriptor();
    EXPECT_EQ(received_, "12345678");

    qcrash_async_file_t exact;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    qcrash_async_file_init(&exact, fds[1], 10);
    EXPECT_TRUE(qcrash_async_file_write(&exact, "1234567890", 10));  // exactly the limit
    EXPECT_FALSE(qcrash_async_file_write(&exact, "1", 1));
    EXPECT_TRUE(qcrash_async_file_close(&exact));
    close(fds[0]);
}

TEST_F(AsyncFile, WriteFailuresAreReported) {
    qcrash_async_file_t file;
    qcrash_async_file_init(&file, -1, 0);
    EXPECT_TRUE(qcrash_async_file_write(&file, "small", 5));  // only buffered so far
    EXPECT_FALSE(qcrash_async_file_flush(&file));
    EXPECT_FALSE(qcrash_async_file_write(&file, std::string(300, 'x').data(), 300));
    EXPECT_TRUE(qcrash_async_file_write(&file, "again", 5));
    EXPECT_FALSE(qcrash_async_file_close(&file));
}

}  // namespace
}  // namespace tervolo::crash
