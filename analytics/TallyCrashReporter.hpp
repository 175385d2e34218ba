#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyJSON.hpp"

namespace tervolo::analytics {

inline constexpr const char* kTallyExceptionUserInfoBacktraceKey = "kTallyExceptionUserInfoBacktraceKey";
inline constexpr const char* kTallyExceptionUserInfoSignalCodeKey = "kTallyExceptionUserInfoSignalCodeKey";

// An exception as the crash reporter records it.
struct TallyException {
    std::string name;    // "std::runtime_error", "Fatal Signal"
    std::string reason;  // what(), "App terminated by SIGSEGV"
    TallyJSON userInfo = TallyJSON::object();
    std::vector<std::string> callStackSymbols;  // stack lines, innermost first
};

// The analytics client's own crash recorder: uncaught C++ exceptions and
// fatal signals, handled exceptions the application reports, and the
// breadcrumb log attached to every record.
//
// A crash is not recorded inside the dying process beyond a small stub
// written with async-signal-safe calls only (see TallyCrashStub.hpp): the
// crashed thread may hold the allocator's or the queue's lock. The full
// record is built and queued at the next start. SIGPIPE is ignored rather
// than reported (a closed socket is not a crash). The handlers that were
// installed before are kept and run after ours.
//
// Any thread; start and stop on the main thread.
class TallyCrashReporter {
  public:
    // None (with the not-started line) before the client has started.
    static std::shared_ptr<TallyCrashReporter> sharedInstance();
    static void resetForTesting();
    ~TallyCrashReporter();

    bool isEnabledOnInitialConfig() const { return isEnabledOnInitialConfig_.load(); }
    void setIsEnabledOnInitialConfig(bool v) { isEnabledOnInitialConfig_.store(v); }
    void setCrashSegmentation(std::optional<TallyJSON> segmentation);
    void setCrashLogLimit(uint64_t limit);  // 0 is raised to 1
    void setCrashFilter(std::optional<std::string> pattern);
    void setShouldUseQCrashReporter(bool v) { shouldUseQCrashReporter_ = v; }
    void setShouldUseMachSignalHandler(bool v) { shouldUseMachSignalHandler_ = v; }
    void setCrashOccuredOnPreviousSessionCallback(std::function<void(const TallyJSON&)> callback);
    void setShouldSendCrashReportCallback(std::function<bool(const TallyJSON&)> callback);

    // Queues the record of a crash of the previous run (if its stub is
    // there), prepares the stub for this run and installs the handlers.
    void startCrashReporting();
    // Puts the previous handlers back and clears the breadcrumbs.
    void stopCrashReporting();
    bool isReporting() const { return isReporting_.load(); }

    void recordException(const TallyException& exception,
                         const std::optional<std::vector<std::string>>& stackTrace, bool isFatal);
    void log(const std::string& message);
    void clearCrashLogs();
    std::vector<std::string> customCrashLogs() const;
    bool isMatchingFilter(const std::string& text) const;

    // The record of the data model for `exception` (tests look at it).
    TallyJSON crashReport(const TallyException& exception, bool isFatal) const;

    // "<data folder>/TallyPendingCrash".
    static std::string stubFile();

  private:
    TallyCrashReporter() = default;
    void handleException(const TallyException& exception, bool isFatal);
    void queuePreviousCrash();
    TallyJSON buildRecord(const TallyException& exception, bool isFatal,
                          const std::vector<std::string>& lines, const TallyJSON& images,
                          const std::string& buildUUID, const std::string& executableName, int64_t runSeconds,
                          bool inBackground, const std::string& logs) const;
    void publishLogsLocked();

    std::atomic<bool> isEnabledOnInitialConfig_{false};
    std::atomic<bool> isReporting_{false};
    bool shouldUseQCrashReporter_ = false;
    bool shouldUseMachSignalHandler_ = false;

    mutable std::mutex mutex_;
    std::optional<TallyJSON> crashSegmentation_;
    uint64_t crashLogLimit_ = 100;
    std::optional<std::string> crashFilter_;
    std::function<void(const TallyJSON&)> crashOccuredOnPreviousSessionCallback_;
    std::function<bool(const TallyJSON&)> shouldSendCrashReportCallback_;
    std::deque<std::string> customCrashLogs_;
};

}  // namespace tervolo::analytics
