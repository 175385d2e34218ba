#pragma once

// Renders a decoded crash report as the plain-text crash log: header about
// process, system and signal, the uncaught exception, every thread's
// backtrace, the crashed thread's registers and the binary images.
// Dates print as "YYYY-MM-DD hh:mm:ss +0000" (UTC), the incident identifier
// as an upper-case UUID, a missing value inside a line as "(null)". Any
// thread.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crash/QCrashReport.hpp"

namespace tervolo::crash {

// A formatter of decoded reports.
class QCrashReportFormatter {
  public:
    virtual ~QCrashReportFormatter() = default;
    virtual std::vector<uint8_t> formatReport(const QCrashReport& report,
                                              platform::Error* error = nullptr) const = 0;
};

class QCrashReportTextFormatter : public QCrashReportFormatter {
  public:
    static constexpr uint64_t kUTF8StringEncoding = 4;
    static constexpr uint64_t kASCIIStringEncoding = 1;

    // `stringEncoding`: 4 (UTF-8) or 1 (ASCII, other characters become "?").
    QCrashReportTextFormatter(int32_t textFormat, uint64_t stringEncoding)
        : textFormat_(textFormat), stringEncoding_(stringEncoding) {}

    int32_t textFormat() const { return textFormat_; }
    uint64_t stringEncoding() const { return stringEncoding_; }

    // Never fails.
    std::vector<uint8_t> formatReport(const QCrashReport& report,
                                      platform::Error* error = nullptr) const override;

    // The whole text; `textFormat` is not consulted.
    static std::string stringValueForCrashReport(const QCrashReport& report, int32_t textFormat);
    // The same text handed to `write` in pieces of about `pieceBytes` as it is made, for a caller
    // that passes it on rather than keeps it: only a piece is held at a time. The pieces, in
    // order, make stringValueForCrashReport's text. False, and no further piece, as soon as
    // `write` returns false.
    static bool writeCrashReport(const QCrashReport& report,
                                 const std::function<bool(std::string_view)>& write,
                                 size_t pieceBytes = 64 * 1024);
    // One backtrace line.
    static std::string formatStackFrame(const QCrashReportStackFrameInfo& frame, uint64_t frameIndex,
                                        const QCrashReport& report, bool lp64);

  private:
    int32_t textFormat_;
    uint64_t stringEncoding_;
};

}  // namespace tervolo::crash
