#include "logging/QLAbstractDatabaseLogger.hpp"

#include "logging/QLLog.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/Assertion.hpp"

namespace tervolo::logging {

namespace {

constexpr const char* kSourceFile = "QLAbstractDatabaseLogger";
constexpr double kTimerLeewaySeconds = 1.0;

}  // namespace

QLAbstractDatabaseLogger::QLAbstractDatabaseLogger(std::string loggerName)
    : QLAbstractLogger(std::move(loggerName)) {}

QLAbstractDatabaseLogger::~QLAbstractDatabaseLogger() {
    destroySaveTimer();
    destroyDeleteTimer();
}

double QLAbstractDatabaseLogger::now() {
    return platform::Clock::current()->monotonicSeconds();
}

bool QLAbstractDatabaseLogger::db_log(const QLLogMessagePtr& logMessage) {
    (void)logMessage;
    return false;
}

// MARK: - Settings

template <typename T>
T QLAbstractDatabaseLogger::readSetting(const T& field) {
    // Both hops wait, so a caller on one of the queues would wait on itself: a
    // programming error, reported; the read then takes the part of the path
    // that cannot deadlock.
    if (isOnInternalLoggerQueue()) {
        platform::assertionFailure("!isOnInternalLoggerQueue()", kSourceFile,
                                   "MUST access ivar directly, NOT via self.* syntax.");
        return field;
    }
    T result{};
    const auto queue = loggerQueue();
    if (isOnGlobalLoggingQueue() || QLLog::isInsideWaitedLoggerCall()) {
        platform::assertionFailure("!isOnGlobalLoggingQueue()", kSourceFile,
                                   "Core architecture requirement failure");
        queue->sync([&] { result = field; });
        return result;
    }
    QLLog::loggingQueue()->sync([&] { queue->sync([&] { result = field; }); });
    return result;
}

template <typename Change>
void QLAbstractDatabaseLogger::changeSetting(Change change) {
    if (isOnInternalLoggerQueue()) {
        change();
        return;
    }
    // The queued change keeps the logger alive until it has run.
    auto block = [self = weak_from_this().lock(), change = std::move(change)]() mutable { change(); };
    const auto queue = loggerQueue();
    if (isOnGlobalLoggingQueue()) {
        platform::assertionFailure("!isOnGlobalLoggingQueue()", kSourceFile,
                                   "Core architecture requirement failure");
        queue->async(std::move(block));
        return;
    }
    QLLog::loggingQueue()->async(
        [queue, block = std::move(block)]() mutable { queue->async(std::move(block)); });
}

template <typename Work>
void QLAbstractDatabaseLogger::onLoggerQueue(Work work) {
    if (isOnInternalLoggerQueue()) {
        work();
        return;
    }
    loggerQueue()->async([self = weak_from_this().lock(), work = std::move(work)]() mutable { work(); });
}

uint64_t QLAbstractDatabaseLogger::saveThreshold() {
    return readSetting(saveThreshold_);
}

void QLAbstractDatabaseLogger::setSaveThreshold(uint64_t saveThreshold) {
    changeSetting([this, saveThreshold] {
        if (saveThreshold == saveThreshold_) return;
        saveThreshold_ = saveThreshold;
        if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) performSaveAndSuspendSaveTimer();
    });
}

double QLAbstractDatabaseLogger::saveInterval() {
    return readSetting(saveInterval_);
}

void QLAbstractDatabaseLogger::setSaveInterval(double saveInterval) {
    changeSetting([this, saveInterval] {
        if (saveInterval == saveInterval_) return;
        saveInterval_ = saveInterval;
        if (saveInterval_ > 0) {
            if (!saveTimer_) createSuspendedSaveTimer();
            // Fires at once when the new interval has already passed since the
            // first unsaved record.
            updateAndResumeSaveTimer();
        } else {
            destroySaveTimer();
        }
    });
}

double QLAbstractDatabaseLogger::maxAge() {
    return readSetting(maxAge_);
}

void QLAbstractDatabaseLogger::setMaxAge(double maxAge) {
    changeSetting([this, maxAge] {
        if (maxAge == maxAge_) return;
        const double previous = maxAge_;
        maxAge_ = maxAge;
        if (previous > 0 && !(maxAge_ > 0)) {
            destroyDeleteTimer();
        } else if ((previous > 0 && maxAge_ < previous) || (!(previous > 0) && maxAge_ > 0)) {
            // Records may be older than the new limit now: delete at once.
            performDelete();
            if (deleteTimer_) {
                updateDeleteTimer();
            } else {
                createAndStartDeleteTimer();
            }
        }
        // A larger limit makes no record too old that was not before.
    });
}

double QLAbstractDatabaseLogger::deleteInterval() {
    return readSetting(deleteInterval_);
}

void QLAbstractDatabaseLogger::setDeleteInterval(double deleteInterval) {
    changeSetting([this, deleteInterval] {
        if (deleteInterval == deleteInterval_) return;
        deleteInterval_ = deleteInterval;
        if (deleteInterval_ > 0) {
            if (deleteTimer_) {
                updateDeleteTimer();
            } else {
                createAndStartDeleteTimer();
            }
        } else {
            destroyDeleteTimer();
        }
    });
}

