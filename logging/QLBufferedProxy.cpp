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
    : _fileLogger(std::move(fileLogger)), _maxBufferSizeBytes(defaultBufferSize()) {
    flushBuffer();
}

QLBufferedProxy::~QLBufferedProxy() {
    if (!_fileLogger) return;
    if (onFileLoggerQueue()) {
        lt_sendBufferedDataToFileLogger();
    } else {
        _fileLogger->loggerQueue()->sync([this] { lt_sendBufferedDataToFileLogger(); });
    }
    _fileLogger.reset();
}

bool QLBufferedProxy::onFileLoggerQueue() const {
    return _fileLogger && DispatchQueue::current() == _fileLogger->loggerQueue().get();
}

void QLBufferedProxy::setMaxBufferSizeBytes(size_t maxBufferSizeBytes) {
    _maxBufferSizeBytes = std::min(maxBufferSizeBytes, maximumBufferSize());
}

void QLBufferedProxy::flushBuffer() {
    // A fresh buffer that keeps the storage of the last one.
    _buffer.clear();
    if (_buffer.capacity() < _maxBufferSizeBytes) _buffer.reserve(_maxBufferSizeBytes);
    _currentBufferSizeBytes = 0;
}

void QLBufferedProxy::lt_sendBufferedDataToFileLogger() {
    if (_fileLogger && !_buffer.empty()) {
        _fileLogger->lt_logData(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(_buffer.data()), _buffer.size()));
    }
    flushBuffer();
}

void QLBufferedProxy::logMessage(const QLLogMessagePtr& logMessage) {
    if (!_fileLogger || !logMessage) return;
    // The record's bytes go straight into the buffer. Appending to memory
    // takes the whole range or throws; there is no short write to report.
    const size_t added = _fileLogger->lt_appendDataForMessage(*logMessage, _buffer);
    if (added == 0) return;
    _currentBufferSizeBytes += added;
    if (_currentBufferSizeBytes >= _maxBufferSizeBytes) lt_sendBufferedDataToFileLogger();
}

void QLBufferedProxy::flush() {
    if (!_fileLogger) return;
    auto work = [this] {
        lt_sendBufferedDataToFileLogger();
        _fileLogger->flush();
    };
    if (onFileLoggerQueue()) {
        work();
        return;
    }
    const auto queue = _fileLogger->loggerQueue();
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
    return _fileLogger ? _fileLogger->logFormatter() : nullptr;
}

void QLBufferedProxy::setLogFormatter(std::shared_ptr<QLLogFormatter> logFormatter) {
    if (_fileLogger) _fileLogger->setLogFormatter(std::move(logFormatter));
}

void QLBufferedProxy::didAddLogger(const std::shared_ptr<DispatchQueue>& inQueue) {
    if (_fileLogger) _fileLogger->didAddLogger(inQueue);
}

void QLBufferedProxy::willRemoveLogger() {
    if (!_fileLogger) return;
    lt_sendBufferedDataToFileLogger();
    _fileLogger->willRemoveLogger();
}

std::shared_ptr<DispatchQueue> QLBufferedProxy::loggerQueue() const {
    return _fileLogger ? _fileLogger->loggerQueue() : nullptr;
}

std::string QLBufferedProxy::loggerName() const {
    return _fileLogger ? _fileLogger->loggerName() : std::string();
}

}  // namespace tervolo::logging
