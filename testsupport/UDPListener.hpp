#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tervolo::testsupport {

// Receives UDP datagrams on 127.0.0.1 at a random port and keeps each one's
// bytes exactly as they arrived, for tests of senders that expect no reply.
class UDPListener {
  public:
    UDPListener();
    ~UDPListener();
    UDPListener(const UDPListener&) = delete;
    UDPListener& operator=(const UDPListener&) = delete;

    uint16_t port() const { return port_; }
    std::vector<std::string> datagrams() const;
    // Blocks until at least `count` datagrams arrived or `timeoutSeconds` passed.
    bool waitForDatagrams(size_t count, double timeoutSeconds = 10) const;

  private:
    void receiveLoop();

    int fd_ = -1;
    int wakePipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<std::string> datagrams_;
    std::thread thread_;
};

}  // namespace tervolo::testsupport
