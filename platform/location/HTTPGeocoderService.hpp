#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/location/GeocoderService.hpp"

namespace platform {

class DispatchQueue;
class URLSession;

// Geocoding over HTTP against a service that speaks the common OpenStreetMap
// geocoder form ("/search?q=…&format=jsonv2", "/reverse?lat=…&lon=…"). The
// host is the information dictionary's "QuovaGeocoderHost" (default under
// ".invalid", so a fresh install fails fast and logs).
//
// Such services ask for at most one request per second per application, so
// every request of the process passes one rate limiter: requests start in the
// order they were made, at least `minimumInterval` seconds apart (measured on
// the monotonic clock, virtual in tests). A 429 or 503 reply with Retry-After
// (seconds or a date, at most maximumRetryAfter) holds the next request until
// then. At most `maximumQueued` wait: a request beyond that makes the oldest
// waiting one fail, its completion called once with a network error. Each
// request may take 10 s; replies over 1 MiB are refused.
class HTTPGeocoderService : public GeocoderService, public std::enable_shared_from_this<HTTPGeocoderService> {
  public:
    static std::shared_ptr<HTTPGeocoderService> make(double minimumInterval = 1.0, size_t maximumQueued = 16);
    ~HTTPGeocoderService() override;

    Cancel start(Request request, Completion completion) override;

    // "https://<host>" from the information dictionary, or the override.
    std::string baseURL() const;
    void setBaseURLForTesting(std::optional<std::string> url);
    // The URL a request loads.
    std::string requestURL(const Request& request) const;

    static constexpr double requestTimeout = 10.0;
    static constexpr int64_t maximumReplyBytes = 1024 * 1024;
    static constexpr double maximumRetryAfter = 600.0;  // seconds

  private:
    struct Job;
    HTTPGeocoderService(double minimumInterval, size_t maximumQueued);
    void pumpLocked();
    // No request starts before `seconds` from now.
    void holdRequests(double seconds);
    void launch(const std::shared_ptr<Job>& job);

    const double minimumInterval_;
    const size_t maximumQueued_;
    std::shared_ptr<URLSession> session_;
    std::shared_ptr<DispatchQueue> queue_;  // runs the limiter's timers
    mutable std::mutex mutex_;
    std::deque<std::shared_ptr<Job>> waiting_;
    std::optional<double> lastStart_;  // monotonic seconds
    std::optional<double> notBefore_;  // monotonic seconds: a server's Retry-After
    bool timerArmed_ = false;
    mutable std::mutex overrideMutex_;  // apart from mutex_: launching a request reads the URL under it
    std::optional<std::string> baseURLOverride_;
};

}  // namespace platform
