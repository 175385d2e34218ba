#include "logging/QLLogMessage.hpp"

#include <cstring>

#include "platform/foundation/ProcessInfo.hpp"

namespace tervolo::logging {

namespace {

// The base name of a path with everything from its last "." cut off.
std::string_view fileNameWithoutExtension(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    const auto dot = path.rfind('.');
    if (dot != std::string_view::npos) path = path.substr(0, dot);
    return path;
}

// gettid() in decimal, made once per thread: a record is made on every log
// call, and the id of a thread never changes.
const std::string& currentThreadIDText() {
    thread_local const std::string text = [] {
        const int64_t tid = platform::ProcessInfo::currentThreadID();
        return tid > 0 ? std::to_string(tid) : std::string("missing threadId");
    }();
    return text;
}

}  // namespace

QLLogMessage::QLLogMessage(std::string message, QLLogLevel level, QLLogFlag flag, int64_t context,
                           std::string_view file, std::string_view function, uint64_t line, std::any tag,
                           int64_t options, std::optional<platform::Date> timestamp)
    : QLLogMessage(std::move(message), level, flag, context, QLLogText::copied(file),
                   QLLogText::copied(function), line, std::move(tag), options, timestamp) {}

QLLogMessage::QLLogMessage(std::string message, QLLogLevel level, QLLogFlag flag, int64_t context,
                           QLLogText file, QLLogText function, uint64_t line, std::any tag, int64_t options,
                           std::optional<platform::Date> timestamp)
    : message_(std::move(message)),
      level_(level),
      flag_(flag),
      context_(context),
      file_(std::move(file)),
      function_(std::move(function)),
      line_(line),
      representedObject_(std::move(tag)),
      options_(options),
      timestamp_(timestamp ? *timestamp : platform::Date::now()),
      threadID_(currentThreadIDText()),
      threadName_(platform::ProcessInfo::currentThreadName()) {
    const std::string_view path = file_.view();
    const std::string_view name = fileNameWithoutExtension(path);
    fileNameOffset_ = path.empty() ? 0 : static_cast<size_t>(name.data() - path.data());
    fileNameLength_ = name.size();
    // One look-up for both: finding the current queue may cost a system call
    // on a thread that runs no queue block.
    if (const platform::DispatchQueue* queue = platform::DispatchQueue::current()) {
        queueLabel_ = queue->label();
        qos_ = queue->qos();
    }
}

std::optional<std::string_view> QLExtractFileNameWithoutExtension(const char* path) {
    if (path == nullptr) return std::nullopt;
    return fileNameWithoutExtension(std::string_view(path, std::strlen(path)));
}

}  // namespace tervolo::logging
