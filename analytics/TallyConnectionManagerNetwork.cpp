// The sending half of the connection manager: one request in flight, the
// success test, draining the queue, pinning and the session's settings.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallySingleton.hpp"
#include "analytics/TallyText.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSession.hpp"

namespace tervolo::analytics {

namespace {

// A head the server refuses as a client error this many times in a row is
// dropped: such a request will never be accepted, and keeping it would stop
// every request behind it for good. Server errors and transport failures
// never drop anything.
constexpr uint64_t kRejectionsBeforeDrop = 50;

// Seconds: no progress while connecting or loading, and a whole exchange.
constexpr double kRequestTimeout = 30;
constexpr double kResourceTimeout = 60;

std::string text(const std::optional<std::vector<uint8_t>>& data) {
    return data ? std::string(data->begin(), data->end()) : std::string();
}

}  // namespace

TallyConnectionManager::~TallyConnectionManager() {
    std::shared_ptr<platform::URLSession> session;
    {
        std::lock_guard lock(mutex_);
        session = std::move(session_);
    }
    if (session) {
        session->invalidateAndCancel();
    }
}

bool TallyConnectionManager::isRequestSuccessful(const std::optional<platform::HTTPURLResponse>& response,
                                                 const std::optional<std::vector<uint8_t>>& data) {
    if (!response) {
        return false;
    }
    if (response->statusCode() < 200 || response->statusCode() > 299) {
        TallyLog(TallyLogLevel::Verbose, "HTTP status code is not 2XX series.");
        return false;
    }
    const auto json = TallyJSON::parse(text(data), nullptr, false);
    if (json.is_discarded()) {
        TallyLog(TallyLogLevel::Warning, "Server reply is not a valid JSON!");
        return false;
    }
    const bool success = json.is_object() && json.contains("result") && json["result"].is_string() &&
                         json["result"].get_ref<const std::string&>() == "Success";
    TallyLog(TallyLogLevel::Verbose, "Value for `result` key in server reply is {}`Success`.",
             success ? "" : "not ");
    return success;
}

std::shared_ptr<platform::URLSession> TallyConnectionManager::session() {
    std::lock_guard lock(mutex_);
    if (session_) {
        return session_;
    }
    platform::URLSessionConfiguration configuration = configuration_;
    // A redirect would carry the request to a host nobody configured.
    configuration.followsRedirects = false;
    configuration.timeoutIntervalForRequest =
        std::min(configuration.timeoutIntervalForRequest, kRequestTimeout);
    configuration.timeoutIntervalForResource =
        std::min(configuration.timeoutIntervalForResource, kResourceTimeout);
    if (pinnedCertificates_) {
        TallyLog(TallyLogLevel::Debug, "{} pinned certificate(s) specified in config.",
                 pinnedCertificates_->size());
        for (const auto& name : *pinnedCertificates_) {
            if (auto path = platform::Bundle::main().pathForResource(name, "")) {
                configuration.pinnedCertificateFiles.push_back(*path);
            } else {
                // Fail closed: a pin that names no file can never match, so
                // every request fails and stays queued (no exception here).
                TallyLog(TallyLogLevel::Warning, "Bundled certificate can not be found for {}", name);
                configuration.pinnedCertificateFiles.push_back(platform::Bundle::main().resourcePath() +
                                                               "/missing-pinned-certificate/" + name);
            }
        }
    }
    session_ = platform::URLSession::make(std::move(configuration));
    return session_;
}

void TallyConnectionManager::proceedOnQueue() {
    TallyLog(TallyLogLevel::Debug, "Proceeding on queue...");
    bool expected = false;
    // Claiming the slot is the check: two threads can never both pass it.
    if (!inFlight_.compare_exchange_strong(expected, true)) {
        TallyLog(TallyLogLevel::Debug, "Proceeding on queue is aborted: Already has a request in process!");
        return;
    }
    proceedHoldingTheSlot();
}

void TallyConnectionManager::releaseTheSlot() {
    {
        std::lock_guard lock(mutex_);
        inFlight_.store(false);
    }
    idle_.notify_all();
}

void TallyConnectionManager::proceedHoldingTheSlot() {
    if (isCrashing()) {
        TallyLog(TallyLogLevel::Debug, "Proceeding on queue is aborted: Application is crashing!");
        return releaseTheSlot();
    }
    if (isTerminating()) {
        TallyLog(TallyLogLevel::Debug, "Proceeding on queue is aborted: Application is terminating!");
        return releaseTheSlot();
    }
    auto persistency = TallyPersistency::sharedInstance();
    if (!persistency) {
        return releaseTheSlot();
    }
    if (persistency->isQueueBeingModified()) {
        TallyLog(TallyLogLevel::Debug, "Proceeding on queue is aborted: Queue is being modified!");
        return releaseTheSlot();
    }
    const auto head = persistency->firstItemInQueue();
    if (!head) {
        TallyLog(TallyLogLevel::Debug, "Queue is empty. All requests are processed.");
        return releaseTheSlot();
    }
    if (head->find(std::string("&device_id=") + kTallyTemporaryDeviceID) != std::string::npos) {
        TallyLog(TallyLogLevel::Debug,
                 "Proceeding on queue is aborted: Device ID in request is TLYTemporaryDeviceID!");
        return releaseTheSlot();
    }
    TallyCommon::sharedInstance().startBackgroundTask();

    platform::URLRequest request = requestForQuery(*head);
    const std::string method = request.httpMethod;
    const std::string url = request.url;
    const std::string body(request.httpBody.begin(), request.httpBody.end());
    auto urlSession = session();
    std::shared_ptr<platform::URLSessionTask> task;
    // The completion keeps the manager alive: it runs on the session's queue
    // and may outlive the moment a test resets the shared instance.
    auto completion = [self = shared_from_this(), sent = *head](
                          std::optional<std::vector<uint8_t>> data,
                          std::optional<platform::HTTPURLResponse> response,
                          std::optional<platform::Error> error) {
        self->finishRequest(sent, data, response, error.has_value(),
                            error ? error->description : std::string());
    };
    if (request.httpMethod == "POST") {
        std::vector<uint8_t> payload = std::move(request.httpBody);
        request.httpBody.clear();
        task = urlSession->uploadTask(std::move(request), std::move(payload), std::move(completion));
    } else {
        task = urlSession->dataTask(std::move(request), std::move(completion));
    }
    {
        std::lock_guard lock(mutex_);
        connection_ = task;
    }
    TallyLog(TallyLogLevel::Debug, "Request <{}> started:\n[{}] {} \n{}", fmt::ptr(task.get()), method, url,
             tly_stringUTF8(std::vector<uint8_t>(body.begin(), body.end())).value_or("Picture uploading..."));
    TallyLog(TallyLogLevel::Verbose, "Approximate sent data size for request <{}> is {} bytes.",
             fmt::ptr(task.get()), url.size() + body.size());
    task->resume();
}

void TallyConnectionManager::saveQueueAfterRemoval(TallyPersistency& persistency) const {
    // The journal records additions only, so a removal reaches the disk with
    // the next snapshot, which saveToFile may hold back for up to a second.
    // Once the application terminates nothing waits for that: the request
    // would stay in the stored queue and go out a second time at the next
    // launch. So the snapshot is written at once then.
    if (isTerminating()) {
        persistency.saveToFileSync();
    } else {
        persistency.saveToFile();
    }
}

void TallyConnectionManager::finishRequest(const std::string& sent,
                                           const std::optional<std::vector<uint8_t>>& data,
                                           const std::optional<platform::HTTPURLResponse>& response,
                                           bool transportFailed, const std::string& errorText) {
    std::shared_ptr<platform::URLSessionTask> task;
    {
        std::lock_guard lock(mutex_);
        task = std::move(connection_);
    }
    const void* id = task.get();
    TallyLog(TallyLogLevel::Verbose, "Approximate received data size for request <{}> is {} bytes.", id,
             data ? data->size() : 0);
    auto persistency = TallyPersistency::sharedInstance();
    bool proceed = false;
    if (transportFailed) {
        TallyLog(TallyLogLevel::Debug, "Request <{}> failed!\nError: {}", id, errorText);
    } else if (isRequestSuccessful(response, data)) {
        TallyLog(TallyLogLevel::Debug, "Request <{}> successfully completed.", id);
        headFailures_ = 0;
        if (persistency) {
            persistency->removeFromQueue(sent);
            saveQueueAfterRemoval(*persistency);
        }
        proceed = true;
    } else {
        TallyLog(TallyLogLevel::Debug, "Request <{}> failed!\nServer reply: {}", id, text(data));
        const bool clientError = response && response->statusCode() >= 400 && response->statusCode() <= 499;
        uint64_t failures = 0;
        {
            std::lock_guard lock(mutex_);
            if (lastFailedHead_ != sent || !clientError) {
                headFailures_ = 0;
            }
            lastFailedHead_ = sent;
            failures = clientError ? ++headFailures_ : 0;
        }
        if (failures >= kRejectionsBeforeDrop && persistency) {
            TallyLog(TallyLogLevel::Warning,
                     "Request refused by the server {} times in a row; it is dropped: {}", failures, sent);
            headFailures_ = 0;
            persistency->removeFromQueue(sent);
            saveQueueAfterRemoval(*persistency);
            proceed = true;
        } else if (failures > 0) {
            TallyLog(TallyLogLevel::Debug, "Request refused by the server {} time(s) in a row.", failures);
        }
    }
    if (proceed) {
        // Straight on to the next request with the slot still held: let go
        // in between, a pass started elsewhere at that moment would be
        // turned away and then find this one gone, leaving its request queued
        // until the next timer.
        TallyLog(TallyLogLevel::Debug, "Proceeding on queue...");
        proceedHoldingTheSlot();
    } else {
        releaseTheSlot();
    }
}

bool TallyConnectionManager::waitUntilIdle(double timeoutSeconds) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                          [this] { return !inFlight_.load(); });
}

}  // namespace tervolo::analytics
