#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "backend/DeviceInformation.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/net/URLSessionConfiguration.hpp"

namespace platform {
class Timer;
class URLSession;
class URLSessionTask;
}  // namespace platform

namespace tervolo::backend {

// Announces this installation to the API server ("/apps/api/device") and
// keeps the four values the server assigns. A heartbeat every 10 s repeats
// the registration for as long as no device identifier is known.
//
// Threads: registerWithBackend() may be called from any thread (it moves to
// the main queue); the heartbeat runs on the main queue; replies are read on
// the session's queue and the values are stored on the main queue together
// with the end of the request. The values can be read from any thread.
class QuovaDeviceManager : public std::enable_shared_from_this<QuovaDeviceManager> {
  public:
    // What the manager reaches outside itself; the defaults are the
    // application's (the API host, this machine, the analytics wrapper, the
    // secure-connection alert).
    struct Dependencies {
        std::function<std::string()> apiBaseURL;
        std::function<DeviceInformation()> deviceInformation;
        std::function<void(const std::string& name, const std::map<std::string, std::string>& properties)>
            trackEvent;
        std::function<void(std::string title)> showTamperedCertAlert;
        // Request time-out 15 s, replies up to 1 MiB.
        platform::URLSessionConfiguration sessionConfiguration = defaultSessionConfiguration();
    };

    static QuovaDeviceManager& shared();
    // A manager of its own with its heartbeat running (tests).
    static std::shared_ptr<QuovaDeviceManager> make(Dependencies dependencies);
    ~QuovaDeviceManager();

    void registerWithBackend();
    void heartbeat(platform::Timer& timer);
    void handleDeviceRegistrationError(const platform::Error& error);

    void setApnsToken(std::optional<std::string> token);
    std::optional<std::string> apnsToken() const;

    // All four empty until a registration succeeds, then all set together.
    std::optional<int64_t> deviceID() const;
    std::optional<int64_t> updateCount() const;
    std::optional<int64_t> testlevel() const;
    std::optional<int64_t> pushlevel() const;
    // Main thread: whether a registration request is in flight.
    bool isRegistering() const;

    static platform::URLSessionConfiguration defaultSessionConfiguration();
    static constexpr double heartbeatInterval = 10.0;

  private:
    explicit QuovaDeviceManager(Dependencies dependencies);
    void startHeartbeat();
    void handleReply(std::optional<std::vector<uint8_t>> data, const std::optional<std::string>& responseText,
                     std::optional<platform::Error> error);

    struct Values {
        int64_t deviceID;
        int64_t updateCount;
        int64_t testlevel;
        int64_t pushlevel;
    };

    Dependencies dependencies_;
    std::shared_ptr<platform::URLSession> session_;
    std::shared_ptr<platform::Timer> heartbeatTimer_;
    std::shared_ptr<platform::URLSessionTask> registrationTask_;  // main thread only

    mutable std::mutex mutex_;
    std::optional<Values> values_;
    std::optional<std::string> apnsToken_;
};

}  // namespace tervolo::backend
