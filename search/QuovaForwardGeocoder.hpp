#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/location/CLLocationCoordinate2D.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSessionConfiguration.hpp"
#include "points/QuovaPlacemark.hpp"
#include "search/SearchSession.hpp"

namespace platform {
class Timer;
}

namespace tervolo::search {

// The client of the backend search service. A search starts with one POST of
// a SearchRequest to "<API base>/apps/api/searchLocation/<fresh UUID>"; the
// reply names the search on the backend, and the client then GETs
// ".../searchLocation/<that name>" at once and every second, until a reply
// says the search is done or 30 s of polling have passed. Every poll reply
// that is done or has at least one hit goes to the completion handler; at the
// polling limit the handler gets no places, done true and -1001.
//
// Main thread: every public call, the polling timer and every change of the
// fields below. The replies are read on the session's own queue, which only
// decodes, logs and hands the changes over to the main queue; the handler
// always runs on the main queue.
//
// What the search belongs to is tracked with a generation, advanced by
// cancel() and so by every start: each hand-over, retry and reply carries the
// generation it was made in and does nothing once another began. So nothing
// of an old search (a late reply, a pending retry, its timer) reaches a newer
// one or outlives a cancel, and at most one polling timer runs.
//
// A start that fails (an error, an unreadable reply, an unusable backend
// identifier) is tried again after 0.1 s, the pause doubling up to 5 s; once
// 30 s have passed since the search began without a successful start, the
// handler is called once with no places, done true and -1001. A cancelled
// start (-999) is not retried. The HTTP status is logged, never examined.
class QuovaForwardGeocoder : public std::enable_shared_from_this<QuovaForwardGeocoder> {
  public:
    // The places of one reply (none when the reply had no list), whether the
    // search is done, and an error (only the polling or start limit, -1001).
    using CompletionHandler =
        std::function<void(std::optional<std::vector<points::QuovaPlacemark>> placemarks, bool done,
                           std::optional<platform::Error> error)>;

    struct Dependencies {
        // Made once; every request goes through it.
        std::shared_ptr<SearchSession> session;
        // "https://<host>" without a trailing "/", asked at each start.
        std::function<std::string()> apiBaseURL;
        // Told when a start fails to connect securely, with the error's description.
        std::function<void(std::string title)> showSecureConnectionNotice;
    };

    // The application's geocoder: a URL session of sessionConfiguration(), the
    // backend's API host and the shared secure-connection notice.
    static std::shared_ptr<QuovaForwardGeocoder> make();
    static std::shared_ptr<QuovaForwardGeocoder> make(Dependencies dependencies);
    // Stops a polling timer; cancels no request.
    ~QuovaForwardGeocoder();
    QuovaForwardGeocoder(const QuovaForwardGeocoder&) = delete;
    QuovaForwardGeocoder& operator=(const QuovaForwardGeocoder&) = delete;

    // Cancels whatever runs, then starts a search for `addressString` near
    // `mapCenter` with the user at `userLocation` (degrees, sent as given).
    // A request with a non-finite coordinate cannot be encoded: nothing is
    // sent or reported, one line is logged.
    void geocodeAddressString(std::string addressString, platform::CLLocationCoordinate2D mapCenter,
                              platform::CLLocationCoordinate2D userLocation,
                              CompletionHandler completionHandler);
    // Cancels the start and the poll in flight, stops the timer, drops a
    // pending retry and forgets the handler and the backend identifier.
    void cancel();
    // The polling timer's action.
    void pollResults(platform::Timer& timer);
    // Sends one poll for the backend identifier `uuid` (one that is not
    // usable in a URL path is refused and logged).
    void pollResultsFor(const std::string& uuid);

