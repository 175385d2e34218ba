#pragma once

#include <any>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "logging/QLLogCallSite.hpp"
#include "logging/QLLogFlag.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::logging {

// Text a record either borrows (a string literal with static storage, such as
// __FILE__ and __func__ at a log call site: it outlives every record) or owns.
// An owned text is immutable and shared by the copies of a record, so copying
// a record never copies its texts. Two words: a record carries two of these.
class QLLogText {
  public:
    QLLogText() = default;
    static QLLogText borrowed(std::string_view staticText) {
        QLLogText text;
        text.data_ = staticText.data();
        text.size_ = static_cast<uint32_t>(staticText.size());
        return text;
    }
    static QLLogText copied(std::string_view text);

    QLLogText(const QLLogText& other) noexcept
        : data_(other.data_), size_(other.size_), owned_(other.owned_) {
        retain();
    }
    QLLogText(QLLogText&& other) noexcept : data_(other.data_), size_(other.size_), owned_(other.owned_) {
        other.data_ = nullptr;
        other.size_ = 0;
        other.owned_ = false;
    }
    QLLogText& operator=(QLLogText&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(owned_, other.owned_);
        return *this;
    }
    QLLogText& operator=(const QLLogText& other) noexcept {
        other.retain();
        if (owned_) release();
        data_ = other.data_;
        size_ = other.size_;
        owned_ = other.owned_;
        return *this;
    }
    ~QLLogText() {
        if (owned_) release();
    }

    std::string_view view() const { return {data_, size_}; }
    // True for a borrowed text: its bytes at its address never change.
    bool isBorrowed() const { return !owned_; }

  private:
    void retain() const noexcept;
    void release() noexcept;

    const char* data_ = nullptr;
    uint32_t size_ = 0;
    bool owned_ = false;
};

// One log record: the text, the severity, the caller's source position and a
// snapshot of the calling thread and queue taken when the record is made.
//
// A record is made on the caller's thread and then read, never written, by the
// registry and by every logger on its own queue; it travels as
// QLLogMessagePtr so all of them share the one immutable object. Records have
// identity, not value, equality: two distinct records are never equal, so no
// operator== is given (compare the pointers).
//
// A record from make() is one block: reference counts, fields and the message
// bytes. The fields a log call leaves at their defaults (level, context, tag,
// options) live out of line only when a caller sets them.
class QLLogMessage {
  public:
    // Record options, kept in the record as given. File and function texts are
    // copied unless they are string literals (see QLLogText), which no caller
    // can change or release, so the bits carry no behaviour of their own; the
    // logging functions pass 3.
    static constexpr int64_t kOptionCopyFile = 1;
    static constexpr int64_t kOptionCopyFunction = 2;
    static constexpr int64_t kOptionDontCopyMessage = 4;

    // A record with every field empty or zero.
    QLLogMessage();

    // The designated way to make a record. Takes the thread and queue snapshot
    // of the calling thread; `timestamp` empty means now. An empty `function`
    // means "no function text", an empty `file` "no file" (and no file name).
    QLLogMessage(std::string message, QLLogLevel level, QLLogFlag flag, int64_t context,
                 std::string_view file, std::string_view function, uint64_t line, std::any tag,
                 int64_t options, std::optional<platform::Date> timestamp);
    // The same with file and function texts that are borrowed or copied as the
    // caller says (the logging macros lend their string literals).
    QLLogMessage(std::string message, QLLogLevel level, QLLogFlag flag, int64_t context, QLLogText file,
                 QLLogText function, uint64_t line, std::any tag, int64_t options,
                 std::optional<platform::Date> timestamp);

    // Copying keeps every field, the caller snapshot included: a copy describes
    // the original call, not the copying thread.
    QLLogMessage(const QLLogMessage& other);
    QLLogMessage& operator=(const QLLogMessage& other);
    QLLogMessage(QLLogMessage&& other) noexcept;
    QLLogMessage& operator=(QLLogMessage&& other) noexcept;
    virtual ~QLLogMessage();

    // A record made as by the designated constructor (now, the caller's
    // snapshot) in one block, the message bytes included; the log calls make
    // one per call, and most of them reuse the block of a finished record
    // rather than allocate.
    static std::shared_ptr<const QLLogMessage> make(std::string_view message, QLLogLevel level,
                                                    QLLogFlag flag, int64_t context, QLLogText file,
                                                    QLLogText function, uint64_t line, std::any tag,
                                                    int64_t options);
    // The same for a log call: level all, context 0, no tag, options 3.
    static std::shared_ptr<const QLLogMessage> make(std::string_view message, QLLogFlag flag, QLLogText file,
                                                    QLLogText function, uint64_t line);

    // An empty text whose buffer a finished record gave back, so a caller can
    // build a message without an allocation of its own.
    static std::string takeMessageBuffer();

