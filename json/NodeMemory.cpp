#include "json/NodeMemory.hpp"

#include <atomic>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TERVOLO_JSON_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TERVOLO_JSON_ASAN 1
#endif
#ifdef TERVOLO_JSON_ASAN
#include <sanitizer/asan_interface.h>
// Free parts of a block stay poisoned, so a node read after its release is
// still caught although its block lives on.
#define TERVOLO_JSON_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define TERVOLO_JSON_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define TERVOLO_JSON_POISON(p, n) ((void)(p), (void)(n))
#define TERVOLO_JSON_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace tervolo::json::nodeMemory {

namespace {

// Larger nodes (long arrays) come from the heap.
constexpr size_t largestInBlock = blockSize / 8;
constexpr size_t alignment = 8;

// The live count stands this much higher while the parse still fills the
// block, so releases during the parse (a replaced duplicate key, a failed
// parse) never bring it to zero early.
constexpr int64_t filling = int64_t{1} << 40;

struct alignas(16) Block {
    std::atomic<int64_t> live{filling};
};

thread_local BlockScope* current = nullptr;

// The releases of this thread's batch not yet counted off their block.
struct PendingReleases {
    void* block = nullptr;
    int64_t count = 0;
    int depth = 0;  // batches open
};
thread_local PendingReleases pending;

void freeBlock(Block* block) noexcept {
    TERVOLO_JSON_UNPOISON(block, blockSize);
    block->~Block();
    ::operator delete(static_cast<void*>(block));
}

}  // namespace

void* allocate(size_t size, void*& block) {
    if (current != nullptr) {
        if (void* memory = current->allocate(size)) {
            block = current->block_;
            return memory;
        }
    }
    block = nullptr;
    return ::operator new(size);
}

namespace {

// Counts `count` nodes off a block; the last one frees it.
void countOff(Block* block, int64_t count) noexcept {
    // Release: these nodes' last reads happen before the block is freed by
    // whichever thread lets go of the last node (acquire).
    if (block->live.fetch_sub(count, std::memory_order_acq_rel) == count) freeBlock(block);
}

void settlePending() noexcept {
    if (pending.block != nullptr) countOff(static_cast<Block*>(pending.block), pending.count);
    pending.block = nullptr;
    pending.count = 0;
}

}  // namespace

ReleaseBatch::ReleaseBatch() noexcept {
    ++pending.depth;
}

ReleaseBatch::~ReleaseBatch() {
    if (--pending.depth == 0) settlePending();
}

void release(void* memory, void* of) noexcept {
    if (of == nullptr) {
        ::operator delete(memory);
        return;
    }
    auto* block = static_cast<Block*>(of);
    // The size is not known here; the start of the node is enough to catch a
    // read through a stale pointer.
    TERVOLO_JSON_POISON(memory, alignment);
    if (pending.depth > 0) {
        if (pending.block != of) {
            settlePending();
            pending.block = of;
        }
        ++pending.count;
        return;
    }
    countOff(block, 1);
}

BlockScope::BlockScope() : previous_(current) {
    current = this;
}

BlockScope::~BlockScope() {
    retire();
    current = previous_;
}

void* BlockScope::allocate(size_t size) {
    size = (size + alignment - 1) & ~(alignment - 1);
    if (size > largestInBlock) return nullptr;
    if (static_cast<size_t>(end_ - next_) < size) {
        retire();
        void* memory = ::operator new(blockSize);
        block_ = new (memory) Block();
        next_ = static_cast<char*>(memory) + sizeof(Block);
        end_ = static_cast<char*>(memory) + blockSize;
        TERVOLO_JSON_POISON(next_, static_cast<size_t>(end_ - next_));
    }
    void* memory = next_;
    next_ += size;
    ++count_;
    TERVOLO_JSON_UNPOISON(memory, size);
    return memory;
}

void BlockScope::retire() noexcept {
    if (block_ == nullptr) return;
    auto* block = static_cast<Block*>(block_);
    // From now on the count is the number of nodes still held.
    const int64_t change = count_ - filling;
    if (block->live.fetch_add(change, std::memory_order_acq_rel) + change == 0) freeBlock(block);
    block_ = nullptr;
    next_ = end_ = nullptr;
    count_ = 0;
}

}  // namespace tervolo::json::nodeMemory
