#include "testsupport/logging/LogRecorder.hpp"

#include "logging/QLLog.hpp"

namespace tervolo::testsupport {

LogRecorder::LogRecorder(std::string name) : QLAbstractLogger(std::move(name)) {}

void LogRecorder::logMessage(const logging::QLLogMessagePtr& logMessage) {
    std::lock_guard lock(mutex_);
    records_.push_back(logMessage);
    labels_.push_back(platform::DispatchQueue::currentLabel());
    if (!isOnInternalLoggerQueue()) ++offQueueCalls_;
}

void LogRecorder::didAddLogger(const std::shared_ptr<platform::DispatchQueue>& inQueue) {
    std::lock_guard lock(mutex_);
    addedInQueue_.push_back(inQueue);
}

std::vector<logging::QLLogMessagePtr> LogRecorder::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<LogRecorder::Line> LogRecorder::lines() const {
    std::lock_guard lock(mutex_);
    std::vector<Line> result;
    result.reserve(records_.size());
    for (const auto& record : records_) result.push_back({record->flag(), record->message()});
    return result;
}

std::vector<std::string> LogRecorder::messages() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    texts.reserve(records_.size());
    for (const auto& record : records_) texts.push_back(record->message());
    return texts;
}

std::vector<std::string> LogRecorder::messages(logging::QLLogFlag flag) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const auto& record : records_) {
        if (record->flag() == flag) texts.push_back(record->message());
    }
    return texts;
}

size_t LogRecorder::count() const {
    std::lock_guard lock(mutex_);
    return records_.size();
}

void LogRecorder::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
    labels_.clear();
}

std::vector<std::string> LogRecorder::labels() const {
    std::lock_guard lock(mutex_);
    return labels_;
}

std::vector<std::shared_ptr<platform::DispatchQueue>> LogRecorder::addedInQueue() const {
    std::lock_guard lock(mutex_);
    return addedInQueue_;
}

int LogRecorder::offQueueCalls() const {
    std::lock_guard lock(mutex_);
    return offQueueCalls_;
}

SharedLogRecording::SharedLogRecording() : recorder_(std::make_shared<LogRecorder>()) {
    auto& log = logging::QLLog::sharedInstance();
    log.addLogger(recorder_, logging::QLLogLevel::all);
    log.flushLog();
}

SharedLogRecording::~SharedLogRecording() {
    auto& log = logging::QLLog::sharedInstance();
    log.removeLogger(recorder_);
    log.flushLog();
}

std::vector<LogRecorder::Line> SharedLogRecording::lines() {
    logging::QLLog::sharedInstance().flushLog();
    return recorder_->lines();
}

std::vector<std::string> SharedLogRecording::texts() {
    logging::QLLog::sharedInstance().flushLog();
    return recorder_->messages();
}

std::vector<std::string> SharedLogRecording::texts(logging::QLLogFlag flag) {
    logging::QLLog::sharedInstance().flushLog();
    return recorder_->messages(flag);
}

void SharedLogRecording::clear() {
    logging::QLLog::sharedInstance().flushLog();
    recorder_->clear();
}

}  // namespace tervolo::testsupport
