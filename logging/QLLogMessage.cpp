#include "logging/QLLogMessage.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

#include "platform/dispatch/SharedInstance.hpp"

#include "platform/foundation/ProcessInfo.hpp"

namespace tervolo::logging {

namespace {

using detail::fileNameWithoutExtension;

// gettid() in decimal, made once per thread: a record is made on every log
// call, and the id of a thread never changes.
const std::string& currentThreadIDText() {
    thread_local const std::string text = [] {
        const int64_t tid = platform::ProcessInfo::currentThreadID();
        return tid > 0 ? std::to_string(tid) : std::string("missing threadId");
    }();
    return text;
}

// Message strings of finished records, with their buffers, kept for the next
// records. Each thread keeps a few of its own and trades them with the shared
// stock in batches, so a log call and a record's end on a logger's queue
// seldom meet at the lock. The stock is bounded, so a burst does not stay in
// memory.
class MessageStrings {
  public:
    static constexpr size_t kBatch = 32;
    static constexpr size_t kMaximumStock = 4096;

    // Null when there is nothing to reuse.
    std::string* take() {
        if (localGone()) return nullptr;
        std::vector<std::string*>& local = this->local().strings;
        if (local.empty()) {
            std::lock_guard lock(mutex_);
            const size_t n = std::min(kBatch, stock_.size());
            if (n == 0) return nullptr;
            local.insert(local.end(), stock_.end() - static_cast<ptrdiff_t>(n), stock_.end());
            stock_.resize(stock_.size() - n);
        }
        std::string* text = local.back();
        local.pop_back();
        return text;
    }

    void giveBack(std::string* text) {
        if (localGone()) {
            // The thread is ending: a record released by another thread-local
            // object after the stock of this thread went away.
            delete text;
            return;
        }
        std::vector<std::string*>& local = this->local().strings;
        local.push_back(text);
        if (local.size() >= 2 * kBatch) returnToStock(local, kBatch);
    }

  private:
    struct Local {
        MessageStrings* owner;
        std::vector<std::string*> strings;
        ~Local() {
            owner->returnToStock(strings, strings.size());
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
    // Moves the last `n` of `strings` to the stock; those beyond its bound are deleted.
    void returnToStock(std::vector<std::string*>& strings, size_t n) {
        if (n == 0) return;
        std::vector<std::string*> dropped;
        {
            std::lock_guard lock(mutex_);
            for (size_t i = 0; i < n; ++i) {
                std::string* text = strings[strings.size() - 1 - i];
                if (stock_.size() < kMaximumStock) {
                    stock_.push_back(text);
                } else {
                    dropped.push_back(text);
                }
            }
        }
        strings.resize(strings.size() - n);
        for (std::string* text : dropped) delete text;
    }

    std::mutex mutex_;
    std::vector<std::string*> stock_;
};

// Message texts at most this long keep their buffers for reuse.
constexpr size_t kMaximumKeptCapacity = 1024;

MessageStrings& messageStrings() {
    return platform::SharedInstance<MessageStrings>::get();
}

// An empty string object, with a buffer when a finished record left one.
std::string* takeMessageString() {
    if (std::string* text = messageStrings().take()) return text;
    return new std::string();
}

std::string* makeMessageString(std::string_view text) {
    std::string* made = takeMessageString();
    try {
        made->assign(text);
    } catch (...) {
        delete made;
        throw;
    }
    return made;
}

void giveBackMessageString(std::string* text) {
    // Long buffers are not kept.
    if (text->capacity() > kMaximumKeptCapacity) {
        delete text;
        return;
    }
    text->clear();
    messageStrings().giveBack(text);
}

// Record blocks are carved one after another from a chunk of the thread that
// makes them, and a chunk is used again only once every record in it has
// ended. Blocks handed back one by one by the threads that end the records
// (the loggers' queues) and taken again at once by a log call came to the
// caller still sitting in the other thread's cache: the call waited for those
// lines on most calls. Carved in order, a new block is the line after the last
// one, and each record costs its own bytes rounded to 16, nothing more.
//
// A chunk counts its records down: it starts at a large bias, each ended
// record takes one off, and the thread that carved it takes off the bias less
// the number it carved when it moves on to a new chunk. Whoever brings the
// count to zero gives the chunk back.
class RecordChunks {
  public:
    static constexpr size_t kChunkBytes = size_t{64} << 10;
    // Larger blocks (long messages) come from the heap on their own.
    static constexpr size_t kLargestCarved = 1024;
    // Set in the word stored after a record whose block was carved from a chunk
    // (the rest is the block's offset in the chunk); clear for a block of its own.
    static constexpr uint32_t kCarvedBit = uint32_t{1} << 31;

