#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.hpp"

namespace platform {

class DispatchQueue;

// A connected UDP socket to a numeric IPv4 or IPv6 address that only sends:
// no reply is ever read. States and handlers follow the platform's network
// connection: start() reports setup, preparing, then ready (with viability
// true and no better path) or failed with the error; every handler and every
// send completion runs on the queue given to start(). A send before the
// connection is ready waits and goes out, in order, once it is.
class UDPConnection : public std::enable_shared_from_this<UDPConnection> {
  public:
    enum class State { setup, waiting, preparing, ready, failed, cancelled };
    using StateHandler = std::function<void(State state, std::optional<Error> error)>;
    using BoolHandler = std::function<void(bool)>;
    using SendCompletion = std::function<void(std::optional<Error> error)>;

    // Decimal text of 1…65535, nothing else (no sign, no blanks, no leading "+").
    static std::optional<uint16_t> portFromText(std::string_view text);

    static std::shared_ptr<UDPConnection> make(std::string host, uint16_t port);
    ~UDPConnection();
    UDPConnection(const UDPConnection&) = delete;
    UDPConnection& operator=(const UDPConnection&) = delete;

    const std::string& host() const { return host_; }
    uint16_t port() const { return port_; }
    State state() const;

    // Set before start(); later changes apply to later events.
    void setStateUpdateHandler(StateHandler handler);
    void setViabilityUpdateHandler(BoolHandler handler);
    void setBetterPathUpdateHandler(BoolHandler handler);

    // Opens the socket on `queue`. Only the first call counts.
    void start(std::shared_ptr<DispatchQueue> queue);
    // Sends `content` as one datagram. The completion gets nothing when the
    // datagram was handed to the network, or the error (an earlier ICMP refusal
    // shows up here as ECONNREFUSED, an oversized datagram as EMSGSIZE; after
    // failure or cancel, the connection's error or ECANCELED).
    void send(std::vector<uint8_t> content, SendCompletion completion = nullptr);
    // Closes the socket; waiting sends complete with ECANCELED.
    void cancel();

  private:
    UDPConnection(std::string host, uint16_t port);
    void open();
    void transmit(const std::vector<uint8_t>& content, const SendCompletion& completion);
    void report(State state, std::optional<Error> error);

    const std::string host_;
    const uint16_t port_;
    mutable std::mutex mutex_;
    State state_ = State::setup;
    bool started_ = false;
    bool flushing_ = false;  // ready, and sends made before still going out
    int fd_ = -1;
    std::optional<Error> failure_;
    std::shared_ptr<DispatchQueue> queue_;
    StateHandler stateHandler_;
    BoolHandler viabilityHandler_;
    BoolHandler betterPathHandler_;
    std::vector<std::pair<std::vector<uint8_t>, SendCompletion>> waiting_;
};

}  // namespace platform