    // A search is under way from its start until it ends (its last reply,
    // its polling or start limit, or cancel()), also while a failed start
    // waits for its retry and no request or timer exists.
    bool isSearching() const {
        return static_cast<bool>(searchRequestTask_) || static_cast<bool>(runningRequestTimer_) ||
               retryPending_;
    }
    const std::shared_ptr<SearchSessionTask>& searchRequestTask() const { return searchRequestTask_; }
    const std::shared_ptr<platform::Timer>& runningRequestTimer() const { return runningRequestTimer_; }
    const std::shared_ptr<SearchSessionTask>& retrieveRequestTask() const { return retrieveRequestTask_; }
    const std::optional<std::string>& runningRequestUUID() const { return runningRequestUUID_; }
    bool hasRunningRequestHandler() const { return static_cast<bool>(runningRequestHandler_); }
    const std::shared_ptr<SearchSession>& session() const { return session_; }

    // The default configuration with 5 s without progress before a request
    // fails, 60 s for a whole request, the responsive-data service type and
    // replies of at most 4 MiB.
    static platform::URLSessionConfiguration sessionConfiguration();
    // Whether a backend identifier may go into the URL path: 1 to 64 of
    // A-Z, a-z, 0-9, "_" and "-".
    static bool isUsableSearchIdentifier(std::string_view uuid);

    static constexpr const char* kSearchPath = "/apps/api/searchLocation/";
    static constexpr double kRequestTimeout = 60.0;    // seconds, every request
    static constexpr double kRetryDelay = 0.1;         // seconds, after the first failed start
    static constexpr double kMaximumRetryDelay = 5.0;  // seconds
    static constexpr double kStartLimit = 30.0;        // seconds without a successful start
    static constexpr double kPollingInterval = 1.0;    // seconds
    static constexpr double kPollingLimit = 30.0;      // seconds since polling began

  private:
    struct SearchArguments {
        std::string addressString;
        platform::CLLocationCoordinate2D mapCenter;
        platform::CLLocationCoordinate2D userLocation;
        CompletionHandler completionHandler;
    };
    // One start of a search and its place in the retry sequence.
    struct StartAttempt {
        double searchBeganAt = 0;         // monotonic seconds of the search's first start
        double retryDelay = kRetryDelay;  // seconds before the next start if this one fails
    };
    struct Reply {
        std::optional<std::vector<uint8_t>> data;
        std::optional<platform::HTTPURLResponse> response;
        std::optional<platform::Error> error;
    };

    explicit QuovaForwardGeocoder(Dependencies dependencies);

    void startSearch(SearchArguments arguments, StartAttempt attempt);
    // Session queue. `keepAlive` goes to the last hand-over.
    void startReplyArrived(std::shared_ptr<QuovaForwardGeocoder> keepAlive, uint64_t generation,
                           uint64_t serial, SearchArguments arguments, StartAttempt attempt,
                           const Reply& reply);
    // Main queue, 0.1 s or more after a failed start.
    void retryStart(uint64_t generation, SearchArguments arguments, StartAttempt attempt);
    void startPolling(const std::string& uuid);
    // Session queue. `keepAlive` goes to the last hand-over.
    void pollReplyArrived(std::shared_ptr<QuovaForwardGeocoder> keepAlive, uint64_t generation,
                          uint64_t serial, const Reply& reply);
    void sendPoll(const std::string& uuid);

    const std::shared_ptr<SearchSession> session_;
    const std::function<std::string()> apiBaseURL_;
    const std::function<void(std::string)> showSecureConnectionNotice_;

    std::shared_ptr<SearchSessionTask> searchRequestTask_;
    std::shared_ptr<SearchSessionTask> retrieveRequestTask_;
    std::optional<std::string> runningRequestUUID_;
    CompletionHandler runningRequestHandler_;
    std::shared_ptr<platform::Timer> runningRequestTimer_;

    uint64_t generation_ = 0;
    // A failed start of the current generation waits for its retry.
    bool retryPending_ = false;
    // Numbers the requests, so a reply clears only the reference to its own task.
    uint64_t requestSerial_ = 0;
    uint64_t searchRequestSerial_ = 0;
    uint64_t retrieveRequestSerial_ = 0;
};

}  // namespace tervolo::search