    // At least `size` bytes; `stored` becomes the word giveBack() needs.
    static void* take(size_t size, uint32_t& stored) {
        size = (size + 15) & ~size_t{15};
        if (size > kLargestCarved || carverGone()) {
            stored = 0;
            return ::operator new(size);
        }
        Carver& carver = Carver::current();
        if (carver.chunk == nullptr || carver.offset + size > kChunkBytes) carver.startChunk();
        char* block = reinterpret_cast<char*>(carver.chunk) + carver.offset;
        stored = kCarvedBit | static_cast<uint32_t>(carver.offset);
        carver.offset += size;
        ++carver.carved;
        return block;
    }

    static void giveBack(void* block, uint32_t stored) {
        if ((stored & kCarvedBit) == 0) {
            ::operator delete(block);
            return;
        }
        auto* chunk = reinterpret_cast<Chunk*>(static_cast<char*>(block) - (stored & ~kCarvedBit));
        release(chunk, 1);
    }

  private:
    struct Chunk {
        std::atomic<uint64_t> remaining;
    };
    static constexpr uint64_t kBias = uint64_t{1} << 62;
    // The count's cache line, which the records' ends write, holds no block.
    static constexpr size_t kFirstBlock = 64;
    // Chunks kept for reuse once their records ended (a burst's worth).
    static constexpr size_t kKeptChunks = 16;

    struct Carver {
        Chunk* chunk = nullptr;
        size_t offset = 0;
        uint64_t carved = 0;

        static Carver& current() {
            thread_local Carver carver;
            return carver;
        }
        void startChunk() {
            finishChunk();
            chunk = newChunk();
            offset = kFirstBlock;
            carved = 0;
        }
        void finishChunk() {
            if (chunk != nullptr) release(chunk, kBias - carved);
            chunk = nullptr;
        }
        ~Carver() {
            finishChunk();
            carverGone() = true;
        }
    };

    // Trivially destructible, so it can still be read once the thread's carver is gone.
    static bool& carverGone() {
        thread_local bool gone = false;
        return gone;
    }

    struct Kept {
        std::mutex mutex;
        std::vector<Chunk*> chunks;
    };
    static Kept& kept() { return platform::SharedInstance<Kept, RecordChunks>::get(); }

    static Chunk* newChunk() {
        Chunk* chunk = nullptr;
        {
            auto& k = kept();
            std::lock_guard lock(k.mutex);
            if (!k.chunks.empty()) {
                chunk = k.chunks.back();
                k.chunks.pop_back();
            }
        }
        if (chunk == nullptr) {
            chunk = ::new (::operator new(kChunkBytes)) Chunk();
        }
        chunk->remaining.store(kBias, std::memory_order_relaxed);
        return chunk;
    }

