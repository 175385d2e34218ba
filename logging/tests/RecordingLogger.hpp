#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/QLAbstractLogger.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::logging::testing {

// A logger that keeps what it receives and where it received it.
class RecordingLogger : public QLAbstractLogger {
  public:
    explicit RecordingLogger(std::string name = "test.recordingLogger") : QLAbstractLogger(std::move(name)) {}

    void logMessage(const QLLogMessagePtr& logMessage) override {
        std::lock_guard lock(mutex_);
        records_.push_back(logMessage);
        labels_.push_back(platform::DispatchQueue::currentLabel());
        if (!isOnInternalLoggerQueue()) ++offQueueCalls_;
    }
    void didAddLogger(const std::shared_ptr<platform::DispatchQueue>& inQueue) override {
        std::lock_guard lock(mutex_);
        addedInQueue_.push_back(inQueue);
    }
    void willRemoveLogger() override { ++willRemoveCount_; }
    void flush() override { ++flushCount_; }

    std::vector<QLLogMessagePtr> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> texts;
        for (const auto& r : records_) texts.push_back(r->message());
        return texts;
    }
    size_t count() const {
        std::lock_guard lock(mutex_);
        return records_.size();
    }
    std::vector<std::string> labels() const {
        std::lock_guard lock(mutex_);
        return labels_;
    }
    std::vector<std::shared_ptr<platform::DispatchQueue>> addedInQueue() const {
        std::lock_guard lock(mutex_);
        return addedInQueue_;
    }
    int offQueueCalls() const {
        std::lock_guard lock(mutex_);
        return offQueueCalls_;
    }
    int willRemoveCount() const { return willRemoveCount_.load(); }
    int flushCount() const { return flushCount_.load(); }

    // Waits until every notification already queued on the logger's queue ran.
    void drain() {
        loggerQueue()->sync([] {});
    }

  private:
    mutable std::mutex mutex_;
    std::vector<QLLogMessagePtr> records_;
    std::vector<std::string> labels_;
    std::vector<std::shared_ptr<platform::DispatchQueue>> addedInQueue_;
    int offQueueCalls_ = 0;
    std::atomic<int> willRemoveCount_{0};
    std::atomic<int> flushCount_{0};
};

}  // namespace tervolo::logging::testing