    // The message as a std::string. A record from make() keeps its bytes in its
    // own block and makes this string on the first request; the framework's
    // own readers use messageText().
    const std::string& message() const;
    // The message bytes, without making a string.
    std::string_view messageText() const {
        if (textInBlock_) return {reinterpret_cast<const char*>(this + 1) + kBlockSizeBytes, textSize_};
        const std::string* text = messageString_.load(std::memory_order_acquire);
        return text != nullptr ? std::string_view(*text) : std::string_view();
    }
    QLLogLevel level() const { return extras_->level; }
    QLLogFlag flag() const { return flag_; }
    int64_t context() const { return extras_->context; }
    std::string_view file() const { return file_.view(); }
    // The file's base name without its extension ("Point" for /a/b/Point.cpp).
    std::string_view fileName() const;
    std::string_view function() const { return function_.view(); }
    uint64_t line() const { return line_; }
    // `tag` and `representedObject` are the same value (the older and the newer name).
    const std::any& tag() const { return extras_->tag; }
    const std::any& representedObject() const { return extras_->tag; }
    int64_t options() const { return extras_->options; }
    platform::Date timestamp() const { return timestamp_; }
    // The calling thread's system thread id (gettid) in decimal.
    const std::string& threadID() const { return caller().threadID; }
    // The calling thread's name; may be empty.
    const std::string& threadName() const { return caller().threadName; }
    // The label of the dispatch queue the caller ran on; empty on a plain thread.
    const std::string& queueLabel() const { return caller().queueLabel; }
    // The quality-of-service class of the caller's queue.
    platform::QoS qos() const { return caller().qos; }

    // The caller snapshot: the same for every record a thread makes on one
    // queue under one name, so records share it instead of copying its texts.
    struct Caller {
        std::string threadID;
        std::string threadName;
        std::string queueLabel;
        platform::QoS qos = platform::QoS::Unspecified;
    };
    // A shared, reference-counted snapshot (one word in a record).
    struct SharedCaller;

  protected:
    // Protected, so records specialised by other parts of the framework (a
    // record with a replaced message, a record with facade information) can be
    // built from an existing one.

    // Replaces the message text.
    void setMessage(std::string message);
    // Replaces the caller snapshot (records standing for another caller).
    void setCaller(Caller caller);

  private:
    // In-block records: a word telling where the block came from, then the
    // message bytes, follow the record.
    static constexpr size_t kBlockSizeBytes = sizeof(uint32_t);
    // The fields a log call leaves at their defaults.
    struct Extras {
        QLLogLevel level = QLLogLevel::off;
        int64_t context = 0;
        std::any tag;
        int64_t options = 0;
    };
    struct InBlock {};
    struct LogCall {};
    static const Extras kNoExtras;
    static const Extras kLogCallExtras;
    static constexpr uint16_t kFileNameUnknown = QLLogCallSite::kFileNameUnknown;
    template <typename T>
    friend struct RecordBlockAllocator;
    friend class QLLog;

    // A record of make(): `text` goes into the bytes that follow the record in
    // its block. With null `extras` the record takes a log call's.
    QLLogMessage(InBlock, std::string_view text, const Extras* extras, QLLogFlag flag, QLLogText&& file,
                 QLLogText&& function, uint64_t line);
    // A log call's record in its block: the call site's literals borrowed,
    // the log call's extras.
    QLLogMessage(LogCall, std::string_view text, const QLLogCallSite& site);
    // The record of a log call (as make() for one): the registry hands it
    // over as soon as it is made.
    static std::shared_ptr<const QLLogMessage> makeForLogCall(std::string_view text,
                                                              const QLLogCallSite& site);

    const Caller& caller() const;
    // The extras for these values: a shared one, or one the record owns.
    static const Extras* extrasFor(QLLogLevel level, int64_t context, std::any&& tag, int64_t options);
    // The shared extras of the common values (no context, no tag, a usual
    // level, options 0 to 7); null for other values.
    static const Extras* sharedExtras(QLLogLevel level, int64_t options);
    static bool isShared(const Extras* extras);
    template <typename... Args>
    static std::shared_ptr<const QLLogMessage> makeInBlock(std::string_view text, Args&&... args);
    void releaseOwned() noexcept;
    void takeSnapshot();

    // The message as a string: given, or made on the first message() of an in-block record.
    mutable std::atomic<const std::string*> messageString_{nullptr};
    const Extras* extras_;
    QLLogFlag flag_{0};
    QLLogText file_;
    QLLogText function_;
    uint64_t line_ = 0;
    platform::Date timestamp_;
    const SharedCaller* caller_ = nullptr;
    // The registry's own reference while the record waits for the logging
    // queue: the block queued for it carries only the record's address.
    mutable std::shared_ptr<const QLLogMessage> handOver_;
    uint32_t textSize_ = 0;
    // The file name is a part of the file text: its offset and length
    // (kFileNameUnknown: found again on every request).
    uint16_t fileNameOffset_ = 0;
    uint16_t fileNameLength_ = 0;
    mutable std::atomic<bool> handOverBusy_{false};
    bool textInBlock_ = false;
    bool extrasOwned_ = false;
};

using QLLogMessagePtr = std::shared_ptr<const QLLogMessage>;

// The text between the last "/" and the last "." after it: "Point" for
// "/a/b/Point.source", "Makefile" for "/a/b/Makefile", "" for "/a/.abc".
// A null path gives an empty optional. The view refers to the caller's bytes.
std::optional<std::string_view> QLExtractFileNameWithoutExtension(const char* path);

}  // namespace tervolo::logging