    static void release(Chunk* chunk, uint64_t count) {
        if (chunk->remaining.fetch_sub(count, std::memory_order_acq_rel) != count) return;
        {
            auto& k = kept();
            std::lock_guard lock(k.mutex);
            if (k.chunks.size() < kKeptChunks) {
                k.chunks.push_back(chunk);
                return;
            }
        }
        chunk->~Chunk();
        ::operator delete(chunk);
    }
};

// make() to the allocator: how many bytes follow the record in its block;
// the allocator to the record: where they start.
thread_local size_t tPendingTrailingBytes = 0;
thread_local char* tPendingTrailing = nullptr;

// Owned texts: a reference count, then the bytes.
struct alignas(8) OwnedTextHeader {
    std::atomic<uint32_t> references{1};
};

OwnedTextHeader* ownedTextHeader(const char* data) {
    return reinterpret_cast<OwnedTextHeader*>(const_cast<char*>(data) - sizeof(OwnedTextHeader));
}

// Longer messages are kept in a string of their own: the block records its
// size in 32 bits.
constexpr size_t kLongestTextInBlock = std::numeric_limits<uint32_t>::max() / 2;

uint32_t clampedSize(size_t size) {
    return static_cast<uint32_t>(std::min<size_t>(size, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

// MARK: - Record blocks

// The allocator of make(): the record's block carries, after the reference
// counts and the record, a word telling where the block came from and the
// message bytes. The word is written once, when the block is handed out, and
// never by the record, so it can be read when the block comes back.
template <typename T>
struct RecordBlockAllocator {
    using value_type = T;
    RecordBlockAllocator() = default;
    template <typename U>
    RecordBlockAllocator(const RecordBlockAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
        const size_t objects = n * sizeof(T);
        const size_t size = objects + QLLogMessage::kBlockSizeBytes + tPendingTrailingBytes;
        uint32_t stored = 0;
        char* block = static_cast<char*>(RecordChunks::take(size, stored));
        std::memcpy(block + objects, &stored, sizeof stored);
        tPendingTrailing = block + objects;
        return reinterpret_cast<T*>(block);
    }
    void deallocate(T* pointer, size_t n) noexcept {
        char* block = reinterpret_cast<char*>(pointer);
        uint32_t stored = 0;
        std::memcpy(&stored, block + n * sizeof(T), sizeof stored);
        RecordChunks::giveBack(block, stored);
    }
    template <typename... Args>
    void construct(QLLogMessage* pointer, Args&&... args) {
        // The block's size and the message bytes follow the record itself
        // (messageText relies on it).
        if (reinterpret_cast<char*>(pointer + 1) != tPendingTrailing) {
            std::fputs("QLLogMessage: record block layout differs from the one expected\n", stderr);
            std::abort();
        }
        ::new (static_cast<void*>(pointer)) QLLogMessage(std::forward<Args>(args)...);
    }
    template <typename U>
    bool operator==(const RecordBlockAllocator<U>&) const noexcept {
        return true;
    }
};

// MARK: - Texts

QLLogText QLLogText::copied(std::string_view text) {
    QLLogText result;
    if (text.empty()) return result;
    const uint32_t size = clampedSize(text.size());
    char* block = static_cast<char*>(::operator new(sizeof(OwnedTextHeader) + size));
    ::new (block) OwnedTextHeader();
    std::memcpy(block + sizeof(OwnedTextHeader), text.data(), size);
    result.data_ = block + sizeof(OwnedTextHeader);
    result.size_ = size;
    result.owned_ = true;
    return result;
}

void QLLogText::retain() const noexcept {
    if (owned_) ownedTextHeader(data_)->references.fetch_add(1, std::memory_order_relaxed);
}

void QLLogText::release() noexcept {
    OwnedTextHeader* header = ownedTextHeader(data_);
    if (header->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        header->~OwnedTextHeader();
        ::operator delete(header);
    }
    owned_ = false;
    data_ = nullptr;
    size_ = 0;
}

// MARK: - Caller snapshots

struct QLLogMessage::SharedCaller {
    mutable std::atomic<uint32_t> references{1};
    Caller caller;
};

namespace {

const QLLogMessage::SharedCaller* retainCaller(const QLLogMessage::SharedCaller* caller) {
    if (caller != nullptr) caller->references.fetch_add(1, std::memory_order_relaxed);
    return caller;
}

void releaseCaller(const QLLogMessage::SharedCaller* caller) {
    if (caller != nullptr && caller->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete caller;
}

// The caller snapshot of this thread, made again only when the thread's name
// or the queue it runs changed since its last record.
//
// The thread takes references in batches: a record's reference is handed out
// from the batch without touching the count, which the records' ends on the
// loggers' queues keep changing. The unused rest goes back with the snapshot.
class CallerCache {
  public:
    // Returned retained. Every log call asks: the common case, nothing
    // changed and references left, is kept inline.
    static const QLLogMessage::SharedCaller* current() {
        thread_local CallerCache cache;
        // One look-up for label and class: finding the current queue may cost
        // a system call on a thread that runs no queue block.
        const platform::DispatchQueue* queue = platform::DispatchQueue::current();
        const std::string& name = platform::ProcessInfo::currentThreadName();
        if (cache.caller_ == nullptr || queue != cache.queue_ || cache.threadName_ != name ||
            (queue != nullptr && cache.queueAlive_.expired())) [[unlikely]] {
            cache.remake(queue, name);
        }
        if (cache.references_ == 0) [[unlikely]]
            cache.refill();
        --cache.references_;
        return cache.caller_;
    }

    ~CallerCache() { drop(); }

  private:
    static constexpr uint32_t kReferenceBatch = 256;

    __attribute__((noinline)) void remake(const platform::DispatchQueue* queue, const std::string& name) {
        auto* made = new QLLogMessage::SharedCaller{};
        made->caller = {currentThreadIDText(), name, {}, platform::QoS::Unspecified};
        if (queue != nullptr) {
            made->caller.queueLabel = queue->label();
            made->caller.qos = queue->qos();
        }
        drop();
        threadName_ = made->caller.threadName;
        queueAlive_ =
            queue != nullptr ? queue->weak_from_this() : std::weak_ptr<const platform::DispatchQueue>();
        caller_ = made;
        queue_ = queue;
    }
    void refill() {
        caller_->references.fetch_add(kReferenceBatch, std::memory_order_relaxed);
        references_ = kReferenceBatch;
    }
    void drop() {
        if (caller_ == nullptr) return;
        const uint32_t held = references_ + 1;
        if (caller_->references.fetch_sub(held, std::memory_order_acq_rel) == held) delete caller_;
        caller_ = nullptr;
        references_ = 0;
    }

    const QLLogMessage::SharedCaller* caller_ = nullptr;
    uint32_t references_ = 0;  // held for records still to be made
    // What the snapshot was made from, compared here rather than in the
    // snapshot, whose line the records' ends keep writing. A queue's label
    // and class never change: while the queue lives (a queue made later at
    // its address is another one), they need no comparing.
    const platform::DispatchQueue* queue_ = nullptr;
    std::weak_ptr<const platform::DispatchQueue> queueAlive_;
    std::string threadName_;
};

}  // namespace

// MARK: - Records

const QLLogMessage::Extras QLLogMessage::kNoExtras{};
const QLLogMessage::Extras QLLogMessage::kLogCallExtras{
    QLLogLevel::all, 0, {}, kOptionCopyFile | kOptionCopyFunction};

QLLogMessage::QLLogMessage() : extras_(&kNoExtras) {}

QLLogMessage::QLLogMessage(std::string message, QLLogLevel level, QLLogFlag flag, int64_t context,
                           std::string_view file, std::string_view function, uint64_t line, std::any tag,
                           int64_t options, std::optional<platform::Date> timestamp)
    : QLLogMessage(std::move(message), level, flag, context, QLLogText::copied(file),
                   QLLogText::copied(function), line, std::move(tag), options, timestamp) {}

QLLogMessage::QLLogMessage(std::string message, QLLogLevel level, QLLogFlag flag, int64_t context,
                           QLLogText file, QLLogText function, uint64_t line, std::any tag, int64_t options,
                           std::optional<platform::Date> timestamp)
    : extras_(&kNoExtras),
      flag_(flag),
      file_(std::move(file)),
      function_(std::move(function)),
      line_(line),
      timestamp_(timestamp ? *timestamp : platform::Date::now()) {
    try {
        extras_ = extrasFor(level, context, std::move(tag), options);
        extrasOwned_ = !isShared(extras_);
        setMessage(std::move(message));
        takeSnapshot();
    } catch (...) {
        releaseOwned();
        throw;
    }
}

QLLogMessage::QLLogMessage(InBlock, std::string_view text, const Extras* extras, QLLogFlag flag,
                           QLLogText&& file, QLLogText&& function, uint64_t line)
    : extras_(extras != nullptr ? extras : &kLogCallExtras),
      flag_(flag),
      file_(std::move(file)),
      function_(std::move(function)),
      line_(line),
      timestamp_(platform::Date::now()),
      extrasOwned_(extras != nullptr && !isShared(extras)) {
    try {
        takeSnapshot();
    } catch (...) {
        extrasOwned_ = false;  // make() still holds them
        releaseOwned();
        throw;
    }
    textSize_ = static_cast<uint32_t>(text.size());
    textInBlock_ = true;
    std::memcpy(reinterpret_cast<char*>(this + 1) + kBlockSizeBytes, text.data(), text.size());
}

QLLogMessage::QLLogMessage(LogCall, std::string_view text, const QLLogCallSite& site)
    : extras_(&kLogCallExtras),
      flag_(site.flag),
      file_(QLLogText::borrowed(site.file)),
      function_(QLLogText::borrowed(site.function)),
      line_(site.line),
      timestamp_(platform::Date::now()),
      caller_(CallerCache::current()),
      textSize_(static_cast<uint32_t>(text.size())),
      fileNameOffset_(site.fileNameOffset),
      fileNameLength_(site.fileNameLength),
      textInBlock_(true) {
    std::memcpy(reinterpret_cast<char*>(this + 1) + kBlockSizeBytes, text.data(), text.size());
}

QLLogMessage::QLLogMessage(const QLLogMessage& other)
    : extras_(other.extras_),
      flag_(other.flag_),
      file_(other.file_),
      function_(other.function_),
      line_(other.line_),
      timestamp_(other.timestamp_),
      caller_(retainCaller(other.caller_)),
      fileNameOffset_(other.fileNameOffset_),
      fileNameLength_(other.fileNameLength_) {
    try {
        if (other.extrasOwned_) {
            extras_ = new Extras(*other.extras_);
            extrasOwned_ = true;
        }
        const std::string_view text = other.messageText();
        if (!text.empty()) messageString_.store(makeMessageString(text), std::memory_order_relaxed);
    } catch (...) {
        releaseOwned();
        throw;
    }
}

QLLogMessage& QLLogMessage::operator=(const QLLogMessage& other) {
    if (this != &other) *this = QLLogMessage(other);
    return *this;
}

QLLogMessage::QLLogMessage(QLLogMessage&& other) noexcept : extras_(&kNoExtras) {
    *this = std::move(other);
}

QLLogMessage& QLLogMessage::operator=(QLLogMessage&& other) noexcept {
    if (this == &other) return *this;
    releaseOwned();
    file_ = std::move(other.file_);
    function_ = std::move(other.function_);
    extras_ = other.extras_;
    extrasOwned_ = other.extrasOwned_;
    flag_ = other.flag_;
    line_ = other.line_;
    timestamp_ = other.timestamp_;
    caller_ = other.caller_;
    fileNameOffset_ = other.fileNameOffset_;
    fileNameLength_ = other.fileNameLength_;
    textSize_ = 0;
    other.caller_ = nullptr;
    other.extras_ = &kNoExtras;
    other.extrasOwned_ = false;
    if (other.textInBlock_) {
        // The bytes stay with the other record's block.
        messageString_.store(makeMessageString(other.messageText()), std::memory_order_relaxed);
    } else {
        messageString_.store(other.messageString_.exchange(nullptr, std::memory_order_relaxed),
                             std::memory_order_relaxed);
    }
    textInBlock_ = false;
    return *this;
}

QLLogMessage::~QLLogMessage() {
    releaseOwned();
}

// Leaves the record empty: no message string, default extras, no caller, no
// owned texts. The block's own bytes are left alone.
void QLLogMessage::releaseOwned() noexcept {
    if (const std::string* text = messageString_.exchange(nullptr, std::memory_order_acquire)) {
        giveBackMessageString(const_cast<std::string*>(text));
    }
    if (extrasOwned_) delete extras_;
    extras_ = &kNoExtras;
    extrasOwned_ = false;
    releaseCaller(caller_);
    caller_ = nullptr;
    file_ = QLLogText();
    function_ = QLLogText();
}

template <typename... Args>
std::shared_ptr<const QLLogMessage> QLLogMessage::makeInBlock(std::string_view text, Args&&... args) {
    tPendingTrailingBytes = text.size();
    return std::allocate_shared<QLLogMessage>(RecordBlockAllocator<QLLogMessage>(), InBlock{}, text,
                                              std::forward<Args>(args)...);
}

std::shared_ptr<const QLLogMessage> QLLogMessage::make(std::string_view message, QLLogLevel level,
                                                       QLLogFlag flag, int64_t context, QLLogText file,
                                                       QLLogText function, uint64_t line, std::any tag,
                                                       int64_t options) {
    if (message.size() > kLongestTextInBlock) {
        return std::make_shared<const QLLogMessage>(std::string(message), level, flag, context,
                                                    std::move(file), std::move(function), line,
                                                    std::move(tag), options, std::nullopt);
    }
    std::unique_ptr<const Extras> owned;
    const Extras* extras = extrasFor(level, context, std::move(tag), options);
    if (!isShared(extras)) owned.reset(extras);
    auto record = makeInBlock(message, extras, flag, std::move(file), std::move(function), line);
    (void)owned.release();  // the record's now
    return record;
}

std::shared_ptr<const QLLogMessage> QLLogMessage::make(std::string_view message, QLLogFlag flag,
                                                       QLLogText file, QLLogText function, uint64_t line) {
    if (message.size() > kLongestTextInBlock) {
        return make(message, kLogCallExtras.level, flag, 0, std::move(file), std::move(function), line, {},
                    kLogCallExtras.options);
    }
    return makeInBlock(message, static_cast<const Extras*>(nullptr), flag, std::move(file),
                       std::move(function), line);
}

std::shared_ptr<const QLLogMessage> QLLogMessage::makeForLogCall(std::string_view text,
                                                                 const QLLogCallSite& site) {
    if (text.size() > kLongestTextInBlock) [[unlikely]] {
        return make(text, site.flag, QLLogText::borrowed(site.file), QLLogText::borrowed(site.function),
                    site.line);
    }
    tPendingTrailingBytes = text.size();
    return std::allocate_shared<QLLogMessage>(RecordBlockAllocator<QLLogMessage>(), LogCall{}, text, site);
}

std::string QLLogMessage::takeMessageBuffer() {
    std::string buffer;
    if (std::string* kept = messageStrings().take()) {
        buffer.swap(*kept);
        giveBackMessageString(kept);
    }
    return buffer;
}

const std::string& QLLogMessage::message() const {
    if (const std::string* text = messageString_.load(std::memory_order_acquire)) return *text;
    if (!textInBlock_) {
        static const std::string empty;
        return empty;
    }
    // Several loggers may ask at once: the first string made stays.
    std::string* made = makeMessageString(messageText());
    const std::string* expected = nullptr;
    if (messageString_.compare_exchange_strong(expected, made, std::memory_order_acq_rel,
                                               std::memory_order_acquire)) {
        return *made;
    }
    giveBackMessageString(made);
    return *expected;
}

std::string_view QLLogMessage::fileName() const {
    if (fileNameOffset_ == kFileNameUnknown) return fileNameWithoutExtension(file());
    return file().substr(fileNameOffset_, fileNameLength_);
}

const QLLogMessage::Caller& QLLogMessage::caller() const {
    static const Caller none;
    return caller_ != nullptr ? caller_->caller : none;
}

void QLLogMessage::setMessage(std::string message) {
    std::string* made = takeMessageString();
    *made = std::move(message);
    if (const std::string* old = messageString_.exchange(made, std::memory_order_acq_rel)) {
        giveBackMessageString(const_cast<std::string*>(old));
    }
    textInBlock_ = false;
}

void QLLogMessage::setCaller(Caller caller) {
    auto* made = new SharedCaller{};
    made->caller = std::move(caller);
    releaseCaller(caller_);
    caller_ = made;
}

namespace {

// The levels records commonly carry: none, the registry's masks up to each
// severity, all.
constexpr uint64_t kSharedLevels[] = {0, 1, 3, 7, 15, 31, ~uint64_t{0}};
constexpr size_t kSharedOptions = 8;

}  // namespace

const QLLogMessage::Extras* QLLogMessage::sharedExtras(QLLogLevel level, int64_t options) {
    using Table = std::array<Extras, std::size(kSharedLevels) * kSharedOptions>;
    // Made once and never destroyed: records may outlive every static.
    static const Table* table = [] {
        auto* made = new Table();
        for (size_t l = 0; l < std::size(kSharedLevels); ++l) {
            for (size_t o = 0; o < kSharedOptions; ++o) {
                (*made)[l * kSharedOptions + o] =
                    Extras{QLLogLevel{kSharedLevels[l]}, 0, {}, static_cast<int64_t>(o)};
            }
        }
        return made;
    }();
    if (options < 0 || options >= static_cast<int64_t>(kSharedOptions)) return nullptr;
    const auto* found = std::find(std::begin(kSharedLevels), std::end(kSharedLevels), rawValue(level));
    if (found == std::end(kSharedLevels)) return nullptr;
    return &(*table)[static_cast<size_t>(found - std::begin(kSharedLevels)) * kSharedOptions +
                     static_cast<size_t>(options)];
}

bool QLLogMessage::isShared(const Extras* extras) {
    if (extras == &kNoExtras || extras == &kLogCallExtras) return true;
    const Extras* first = sharedExtras(QLLogLevel::off, 0);
    return extras >= first && extras < first + std::size(kSharedLevels) * kSharedOptions;
}

const QLLogMessage::Extras* QLLogMessage::extrasFor(QLLogLevel level, int64_t context, std::any&& tag,
                                                    int64_t options) {
    if (context == 0 && !tag.has_value()) {
        if (level == kLogCallExtras.level && options == kLogCallExtras.options) return &kLogCallExtras;
        if (level == kNoExtras.level && options == kNoExtras.options) return &kNoExtras;
        if (const Extras* shared = sharedExtras(level, options)) return shared;
    }
    return new Extras{level, context, std::move(tag), options};
}

void QLLogMessage::takeSnapshot() {
    caller_ = CallerCache::current();
    const std::string_view path = file_.view();
    // A log call site lends the same literal on every call: its file name is
    // found once per thread, not on every record.
    struct FileNameCache {
        const char* path = nullptr;
        size_t size = 0;
        uint16_t offset = 0;
        uint16_t length = 0;
    };
    thread_local FileNameCache cache;
    const bool cacheable = file_.isBorrowed() && !path.empty();
    if (cacheable && cache.path == path.data() && cache.size == path.size()) {
        fileNameOffset_ = cache.offset;
        fileNameLength_ = cache.length;
        return;
    }
    const auto place = QLLogCallSite::fileNamePlace(path);
    fileNameOffset_ = place.offset;
    fileNameLength_ = place.length;
    if (cacheable) cache = {path.data(), path.size(), fileNameOffset_, fileNameLength_};
}

std::optional<std::string_view> QLExtractFileNameWithoutExtension(const char* path) {
    if (path == nullptr) return std::nullopt;
    return fileNameWithoutExtension(std::string_view(path, std::strlen(path)));
}

}  // namespace tervolo::logging
