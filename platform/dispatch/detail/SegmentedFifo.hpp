#pragma once

// The FIFO behind a serial queue: one submitter side that appends under the queue's lock and one
// drain that takes everything waiting at once and then works through it without the lock. Items
// live in fixed segments that are used again once drained, so a steady flow of blocks allocates
// nothing, moves each block once on the way in and never again, and a burst does not leave one
// large buffer behind (only a few spare segments are kept).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace platform::detail {

template <class T, uint32_t kSegmentSize = 64>
class SegmentedFifo {
    struct Segment {
        Segment* next = nullptr;
        uint32_t begin = 0;  // the first item not yet taken off
        uint32_t end = 0;    // one past the last item put in
        alignas(T) std::byte storage[kSegmentSize * sizeof(T)];

        T* at(uint32_t index) { return std::launder(reinterpret_cast<T*>(storage) + index); }
        void destroyItems() {
            for (; begin < end; ++begin) at(begin)->~T();
        }
    };

  public:
    // What a drain took: items in order, taken off the front one by one. Segments it has worked
    // through collect in it until they are given back with recycle().
    class Run {
      public:
        Run() = default;
        Run(Run&& other) noexcept
            : head_(std::exchange(other.head_, nullptr)), used_(std::exchange(other.used_, nullptr)) {}
        Run& operator=(Run&& other) noexcept {
            if (this != &other) {
                release();
                head_ = std::exchange(other.head_, nullptr);
                used_ = std::exchange(other.used_, nullptr);
            }
            return *this;
        }
        ~Run() { release(); }

        bool empty() const { return head_ == nullptr; }
        T& front() { return *head_->at(head_->begin); }
        void pop_front() {
            head_->at(head_->begin)->~T();
            if (++head_->begin == head_->end) retireHead();
        }

      private:
        friend class SegmentedFifo;

        void retireHead() {
            Segment* done = head_;
            head_ = done->next;
            done->next = used_;
            used_ = done;
        }
        static void destroyChain(Segment* segment) {
            while (segment != nullptr) {
                segment->destroyItems();
                delete std::exchange(segment, segment->next);
            }
        }
        void release() {
            destroyChain(head_);
            destroyChain(used_);
            head_ = used_ = nullptr;
        }

        Segment* head_ = nullptr;  // never an empty segment
        Segment* used_ = nullptr;  // emptied, for reuse
    };

    SegmentedFifo() = default;
    SegmentedFifo(const SegmentedFifo&) = delete;
    SegmentedFifo& operator=(const SegmentedFifo&) = delete;
    ~SegmentedFifo() {
        Run::destroyChain(head_);
        Run::destroyChain(spare_);
    }

    bool empty() const { return head_ == nullptr; }

    void push_back(T&& value) {
        if (tail_ == nullptr || tail_->end == kSegmentSize) appendSegment();
        ::new (static_cast<void*>(tail_->at(tail_->end))) T(std::move(value));
        ++tail_->end;
    }

    // Everything queued, in order; the FIFO is empty afterwards.
    Run takeAll() {
        Run run;
        run.head_ = std::exchange(head_, nullptr);
        tail_ = nullptr;
        return run;
    }

    // Puts what is left of `run` in front of everything queued since it was taken.
    void putBack(Run& run) {
        if (run.head_ == nullptr) return;
        Segment* last = run.head_;
        while (last->next != nullptr) last = last->next;
        last->next = head_;
        if (head_ == nullptr) tail_ = last;
        head_ = std::exchange(run.head_, nullptr);
    }

    // Takes the segments `run` has worked through back for reuse, up to a few; frees the rest.
    void recycle(Run& run) {
        while (run.used_ != nullptr) {
            Segment* segment = std::exchange(run.used_, run.used_->next);
            if (spareCount_ < kSpareSegments) {
                segment->begin = segment->end = 0;
                segment->next = spare_;
                spare_ = segment;
                ++spareCount_;
            } else {
                delete segment;
            }
        }
    }

  private:
    static constexpr int kSpareSegments = 4;

    void appendSegment() {
        Segment* segment = spare_;
        if (segment != nullptr) {
            spare_ = segment->next;
            segment->next = nullptr;
            --spareCount_;
        } else {
            segment = new Segment;
        }
        if (tail_ != nullptr) {
            tail_->next = segment;
        } else {
            head_ = segment;
        }
        tail_ = segment;
    }

    Segment* head_ = nullptr;
    Segment* tail_ = nullptr;
    Segment* spare_ = nullptr;
    int spareCount_ = 0;
};

}  // namespace platform::detail