bool QLAbstractDatabaseLogger::deleteOnEverySave() {
    return readSetting(deleteOnEverySave_);
}

void QLAbstractDatabaseLogger::setDeleteOnEverySave(bool deleteOnEverySave) {
    changeSetting([this, deleteOnEverySave] { deleteOnEverySave_ = deleteOnEverySave; });
}

// MARK: - Operations

void QLAbstractDatabaseLogger::savePendingLogEntries() {
    onLoggerQueue([this] { performSaveAndSuspendSaveTimer(); });
}

void QLAbstractDatabaseLogger::deleteOldLogEntries() {
    onLoggerQueue([this] { performDelete(); });
}

void QLAbstractDatabaseLogger::logMessage(const QLLogMessagePtr& logMessage) {
    if (!db_log(logMessage)) return;
    const bool first = unsavedCount_ == 0;
    ++unsavedCount_;
    if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) {
        performSaveAndSuspendSaveTimer();
        return;
    }
    if (first) {
        unsavedTime_ = now();
        updateAndResumeSaveTimer();
    }
}

void QLAbstractDatabaseLogger::flush() {
    performSaveAndSuspendSaveTimer();
}

void QLAbstractDatabaseLogger::didAddLogger() {
    createSuspendedSaveTimer();
    createAndStartDeleteTimer();
}

void QLAbstractDatabaseLogger::willRemoveLogger() {
    // Pending records are saved before the timers go.
    performSaveAndSuspendSaveTimer();
    destroySaveTimer();
    destroyDeleteTimer();
}

void QLAbstractDatabaseLogger::performSaveAndSuspendSaveTimer() {
    if (unsavedCount_ > 0) {
        if (deleteOnEverySave_) {
            db_saveAndDelete();
        } else {
            db_save();
        }
    }
    unsavedCount_ = 0;
    unsavedTime_.reset();
    if (saveTimer_ && saveTimerSuspended_ == SaveTimerState::running) {
        saveTimer_->suspend();
        saveTimerSuspended_ = SaveTimerState::suspended;
    }
}

void QLAbstractDatabaseLogger::performDelete() {
    if (maxAge_ > 0) {
        db_delete();
        lastDeleteTime_ = now();
    }
}

// MARK: - Save timer

void QLAbstractDatabaseLogger::createSuspendedSaveTimer() {
    if (saveTimer_ || !(saveInterval_ > 0)) return;
    saveTimer_ = platform::DispatchSourceTimer::make(loggerQueue());
    // Weak: the logger owns the timer, and the timer must not keep it alive.
    saveTimer_->setEventHandler([weak = weak_from_this()] {
        if (auto self = weak.lock())
            static_cast<QLAbstractDatabaseLogger&>(*self).performSaveAndSuspendSaveTimer();
    });
    saveTimerSuspended_ = SaveTimerState::neverStarted;
}

void QLAbstractDatabaseLogger::updateAndResumeSaveTimer() {
    if (!saveTimer_ || !(saveInterval_ > 0) || !unsavedTime_) return;
    // First at the first unsaved record plus the interval (now when that has
    // passed), then every interval.
    saveTimer_->schedule(*unsavedTime_ + saveInterval_ - now(), saveInterval_, kTimerLeewaySeconds);
    if (saveTimerSuspended_ == SaveTimerState::neverStarted) {
        saveTimer_->activate();
    } else if (saveTimerSuspended_ == SaveTimerState::suspended) {
        saveTimer_->resume();
    }
    saveTimerSuspended_ = SaveTimerState::running;
}

void QLAbstractDatabaseLogger::destroySaveTimer() {
    if (!saveTimer_) return;
    // Our timer source may be cancelled in any state; the platform's had to be
    // started or resumed first, which is not needed here.
    saveTimer_->cancel();
    saveTimer_.reset();
    saveTimerSuspended_ = SaveTimerState::running;
}

// MARK: - Delete timer

void QLAbstractDatabaseLogger::createAndStartDeleteTimer() {
    if (deleteTimer_ || !(deleteInterval_ > 0) || !(maxAge_ > 0)) return;
    deleteTimer_ = platform::DispatchSourceTimer::make(loggerQueue());
    deleteTimer_->setEventHandler([weak = weak_from_this()] {
        if (auto self = weak.lock()) static_cast<QLAbstractDatabaseLogger&>(*self).performDelete();
    });
    updateDeleteTimer();
    deleteTimer_->activate();
}

void QLAbstractDatabaseLogger::updateDeleteTimer() {
    if (!deleteTimer_ || !(deleteInterval_ > 0) || !(maxAge_ > 0)) return;
    // First at the last deletion plus the interval (now plus the interval when
    // deletion never ran), then every interval.
    const double first = lastDeleteTime_ ? *lastDeleteTime_ + deleteInterval_ : now() + deleteInterval_;
    deleteTimer_->schedule(first - now(), deleteInterval_, kTimerLeewaySeconds);
}

void QLAbstractDatabaseLogger::destroyDeleteTimer() {
    if (!deleteTimer_) return;
    deleteTimer_->cancel();
    deleteTimer_.reset();
}

}  // namespace tervolo::logging
