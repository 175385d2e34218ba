#include "testsupport/UDPListener.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace tervolo::testsupport {

UDPListener::UDPListener() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("UDPListener: socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("UDPListener: bind failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) throw std::runtime_error("UDPListener: pipe failed");
    thread_ = std::thread([this] { receiveLoop(); });
}

UDPListener::~UDPListener() {
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakePipe_[1], &byte, 1);
    thread_.join();
    ::close(fd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

std::vector<std::string> UDPListener::datagrams() const {
    std::lock_guard lock(mutex_);
    return datagrams_;
}

bool UDPListener::waitForDatagrams(size_t count, double timeoutSeconds) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                             [&] { return datagrams_.size() >= count; });
}

void UDPListener::receiveLoop() {
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        char buffer[65536];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) continue;
        {
            std::lock_guard lock(mutex_);
            datagrams_.emplace_back(buffer, static_cast<size_t>(n));
        }
        arrived_.notify_all();
    }
}

}  // namespace tervolo::testsupport
