#include "platform/foundation/OSLog.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/ProcessInfo.hpp"

namespace platform {

namespace {

constexpr const char* kSystemLogPath = "/dev/log";

// The connection syslog(3) would make, kept open between records. A send
// that finds it broken closes it and connects once more at once; a failed
// connection is tried again only after OSLog::kReconnectDelay, so a process
// without a log daemon pays no socket and connect per record.
// Used under Backend::mutex only.
class SystemLogConnection {
  public:
    SystemLogConnection() = default;
    SystemLogConnection(const SystemLogConnection&) = delete;
    SystemLogConnection& operator=(const SystemLogConnection&) = delete;

    // `prefix` and `text` make the record's text; nothing is built while no log listens.
    void send(int priority, const std::string& identity, std::string_view prefix, std::string_view text) {
        if (fd_ < 0 && !connect()) return;
        std::string message = header(priority, identity);
        message.append(prefix);
        message.append(text);
        if (transmit(message) != Outcome::broken) return;
        close();
        if (!connect()) return;
        if (transmit(message) == Outcome::broken) close();
    }

    void setPath(std::string path) {
        close();
        path_ = path.empty() ? kSystemLogPath : std::move(path);
        retryAt_ = -std::numeric_limits<double>::infinity();
    }

    uint64_t attempts() const { return attempts_; }

  private:
    enum class Outcome { sent, dropped, broken };

    bool connect() {
        const double now = Clock::current()->monotonicSeconds();
        if (now < retryAt_) return false;
        ++attempts_;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path_.size() < sizeof address.sun_path) {
            std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
            // A log daemon listening on a stream socket refuses a datagram connection with
            // EPROTOTYPE; syslog(3) then takes a stream.
            for (const int type : {SOCK_DGRAM, SOCK_STREAM}) {
                const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
                if (fd < 0) break;
                if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
                    fd_ = fd;
                    type_ = type;
                    return true;
                }
                const int error = errno;
                ::close(fd);
                if (error != EPROTOTYPE) break;
            }
        }
        retryAt_ = now + OSLog::kReconnectDelay;
        return false;
    }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    Outcome transmit(const std::string& message) const {
        // A stream has no record ends of its own: syslog(3) sends the terminating NUL there.
        const size_t size = message.size() + (type_ == SOCK_STREAM ? 1 : 0);
        size_t sent = 0;
        while (sent < size) {
            const ssize_t n = ::send(fd_, message.c_str() + sent, size - sent, MSG_NOSIGNAL);
            if (n >= 0) {
                sent += static_cast<size_t>(n);
                if (type_ == SOCK_DGRAM) break;
                continue;
            }
            if (errno == EINTR) continue;
            // Too long for one datagram, or no buffer space: this record is lost, the connection is fine.
            if (errno == EMSGSIZE || errno == ENOBUFS || errno == EAGAIN) return Outcome::dropped;
            return Outcome::broken;
        }
        return Outcome::sent;
    }

    // syslog(3)'s message head: "<priority>Mmm dd hh:mm:ss identity[pid]: ", local time, C-locale month.
    static std::string header(int priority, const std::string& identity) {
        static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        const auto seconds = static_cast<time_t>(std::floor(Clock::current()->wallSeconds()));
        struct tm local {};
        localtime_r(&seconds, &local);
        char buffer[96];
        const int n = std::snprintf(buffer, sizeof buffer, "<%d>%s %2d %02d:%02d:%02d ", priority | LOG_USER,
                                    kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                                    local.tm_sec);
        std::string head(buffer, n > 0 ? static_cast<size_t>(n) : 0);
        head += identity;
        head += '[';
        head += std::to_string(::getpid());
        head += "]: ";
        return head;
    }

    std::string path_ = kSystemLogPath;
    int fd_ = -1;
    int type_ = SOCK_DGRAM;
    double retryAt_ = -std::numeric_limits<double>::infinity();  // monotonic seconds
    uint64_t attempts_ = 0;
};

struct Backend {
    std::mutex mutex;
    std::shared_ptr<OSLog::Sink> sink;
    bool identityKnown = false;
    std::string identity;
    SystemLogConnection connection;
};

Backend& backend() {
    return SharedInstance<Backend>::get();
}

// -1: follow the environment; 0/1: forced by a test.
std::atomic<int> gDebugOverride{-1};

bool debugFromEnvironment() {
    static const bool enabled = [] {
        const char* value = std::getenv("TERVOLO_LOG_DEBUG");
        return value != nullptr && value[0] != '\0';
    }();
    return enabled;
}

int priorityOf(OSLogType type) {
    switch (type) {
        case OSLogType::Error:
        case OSLogType::Fault:
            return LOG_ERR;
        case OSLogType::Debug:
            return LOG_DEBUG;
        case OSLogType::Default:
        case OSLogType::Info:
            return LOG_INFO;
    }
    return LOG_INFO;
}

}  // namespace

OSLog::OSLog(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

std::shared_ptr<OSLog> OSLog::defaultLog() {
    return SharedInstance<std::shared_ptr<OSLog>>::get(
        [] { return new std::shared_ptr<OSLog>(std::make_shared<OSLog>("", "")); });
}

std::shared_ptr<OSLog> OSLog::make(std::string subsystem, std::string category) {
    return std::make_shared<OSLog>(std::move(subsystem), std::move(category));
}

bool OSLog::isEnabled(OSLogType type) const {
    if (type != OSLogType::Debug) return true;
    const int forced = gDebugOverride.load(std::memory_order_relaxed);
    return forced >= 0 ? forced == 1 : debugFromEnvironment();
}

void OSLog::write(OSLogType type, std::string_view text) const {
    if (!isEnabled(type)) return;
    Backend& out = backend();
    std::unique_lock lock(out.mutex);
    if (out.sink) {
        std::shared_ptr<Sink> sink = out.sink;
        lock.unlock();
        sink->write(Record{subsystem_, category_, type, std::string(text)});
        return;
    }
    if (!out.identityKnown) {
        out.identity = ProcessInfo::processInfo().processName();
        out.identityKnown = true;
    }
    std::string prefix;
    if (!subsystem_.empty() || !category_.empty()) prefix = "[" + subsystem_ + ":" + category_ + "] ";
    out.connection.send(priorityOf(type), out.identity, prefix, text);
}

void OSLog::setSink(std::shared_ptr<Sink> sink) {
    Backend& out = backend();
    std::lock_guard lock(out.mutex);
    out.sink = std::move(sink);
}

void OSLog::setDebugEnabledForTesting(std::optional<bool> enabled) {
    gDebugOverride.store(enabled ? (*enabled ? 1 : 0) : -1, std::memory_order_relaxed);
}

void OSLog::setSystemLogPathForTesting(std::string path) {
    Backend& out = backend();
    std::lock_guard lock(out.mutex);
    out.connection.setPath(std::move(path));
}

uint64_t OSLog::systemLogConnectionAttempts() {
    Backend& out = backend();
    std::lock_guard lock(out.mutex);
    return out.connection.attempts();
}

std::shared_ptr<OSLogCapture> OSLogCapture::install() {
    auto capture = std::make_shared<OSLogCapture>();
    OSLog::setSink(capture);
    return capture;
}

void OSLogCapture::write(const OSLog::Record& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}

std::vector<OSLog::Record> OSLogCapture::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> OSLogCapture::texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    texts.reserve(records_.size());
    for (const auto& record : records_) texts.push_back(record.text);
    return texts;
}

void OSLogCapture::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

void OSLogCapture::uninstall() {
    OSLog::setSink(nullptr);
}

}  // namespace platform
