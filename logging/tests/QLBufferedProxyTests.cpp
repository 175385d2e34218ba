#include "logging/QLBufferedProxy.hpp"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <atomic>
#include <memory>
#include <string>

#include "logging/QLLog.hpp"
#include "logging/tests/LogFileTestSupport.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::logging {
namespace {

using testing::makeRecord;
using testing::readText;

// Counts the writes that reach the file.
class CountingFileLogger : public QLFileLogger {
  public:
    using QLFileLogger::QLFileLogger;
    void didLogMessage(const std::shared_ptr<QLLogFileInfo>& info) override {
        ++writes;
        QLFileLogger::didLogMessage(info);
    }
    std::atomic<int> writes{0};
};

class NothingFormatter : public QLLogFormatter {
  public:
    std::optional<std::string> formatLogMessage(const QLLogMessage&) override { return std::nullopt; }
};

class QLBufferedProxyTest : public testing::LogFolderTest {
  protected:
    QLBufferedProxyTest()
        : manager_(makeManager()),
          logger_(std::make_shared<CountingFileLogger>(manager_)),
          proxy_(logger_->wrapWithBuffer()) {
        logger_->setLogFormatter(nullptr);
        (void)logger_->logFormatter();
    }
    // As the registry calls a logger: on its queue.
    void log(const std::string& text) {
        proxy_->loggerQueue()->sync([&] { proxy_->logMessage(makeRecord(text)); });
    }
    uint64_t fileSize() {
        const auto files = manager_->unsortedLogFilePaths();
        return files.empty() ? 0 : readText(files.front()).size();
    }
    size_t collected() {
        size_t size = 0;
        proxy_->loggerQueue()->sync([&] { size = proxy_->currentBufferSizeBytes(); });
        return size;
    }

    std::shared_ptr<QLLogFileManagerDefault> manager_;
    std::shared_ptr<CountingFileLogger> logger_;
    std::shared_ptr<QLBufferedProxy> proxy_;
};

TEST_F(QLBufferedProxyTest, WritesInGroupsThatReachTheThreshold) {
    proxy_->setMaxBufferSizeBytes(4096);
    const std::string record(999, 'r');  // 1000 bytes with its newline
    for (int i = 1; i <= 4; ++i) log(record);
    EXPECT_EQ(logger_->writes.load(), 0);
    EXPECT_EQ(fileSize(), 0u);
    EXPECT_EQ(collected(), 4000u);

    log(record);  // 5000 collected: one write
    EXPECT_EQ(logger_->writes.load(), 1);
    EXPECT_EQ(fileSize(), 5000u);
    EXPECT_EQ(collected(), 0u);

    for (int i = 0; i < 5; ++i) log(record);
    EXPECT_EQ(logger_->writes.load(), 2);
    EXPECT_EQ(fileSize(), 10000u);
}

TEST_F(QLBufferedProxyTest, FlushAndReleaseWriteOutWhatIsCollected) {
    log("one");
    EXPECT_EQ(fileSize(), 0u);
    proxy_->flush();
    EXPECT_EQ(fileSize(), 4u);
    EXPECT_EQ(collected(), 0u);

    log("two");
    proxy_.reset();  // release
    EXPECT_EQ(fileSize(), 8u);
    EXPECT_EQ(logger_->writes.load(), 2);
}

TEST_F(QLBufferedProxyTest, RecordWithoutBytesChangesNothing) {
    logger_->setLogFormatter(std::make_shared<NothingFormatter>());
    (void)logger_->logFormatter();
    log("dropped");
    EXPECT_EQ(collected(), 0u);
    proxy_->flush();
    EXPECT_EQ(logger_->writes.load(), 0);
    EXPECT_TRUE(manager_->unsortedLogFilePaths().empty());
}

TEST_F(QLBufferedProxyTest, ThresholdSizes) {
    struct statvfs root {};
    ASSERT_EQ(::statvfs("/", &root), 0);
    EXPECT_EQ(QLBufferedProxy::defaultBufferSize(), root.f_frsize);
    EXPECT_EQ(proxy_->maxBufferSizeBytes(), QLBufferedProxy::defaultBufferSize());
    proxy_->setMaxBufferSizeBytes(10 * 1048576);
    EXPECT_EQ(proxy_->maxBufferSizeBytes(), 1048576u);
    proxy_->setMaxBufferSizeBytes(100);
    EXPECT_EQ(proxy_->maxBufferSizeBytes(), 100u);
    EXPECT_EQ(proxy_->unwrapFromBuffer(), logger_);
}

TEST_F(QLBufferedProxyTest, InTheRegistryEveryRecordArrivesAndRemovalKeepsThemInTheClosedFile) {
    QLLog registry;
    registry.addLogger(proxy_);
    for (int i = 0; i < 300; ++i) registry.log(true, makeRecord("line " + std::to_string(i)));
    registry.flushLog();
    const std::string path = manager_->unsortedLogFilePaths().front();
    std::string expected;
    for (int i = 0; i < 300; ++i) expected += "line " + std::to_string(i) + "\n";
    EXPECT_EQ(readText(path), expected);
    EXPECT_LT(logger_->writes.load(), 20);  // grouped, not one write per record

    // Records still collected when the proxy is removed land in the file
    // being closed, before the roll.
    registry.log(true, makeRecord("last"));
    registry.removeLogger(proxy_);
    registry.flushLog();
    proxy_->loggerQueue()->sync([] {});
    const auto files = manager_->unsortedLogFilePaths();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(readText(path), expected + "last\n");
    EXPECT_TRUE(QLLogFileInfo(path).isArchived());
}

}  // namespace
}  // namespace tervolo::logging
