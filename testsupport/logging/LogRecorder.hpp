#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/QLAbstractLogger.hpp"
#include "logging/QLLogFlag.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::testsupport {

// A logger that keeps every record it receives, the label of the queue it received it on, and
// the calls the log makes around it (added, flushed, removed). Thread-safe. Readers return what
// has arrived so far; to see everything logged before a point, flush the log first (or use
// SharedLogRecording, which does).
class LogRecorder : public logging::QLAbstractLogger {
  public:
    // One received record: its flag and text.
    struct Line {
        logging::QLLogFlag flag;
        std::string text;
    };

    explicit LogRecorder(std::string name = "test.recordingLogger");

    void logMessage(const logging::QLLogMessagePtr& logMessage) override;
    void didAddLogger(const std::shared_ptr<platform::DispatchQueue>& inQueue) override;
    void willRemoveLogger() override { ++willRemoveCount_; }
    void flush() override { ++flushCount_; }

    std::vector<logging::QLLogMessagePtr> records() const;
    std::vector<Line> lines() const;
    std::vector<std::string> messages() const;
    std::vector<std::string> messages(logging::QLLogFlag flag) const;
    size_t count() const;
    void clear();

    // The label of the queue each record arrived on, in order.
    std::vector<std::string> labels() const;
    std::vector<std::shared_ptr<platform::DispatchQueue>> addedInQueue() const;
    // Records that arrived off the logger's own queue (the log should never do that).
    int offQueueCalls() const;
    int willRemoveCount() const { return willRemoveCount_.load(); }
    int flushCount() const { return flushCount_.load(); }

    // Waits until every notification already queued on the logger's queue has run.
    void drain() {
        loggerQueue()->sync([] {});
    }

  private:
    mutable std::mutex mutex_;
    std::vector<logging::QLLogMessagePtr> records_;
    std::vector<std::string> labels_;
    std::vector<std::shared_ptr<platform::DispatchQueue>> addedInQueue_;
    int offQueueCalls_ = 0;
    std::atomic<int> willRemoveCount_{0};
    std::atomic<int> flushCount_{0};
};

// Records everything the shared log (QLLog::sharedInstance()) passes on, at every level, while
// alive. Reading flushes the shared log first, so a record logged before the call is there.
class SharedLogRecording {
  public:
    SharedLogRecording();
    ~SharedLogRecording();
    SharedLogRecording(const SharedLogRecording&) = delete;
    SharedLogRecording& operator=(const SharedLogRecording&) = delete;

    std::vector<LogRecorder::Line> lines();
    std::vector<std::string> texts();
    std::vector<std::string> texts(logging::QLLogFlag flag);
    void clear();
    LogRecorder& recorder() { return *recorder_; }

  private:
    std::shared_ptr<LogRecorder> recorder_;
};

}  // namespace tervolo::testsupport
