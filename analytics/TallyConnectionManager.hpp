#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyJSON.hpp"
#include "platform/net/URLRequest.hpp"
#include "platform/net/URLSessionConfiguration.hpp"

namespace platform {
class URLSession;
class URLSessionTask;
class HTTPURLResponse;
}  // namespace platform

namespace tervolo::analytics {

class TallyPersistency;

inline constexpr const char* kTallyMultipartBoundary = "0cae04a8b698d63ff6ea55d168993f21";

// The wire side of the analytics client. Every piece of data becomes one
// request query ("app_key=…&device_id=…&…", the essentials first), which is
// appended to the persisted queue and sent from the head, one request at a
// time, to "<host>/i". The head leaves the queue only when the server answers
// 2xx with a JSON object whose "result" is "Success".
//
// Any thread. At most one request is in flight: sending starts only after
// claiming the in-flight slot with a compare-exchange. Completions run on the
// URL session's delegate queue.
class TallyConnectionManager : public std::enable_shared_from_this<TallyConnectionManager> {
  public:
    // None (with the not-started line) before the client has started.
    static std::shared_ptr<TallyConnectionManager> sharedInstance();
    // Cancels any request in flight and forgets the instance (tests).
    static void resetForTesting();
    ~TallyConnectionManager();

    // Settings copied at start.
    std::string appKey() const;
    void setAppKey(std::string appKey);
    std::string host() const;
    // A trailing "/" is removed (one only), with a warning.
    void setHost(std::string host);
    bool alwaysUsePOST() const { return alwaysUsePOST_.load(); }
    void setAlwaysUsePOST(bool v) { alwaysUsePOST_.store(v); }
    std::optional<std::vector<std::string>> pinnedCertificates() const;
    void setPinnedCertificates(std::optional<std::vector<std::string>> names);
    std::optional<std::string> secretSalt() const;
    void setSecretSalt(std::optional<std::string> salt);
    platform::URLSessionConfiguration URLSessionConfiguration() const;
    void setURLSessionConfiguration(platform::URLSessionConfiguration configuration);
    // "TLYPushTestModeDevelopment" or "TLYPushTestModeTestFlightOrAdHoc" or none.
    void setPushTestMode(std::optional<std::string> mode);
    bool isTerminating() const { return isTerminating_.load(); }
    void setIsTerminating(bool v) { isTerminating_.store(v); }
    bool isCrashing() const { return isCrashing_.load(); }
    bool hasRequestInFlight() const { return inFlight_.load(); }

    // Requests (each queues its query, then proceedOnQueue()).
    void beginSession();
    void updateSession();
    void endSession();
    void sendEvents();
    void sendPushToken(const std::string& token);
    void sendLocationInfo();
    void sendUserDetails(const std::string& userDetails);
    // `immediately`: the process is dying of an uncaught exception. The
    // request is only queued and saved synchronously; it is sent at the next
    // start, so nothing unsafe runs in a dying process.
    void sendCrashReport(const std::optional<std::string>& report, bool immediately);
    void sendOldDeviceID(const std::string& oldDeviceID);
    void sendAttribution();
    void sendDirectAttributionWithCampaignID(const std::string& campaignID,
                                             const std::string& campaignUserID);
    void sendAttributionData(const std::string& attributionData);
    void sendIndirectAttribution(const TallyJSON& attribution);
    void sendConsents(const std::string& consents);
    void sendPerformanceMonitoringTrace(const std::string& trace);

    // "app_key=…&device_id=…&timestamp=…&hour=…&dow=…&tz=…&sdk_version=…&sdk_name=…".
    std::string queryEssentials() const;
    std::optional<std::string> locationRelatedInfoQueryString() const;
    std::optional<std::string> attributionQueryString() const;
    // The query with "&checksum256=<sha256(query + salt)>" when a salt is set.
    std::string appendChecksum(const std::string& query) const;
    // Whole seconds of session time since the last report; the fraction is
    // carried into the next one.
    int64_t sessionLengthInSeconds();

    // The HTTP request for a queued query: GET "<host>/i?<q>" when q (with its
    // checksum) is at most 2048 characters and POST is not forced, else POST
    // of q to "<host>/i"; a picture upload is a multipart POST keeping ?q.
    platform::URLRequest requestForQuery(const std::string& query) const;
    // The multipart body for the picture named in the "user_details" value,
    // none when there is no readable picture of a supported type.
    std::optional<std::vector<uint8_t>> pictureUploadDataForQueryString(const std::string& query) const;
    static std::vector<uint8_t> multipartBody(const std::string& fileName, const std::string& mimeSubtype,
                                              const std::vector<uint8_t>& bytes);
    // 2xx and a JSON object whose "result" is the string "Success".
    static bool isRequestSuccessful(const std::optional<platform::HTTPURLResponse>& response,
                                    const std::optional<std::vector<uint8_t>>& data);

    // Sends the head of the queue unless a request is in flight, the process
    // is crashing or terminating, the queue is being rewritten or the head
    // carries the temporary device ID.
    void proceedOnQueue();
    // Returns once no request is in flight and no pass over the queue runs
    // (tests, termination): a success goes on to the next request without
    // letting the slot go in between.
    bool waitUntilIdle(double timeoutSeconds);
    // Marks a request as in flight without sending one (queue-limit tests).
    void setRequestInFlightForTesting(bool inFlight) { inFlight_.store(inFlight); }
    // Consecutive unsuccessful attempts of the current head.
    uint64_t headFailureCount() const { return headFailures_.load(); }

  private:
    TallyConnectionManager() = default;
    void queue(const std::string& query);
    std::shared_ptr<platform::URLSession> session();
    // proceedOnQueue() once the caller holds the in-flight slot.
    void proceedHoldingTheSlot();
    // Lets the in-flight slot go and wakes waitUntilIdle().
    void releaseTheSlot();
    // Writes the stored queue after a sent request left it (at once while terminating).
    void saveQueueAfterRemoval(TallyPersistency& persistency) const;
    void finishRequest(const std::string& sent, const std::optional<std::vector<uint8_t>>& data,
                       const std::optional<platform::HTTPURLResponse>& response, bool transportFailed,
                       const std::string& errorText);

    std::atomic<bool> alwaysUsePOST_{false};
    std::atomic<bool> isTerminating_{false};
    std::atomic<bool> isCrashing_{false};
    std::atomic<bool> inFlight_{false};
    std::atomic<uint64_t> headFailures_{0};

    mutable std::mutex mutex_;
    double unsentSessionLength_ = 0;
    double lastSessionStartTime_ = 0;
    std::string appKey_;
    std::string host_;
    std::optional<std::vector<std::string>> pinnedCertificates_;
    std::optional<std::string> secretSalt_;
    std::optional<std::string> pushTestMode_;
    platform::URLSessionConfiguration configuration_ =
        platform::URLSessionConfiguration::defaultConfiguration();
    std::shared_ptr<platform::URLSession> session_;
    std::shared_ptr<platform::URLSessionTask> connection_;
    std::string lastFailedHead_;
    std::condition_variable idle_;  // signalled when the in-flight slot is released
};

}  // namespace tervolo::analytics
