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
// Copies of a record keep pointing at a borrowed text and at their own copy of
// an owned one.
class QLLogText {
  public:
    QLLogText() = default;
    static QLLogText borrowed(std::string_view staticText) {
        QLLogText text;
        text._view = staticText;
        return text;
    }
    static QLLogText copied(std::string_view text) {
        QLLogText result;
        result._owned.assign(text);
        result._isOwned = true;
        result._view = result._owned;
        return result;
    }
    QLLogText(const QLLogText& other) : _owned(other._owned), _isOwned(other._isOwned) { rebase(other); }
    QLLogText(QLLogText&& other) noexcept : _owned(std::move(other._owned)), _isOwned(other._isOwned) {
        rebase(other);
    }
    QLLogText& operator=(const QLLogText& other) {
        if (this != &other) {
            _owned = other._owned;
            _isOwned = other._isOwned;
            rebase(other);
        }
        return *this;
    }
    QLLogText& operator=(QLLogText&& other) noexcept {
        if (this != &other) {
            _owned = std::move(other._owned);
            _isOwned = other._isOwned;
            rebase(other);
        }
        return *this;
    }

    std::string_view view() const { return _view; }

  private:
    void rebase(const QLLogText& other) { _view = _isOwned ? std::string_view(_owned) : other._view; }

    std::string _owned;
    bool _isOwned = false;
    std::string_view _view;
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
    QLLogMessage() = default;

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
    virtual ~QLLogMessage() = default;

    const std::string& message() const { return _message; }
    QLLogLevel level() const { return _level; }
    QLLogFlag flag() const { return _flag; }
    int64_t context() const { return _context; }
    std::string_view file() const { return _file.view(); }
    // The file's base name without its extension ("Point" for /a/b/Point.cpp).
    std::string_view fileName() const { return file().substr(_fileNameOffset, _fileNameLength); }
    std::string_view function() const { return _function.view(); }
    uint64_t line() const { return _line; }
    // `tag` and `representedObject` are the same value (the older and the newer name).
    const std::any& tag() const { return _representedObject; }
    const std::any& representedObject() const { return _representedObject; }
    int64_t options() const { return _options; }
    platform::Date timestamp() const { return _timestamp; }
    // The calling thread's system thread id (gettid) in decimal.
    const std::string& threadID() const { return _threadID; }
    // The calling thread's name; may be empty.
    const std::string& threadName() const { return _threadName; }
    // The label of the dispatch queue the caller ran on; empty on a plain thread.
    const std::string& queueLabel() const { return _queueLabel; }
    // The quality-of-service class of the caller's queue.
    platform::QoS qos() const { return _qos; }

  protected:
    // Protected, not private, so records specialised by other parts of the
    // framework (a record with a replaced message, a record with facade
    // information) can be built from an existing one.
    std::string _message;
    QLLogLevel _level = QLLogLevel::off;
    QLLogFlag _flag{0};
    int64_t _context = 0;
    QLLogText _file;
    // The file name is a part of the file text: its offset and length.
    size_t _fileNameOffset = 0;
    size_t _fileNameLength = 0;
    QLLogText _function;
    uint64_t _line = 0;
    std::any _representedObject;
    int64_t _options = 0;
    platform::Date _timestamp;
    std::string _threadID;
    std::string _threadName;
    std::string _queueLabel;
    platform::QoS _qos = platform::QoS::Unspecified;
};

using QLLogMessagePtr = std::shared_ptr<const QLLogMessage>;

// The text between the last "/" and the last "." after it: "Point" for
// "/a/b/Point.source", "Makefile" for "/a/b/Makefile", "" for "/a/.abc".
// A null path gives an empty optional. The view refers to the caller's bytes.
std::optional<std::string_view> QLExtractFileNameWithoutExtension(const char* path);

}  // namespace tervolo::logging
