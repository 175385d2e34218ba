#pragma once

#include <atomic>
#include <mutex>

namespace platform {

// The one instance of a shared service (a file manager, a notification centre, a worker pool):
// created on first use, safe to reach from any thread, and never destroyed, so no worker, timer
// or queue that outlives main() meets a destroyed instance at exit. Tests may put another
// instance in its place for a scope.
//
//     FileManager& FileManager::defaultManager() { return SharedInstance<FileManager>::get(); }
//
// `Tag` tells several shared instances of one type apart (the labelled and the global worker
// pool). A type whose constructor is private befriends `SharedInstance<T>`; one whose
// constructor takes arguments passes a factory that returns a new T. The factory runs once;
// keep every use of one instance behind one accessor so that they all pass the same factory.
//
// This header lives in platform/dispatch, the lowest layer, so that every target may use it.
template <class T, class Tag = T>
class SharedInstance {
  public:
    static T& get() {
        return get([] { return new T(); });
    }

    template <class Make>
    static T& get(Make&& make) {
        // One acquire load once created: as cheap as a function-local static's guard.
        if (T* current = current_.load(std::memory_order_acquire)) return *current;
        std::call_once(createdOnce_, [&] {
            created_.store(make(), std::memory_order_release);
            T* expected = nullptr;
            current_.compare_exchange_strong(expected, created_.load(std::memory_order_relaxed),
                                             std::memory_order_acq_rel);
        });
        if (T* current = current_.load(std::memory_order_acquire)) return *current;
        // A replacement ended between the two loads: the created instance serves again.
        return *created_.load(std::memory_order_acquire);
    }

    // While the returned object lives, every get() answers `replacement`. The shared instance,
    // if it was created, is kept and answers again afterwards. Meant for tests: replace before
    // the code under test starts threads that use the instance, restore after they have ended.
    class Replacement {
      public:
        explicit Replacement(T& replacement)
            : previous_(current_.exchange(&replacement, std::memory_order_acq_rel)) {}
        ~Replacement() { current_.store(previous_, std::memory_order_release); }
        Replacement(const Replacement&) = delete;
        Replacement& operator=(const Replacement&) = delete;

      private:
        T* previous_;
    };

    [[nodiscard]] static Replacement replaceForTesting(T& replacement) { return Replacement(replacement); }

  private:
    static inline std::once_flag createdOnce_;
    static inline std::atomic<T*> created_{nullptr};
    static inline std::atomic<T*> current_{nullptr};
};

}  // namespace platform
