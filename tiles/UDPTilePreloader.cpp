#include "tiles/UDPTilePreloader.hpp"

#include <vector>

#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/net/UDPConnection.hpp"

namespace tervolo::tiles {

namespace {
// The largest payload of one UDP datagram over IPv4.
constexpr size_t kMaximumDatagramBytes = 65507;

const char* stateText(platform::UDPConnection::State state) {
    using State = platform::UDPConnection::State;
    switch (state) {
        case State::setup:
            return "UDPTilePreloader - Entered state: setup";
        case State::preparing:
            return "UDPTilePreloader - Entered state: preparing";
        case State::ready:
            return "UDPTilePreloader - Entered state: ready";
        case State::waiting:
            return "UDPTilePreloader - Entered state: waiting";
        case State::failed:
            return "UDPTilePreloader - Entered state: failed";
        case State::cancelled:
            return "UDPTilePreloader - Entered state: cancelled";
    }
    return "UDPTilePreloader - Entered an unknown state";
}
}  // namespace

std::string UDPTilePreloader::configuredHost() {
    return platform::Bundle::main().infoString("QuovaTilePreloadHost").value_or("");
}

std::string UDPTilePreloader::configuredPort() {
    return platform::Bundle::main().infoString("QuovaTilePreloadPort").value_or("1731");
}

UDPTilePreloader::UDPTilePreloader(const std::string& host, const std::string& port)
    : port_(platform::UDPConnection::portFromText(port)) {
    if (!host.empty()) host_ = host;
}

UDPTilePreloader::~UDPTilePreloader() = default;

void UDPTilePreloader::connect() {
    if (!host_ || !port_) {
        QLLogDebug("UDPTilePreloader - can't connect, set endpoint host & port first!");
        return;
    }
    auto connection = platform::UDPConnection::make(*host_, *port_);
    connection->setStateUpdateHandler(
        [](platform::UDPConnection::State state, std::optional<platform::Error>) {
            QLLogDebug(std::string(stateText(state)));
        });
    connection->setViabilityUpdateHandler([](bool viable) {
        QLLogDebug(viable ? "UDPTilePreloader - Connection is viable"
                          : "UDPTilePreloader - Connection is not viable");
    });
    connection->setBetterPathUpdateHandler([](bool better) {
        QLLogDebug(better ? "UDPTilePreloader - A better path is available"
                          : "UDPTilePreloader - No better path is available");
    });
    {
        std::lock_guard lock(mutex_);
        connection_ = connection;
    }
    // A serial queue of default priority keeps the datagrams in the order sent.
    connection->start(platform::DispatchQueue::serial("UDPTilePreloader", platform::QoS::Default));
}

void UDPTilePreloader::send(const std::string& text) {
    std::shared_ptr<platform::UDPConnection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = connection_;
    }
    if (!connection) {
        QLLogDebug("UDPTilePreloader - Can't send, connection must be opened before sending data.");
        return;
    }
    if (text.size() > kMaximumDatagramBytes) {
        QLLogDebug(
            "UDPTilePreloader - unable to process and send the data: the text does not fit one datagram");
        return;
    }
    connection->send(
        std::vector<uint8_t>(text.begin(), text.end()), [](std::optional<platform::Error> error) {
            if (error) {
                QLLogDebug("UDPTilePreloader - unable to process and send the data: " + error->description);
            } else {
                QLLogDebug("UDPTilePreloader - Data has been sent");
            }
        });
}

}  // namespace tervolo::tiles
