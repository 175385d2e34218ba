#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/dispatch/ProcessorCount.hpp"

namespace platform {

// Quality-of-service classes. Their platform class numbers (qosClassNumber) are what log records carry.
enum class QoS { Unspecified, Background, Utility, Default, UserInitiated, UserInteractive };

// Platform class number of a QoS: 0, 9, 17, 21, 25, 33 (Unspecified … UserInteractive).
int qosClassNumber(QoS qos);

// Label of the main queue; log formatters replace it by "main".
inline constexpr const char* kMainQueueLabel = "com.apple.main-thread";

// A labelled FIFO of blocks. Serial queues run one block at a time in submission order; concurrent
// queues run plain blocks side by side and a barrier block alone, after everything queued before it.
// Blocks run on shared, elastic pools of worker threads (a queue holds no thread while idle), except
// `sync` blocks, which run on the caller's thread once the queue reaches them, and main-queue blocks,
// which run on the process's main thread through the installed executor (see MainQueueExecutor.hpp).
// Workers carry the label of the queue they serve as thread name (first 15 bytes); global-queue
// workers have no name.
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
  public:
    using Block = std::function<void()>;
    enum class Kind { Serial, Concurrent, Main, Global };

    static std::shared_ptr<DispatchQueue> serial(std::string label, QoS qos = QoS::Default);
    static std::shared_ptr<DispatchQueue> concurrent(std::string label, QoS qos = QoS::Default);
    // The queue of the main thread (the process's initial thread).
    static std::shared_ptr<DispatchQueue> main();
    // The process-wide concurrent queue of a QoS class; barriers on it act as plain blocks.
    static std::shared_ptr<DispatchQueue> global(QoS qos = QoS::Default);

    void async(Block block);
    void async(DispatchGroup& group, Block block);
    // Runs `block` after every block queued before it and returns when it has run. A `sync` onto a
    // queue the calling thread is already running (directly or through nested syncs) would deadlock;
    // it aborts the process with a message naming the queue instead. The main thread always runs the
    // main queue, so a sync onto the main queue from the main thread aborts too. An exception thrown by
    // the block reaches the caller and leaves the queue usable.
    void sync(const Block& block);
    // Runs `block` on this queue once `delaySeconds` of Clock::current()'s monotonic time have passed.
    void asyncAfter(double delaySeconds, Block block);
    void asyncBarrier(Block block);
    void syncBarrier(const Block& block);

    const std::string& label() const { return label_; }
    QoS qos() const { return qos_; }
    Kind kind() const { return kind_; }

    // Queue-specific data: a null value removes the key.
    void setSpecific(const void* key, std::shared_ptr<void> value);
    // The value stored under `key` on the CURRENT queue (null on a plain thread or when absent).
    static std::shared_ptr<void> getSpecific(const void* key);
    // The queue whose block the calling thread runs: inside sync(B) called from A, that is B. On the
    // main thread outside any block it is the main queue; on other plain threads nullptr.
    static DispatchQueue* current();
    static std::string currentLabel();  // "" on a plain thread
    static QoS currentQoS();            // Unspecified on a plain thread

    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    struct Impl;  // internal

  private:
    DispatchQueue(Kind kind, std::string label, QoS qos);

    Kind kind_;
    std::string label_;
    QoS qos_;
    std::unique_ptr<Impl> impl_;

    friend struct DispatchInternals;
};

}  // namespace platform
