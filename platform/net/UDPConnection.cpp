#include "platform/net/UDPConnection.hpp"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/dispatch/DispatchQueue.hpp"

namespace platform {

std::optional<uint16_t> UDPConnection::portFromText(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

std::shared_ptr<UDPConnection> UDPConnection::make(std::string host, uint16_t port) {
    return std::shared_ptr<UDPConnection>(new UDPConnection(std::move(host), port));
}

UDPConnection::UDPConnection(std::string host, uint16_t port) : host_(std::move(host)), port_(port) {}

UDPConnection::~UDPConnection() {
    if (fd_ >= 0) ::close(fd_);
}

UDPConnection::State UDPConnection::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void UDPConnection::setStateUpdateHandler(StateHandler handler) {
    std::lock_guard lock(mutex_);
    stateHandler_ = std::move(handler);
}

void UDPConnection::setViabilityUpdateHandler(BoolHandler handler) {
    std::lock_guard lock(mutex_);
    viabilityHandler_ = std::move(handler);
}

void UDPConnection::setBetterPathUpdateHandler(BoolHandler handler) {
    std::lock_guard lock(mutex_);
    betterPathHandler_ = std::move(handler);
}

void UDPConnection::start(std::shared_ptr<DispatchQueue> queue) {
    {
        std::lock_guard lock(mutex_);
        if (started_ || state_ == State::cancelled) return;
        started_ = true;
        queue_ = std::move(queue);
    }
    auto self = shared_from_this();
    queue_->async([self] { self->open(); });
}

// Runs on the start queue.
void UDPConnection::report(State state, std::optional<Error> error) {
    StateHandler handler;
    {
        std::lock_guard lock(mutex_);
        handler = stateHandler_;
    }
    if (handler) handler(state, std::move(error));
}

void UDPConnection::open() {
    report(State::setup, std::nullopt);
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::cancelled) return;
        state_ = State::preparing;
    }
    report(State::preparing, std::nullopt);

    // Numeric hosts only: no name lookup can block the queue or leak a query.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* result = nullptr;
    std::optional<Error> failure;
    int fd = -1;
    int status = ::getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &result);
    if (status != 0) {
        failure =
            Error::posix(EINVAL, "not a numeric address \"" + host_ + "\" (" + gai_strerror(status) + ")");
    } else {
        fd = ::socket(result->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            failure = Error::posix(errno, "socket");
        } else if (::connect(fd, result->ai_addr, result->ai_addrlen) != 0) {
            failure = Error::posix(errno, "connect");
            ::close(fd);
            fd = -1;
        }
        ::freeaddrinfo(result);
    }

    std::vector<std::pair<std::vector<uint8_t>, SendCompletion>> waiting;
    BoolHandler viability;
    BoolHandler betterPath;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::cancelled) {
            if (fd >= 0) ::close(fd);
            return;
        }
        waiting.swap(waiting_);
        if (failure) {
            state_ = State::failed;
            failure_ = failure;
        } else {
            state_ = State::ready;
            flushing_ = true;
            fd_ = fd;
            viability = viabilityHandler_;
            betterPath = betterPathHandler_;
        }
    }
    report(failure ? State::failed : State::ready, failure);
    if (!failure) {
        if (viability) viability(true);
        if (betterPath) betterPath(false);
    }
    if (failure) {
        for (auto& entry : waiting) {
            if (entry.second) entry.second(failure);
        }
        return;
    }
    // Sends made while the early ones go out join the queue behind them, so
    // datagrams leave in the order they were sent.
    for (;;) {
        for (auto& [content, completion] : waiting) transmit(content, completion);
        std::lock_guard lock(mutex_);
        waiting.clear();
        waiting.swap(waiting_);
        if (waiting.empty()) {
            flushing_ = false;
            return;
        }
    }
}

void UDPConnection::transmit(const std::vector<uint8_t>& content, const SendCompletion& completion) {
    std::optional<Error> error;
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::ready) {
            error = failure_ ? *failure_ : Error::posix(ECANCELED, "send");
        } else {
            ssize_t sent;
            do {
                sent = ::send(fd_, content.data(), content.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            } while (sent < 0 && errno == EINTR);
            if (sent < 0) error = Error::posix(errno, "send");
        }
    }
    if (completion) completion(error);
}

void UDPConnection::send(std::vector<uint8_t> content, SendCompletion completion) {
    std::shared_ptr<DispatchQueue> queue;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::setup || state_ == State::preparing || (flushing_ && state_ == State::ready)) {
            waiting_.emplace_back(std::move(content), std::move(completion));
            return;
        }
        queue = queue_;
    }
    if (!queue) {
        // Cancelled before it was ever started.
        if (completion) completion(Error::posix(ECANCELED, "send"));
        return;
    }
    auto self = shared_from_this();
    queue->async([self, content = std::move(content), completion = std::move(completion)] {
        self->transmit(content, completion);
    });
}

void UDPConnection::cancel() {
    std::vector<std::pair<std::vector<uint8_t>, SendCompletion>> waiting;
    std::shared_ptr<DispatchQueue> queue;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::cancelled) return;
        state_ = State::cancelled;
        flushing_ = false;
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        waiting.swap(waiting_);
        queue = queue_;
    }
    if (!queue) {
        // Never started: nothing runs handlers, so waiting sends end here.
        for (auto& entry : waiting) {
            if (entry.second) entry.second(Error::posix(ECANCELED, "send"));
        }
        return;
    }
    auto self = shared_from_this();
    queue->async([self, waiting = std::move(waiting)] {
        self->report(State::cancelled, std::nullopt);
        for (auto& entry : waiting) {
            if (entry.second) entry.second(Error::posix(ECANCELED, "send"));
        }
    });
}

}  // namespace platform
