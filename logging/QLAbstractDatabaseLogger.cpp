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
    return readSetting(_saveThreshold);
}

void QLAbstractDatabaseLogger::setSaveThreshold(uint64_t saveThreshold) {
    changeSetting([this, saveThreshold] {
        if (saveThreshold == _saveThreshold) return;
        _saveThreshold = saveThreshold;
        if (_saveThreshold != 0 && _unsavedCount >= _saveThreshold) performSaveAndSuspendSaveTimer();
    });
}

double QLAbstractDatabaseLogger::saveInterval() {
    return readSetting(_saveInterval);
}

void QLAbstractDatabaseLogger::setSaveInterval(double saveInterval) {
    changeSetting([this, saveInterval] {
        if (saveInterval == _saveInterval) return;
        _saveInterval = saveInterval;
        if (_saveInterval > 0) {
            if (!_saveTimer) createSuspendedSaveTimer();
            // Fires at once when the new interval has already passed since the
            // first unsaved record.
            updateAndResumeSaveTimer();
        } else {
            destroySaveTimer();
        }
    });
}

double QLAbstractDatabaseLogger::maxAge() {
    return readSetting(_maxAge);
}

void QLAbstractDatabaseLogger::setMaxAge(double maxAge) {
    changeSetting([this, maxAge] {
        if (maxAge == _maxAge) return;
        const double previous = _maxAge;
        _maxAge = maxAge;
        if (previous > 0 && !(_maxAge > 0)) {
            destroyDeleteTimer();
        } else if ((previous > 0 && _maxAge < previous) || (!(previous > 0) && _maxAge > 0)) {
            // Records may be older than the new limit now: delete at once.
            performDelete();
            if (_deleteTimer) {
                updateDeleteTimer();
            } else {
                createAndStartDeleteTimer();
            }
        }
        // A larger limit makes no record too old that was not before.
    });
}

double QLAbstractDatabaseLogger::deleteInterval() {
    return readSetting(_deleteInterval);
}

void QLAbstractDatabaseLogger::setDeleteInterval(double deleteInterval) {
    changeSetting([this, deleteInterval] {
        if (deleteInterval == _deleteInterval) return;
        _deleteInterval = deleteInterval;
        if (_deleteInterval > 0) {
            if (_deleteTimer) {
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
    return readSetting(_deleteOnEverySave);
}

void QLAbstractDatabaseLogger::setDeleteOnEverySave(bool deleteOnEverySave) {
    changeSetting([this, deleteOnEverySave] { _deleteOnEverySave = deleteOnEverySave; });
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
    const bool first = _unsavedCount == 0;
    ++_unsavedCount;
    if (_saveThreshold != 0 && _unsavedCount >= _saveThreshold) {
        performSaveAndSuspendSaveTimer();
        return;
    }
    if (first) {
        _unsavedTime = now();
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
    if (_unsavedCount > 0) {
        if (_deleteOnEverySave) {
            db_saveAndDelete();
        } else {
            db_save();
        }
    }
    _unsavedCount = 0;
    _unsavedTime.reset();
    if (_saveTimer && _saveTimerSuspended == SaveTimerState::running) {
        _saveTimer->suspend();
        _saveTimerSuspended = SaveTimerState::suspended;
    }
}

void QLAbstractDatabaseLogger::performDelete() {
    if (_maxAge > 0) {
        db_delete();
        _lastDeleteTime = now();
    }
}

// MARK: - Save timer

void QLAbstractDatabaseLogger::createSuspendedSaveTimer() {
    if (_saveTimer || !(_saveInterval > 0)) return;
    _saveTimer = platform::DispatchSourceTimer::create(loggerQueue());
    // Weak: the logger owns the timer, and the timer must not keep it alive.
    _saveTimer->setEventHandler([weak = weak_from_this()] {
        if (auto self = weak.lock())
            static_cast<QLAbstractDatabaseLogger&>(*self).performSaveAndSuspendSaveTimer();
    });
    _saveTimerSuspended = SaveTimerState::neverStarted;
}

void QLAbstractDatabaseLogger::updateAndResumeSaveTimer() {
    if (!_saveTimer || !(_saveInterval > 0) || !_unsavedTime) return;
    // First at the first unsaved record plus the interval (now when that has
    // passed), then every interval.
    _saveTimer->schedule(*_unsavedTime + _saveInterval - now(), _saveInterval, kTimerLeewaySeconds);
    if (_saveTimerSuspended == SaveTimerState::neverStarted) {
        _saveTimer->activate();
    } else if (_saveTimerSuspended == SaveTimerState::suspended) {
        _saveTimer->resume();
    }
    _saveTimerSuspended = SaveTimerState::running;
}

void QLAbstractDatabaseLogger::destroySaveTimer() {
    if (!_saveTimer) return;
    // Our timer source may be cancelled in any state; the platform's had to be
    // started or resumed first, which is not needed here.
    _saveTimer->cancel();
    _saveTimer.reset();
    _saveTimerSuspended = SaveTimerState::running;
}

// MARK: - Delete timer

void QLAbstractDatabaseLogger::createAndStartDeleteTimer() {
    if (_deleteTimer || !(_deleteInterval > 0) || !(_maxAge > 0)) return;
    _deleteTimer = platform::DispatchSourceTimer::create(loggerQueue());
    _deleteTimer->setEventHandler([weak = weak_from_this()] {
        if (auto self = weak.lock()) static_cast<QLAbstractDatabaseLogger&>(*self).performDelete();
    });
    updateDeleteTimer();
    _deleteTimer->activate();
}

void QLAbstractDatabaseLogger::updateDeleteTimer() {
    if (!_deleteTimer || !(_deleteInterval > 0) || !(_maxAge > 0)) return;
    // First at the last deletion plus the interval (now plus the interval when
    // deletion never ran), then every interval.
    const double first = _lastDeleteTime ? *_lastDeleteTime + _deleteInterval : now() + _deleteInterval;
    _deleteTimer->schedule(first - now(), _deleteInterval, kTimerLeewaySeconds);
}

void QLAbstractDatabaseLogger::destroyDeleteTimer() {
    if (!_deleteTimer) return;
    _deleteTimer->cancel();
    _deleteTimer.reset();
}

}  // namespace tervolo::logging
