#include "app/incoming/InstanceChannel.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/incoming/InstanceMessage.hpp"
#include "platform/foundation/FileManager.hpp"

namespace tervolo::app {

namespace {

using Clock = std::chrono::steady_clock;

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// A folder that only this user may enter: existing, a real folder, ours, and
// closed to group and others.
bool isPrivateFolder(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    return info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

std::string runtimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/' && isPrivateFolder(runtime)) return runtime;
    std::string folder = platform::FileManager::defaultManager().temporaryDirectory();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    folder += "/TervoloNG-" + std::to_string(getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return isPrivateFolder(folder) ? folder : std::string();
}

uint64_t fnv1a(const std::string& text) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

double secondsLeft(Clock::time_point deadline) {
    return std::chrono::duration<double>(deadline - Clock::now()).count();
}

// The process holding an flock on the file open at `fd`, from the kernel's
// list of locks; 0 when it cannot be told. The user is told whom to wait for.
pid_t lockHolder(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return 0;
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    FILE* locks = std::fopen("/proc/locks", "re");
    if (locks == nullptr) return 0;
    pid_t holder = 0;
    char line[256];
    while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
        // "1: FLOCK  ADVISORY  WRITE 4242 fe:00:123456 0 EOF"; waiters
        // carry "->" before the kind.
        char kind[16], mode[16], access[16], device[64];
        long pid = 0;
        if (std::sscanf(line, "%*[^:]: %15s %15s %15s %ld %63s", kind, mode, access, &pid, device) == 5 &&
            std::strcmp(kind, "FLOCK") == 0 && std::strcmp(device, wanted) == 0 && pid > 0) {
            holder = static_cast<pid_t>(pid);
        }
    }
    std::fclose(locks);
    return holder;
}

// Holds the claim lock for its lifetime.
class LockFile {
  public:
    LockFile(const std::string& path, double timeout) {
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            error_ = systemError("cannot open " + path);
            return;
        }
        // Starts hold the lock for a connect or a bind, never long; wait in
        // short steps rather than forever behind a stopped one.
        const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(timeout));
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                error_ = systemError("cannot lock " + path);
                return;
            }
            if (secondsLeft(deadline) <= 0) {
                heldElsewhere_ = true;
                const pid_t holder = lockHolder(fd_);
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%g", timeout);
                error_ = "another start of TervoloNG" +
                         (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
                         " has held " + path + " for " + seconds + " s";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        locked_ = true;
    }
    ~LockFile() {
        if (fd_ >= 0) close(fd_);  // releases the lock
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    bool locked() const { return locked_; }
    // The lock was not had because another process held it the whole time.
    bool heldElsewhere() const { return heldElsewhere_; }
    const std::string& error() const { return error_; }

  private:
    int fd_ = -1;
    bool locked_ = false;
    bool heldElsewhere_ = false;
    std::string error_;
};

bool writeAll(int fd, const std::string& bytes, Clock::time_point deadline) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd poller{fd, POLLOUT, 0};
            const double left = secondsLeft(deadline);
            if (left <= 0 || poll(&poller, 1, static_cast<int>(left * 1000) + 1) <= 0) return false;
            continue;
        }
        return false;
    }
    return true;
}

// One answer line of the running program, "\n" included: empty when the
// connection ends first or the line is too long for an answer, and with
// `timedOut` set when the deadline passes first.
std::string readAnswerLine(int fd, Clock::time_point deadline, bool& timedOut) {
    std::string answer;
    timedOut = false;
    while (answer.empty() || answer.back() != '\n') {
        const double left = secondsLeft(deadline);
        pollfd poller{fd, POLLIN, 0};
        const int ready = left <= 0 ? 0 : poll(&poller, 1, static_cast<int>(left * 1000) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timedOut = true;
            answer.clear();
            break;
        }
        char c = 0;
        const ssize_t n = recv(fd, &c, 1, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0 || answer.size() == 16) {
            answer.clear();
            break;
        }
        answer += c;
    }
    return answer;
}

std::string droppedFailure(size_t dropped) {
    return std::to_string(dropped) + (dropped == 1 ? " link was" : " links were") +
           " not opened: the running TervoloNG has too many short links waiting to be looked up; "
           "try again later";
}

}  // namespace

std::string InstanceChannel::socketPath() {
    const std::string folder = runtimeFolder();
    if (folder.empty()) return {};
    char hash[17];
    std::snprintf(
        hash, sizeof hash, "%016llx",
        static_cast<unsigned long long>(fnv1a(platform::FileManager::defaultManager().documentsDirectory())));
    return folder + "/TervoloNG-" + hash + ".socket";
}

