#include "logging/QLLogMessage.hpp"

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/dispatch/SharedInstance.hpp"

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

// The caller snapshot of this thread, made again only when the thread's name
// or the queue it runs changed since its last record.
const std::shared_ptr<const QLLogMessage::Caller>& currentCaller() {
    thread_local std::shared_ptr<const QLLogMessage::Caller> cached;
    thread_local const platform::DispatchQueue* cachedQueue = nullptr;
    // One look-up for label and class: finding the current queue may cost a
    // system call on a thread that runs no queue block.
    const platform::DispatchQueue* queue = platform::DispatchQueue::current();
    const std::string& name = platform::ProcessInfo::currentThreadName();
    if (cached && queue == cachedQueue && cached->threadName == name &&
        (queue == nullptr || (cached->qos == queue->qos() && cached->queueLabel == queue->label()))) {
        return cached;
    }
    QLLogMessage::Caller caller{currentThreadIDText(), name, {}, platform::QoS::Unspecified};
    if (queue != nullptr) {
        caller.queueLabel = queue->label();
        caller.qos = queue->qos();
    }
    cached = std::make_shared<const QLLogMessage::Caller>(std::move(caller));
    cachedQueue = queue;
    return cached;
}

// Message buffers of finished records, kept for the next ones. Bounded in
// number and in size, so a burst of long messages does not stay in memory.
class MessageBuffers {
  public:
    static constexpr size_t kMaximumCount = 4096;
    static constexpr size_t kMaximumCapacity = 1024;

    std::string take() {
        std::lock_guard lock(mutex_);
        if (free_.empty()) return {};
        std::string buffer = std::move(free_.back());
        free_.pop_back();
        return buffer;
    }
    void giveBack(std::string& buffer) {
        // Short texts live inside the string itself: nothing to keep.
        if (buffer.capacity() <= std::string().capacity() || buffer.capacity() > kMaximumCapacity) return;
        buffer.clear();
        std::lock_guard lock(mutex_);
        if (free_.size() < kMaximumCount) free_.push_back(std::move(buffer));
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> free_;
};

MessageBuffers& messageBuffers() {
    return platform::SharedInstance<MessageBuffers>::get();
}

// Memory blocks of finished records (record and reference count in one), of
// the one size QLLogMessage::make asks for.
class RecordBlocks {
  public:
    static constexpr size_t kMaximumCount = 4096;

    void* take(size_t size) {
        {
            std::lock_guard lock(mutex_);
            if (size == blockSize_ && !free_.empty()) {
                void* block = free_.back();
                free_.pop_back();
                return block;
            }
            if (blockSize_ == 0) blockSize_ = size;
        }
        return ::operator new(size);
    }
    void giveBack(void* block, size_t size) {
        {
            std::lock_guard lock(mutex_);
            if (size == blockSize_ && free_.size() < kMaximumCount) {
                free_.push_back(block);
                return;
            }
        }
        ::operator delete(block);
    }

  private:
    std::mutex mutex_;
    size_t blockSize_ = 0;
    std::vector<void*> free_;
};

RecordBlocks& recordBlocks() {
    return platform::SharedInstance<RecordBlocks>::get();
}

template <typename T>
struct RecordAllocator {
    using value_type = T;
    RecordAllocator() = default;
    template <typename U>
    RecordAllocator(const RecordAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
        return static_cast<T*>(recordBlocks().take(n * sizeof(T)));
    }
    void deallocate(T* block, size_t n) noexcept { recordBlocks().giveBack(block, n * sizeof(T)); }
    template <typename U>
    bool operator==(const RecordAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace

const std::shared_ptr<const QLLogMessage::Caller>& QLLogMessage::noCaller() {
    static const auto caller = std::make_shared<const Caller>();
    return caller;
}

QLLogMessage::~QLLogMessage() {
    messageBuffers().giveBack(message_);
}

std::shared_ptr<const QLLogMessage> QLLogMessage::make(std::string message, QLLogLevel level, QLLogFlag flag,
                                                       int64_t context, QLLogText file, QLLogText function,
                                                       uint64_t line, std::any tag, int64_t options) {
    return std::allocate_shared<const QLLogMessage>(
        RecordAllocator<QLLogMessage>(), std::move(message), level, flag, context, std::move(file),
        std::move(function), line, std::move(tag), options, std::nullopt);
}

std::string QLLogMessage::takeMessageBuffer() {
    return messageBuffers().take();
}

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
      caller_(currentCaller()) {
    const std::string_view path = file_.view();
    const std::string_view name = fileNameWithoutExtension(path);
    fileNameOffset_ = path.empty() ? 0 : static_cast<uint32_t>(name.data() - path.data());
    fileNameLength_ = static_cast<uint32_t>(name.size());
}

std::optional<std::string_view> QLExtractFileNameWithoutExtension(const char* path) {
    if (path == nullptr) return std::nullopt;
    return fileNameWithoutExtension(std::string_view(path, std::strlen(path)));
}

}  // namespace tervolo::logging
