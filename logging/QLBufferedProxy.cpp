#include "logging/QLBufferedProxy.hpp"

#include <mntent.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "logging/QLLog.hpp"
#include "platform/foundation/Assertion.hpp"

namespace tervolo::logging {

using platform::DispatchQueue;

namespace {

constexpr size_t kFallbackBlockSize = 4096;
constexpr size_t kFallbackMaximumSize = 1048576;

// The fragment size of the first file system in the mount table whose mount
// point is exactly "/"; 0 when there is none.
size_t rootBlockSize() {
    FILE* mounts = ::setmntent("/proc/self/mounts", "r");
    if (mounts == nullptr) return 0;
    bool found = false;
    struct mntent entry {};
    char buffer[4096];
    while (::getmntent_r(mounts, &entry, buffer, sizeof buffer) != nullptr) {
        if (std::strcmp(entry.mnt_dir, "/") == 0) {
            found = true;
            break;
        }
    }
    ::endmntent(mounts);
    if (!found) return 0;
    struct statvfs info {};
    if (::statvfs("/", &info) != 0) return 0;
    return static_cast<size_t>(info.f_frsize != 0 ? info.f_frsize : info.f_bsize);
}

}  // namespace

size_t QLBufferedProxy::defaultBufferSize() {
    static const size_t size = [] {
        const size_t block = rootBlockSize();
        return std::min(block != 0 ? block : kFallbackBlockSize, maximumBufferSize());
    }();
    return size;
}

size_t QLBufferedProxy::maximumBufferSize() {
    return kFallbackMaximumSize;
}

QLBufferedProxy::QLBufferedProxy(std::shared_ptr<QLFileLogger> fileLogger)
    : fileLogger_(std::move(fileLogger)), maxBufferSizeBytes_(defaultBufferSize()) {
    flushBuffer();
}

QLBufferedProxy::~QLBufferedProxy() {
    if (!fileLogger_) return;
    if (onFileLoggerQueue()) {
        lt_sendBufferedDataToFileLogger();
    } else {
        fileLogger_->loggerQueue()->sync([this] { lt_sendBufferedDataToFileLogger(); });
    }
    fileLogger_.reset();
}

bool QLBufferedProxy::onFileLoggerQueue() const {
    return fileLogger_ && DispatchQueue::current() == fileLogger_->loggerQueue().get();
}

void QLBufferedProxy::setMaxBufferSizeBytes(size_t maxBufferSizeBytes) {
    maxBufferSizeBytes_ = std::min(maxBufferSizeBytes, maximumBufferSize());
}

void QLBufferedProxy::flushBuffer() {
    // A fresh buffer that keeps the storage of the last one.
    buffer_.clear();
    if (buffer_.capacity() < maxBufferSizeBytes_) buffer_.reserve(maxBufferSizeBytes_);
    currentBufferSizeBytes_ = 0;
}

void QLBufferedProxy::lt_sendBufferedDataToFileLogger() {
    if (fileLogger_ && !buffer_.empty()) {
        fileLogger_->lt_logData(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(buffer_.data()), buffer_.size()));
    }
    flushBuffer();
}

void QLBufferedProxy::logMessage(const QLLogMessagePtr& logMessage) {
    if (!fileLogger_ || !logMessage) return;
    // The record's bytes go straight into the buffer. Appending to memory
    // takes the whole range or throws; there is no short write to report.
    const size_t added = fileLogger_->lt_appendDataForMessage(*logMessage, buffer_);
    if (added == 0) return;
    currentBufferSizeBytes_ += added;
    if (currentBufferSizeBytes_ >= maxBufferSizeBytes_) lt_sendBufferedDataToFileLogger();
}

void QLBufferedProxy::flush() {
    if (!fileLogger_) return;
    auto work = [this] {
        lt_sendBufferedDataToFileLogger();
        fileLogger_->flush();
    };
    if (onFileLoggerQueue()) {
        work();
        return;
    }
    const auto queue = fileLogger_->loggerQueue();
    if (QLLog::isOnLoggingQueue() || QLLog::isInsideWaitedLoggerCall()) {
        // Waiting for the logging queue from there would never end.
        platform::assertionFailure("!isOnGlobalLoggingQueue", "QLFileLogger+Buffering",
                                   "Core architecture requirement failure");
        queue->sync(work);
        return;
    }
    QLLog::loggingQueue()->sync([&] { queue->sync(work); });
}

std::shared_ptr<QLLogFormatter> QLBufferedProxy::logFormatter() {
    return fileLogger_ ? fileLogger_->logFormatter() : nullptr;
}

void QLBufferedProxy::setLogFormatter(std::shared_ptr<QLLogFormatter> logFormatter) {
    if (fileLogger_) fileLogger_->setLogFormatter(std::move(logFormatter));
}

void QLBufferedProxy::didAddLogger(const std::shared_ptr<DispatchQueue>& inQueue) {
    if (fileLogger_) fileLogger_->didAddLogger(inQueue);
}

void QLBufferedProxy::willRemoveLogger() {
    if (!fileLogger_) return;
    lt_sendBufferedDataToFileLogger();
    fileLogger_->willRemoveLogger();
}

std::shared_ptr<DispatchQueue> QLBufferedProxy::loggerQueue() const {
    return fileLogger_ ? fileLogger_->loggerQueue() : nullptr;
}

std::string QLBufferedProxy::loggerName() const {
    return fileLogger_ ? fileLogger_->loggerName() : std::string();
}

}  // namespace tervolo::logging