InstanceChannel::Claim InstanceChannel::claim(const std::string& path, double lockTimeout, bool mayListen) {
    Claim claim;
    sockaddr_un address{};
    if (!fillAddress(path, address)) {
        claim.error = "no usable socket path";
        return claim;
    }
    LockFile lock(path + ".lock", lockTimeout);
    if (!lock.locked()) {
        if (lock.heldElsewhere()) claim.kind = Claim::Kind::undecided;
        claim.error = lock.error();
        return claim;
    }

    const int client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client < 0) {
        claim.error = systemError("cannot make a socket");
        return claim;
    }
    if (connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        claim.kind = Claim::Kind::running;
        claim.fd = client;
        return claim;
    }
    const int connectError = errno;
    close(client);
    if (connectError != ECONNREFUSED && connectError != ENOENT) {
        errno = connectError;
        claim.error = systemError("cannot reach " + path);
        return claim;
    }
    if (!mayListen) {
        claim.kind = Claim::Kind::absent;
        return claim;
    }

    // Nobody listens: a socket left by a program that ended without removing
    // it is taken over. Anything else at the path is not ours to remove.
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode) || info.st_uid != getuid()) {
            claim.error = path + " is not a socket of this user";
            return claim;
        }
        unlink(path.c_str());
    }
    const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (server < 0) {
        claim.error = systemError("cannot make a socket");
        return claim;
    }
    // Only the user may connect: the folder is private, and so is the socket.
    const mode_t previous = umask(0177);
    const int bound = bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    umask(previous);
    if (bound != 0 || chmod(path.c_str(), 0600) != 0 || listen(server, 16) != 0) {
        claim.error = systemError("cannot listen on " + path);
        close(server);
        return claim;
    }
    claim.kind = Claim::Kind::first;
    claim.fd = server;
    return claim;
}

std::optional<std::string> InstanceChannel::handOver(int fd, const std::vector<std::string>& links,
                                                     double timeout) {
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const std::string silent =
        "the running TervoloNG did not answer within " + std::to_string(static_cast<int>(timeout)) + " s";
    std::optional<std::string> failure;
    const bool sent = writeAll(fd, InstanceMessage{links}.encode(), deadline);
    const int sendError = errno;
    if (!sent && secondsLeft(deadline) <= 0) {
        failure = silent;
    } else {
        // The answer is one line: the acknowledgement or a refusal. A
        // program that refused before taking the whole message (every slot
        // taken) has still left its refusal to read.
        bool timedOut = false;
        const std::string answer = readAnswerLine(fd, deadline, timedOut);
        if (!sent) {
            errno = sendError;
            failure = answer.empty() || answer == InstanceMessage::kAcknowledgement
                          ? systemError("cannot send the links")
                          : answerFailure(answer);
        } else if (timedOut) {
            failure = silent;
        } else {
            failure = answerFailure(answer);
        }
        // Only a commit sent before the deadline lets the links open: once
        // the caller is told the hand-over failed, they never do.
        if (!failure) {
            if (secondsLeft(deadline) <= 0) {
                failure = silent;
            } else {
                const bool committed = writeAll(fd, std::string(InstanceMessage::kCommit), deadline);
                // Then the outcome: how many links could not be opened, or a
                // refusal when the program gave up the connection before it
                // read the commit (its slot went to another start, or its
                // time was up). A program that says nothing before the
                // deadline finds the commit when it resumes (it reads what
                // waits in the socket before it judges), so the links count
                // as taken: a start that said otherwise would have its caller
                // hand them over twice.
                bool outcomeTimedOut = false;
                const std::string outcome = readAnswerLine(fd, deadline, outcomeTimedOut);
                if (const auto dropped = InstanceMessage::droppedIn(outcome)) {
                    if (*dropped > 0) failure = droppedFailure(*dropped);
                } else if (!outcome.empty()) {
                    failure = answerFailure(outcome);
                } else if (!committed) {
                    failure = silent;
                }
            }
        }
    }
    close(fd);
    return failure;
}

std::optional<std::string> InstanceChannel::answerFailure(std::string_view answer) {
    if (answer == InstanceMessage::kAcknowledgement) return std::nullopt;
    if (answer == InstanceMessage::kBusy) {
        return "the running TervoloNG is busy with too many other starts; try again";
    }
    if (answer == InstanceMessage::kTooSlow) {
        return "the running TervoloNG gave up waiting for the links (they came too slowly)";
    }
    return "the running TervoloNG refused the links";
}

}  // namespace tervolo::app
