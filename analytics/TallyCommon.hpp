#pragma once

#include "platform/dispatch/SharedInstance.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace tervolo::analytics {

class TallyUIPort;

// Levels of the client's internal log; the numbers are the configuration's
// `internalLogLevel` values.
enum class TallyLogLevel : unsigned { None = 0, Error = 1, Warning = 2, Info = 3, Debug = 4, Verbose = 5 };

// "None", "Error", "Warning", "Info", "Debug", "Verbose".
const char* TallyLogLevelName(TallyLogLevel level);

// Receives the client's internal log lines; the only place they go.
class TallyLoggerDelegate {
  public:
    virtual ~TallyLoggerDelegate() = default;
    virtual void internalLog(const std::string& log, TallyLogLevel level) = 0;
};

inline constexpr const char* kTallySDKVersion = "21.11.2";
inline constexpr const char* kTallySDKName = "tally-native-cpp";
inline constexpr const char* kTallyInternalLogPrefix = "[Tally] ";
inline constexpr const char* kTallyErrorDomain = "org.tervolo.TervoloNG.analytics.error";

// The state every module of the analytics client shares: the started flag,
// the settings copied from the configuration at start, the limits, and the
// clock-derived values every request carries. Created on first use (before
// start) and never destroyed. Any thread: numbers are atomics, texts and the
// delegate sit behind one mutex.
//
// Time comes from platform::Clock (virtual in tests); calendar fields use the
// process's time zone (TZ) through localtime_r.
class TallyCommon {
  public:
    static TallyCommon& sharedInstance();

    // With the "not started" line on the system log when false.
    bool hasStarted() const;
    // Silent.
    bool hasStarted_() const { return hasStarted_flag_.load(std::memory_order_acquire); }
    void setHasStarted(bool started) { hasStarted_flag_.store(started, std::memory_order_release); }

    // Seconds since 1970 with millisecond resolution. Strictly increasing
    // across all threads, at least 1 ms apart, even when the clock stands
    // still or steps back.
    double uniqueTimestamp();
    // Of the current moment in the local time zone.
    int64_t hourOfDay() const;        // 0-23
    int64_t dayOfWeek() const;        // 0 Sunday ... 6 Saturday
    int64_t timeZone() const;         // minutes east of GMT, truncated toward zero
    int64_t timeSinceLaunch() const;  // whole seconds since the common state was made
    // The three calendar fields above from one reading of the clock.
    struct CalendarFields {
        int64_t hourOfDay;
        int64_t dayOfWeek;
        int64_t timeZone;
    };
    CalendarFields calendarNow() const;

    // Desktop processes are not suspended while sending, so the background
    // task guard has nothing to hold; kept so callers read as they should.
    void startBackgroundTask() {}
    void finishBackgroundTask() {}

    // The UI layer's port (top controller, presentation, screen facts); none
    // in a headless process.
    void setUIPort(std::shared_ptr<TallyUIPort> port);
    std::shared_ptr<TallyUIPort> uiPort() const;

    // Settings copied from the configuration at start.
    bool enableDebug() const { return enableDebug_.load(); }
    void setEnableDebug(bool v) { enableDebug_.store(v); }
    bool manualSessionHandling() const { return manualSessionHandling_.load(); }
    void setManualSessionHandling(bool v) { manualSessionHandling_.store(v); }
    bool enableOrientationTracking() const { return enableOrientationTracking_.load(); }
    void setEnableOrientationTracking(bool v) { enableOrientationTracking_.store(v); }
    unsigned internalLogLevel() const { return internalLogLevel_.load(); }
    void setInternalLogLevel(unsigned v) { internalLogLevel_.store(v); }
    uint64_t maxKeyLength() const { return maxKeyLength_.load(); }
    void setMaxKeyLength(uint64_t v) { maxKeyLength_.store(v); }
    uint64_t maxValueLength() const { return maxValueLength_.load(); }
    void setMaxValueLength(uint64_t v) { maxValueLength_.store(v); }
    uint64_t maxSegmentationValues() const { return maxSegmentationValues_.load(); }
    void setMaxSegmentationValues(uint64_t v) { maxSegmentationValues_.store(v); }
    int64_t lastTimestamp() const { return lastTimestamp_.load(); }
    double startTime() const { return startTime_; }

    std::string SDKVersion() const;
    void setSDKVersion(std::string v);
    std::string SDKName() const;
    void setSDKName(std::string v);
    std::optional<std::string> attributionID() const;
    void setAttributionID(std::optional<std::string> v);
    std::string lastInterfaceOrientation() const;
    void setLastInterfaceOrientation(std::string v);
    std::shared_ptr<TallyLoggerDelegate> loggerDelegate() const;
    void setLoggerDelegate(std::weak_ptr<TallyLoggerDelegate> delegate);

    // Whether a line of `level` would reach anyone; lets callers skip the
    // formatting of lines nobody reads.
    bool wouldLog(TallyLogLevel level) const;

    // Back to the state of a fresh process (tests): not started, defaults,
    // no delegate, start time now.
    void resetForTesting();

  private:
    friend class platform::SharedInstance<TallyCommon>;
    TallyCommon();

    std::atomic<bool> hasStarted_flag_{false};
    std::atomic<bool> enableDebug_{false};
    std::atomic<bool> manualSessionHandling_{false};
    std::atomic<bool> enableOrientationTracking_{true};
    std::atomic<unsigned> internalLogLevel_{4};
    std::atomic<uint64_t> maxKeyLength_{128};
    std::atomic<uint64_t> maxValueLength_{256};
    std::atomic<uint64_t> maxSegmentationValues_{30};
    std::atomic<int64_t> lastTimestamp_{0};
    double startTime_ = 0;

    mutable std::mutex mutex_;
    std::string SDKVersion_ = kTallySDKVersion;
    std::string SDKName_ = kTallySDKName;
    std::optional<std::string> attributionID_;
    std::string lastInterfaceOrientation_;
    std::weak_ptr<TallyLoggerDelegate> loggerDelegate_;
    std::shared_ptr<TallyUIPort> uiPort_;
};

// Hands "[Tally] [<Level>] <message>" to the logger delegate when debugging
// is on or a delegate is set and the level passes `internalLogLevel`.
// Nothing goes to the console or the system log.
void TallyInternalLog(TallyLogLevel level, std::string_view message);

// Formats only when the line would be delivered.
template <typename... Args>
void TallyLog(TallyLogLevel level, fmt::format_string<Args...> format, Args&&... args) {
    if (!TallyCommon::sharedInstance().wouldLog(level)) {
        return;
    }
    TallyInternalLog(level, fmt::format(format, std::forward<Args>(args)...));
}

}  // namespace tervolo::analytics
