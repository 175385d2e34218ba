#include "platform/dispatch/detail/QueueFrames.hpp"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/ThreadName.hpp"

namespace platform {

namespace detail {

thread_local Frame* tlsTop = nullptr;

namespace {
thread_local uint64_t tlsRenameCount = 0;
}  // namespace

int heldBySelf(const DispatchQueue* queue) {
    int held = 0;
    for (Frame* f = tlsTop; f != nullptr; f = f->previous) {
        if (f->queue == queue) held = std::max(held, f->exclusive ? 2 : 1);
    }
    return held;
}

void nameThread(const DispatchQueue& queue) {
    if (queue.kind() == DispatchQueue::Kind::Global) return;
    thread_local std::string current;
    // Compared in place: this runs before every block a worker takes.
    const std::string_view wanted = std::string_view(queue.label()).substr(0, 15);
    if (wanted == current) return;
    current.assign(wanted);
    pthread_setname_np(pthread_self(), current.c_str());
    ++tlsRenameCount;
}

void fatal(const char* message, const std::string& label) {
    std::fprintf(stderr, "platform::DispatchQueue: %s (queue \"%s\")\n", message, label.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace detail

uint64_t threadRenameCount() noexcept {
    return detail::tlsRenameCount;
}

}  // namespace platform
