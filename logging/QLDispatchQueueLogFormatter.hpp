#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "logging/QLLogFormatter.hpp"
#include "logging/QLLogMessage.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::logging {

// Writes a record as one line with a millisecond local timestamp, the queue
// (or thread) that logged it, a two-letter quality-of-service code and the
// message:
//
//   2024-05-01 13:45:07:123 [main (QOS:UI)] message
//
// Queue names can be replaced by shorter texts and padded or cut to fixed
// widths so that the columns line up. One formatter may serve loggers on
// several queues: the replacements are guarded by a mutex and the widths are
// atomics.
class QLDispatchQueueLogFormatter : public QLLogFormatter {
  public:
    // Replacements start with one entry: the main queue's label to "main".
    QLDispatchQueueLogFormatter();
    // The same; the mode is not kept.
    explicit QLDispatchQueueLogFormatter(int mode);

    // Pad the queue column with blanks to at least this many characters; 0: no padding.
    size_t minQueueLength() const { return minQueueLength_.load(std::memory_order_relaxed); }
    void setMinQueueLength(size_t length) { minQueueLength_.store(length, std::memory_order_relaxed); }
    // Cut the queue column to at most this many characters; 0: no limit. The
    // cut wins over the padding.
    size_t maxQueueLength() const { return maxQueueLength_.load(std::memory_order_relaxed); }
    void setMaxQueueLength(size_t length) { maxQueueLength_.store(length, std::memory_order_relaxed); }

    std::optional<std::string> replacementStringForQueueLabel(const std::string& longLabel) const;
    // An empty replacement removes the label's entry.
    void setReplacementString(std::optional<std::string> shortLabel, const std::string& forQueueLabel);

    // Local time "yyyy-MM-dd HH:mm:ss:SSS" (Gregorian, POSIX digits).
    std::string stringFromDate(platform::Date date) const;
    // The queue column: the queue label, or the thread name for a global
    // queue or no queue (the thread id when the name is empty); replaced,
    // then cut or padded. Characters are Unicode code points: a cut never
    // splits one.
    std::string queueThreadLabelForLogMessage(const QLLogMessage& logMessage) const;
    // Never drops a record.
    std::optional<std::string> formatLogMessage(const QLLogMessage& logMessage) override;

    // "BG", "UT", "DF", "IN", "UI" for the platform class numbers 9, 17, 21,
    // 25, 33; "UN" for any other number, unspecified (0) included.
    static std::string_view qosCode(int qosClassNumber);
    // The labels of the platform's global queues, whose thread is shown instead.
    static bool isGlobalQueueLabel(std::string_view label);

  private:
    std::atomic<size_t> minQueueLength_{0};
    std::atomic<size_t> maxQueueLength_{0};
    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> replacements_;
};

}  // namespace tervolo::logging
