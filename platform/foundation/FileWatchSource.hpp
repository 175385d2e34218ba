#pragma once

#include <functional>
#include <memory>

namespace platform {

class DispatchQueue;

// Watches an open file for being deleted or renamed by someone else and
// delivers the events on a queue (the platform's vnode event source).
//
// Linux: inotify on the descriptor's inode (through /proc/self/fd). An unlink
// of a file that is still open does not produce IN_DELETE_SELF while any
// descriptor is open, so IN_ATTRIB (the link count changed) is checked with
// fstat: st_nlink == 0 reports Delete.
class FileWatchSource : public std::enable_shared_from_this<FileWatchSource> {
  public:
    enum Event : unsigned { Delete = 1, Rename = 2, Revoke = 4 };
    using EventHandler = std::function<void(unsigned events)>;  // OR of Event bits that fired

    // Created inactive. `fd` stays owned by the caller; the source keeps its
    // own duplicate. Returns null when the descriptor cannot be watched.
    static std::shared_ptr<FileWatchSource> make(int fd, unsigned eventMask,
                                                 std::shared_ptr<DispatchQueue> queue);
    ~FileWatchSource();

    void setEventHandler(EventHandler handler);
    // Runs once on the queue after cancel(); no event handler runs after it.
    void setCancelHandler(std::function<void()> handler);
    void activate();
    // Safe from any thread and in any state; events already queued but not yet
    // delivered are dropped.
    void cancel();
    bool isCancelled() const;

    struct State;

  private:
    FileWatchSource() = default;
    std::shared_ptr<State> state_;
};

}  // namespace platform
