#pragma once

// A doubly linked list that a signal handler may walk while ordinary code
// changes it.
//
// Writers (append, prepend, remove; not async-safe: they lock and allocate)
// are serialised by a mutex. Readers (async-safe) never lock: they mark the
// walk with set_reading(true/false) and follow the head and the next links,
// which writers publish atomically. A node unlinked while a reader is counted
// goes to a free list instead of being freed, so a reader never touches freed
// memory; a node is reused or freed only when no reader is counted, so a
// reader never sees a value change under it.
//
// Values are copied into nodes and never changed while linked.

#include <atomic>
#include <cstdint>
#include <mutex>

namespace tervolo::crash {

// What happens to a value when its node is finally freed: nothing by
// default; a list of owned records frees the record there.
struct async_list_keep_value {
    template <typename V>
    void operator()(V&) const {}
};

template <typename V, typename Release = async_list_keep_value>
class async_list {
  public:
    struct node {
        V value;
        node* prev = nullptr;  // writers only
        std::atomic<node*> next{nullptr};

        explicit node(const V& v) : value(v) {}
    };

    async_list() = default;
    async_list(const async_list&) = delete;
    async_list& operator=(const async_list&) = delete;
    ~async_list() {
        freeLinked(head_.load(std::memory_order_relaxed));
        freeUnlinked();
    }

    // Both return the new node, which stays valid until it is removed.
    // `prepare` sees the node before readers can reach it.
    node* append(const V& value) {
        return append(value, [](node*) {});
    }

    template <typename Prepare>
    node* append(const V& value, Prepare prepare) {
        std::lock_guard<std::mutex> lock(writer_);
        node* n = makeNode(value);
        prepare(n);
        n->prev = tail_;
        n->next.store(nullptr, std::memory_order_relaxed);
        if (tail_ == nullptr) {
            head_.store(n, std::memory_order_release);
        } else {
            tail_->next.store(n, std::memory_order_release);
        }
        tail_ = n;
        return n;
    }

    node* prepend(const V& value) {
        std::lock_guard<std::mutex> lock(writer_);
        node* n = makeNode(value);
        node* head = head_.load(std::memory_order_relaxed);
        n->prev = nullptr;
        n->next.store(head, std::memory_order_relaxed);
        if (head != nullptr) head->prev = n;
        if (tail_ == nullptr) tail_ = n;
        head_.store(n, std::memory_order_release);
        return n;
    }

    // Removes the first node whose value equals `value`; false when none does.
    bool remove(const V& value) {
        return removeIf([&](const V& v) { return v == value; });
    }

    template <typename Predicate>
    bool removeIf(Predicate matches) {
        std::lock_guard<std::mutex> lock(writer_);
        node* n = head_.load(std::memory_order_relaxed);
        while (n != nullptr && !matches(n->value)) n = n->next.load(std::memory_order_relaxed);
        if (n == nullptr) return false;
        node* next = n->next.load(std::memory_order_relaxed);
        if (n->prev == nullptr) {
            head_.store(next, std::memory_order_seq_cst);
        } else {
            n->prev->next.store(next, std::memory_order_seq_cst);
        }
        if (next != nullptr) {
            next->prev = n->prev;
        } else {
            tail_ = n->prev;
        }
        // The node keeps its own next link, so a reader standing on it walks
        // on into the list.
        n->prev = free_;
        free_ = n;
        if (readers_.load(std::memory_order_seq_cst) == 0) freeUnlinked();
        return true;
    }

    // Empties the list (writer side).
    void clear() {
        std::lock_guard<std::mutex> lock(writer_);
        node* n = head_.exchange(nullptr, std::memory_order_seq_cst);
        tail_ = nullptr;
        while (n != nullptr) {
            node* next = n->next.load(std::memory_order_relaxed);
            n->prev = free_;
            free_ = n;
            n = next;
        }
        if (readers_.load(std::memory_order_seq_cst) == 0) freeUnlinked();
    }

    // Reader side, async-safe.
    void set_reading(bool reading) {
        if (reading) {
            readers_.fetch_add(1, std::memory_order_seq_cst);
        } else {
            readers_.fetch_sub(1, std::memory_order_seq_cst);
        }
    }

    // The node after `current` (the first one for null), or null.
    node* next(node* current) const {
        if (current == nullptr) return head_.load(std::memory_order_acquire);
        return current->next.load(std::memory_order_acquire);
    }

  private:
    // Unlinked nodes are released only while no reader is counted (a reader
    // that still stood on one would otherwise see it change or vanish).
    node* makeNode(const V& value) {
        if (free_ != nullptr && readers_.load(std::memory_order_seq_cst) == 0) freeUnlinked();
        return new node(value);
    }

    static void freeLinked(node* n) {
        while (n != nullptr) {
            node* following = n->next.load(std::memory_order_relaxed);
            Release{}(n->value);
            delete n;
            n = following;
        }
    }

    // The free list is chained through prev.
    void freeUnlinked() {
        while (free_ != nullptr) {
            node* following = free_->prev;
            Release{}(free_->value);
            delete free_;
            free_ = following;
        }
    }

    std::mutex writer_;
    std::atomic<node*> head_{nullptr};
    node* tail_ = nullptr;
    std::atomic<int32_t> readers_{0};
    node* free_ = nullptr;
};

}  // namespace tervolo::crash
