#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {
class UDPConnection;
}

namespace tervolo::tiles {

// Sends the URL of each tile that found no free download slot, as one UDP
// datagram of exactly its UTF-8 bytes, to a preload server. It only sends:
// nothing is read, retried or reported to the caller; every failure is a
// debug line of the logging framework. The host must be a numeric address
// (no name lookups on the download path); an empty host leaves the preloader
// disabled. `send` may be called from any thread.
class UDPTilePreloader {
  public:
    // The preload server of the information dictionary: "QuovaTilePreloadHost"
    // (default empty: disabled) and "QuovaTilePreloadPort" (default "1731").
    static std::string configuredHost();
    static std::string configuredPort();

    UDPTilePreloader(const std::string& host, const std::string& port);
    ~UDPTilePreloader();
    UDPTilePreloader(const UDPTilePreloader&) = delete;
    UDPTilePreloader& operator=(const UDPTilePreloader&) = delete;

    const std::optional<std::string>& host() const { return host_; }
    std::optional<uint16_t> port() const { return port_; }

    void connect();
    void send(const std::string& text);

  private:
    std::optional<std::string> host_;
    std::optional<uint16_t> port_;
    mutable std::mutex mutex_;
    std::shared_ptr<platform::UDPConnection> connection_;
};

}  // namespace tervolo::tiles
