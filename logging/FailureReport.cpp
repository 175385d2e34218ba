#include "logging/FailureReport.hpp"

#include <cmath>
#include <utility>

#include <fmt/format.h>

#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/Diagnostics.hpp"

namespace tervolo::logging {

namespace {

double monotonicNow() {
    return platform::Clock::current()->monotonicSeconds();
}

}  // namespace

FailureReport::FailureReport(std::string component, double interval)
    : component_(std::move(component)), interval_(interval) {}

void FailureReport::failure(const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    std::lock_guard lock(mutex_);
    const double now = monotonicNow();
    const bool quiet = !lastWritten_ || now - *lastWritten_ >= interval_;
    if (quiet && !pendingLocked()) {
        for (const auto& line : lines) platform::LineWriter::standardError().writeLine(line);
        lastWritten_ = now;
        return;
    }
    ++suppressed_;
    latest_ = lines.back();
    if (quiet) writeSummaryLocked(now);
}

void FailureReport::recordsLost(uint64_t count) {
    std::lock_guard lock(mutex_);
    lost_ += count;
    const double now = monotonicNow();
    if (lastWritten_ && now - *lastWritten_ >= interval_) writeSummaryLocked(now);
}

void FailureReport::settle() {
    std::lock_guard lock(mutex_);
    if (!pendingLocked() || !lastWritten_) return;
    const double now = monotonicNow();
    if (now - *lastWritten_ >= interval_) writeSummaryLocked(now);
}

void FailureReport::flush() {
    std::lock_guard lock(mutex_);
    if (pendingLocked()) writeSummaryLocked(monotonicNow());
}

void FailureReport::writeSummaryLocked(double now) {
    std::string line = component_ + ":";
    if (lost_ > 0) line += fmt::format(" {} record{} lost", lost_, lost_ == 1 ? "" : "s");
    if (suppressed_ > 0) {
        line += fmt::format("{} {} more failure{}", lost_ > 0 ? "," : "", suppressed_,
                            suppressed_ == 1 ? "" : "s");
    }
    if (lastWritten_) line += fmt::format(" in the last {:.0f} s", std::floor(now - *lastWritten_));
    if (!latest_.empty()) line += "; latest: " + latest_;
    platform::LineWriter::standardError().writeLine(line);
    lastWritten_ = now;
    suppressed_ = 0;
    lost_ = 0;
    latest_.clear();
}

}  // namespace tervolo::logging
