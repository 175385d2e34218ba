#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "logging/QLAbstractLogger.hpp"
#include "platform/dispatch/DispatchSourceTimer.hpp"

namespace tervolo::logging {

// The base of loggers that keep records in a store of their own. It stores
// nothing itself: it decides when the subclass saves the records it buffered
// (by count, by a timer after the first unsaved record, on flush and on
// removal) and when it deletes records that are too old (by a repeating
// timer), and calls the subclass's four storage operations.
//
// Every counter, timer and storage call is used only on the logger's queue;
// both timers deliver onto it and run on Clock::current()'s monotonic time.
// Settings are read and written through the logging queue and then the
// logger's queue (the framework's lock order). The timers exist while the
// logger is installed. A subclass must be owned by a std::shared_ptr (the
// timers hold it weakly).
class QLAbstractDatabaseLogger : public QLAbstractLogger {
  public:
    explicit QLAbstractDatabaseLogger(std::string loggerName = "QLAbstractDatabaseLogger");
    ~QLAbstractDatabaseLogger() override;

    // Settings. Reading waits on the logging queue and then the logger's queue
    // and must not be called from either (asserts). Writing runs at once on the
    // logger's queue, else asynchronously through both queues; a value equal to
    // the current one changes nothing.

    // Save when this many records are unsaved; 0: never by count. Default 500.
    uint64_t saveThreshold();
    void setSaveThreshold(uint64_t saveThreshold);
    // Seconds after the first unsaved record at which they are saved; 0 or
    // less: no save timer. Default 60.
    double saveInterval();
    void setSaveInterval(double saveInterval);
    // Seconds after which records are to be deleted; 0 or less: never. Default
    // 604800 (7 days).
    double maxAge();
    void setMaxAge(double maxAge);
    // Seconds between deletions; 0 or less: no delete timer. Default 300.
    double deleteInterval();
    void setDeleteInterval(double deleteInterval);
    // Every save uses db_saveAndDelete. Default false.
    bool deleteOnEverySave();
    void setDeleteOnEverySave(bool deleteOnEverySave);

    // Save or delete now: at once on the logger's queue, else queued onto it.
    void savePendingLogEntries();
    void deleteOldLogEntries();

    void logMessage(const QLLogMessagePtr& logMessage) override;
    void flush() override;
    using QLAbstractLogger::didAddLogger;
    void didAddLogger() override;
    void willRemoveLogger() override;

  protected:
    // Storage operations; the base versions do nothing. db_log answers whether
    // the record was accepted into the subclass's buffer.
    virtual bool db_log(const QLLogMessagePtr& logMessage);
    virtual void db_save() {}
    virtual void db_delete() {}
    virtual void db_saveAndDelete() {}

  private:
    enum class SaveTimerState : int64_t {
        neverStarted = -1,  // created, not yet started
        running = 0,        // running, or no timer
        suspended = 1,
    };

    template <typename T>
    T readSetting(const T& field);
    template <typename Change>
    void changeSetting(Change change);
    template <typename Work>
    void onLoggerQueue(Work work);

    void performSaveAndSuspendSaveTimer();
    void performDelete();
    void createSuspendedSaveTimer();
    void updateAndResumeSaveTimer();
    void destroySaveTimer();
    void createAndStartDeleteTimer();
    void updateDeleteTimer();
    void destroyDeleteTimer();
    static double now();

    // Touched only on the logger's queue.
    uint64_t saveThreshold_ = 500;
    double saveInterval_ = 60;
    double maxAge_ = 604800;
    double deleteInterval_ = 300;
    bool deleteOnEverySave_ = false;
    SaveTimerState saveTimerSuspended_ = SaveTimerState::running;
    uint64_t unsavedCount_ = 0;
    std::optional<double> unsavedTime_;  // monotonic seconds of the first unsaved record
    std::shared_ptr<platform::DispatchSourceTimer> saveTimer_;
    std::optional<double> lastDeleteTime_;  // monotonic seconds of the last deletion
    std::shared_ptr<platform::DispatchSourceTimer> deleteTimer_;
};

}  // namespace tervolo::logging
