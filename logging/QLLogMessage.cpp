#include "logging/QLLogMessage.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
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

// Things finished records leave behind (message buffers, record blocks),
// kept for the next records. Each thread keeps a few of its own and trades
// them with the shared stock in batches, so a log call and a record's end on
// a logger's queue seldom meet at the lock. The stock is bounded, so a burst
// does not stay in memory.
template <typename Item>
class Recycler {
  public:
    static constexpr size_t kBatch = 32;
    static constexpr size_t kMaximumCount = 4096;

    // False when there is nothing to reuse.
    bool take(Item& item) {
        if (localGone()) return false;
        Local& local = this->local();
        if (local.items.empty()) {
            std::lock_guard lock(mutex_);
            const size_t n = std::min(kBatch, stock_.size());
            std::move(stock_.end() - static_cast<ptrdiff_t>(n), stock_.end(),
                      std::back_inserter(local.items));
            stock_.resize(stock_.size() - n);
            if (n == 0) return false;
        }
        item = std::move(local.items.back());
        local.items.pop_back();
        return true;
    }

    void giveBack(Item item) {
        if (localGone()) {
            // The thread is ending: a record released by another thread-local
            // object after the stock of this thread went away.
            if constexpr (std::is_pointer_v<Item>) ::operator delete(item);
            return;
        }
        Local& local = this->local();
        local.items.push_back(std::move(item));
        if (local.items.size() >= 2 * kBatch) returnToStock(local.items, kBatch);
    }

  private:
    struct Local {
        Recycler* owner;
        std::vector<Item> items;
        ~Local() {
            owner->returnToStock(items, items.size());
            localGone() = true;
        }
    };
    // Trivially destructible, so it can still be read once the thread's stock is gone.
    static bool& localGone() {
        thread_local bool gone = false;
        return gone;
    }
    Local& local() {
        thread_local Local local{this, {}};
        return local;
    }
    void returnToStock(std::vector<Item>& items, size_t n) {
        std::vector<Item> dropped;
        {
            std::lock_guard lock(mutex_);
            for (size_t i = 0; i < n; ++i) {
                auto& item = items[items.size() - 1 - i];
                if (stock_.size() < kMaximumCount) {
                    stock_.push_back(std::move(item));
                } else {
                    dropped.push_back(std::move(item));
                }
            }
        }
        items.resize(items.size() - n);
        if constexpr (std::is_pointer_v<Item>) {
            for (Item block : dropped) ::operator delete(block);
        }
    }

    std::mutex mutex_;
    std::vector<Item> stock_;
};

// Message texts at most this long keep their buffers for reuse.
constexpr size_t kMaximumKeptCapacity = 1024;

Recycler<std::string>& messageBuffers() {
    return platform::SharedInstance<Recycler<std::string>>::get();
}

// Record blocks (record and reference count in one) of the one size
// QLLogMessage::make asks for.
struct RecordBlocks {
    Recycler<void*> blocks;
    std::atomic<size_t> blockSize{0};

    void* take(size_t size) {
        size_t expected = 0;
        if (blockSize.compare_exchange_strong(expected, size, std::memory_order_relaxed) ||
            expected == size) {
            void* block = nullptr;
            if (blocks.take(block)) return block;
        }
        return ::operator new(size);
    }
    void giveBack(void* block, size_t size) {
        if (size == blockSize.load(std::memory_order_relaxed)) {
            blocks.giveBack(block);
        } else {
            ::operator delete(block);
        }
    }
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
    // Short texts live inside the string itself: nothing to keep.
    if (message_.capacity() > std::string().capacity() && message_.capacity() <= kMaximumKeptCapacity) {
        message_.clear();
        messageBuffers().giveBack(std::move(message_));
    }
}

std::shared_ptr<const QLLogMessage> QLLogMessage::make(std::string message, QLLogLevel level, QLLogFlag flag,
                                                       int64_t context, QLLogText file, QLLogText function,
                                                       uint64_t line, std::any tag, int64_t options) {
    return std::allocate_shared<const QLLogMessage>(
        RecordAllocator<QLLogMessage>(), std::move(message), level, flag, context, std::move(file),
        std::move(function), line, std::move(tag), options, std::nullopt);
}

std::string QLLogMessage::takeMessageBuffer() {
    std::string buffer;
    messageBuffers().take(buffer);
    return buffer;
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
    // A log call site lends the same literal on every call: its file name is
    // found once per thread, not on every record.
    struct FileNameCache {
        const char* path = nullptr;
        size_t size = 0;
        uint32_t offset = 0;
        uint32_t length = 0;
    };
    thread_local FileNameCache cache;
    const bool cacheable = file_.isBorrowed() && !path.empty();
    if (cacheable && cache.path == path.data() && cache.size == path.size()) {
        fileNameOffset_ = cache.offset;
        fileNameLength_ = cache.length;
        return;
    }
    const std::string_view name = fileNameWithoutExtension(path);
    fileNameOffset_ = path.empty() ? 0 : static_cast<uint32_t>(name.data() - path.data());
    fileNameLength_ = static_cast<uint32_t>(name.size());
    if (cacheable) cache = {path.data(), path.size(), fileNameOffset_, fileNameLength_};
}

std::optional<std::string_view> QLExtractFileNameWithoutExtension(const char* path) {
    if (path == nullptr) return std::nullopt;
    return fileNameWithoutExtension(std::string_view(path, std::strlen(path)));
}

}  // namespace tervolo::logging
