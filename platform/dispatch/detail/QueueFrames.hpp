#pragma once

// Which queues the calling thread is running; internal to the dispatch layer.

#include <algorithm>
#include <cstdint>
#include <string>

namespace platform {
class DispatchQueue;
}  // namespace platform

namespace platform::detail {

// A frame is pushed for every block a thread runs on behalf of a queue (worker blocks, inline
// sync blocks, main-queue blocks); the innermost one is the current queue, and every frame on the
// stack is a queue the thread holds.
struct Frame {
    DispatchQueue* queue;
    bool exclusive;  // serial, main or barrier: nobody else may run on the queue meanwhile
    Frame* previous;
};

// The calling thread's innermost frame (null between blocks).
extern thread_local Frame* tlsTop;

class FrameScope {
  public:
    FrameScope(DispatchQueue* queue, bool exclusive) : frame_{queue, exclusive, tlsTop} { tlsTop = &frame_; }
    ~FrameScope() { tlsTop = frame_.previous; }
    FrameScope(const FrameScope&) = delete;
    FrameScope& operator=(const FrameScope&) = delete;

  private:
    Frame frame_;
};

// 0: not held; 1: held shared (concurrent reader); 2: held exclusively.
int heldBySelf(const DispatchQueue* queue);

// Workers of labelled queues carry the label of the queue they serve (cut to the 15 characters
// Linux keeps), so tools and log lines show it. Global-queue workers have a pool of their own and
// carry no name, like the platform's own workers; they are never renamed, so a cached thread name
// stays true.
void nameThread(const DispatchQueue& queue);

// A misuse that would deadlock or corrupt a queue: says so on standard error and aborts.
[[noreturn]] void fatal(const char* message, const std::string& label);

}  // namespace platform::detail
