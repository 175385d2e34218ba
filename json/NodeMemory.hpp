#pragma once

#include <cstddef>
#include <cstdint>

namespace tervolo::json {

// Memory for the nodes of platform values. While a document is parsed on a
// thread, its nodes come from blocks of that parse, one after the other in
// the order of the text (a pointer bump each, neighbours in memory as they
// are in the document, and no free lists to sort out when it goes away);
// at any other time they come from the heap. A block goes back to the heap
// when the last node in it is released, on whichever thread that happens, so
// a part of a document kept after the rest is gone keeps its block.
namespace nodeMemory {

// The size of a block: a node lies within this distance of its block's start.
constexpr size_t blockSize = 64 * 1024;

// `size` bytes aligned for any node; `block` is set to the block they came
// from (null: the heap), which goes back with them.
void* allocate(size_t size, void*& block);
void release(void* memory, void* block) noexcept;

// While one of these lives on a thread, nodes released there are counted off
// their block once per run of nodes from the same block instead of once each:
// a document going away releases its nodes in the order they were made, so a
// run is most of a block. The counts still owed keep their blocks alive, and
// are settled when the outermost batch ends. Nested batches are part of it.
class ReleaseBatch {
  public:
    ReleaseBatch() noexcept;
    ~ReleaseBatch();
    ReleaseBatch(const ReleaseBatch&) = delete;
    ReleaseBatch& operator=(const ReleaseBatch&) = delete;
};

// Nodes made on this thread come from blocks while one of these lives (the
// parser holds one for each document). Not nested.
class BlockScope {
  public:
    BlockScope();
    ~BlockScope();
    BlockScope(const BlockScope&) = delete;
    BlockScope& operator=(const BlockScope&) = delete;

    void* allocate(size_t size);

  private:
    friend void* allocate(size_t size, void*& block);
    // Hands the current block over to its nodes.
    void retire() noexcept;

    BlockScope* previous_;
    void* block_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
    int64_t count_ = 0;  // nodes taken from the current block
};

}  // namespace nodeMemory

// The allocator of dictionary entries: each entry carries one word in front
// of it, its block or null for the heap (the word fits in the heap's rounding
// of an entry's size).
template <typename T>
struct NodeAllocator {
    using value_type = T;

    NodeAllocator() noexcept = default;
    template <typename U>
    NodeAllocator(const NodeAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        static_assert(alignof(T) <= alignof(uint64_t));
        static_assert(sizeof(void*) == alignof(uint64_t));
        void* block = nullptr;
        auto* word = static_cast<void**>(nodeMemory::allocate(n * sizeof(T) + sizeof(void*), block));
        *word = block;
        return reinterpret_cast<T*>(word + 1);
    }
    void deallocate(T* p, size_t) noexcept {
        void** word = reinterpret_cast<void**>(p) - 1;
        nodeMemory::release(word, *word);
    }

    template <typename U>
    bool operator==(const NodeAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace tervolo::json
