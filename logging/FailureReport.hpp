#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tervolo::logging {

// Reports the failures of one part of the logging machinery on standard error
// without flooding it: a full disk or an unwritable folder fails every record,
// and a line (or seven) per record would bury everything else there.
//
// The first failure is written as it comes (all its lines), and so is the
// first one after a quiet interval; the failures and lost records in between
// are counted, and at most one summary line per interval names the counts and
// the latest failure. Time is the installed clock's monotonic time, so tests
// drive the interval with a virtual clock. Thread-safe.
class FailureReport {
  public:
    static constexpr double kDefaultInterval = 10.0;  // seconds

    explicit FailureReport(std::string component, double interval = kDefaultInterval);

    // One failure, described by one or more lines.
    void failure(const std::vector<std::string>& lines);
    void failure(const std::string& line) { failure(std::vector<std::string>{line}); }
    // Records that could not be written.
    void recordsLost(uint64_t count = 1);
    // After work that went well: writes the summary of earlier failures when
    // one is due, so the counts are not held back until the next failure.
    void settle();
    // Writes the pending summary now (when the reporter closes).
    void flush();

  private:
    void writeSummaryLocked(double now);
    bool pendingLocked() const { return suppressed_ > 0 || lost_ > 0; }

    const std::string component_;
    const double interval_;
    std::mutex mutex_;
    std::optional<double> lastWritten_;
    uint64_t suppressed_ = 0;
    uint64_t lost_ = 0;
    std::string latest_;
};

}  // namespace tervolo::logging
