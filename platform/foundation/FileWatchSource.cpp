#include "platform/foundation/FileWatchSource.hpp"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/ProcessInfo.hpp"

namespace platform {

struct FileWatchSource::State {
    std::mutex mutex;  // guards the fields below except `cancelled`
    uint64_t id = 0;
    int fd = -1;         // our duplicate of the watched descriptor
    int inotifyFd = -1;  // owned by the monitor's registration
    unsigned mask = 0;
    std::shared_ptr<DispatchQueue> queue;
    EventHandler handler;
    std::function<void()> cancelHandler;
    bool active = false;
    unsigned pending = 0;  // events seen before activate()
    std::atomic<bool> cancelled{false};
};

namespace {

using State = FileWatchSource::State;

// One thread waits on every source's inotify descriptor through epoll. The
// registry lock is held while a descriptor is read, and cancel() closes the
// descriptor under the same lock, so a read never meets a closed or reused
// descriptor.
class Monitor {
  public:
    static Monitor& shared() {
        return SharedInstance<Monitor>::get([] { return new Monitor; });
    }

    bool add(const std::shared_ptr<State>& state) {
        std::lock_guard lock(mutex_);
        if (epollFd_ < 0) return false;
        state->id = ++lastId_;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = state->id;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, state->inotifyFd, &event) != 0) return false;
        sources_.emplace(state->id, state);
        if (!started_) {
            started_ = true;
            std::thread([this] { run(); }).detach();
        }
        return true;
    }

    void remove(State& state) {
        std::lock_guard lock(mutex_);
        if (sources_.erase(state.id) == 0) return;
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, state.inotifyFd, nullptr);
        ::close(state.inotifyFd);
        state.inotifyFd = -1;
    }

  private:
    Monitor() { epollFd_ = ::epoll_create1(EPOLL_CLOEXEC); }

    void run() {
        ProcessInfo::setCurrentThreadName("file-watch");
        epoll_event events[16];
        for (;;) {
            const int count = ::epoll_wait(epollFd_, events, 16, -1);
            if (count < 0) {
                if (errno == EINTR) continue;
                return;
            }
            for (int i = 0; i < count; ++i) handle(events[i].data.u64);
        }
    }

    void handle(uint64_t id) {
        std::shared_ptr<State> state;
        unsigned fired = 0;
        {
            std::lock_guard lock(mutex_);
            auto found = sources_.find(id);
            if (found == sources_.end()) return;  // cancelled meanwhile
            state = found->second.lock();
            if (!state) return;
            fired = drain(*state);
        }
        if (fired != 0) deliver(state, fired);
    }

    // Reads every queued inotify event of one source; returns the Event bits.
    static unsigned drain(State& state) {
        alignas(inotify_event) char buffer[4096];
        unsigned fired = 0;
        for (;;) {
            const ssize_t length = ::read(state.inotifyFd, buffer, sizeof buffer);
            if (length <= 0) break;  // EAGAIN: drained
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                if ((event->mask & IN_DELETE_SELF) != 0) fired |= FileWatchSource::Delete;
                if ((event->mask & IN_MOVE_SELF) != 0) fired |= FileWatchSource::Rename;
                if ((event->mask & IN_UNMOUNT) != 0) fired |= FileWatchSource::Revoke;
                if ((event->mask & IN_ATTRIB) != 0) {
                    // An unlink of a file that is still open only changes its
                    // link count; no IN_DELETE_SELF comes while we hold it.
                    struct stat info {};
                    if (::fstat(state.fd, &info) == 0 && info.st_nlink == 0) fired |= FileWatchSource::Delete;
                }
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return fired;
    }

    static void deliver(const std::shared_ptr<State>& state, unsigned fired) {
        std::shared_ptr<DispatchQueue> queue;
        {
            std::lock_guard lock(state->mutex);
            fired &= state->mask;
            if (fired == 0) return;
            if (!state->active) {
                state->pending |= fired;
                return;
            }
            queue = state->queue;
        }
        std::weak_ptr<State> weak = state;
        queue->async([weak, fired] {
            auto alive = weak.lock();
            if (!alive || alive->cancelled.load()) return;
            FileWatchSource::EventHandler handler;
            {
                std::lock_guard lock(alive->mutex);
                handler = alive->handler;
            }
            if (handler) handler(fired);
        });
    }

    std::mutex mutex_;
    int epollFd_ = -1;
    bool started_ = false;
    uint64_t lastId_ = 0;
    std::map<uint64_t, std::weak_ptr<State>> sources_;
};

}  // namespace

std::shared_ptr<FileWatchSource> FileWatchSource::make(int fd, unsigned eventMask,
                                                       std::shared_ptr<DispatchQueue> queue) {
    if (fd < 0 || !queue) return nullptr;
    auto state = std::make_shared<State>();
    state->mask = eventMask;
    state->queue = std::move(queue);
    state->fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (state->fd < 0) return nullptr;
    state->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (state->inotifyFd < 0) {
        ::close(state->fd);
        return nullptr;
    }
    // The descriptor's own inode, also when its name is already gone or was
    // never known: /proc/self/fd/N resolves to the open file itself.
    const std::string path = "/proc/self/fd/" + std::to_string(state->fd);
    if (::inotify_add_watch(state->inotifyFd, path.c_str(), IN_MOVE_SELF | IN_DELETE_SELF | IN_ATTRIB) < 0 ||
        !Monitor::shared().add(state)) {
        ::close(state->inotifyFd);
        ::close(state->fd);
        return nullptr;
    }
    std::shared_ptr<FileWatchSource> source(new FileWatchSource);
    source->state_ = std::move(state);
    return source;
}

FileWatchSource::~FileWatchSource() {
    cancel();
}

void FileWatchSource::setEventHandler(EventHandler handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::move(handler);
}

void FileWatchSource::setCancelHandler(std::function<void()> handler) {
    std::lock_guard lock(state_->mutex);
    state_->cancelHandler = std::move(handler);
}

void FileWatchSource::activate() {
    unsigned pending = 0;
    std::shared_ptr<DispatchQueue> queue;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->active || state_->cancelled.load()) return;
        state_->active = true;
        pending = state_->pending;
        state_->pending = 0;
        queue = state_->queue;
    }
    if (pending != 0) {
        std::weak_ptr<State> weak = state_;
        queue->async([weak, pending] {
            auto alive = weak.lock();
            if (!alive || alive->cancelled.load()) return;
            FileWatchSource::EventHandler handler;
            {
                std::lock_guard lock(alive->mutex);
                handler = alive->handler;
            }
            if (handler) handler(pending);
        });
    }
}

void FileWatchSource::cancel() {
    if (!state_ || state_->cancelled.exchange(true)) return;
    Monitor::shared().remove(*state_);
    std::function<void()> cancelHandler;
    std::shared_ptr<DispatchQueue> queue;
    {
        std::lock_guard lock(state_->mutex);
        ::close(state_->fd);
        state_->fd = -1;
        cancelHandler = std::move(state_->cancelHandler);
        state_->handler = nullptr;
        queue = state_->queue;
    }
    if (cancelHandler) queue->async(std::move(cancelHandler));
}

bool FileWatchSource::isCancelled() const {
    return state_->cancelled.load();
}

}  // namespace platform
