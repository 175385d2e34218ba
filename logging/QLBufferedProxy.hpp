#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "logging/QLFileLogger.hpp"
#include "logging/QLLogger.hpp"

namespace tervolo::logging {

// Stands in front of a file logger and collects the bytes of formatted records
// in memory, handing them to the file logger in one write when the collected
// size reaches the threshold, on flush, and when the proxy goes away. Many
// small file writes become one larger write.
//
// It can be added to the registry wherever the file logger could: every
// logger call it does not handle itself goes to the file logger, and it runs
// on the file logger's queue (loggerQueue() is the file logger's), so all
// buffer work is on that one queue. Other operations of the file logger are
// reached through fileLogger() / unwrapFromBuffer().
class QLBufferedProxy : public QLLogger, public std::enable_shared_from_this<QLBufferedProxy> {
  public:
    // Threshold: the default size.
    explicit QLBufferedProxy(std::shared_ptr<QLFileLogger> fileLogger);
    // Sends what is collected to the file logger, on its queue.
    ~QLBufferedProxy() override;
    QLBufferedProxy(const QLBufferedProxy&) = delete;
    QLBufferedProxy& operator=(const QLBufferedProxy&) = delete;

    // The block size of the file system mounted on "/" (4096 when none is found).
    static size_t defaultBufferSize();
    // The largest threshold. Linux reports no optimal transfer size apart from
    // the block size, so this is the platform's fallback, 1048576.
    static size_t maximumBufferSize();

    // Called on the file logger's queue (as the registry calls any logger).
    void logMessage(const QLLogMessagePtr& logMessage) override;
    // Writes out what is collected and flushes the file logger.
    void flush() override;

    // Forwarded to the file logger.
    std::shared_ptr<QLLogFormatter> logFormatter() override;
    void setLogFormatter(std::shared_ptr<QLLogFormatter> logFormatter) override;
    void didAddLogger(const std::shared_ptr<platform::DispatchQueue>& inQueue) override;
    // Hands over what is collected first, so it lands in the file being
    // closed, then forwards.
    void willRemoveLogger() override;
    std::shared_ptr<platform::DispatchQueue> loggerQueue() const override;
    std::string loggerName() const override;

    const std::shared_ptr<QLFileLogger>& fileLogger() const { return fileLogger_; }
    void setFileLogger(std::shared_ptr<QLFileLogger> fileLogger) { fileLogger_ = std::move(fileLogger); }
    // The buffer fields are touched on the file logger's queue only.
    const std::string& buffer() const { return buffer_; }
    void setBuffer(std::string buffer) { buffer_ = std::move(buffer); }
    size_t maxBufferSizeBytes() const { return maxBufferSizeBytes_; }
    // Stores the smaller of the value and maximumBufferSize().
    void setMaxBufferSizeBytes(size_t maxBufferSizeBytes);
    size_t currentBufferSizeBytes() const { return currentBufferSizeBytes_; }
    void setCurrentBufferSizeBytes(size_t currentBufferSizeBytes) {
        currentBufferSizeBytes_ = currentBufferSizeBytes;
    }

    // Starts an empty buffer.
    void flushBuffer();
    // Hands the collected bytes to the file logger and starts an empty buffer;
    // on the file logger's queue.
    void lt_sendBufferedDataToFileLogger();

    std::shared_ptr<QLBufferedProxy> wrapWithBuffer() { return shared_from_this(); }
    std::shared_ptr<QLFileLogger> unwrapFromBuffer() const { return fileLogger_; }

  private:
    bool onFileLoggerQueue() const;

    std::shared_ptr<QLFileLogger> fileLogger_;
    std::string buffer_;
    size_t maxBufferSizeBytes_;
    size_t currentBufferSizeBytes_ = 0;
};

}  // namespace tervolo::logging
