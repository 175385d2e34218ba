#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "logging/QLLogFlag.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::logging {

// Text a record either borrows (a string literal with static storage, such as
// __FILE__ and __func__ at a log call site: it outlives every record) or owns.
// An owned text is immutable and shared by the copies of a record, so copying
// a record never copies its texts.
class QLLogText {
  public:
    QLLogText() = default;
    static QLLogText borrowed(std::string_view staticText) {
        QLLogText text;
        text.view_ = staticText;
        return text;
    }
    static QLLogText copied(std::string_view text) {
        QLLogText result;
        if (text.empty()) return result;
        result.owned_ = std::make_shared<const std::string>(text);
        result.view_ = *result.owned_;
        return result;
    }

    std::string_view view() const { return view_; }
    // True for a borrowed text: its bytes at its address never change.
    bool isBorrowed() const { return owned_ == nullptr; }

  private:
    std::string_view view_;
    std::shared_ptr<const std::string> owned_;
};

// One log record: the text, the severity, the caller's source position and a
// snapshot of the calling thread and queue taken when the record is made.
//
// A record is made on the caller's thread and then read, never written, by the
// registry and by every logger on its own queue; it travels as
// QLLogMessagePtr so all of them share the one immutable object. Records have
// identity, not value, equality: two distinct records are never equal, so no
// operator== is given (compare the pointers).
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
    QLLogMessage() : caller_(noCaller()) {}

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
    QLLogMessage(const QLLogMessage&) = default;
    QLLogMessage& operator=(const QLLogMessage&) = default;
    QLLogMessage(QLLogMessage&&) noexcept = default;
    QLLogMessage& operator=(QLLogMessage&&) noexcept = default;
    // Hands the message's buffer back for the next record (see takeMessageBuffer).
    virtual ~QLLogMessage();

    // A record made as by the designated constructor (now, the caller's
    // snapshot) in a block a finished record gave back: the log calls make
    // one per call, and most of them reuse memory rather than allocate.
    static std::shared_ptr<const QLLogMessage> make(std::string message, QLLogLevel level, QLLogFlag flag,
                                                    int64_t context, QLLogText file, QLLogText function,
                                                    uint64_t line, std::any tag, int64_t options);

    // An empty text whose buffer a finished record gave back, so a log call
    // can format its message without an allocation of its own.
    static std::string takeMessageBuffer();

    const std::string& message() const { return message_; }
    QLLogLevel level() const { return level_; }
    QLLogFlag flag() const { return flag_; }
    int64_t context() const { return context_; }
    std::string_view file() const { return file_.view(); }
    // The file's base name without its extension ("Point" for /a/b/Point.cpp).
    std::string_view fileName() const { return file().substr(fileNameOffset_, fileNameLength_); }
    std::string_view function() const { return function_.view(); }
    uint64_t line() const { return line_; }
    // `tag` and `representedObject` are the same value (the older and the newer name).
    const std::any& tag() const { return representedObject_; }
    const std::any& representedObject() const { return representedObject_; }
    int64_t options() const { return options_; }
    platform::Date timestamp() const { return timestamp_; }
    // The calling thread's system thread id (gettid) in decimal.
    const std::string& threadID() const { return caller_->threadID; }
    // The calling thread's name; may be empty.
    const std::string& threadName() const { return caller_->threadName; }
    // The label of the dispatch queue the caller ran on; empty on a plain thread.
    const std::string& queueLabel() const { return caller_->queueLabel; }
    // The quality-of-service class of the caller's queue.
    platform::QoS qos() const { return caller_->qos; }

    // The caller snapshot: the same for every record a thread makes on one
    // queue under one name, so records share it instead of copying its texts.
    struct Caller {
        std::string threadID;
        std::string threadName;
        std::string queueLabel;
        platform::QoS qos = platform::QoS::Unspecified;
    };

  protected:
    // Protected, not private, so records specialised by other parts of the
    // framework (a record with a replaced message, a record with facade
    // information) can be built from an existing one.
    std::string message_;
    QLLogLevel level_ = QLLogLevel::off;
    QLLogFlag flag_{0};
    int64_t context_ = 0;
    QLLogText file_;
    QLLogText function_;
    // The file name is a part of the file text: its offset and length.
    uint32_t fileNameOffset_ = 0;
    uint32_t fileNameLength_ = 0;
    uint64_t line_ = 0;
    std::any representedObject_;
    int64_t options_ = 0;
    platform::Date timestamp_;
    std::shared_ptr<const Caller> caller_;

    // Replaces the caller snapshot (records standing for another caller).
    void setCaller(Caller caller) { caller_ = std::make_shared<const Caller>(std::move(caller)); }

  private:
    static const std::shared_ptr<const Caller>& noCaller();
};

using QLLogMessagePtr = std::shared_ptr<const QLLogMessage>;

// The text between the last "/" and the last "." after it: "Point" for
// "/a/b/Point.source", "Makefile" for "/a/b/Makefile", "" for "/a/.abc".
// A null path gives an empty optional. The view refers to the caller's bytes.
std::optional<std::string_view> QLExtractFileNameWithoutExtension(const char* path);

}  // namespace tervolo::logging
