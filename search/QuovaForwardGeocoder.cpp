#include "search/QuovaForwardGeocoder.hpp"

#include <algorithm>
#include <any>
#include <cmath>
#include <cstdio>

#include "backend/BackendHosts.hpp"
#include "backend/QuovaIssueDisplayManager.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/net/URLError.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"
#include "search/RetrieveRequestResult.hpp"
#include "search/SearchRequest.hpp"
#include "search/SearchRequestResult.hpp"
#include "search/TimerConfiguration.hpp"

namespace tervolo::search {

namespace {

std::shared_ptr<platform::DispatchQueue> mainQueue() {
    return platform::DispatchQueue::main();
}

double monotonicNow() {
    return platform::Clock::current()->monotonicSeconds();
}

// The body as text when it is valid UTF-8.
std::optional<std::string> bodyText(const std::optional<std::vector<uint8_t>>& data) {
    if (!data) return std::nullopt;
    std::string text(data->begin(), data->end());
    if (!platform::text::isValidUTF8(text)) return std::nullopt;
    return text;
}

bool isURLError(const std::optional<platform::Error>& error, int64_t code) {
    return error && error->domain == platform::URLError::kDomain && error->code == code;
}

// A connection that could not be made secure. The platform the exchange was
// designed on reports an untrusted server certificate as -1200 too; ours
// tells that case apart as -1202, and it is the very case the notice is for
// (a wrong clock or someone in between).
bool isSecureConnectionFailure(const std::optional<platform::Error>& error) {
    return isURLError(error, platform::URLError::secureConnectionFailed) ||
           isURLError(error, platform::URLError::serverCertificateUntrusted);
}

platform::URLRequest searchRequest(const std::string& url, const char* method) {
    platform::URLRequest request(url);
    request.httpMethod = method;
    request.timeoutInterval = QuovaForwardGeocoder::kRequestTimeout;
    request.setValue("application/json", "Content-Type");
    return request;
}

}  // namespace

std::shared_ptr<QuovaForwardGeocoder> QuovaForwardGeocoder::make() {
    Dependencies dependencies;
    dependencies.session = makeURLSearchSession(sessionConfiguration());
    dependencies.apiBaseURL = [] { return backend::BackendHosts::apiBaseURL(); };
    dependencies.showSecureConnectionNotice = [](std::string title) {
        backend::QuovaIssueDisplayManager::shared().showUserInfoTamperedCert(std::move(title));
    };
    return make(std::move(dependencies));
}

std::shared_ptr<QuovaForwardGeocoder> QuovaForwardGeocoder::make(Dependencies dependencies) {
    return std::shared_ptr<QuovaForwardGeocoder>(new QuovaForwardGeocoder(std::move(dependencies)));
}

QuovaForwardGeocoder::QuovaForwardGeocoder(Dependencies dependencies)
    : session_(std::move(dependencies.session)),
      apiBaseURL_(std::move(dependencies.apiBaseURL)),
      showSecureConnectionNotice_(std::move(dependencies.showSecureConnectionNotice)) {}

QuovaForwardGeocoder::~QuovaForwardGeocoder() {
    // The run loop keeps a scheduled timer; without this it would tick on
    // with nobody to poll for.
    if (runningRequestTimer_) runningRequestTimer_->invalidate();
}

platform::URLSessionConfiguration QuovaForwardGeocoder::sessionConfiguration() {
    auto configuration = backend::apiSessionConfiguration(5.0);
    configuration.timeoutIntervalForResource = kRequestTimeout;
    configuration.maximumResponseBytes = 4 * 1024 * 1024;
    return configuration;
}

bool QuovaForwardGeocoder::isUsableSearchIdentifier(std::string_view uuid) {
    if (uuid.empty() || uuid.size() > 64) return false;
    for (char c : uuid) {
        const bool usable = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '_' || c == '-';
        if (!usable) return false;
    }
    return true;
}

void QuovaForwardGeocoder::geocodeAddressString(std::string addressString,
                                                platform::CLLocationCoordinate2D mapCenter,
                                                platform::CLLocationCoordinate2D userLocation,
                                                CompletionHandler completionHandler) {
    startSearch({std::move(addressString), mapCenter, userLocation, std::move(completionHandler)},
                StartAttempt{monotonicNow(), kRetryDelay});
}

void QuovaForwardGeocoder::startSearch(SearchArguments arguments, StartAttempt attempt) {
    cancel();
    const auto request =
        SearchRequest::make(arguments.addressString, arguments.mapCenter, arguments.userLocation);
    std::vector<uint8_t> body;
    try {
        body = platform::JSONEncoder().encode(request);
    } catch (const platform::EncodingError& error) {
        QLLogInfo("search request for " + logging::debugQuoted(arguments.addressString) +
                  " not sent, it cannot be encoded: " + error.what());
        return;
    }
    const uint64_t generation = generation_;
    const uint64_t serial = ++requestSerial_;
    // The reply keeps the geocoder alive until its hand-overs have run; the
    // reference travels on to the last of them, so the geocoder is never let
    // go on the session's own queue.
    auto task = session_->uploadTask(
        searchRequest(apiBaseURL_() + kSearchPath + request.uuid, "POST"), std::move(body),
        [self = shared_from_this(), generation, serial, arguments, attempt](
            std::optional<std::vector<uint8_t>> data, std::optional<platform::HTTPURLResponse> response,
            std::optional<platform::Error> error) mutable {
            QuovaForwardGeocoder* geocoder = self.get();
            geocoder->startReplyArrived(std::move(self), generation, serial, std::move(arguments), attempt,
                                        Reply{std::move(data), std::move(response), std::move(error)});
        });
    searchRequestTask_ = task;
    searchRequestSerial_ = serial;
    task->resume();
}

void QuovaForwardGeocoder::startReplyArrived(std::shared_ptr<QuovaForwardGeocoder> keepAlive,
                                             uint64_t generation, uint64_t serial, SearchArguments arguments,
                                             StartAttempt attempt, const Reply& reply) {
    const auto text = bodyText(reply.data);
    std::optional<SearchRequestResult> result;
    if (text) {
        try {
            result = platform::JSONDecoder().decode<SearchRequestResult>(*text);
        } catch (const std::exception&) {
            // An unreadable start reply is a failed start; the body is logged below.
        }
    }
    QLLogInfo("data: " + (text ? logging::debugQuoted(*text) : std::string("none")));
    QLLogInfo("result: " + (result ? logging::debugQuoted(result->message) : std::string("none")));
    QLLogInfo("response: " +
              (reply.response ? logging::debugQuoted(reply.response->description()) : std::string("none")));
    QLLogInfo("error: " +
              (reply.error ? logging::debugQuoted(reply.error->description) : std::string("none")));

    if (isSecureConnectionFailure(reply.error) && showSecureConnectionNotice_) {
        showSecureConnectionNotice_(reply.error->description);
    }
    const bool cancelled = isURLError(reply.error, platform::URLError::cancelled);
    std::weak_ptr<QuovaForwardGeocoder> weak = weak_from_this();
    auto main = mainQueue();

    // The backend chooses the identifier and it goes into the URL path of
    // every poll: one that could reach another path or a query is a failed start.
    if (result && isUsableSearchIdentifier(result->uuid)) {
        main->async([weak, generation, uuid = result->uuid, handler = arguments.completionHandler] {
            auto self = weak.lock();
            if (!self || self->generation_ != generation) return;
            self->runningRequestUUID_ = uuid;
            self->runningRequestHandler_ = handler;
        });
        main->async([self = shared_from_this(), generation, uuid = result->uuid] {
            if (self->generation_ == generation) self->startPolling(uuid);
        });
    } else {
        main->async([self = shared_from_this(), generation] {
            if (self->generation_ != generation || !self->runningRequestTimer_) return;
            self->runningRequestTimer_->invalidate();
            self->runningRequestTimer_.reset();
            self->runningRequestHandler_ = nullptr;
        });
        if (cancelled) {
            QLLogInfo("Starting search CANCELED, nothing to do.");
        } else if (monotonicNow() - attempt.searchBeganAt >= kStartLimit) {
            // An unreachable backend must not be asked forever, and the
            // caller must learn that the search has ended.
            QLLogInfo("Starting search FAILED for " + platform::text::describe(kStartLimit) +
                      " seconds, giving up.");
            main->async([self = shared_from_this(), generation, handler = arguments.completionHandler] {
                if (self->generation_ == generation && handler) {
                    handler(std::nullopt, true, platform::URLError::make(platform::URLError::timedOut, ""));
                }
            });
        } else {
            QLLogInfo("Starting search FAILED, trying again.");
            // Marked before the start task is cleared below, so that the
            // search never looks ended while its retry waits.
            main->async([weak, generation] {
                auto self = weak.lock();
                if (self && self->generation_ == generation) self->retryPending_ = true;
            });
            StartAttempt next{attempt.searchBeganAt, std::min(attempt.retryDelay * 2, kMaximumRetryDelay)};
            main->asyncAfter(attempt.retryDelay, [weak, generation, arguments, next] {
                if (auto self = weak.lock()) self->retryStart(generation, arguments, next);
            });
        }
    }
    // Last, and nothing touches the geocoder after it is queued. The caller's
    // handler goes along, so that it too is let go on the main queue.
    main->async([self = std::move(keepAlive), serial, arguments = std::move(arguments)] {
        (void)arguments;
        if (self->searchRequestSerial_ == serial) self->searchRequestTask_.reset();
    });
}

void QuovaForwardGeocoder::retryStart(uint64_t generation, SearchArguments arguments, StartAttempt attempt) {
    if (generation != generation_) {
        QLLogInfo("NOT starting search for " + logging::debugQuoted(arguments.addressString) +
                  " - again - it was cancelled.");
        return;
    }
    retryPending_ = false;
    if (searchRequestTask_ || runningRequestTimer_) {
        QLLogInfo("NOT starting search for " + logging::debugQuoted(arguments.addressString) +
                  " - again - already geocoding.");
        return;
    }
    QLLogInfo("Starting search for " + logging::debugQuoted(arguments.addressString) + " - again.");
    startSearch(std::move(arguments), attempt);
}

void QuovaForwardGeocoder::startPolling(const std::string& uuid) {
    // A timer of an earlier start would otherwise tick on for good.
    if (runningRequestTimer_) runningRequestTimer_->invalidate();
    std::weak_ptr<QuovaForwardGeocoder> weak = weak_from_this();
    runningRequestTimer_ = platform::Timer::scheduled(
        kPollingInterval, true,
        [weak](platform::Timer& timer) {
            if (auto self = weak.lock()) self->pollResults(timer);
        },
        TimerConfiguration{uuid, platform::Date::now()});
    QLLogInfo("started polling timer for UUID " + logging::debugQuoted(uuid));
    pollResultsFor(uuid);
}

void QuovaForwardGeocoder::pollResults(platform::Timer& timer) {
    const auto* configuration = std::any_cast<TimerConfiguration>(&timer.userInfo());
    if (configuration == nullptr) return;
    const std::string& uuid = configuration->uuid;
    QLLogInfo("polling results timer triggered for UUID " + logging::debugQuoted(uuid));
    if (runningRequestUUID_ != uuid) {
        QLLogInfo("Can't poll for result - search " + logging::debugQuoted(uuid) + " not ready.");
        return;
    }
    if (retrieveRequestTask_) {
        QLLogInfo("Can't poll for results - retrieveTask still running.");
        return;
    }
    if (std::fabs(platform::Date::now().timeIntervalSince(configuration->startDate)) <= kPollingLimit) {
        pollResultsFor(uuid);
        return;
    }
    QLLogInfo("Polling UUID " + logging::debugQuoted(uuid) + " for " +
              platform::text::describe(kPollingLimit) + " seconds, stopping.");
    timer.invalidate();
    if (runningRequestTimer_.get() == &timer) runningRequestTimer_.reset();
    if (runningRequestHandler_) {
        // A copy: the handler may start the next search, which replaces it.
        auto handler = runningRequestHandler_;
        handler(std::nullopt, true, platform::URLError::make(platform::URLError::timedOut, ""));
    }
}

void QuovaForwardGeocoder::pollResultsFor(const std::string& uuid) {
    if (!isUsableSearchIdentifier(uuid)) {
        QLLogInfo("not polling for results, unusable UUID " + logging::debugQuoted(uuid));
        return;
    }
    QLLogInfo("polling for results for UUID " + logging::debugQuoted(uuid));
    sendPoll(uuid);
}

void QuovaForwardGeocoder::sendPoll(const std::string& uuid) {
    const uint64_t generation = generation_;
    const uint64_t serial = ++requestSerial_;
    auto task = session_->dataTask(
        searchRequest(apiBaseURL_() + kSearchPath + uuid, "GET"),
        [self = shared_from_this(), generation, serial](std::optional<std::vector<uint8_t>> data,
                                                        std::optional<platform::HTTPURLResponse> response,
                                                        std::optional<platform::Error> error) mutable {
            QuovaForwardGeocoder* geocoder = self.get();
            geocoder->pollReplyArrived(std::move(self), generation, serial,
                                       Reply{std::move(data), std::move(response), std::move(error)});
        });
    retrieveRequestTask_ = task;
    retrieveRequestSerial_ = serial;
    task->resume();
}

void QuovaForwardGeocoder::pollReplyArrived(std::shared_ptr<QuovaForwardGeocoder> keepAlive,
                                            uint64_t generation, uint64_t serial, const Reply& reply) {
    auto main = mainQueue();
    // Last, and nothing touches the geocoder after it is queued.
    auto clearTask = [self = std::move(keepAlive), serial] {
        if (self->retrieveRequestSerial_ == serial) self->retrieveRequestTask_.reset();
    };
    if (reply.error) {
        QLLogInfo("retrieval response: " + (reply.response
                                                ? logging::debugQuoted(reply.response->description())
                                                : std::string("none")));
        QLLogInfo("retrieval error: " + logging::debugQuoted(reply.error->description));
        main->async(std::move(clearTask));
        return;
    }
    const auto text = bodyText(reply.data);
    std::optional<RetrieveRequestResult> result;
    if (text) {
        try {
            result = platform::JSONDecoder().decode<RetrieveRequestResult>(*text);
        } catch (const platform::DecodingError& error) {
            std::fputs(error.diagnostic().c_str(), stdout);
        } catch (const std::exception& error) {
            std::fputs(("error: " + std::string(error.what()) + "\n").c_str(), stdout);
        }
    }
    QLLogInfo("data: " + (text ? logging::debugQuoted(*text) : std::string("none")));
    QLLogInfo("hits: " + std::to_string(result ? result->hits : 0));

    if (result && (result->isDone || result->hits >= 1)) {
        if (result->isDone) {
            main->async([self = shared_from_this(), generation] {
                if (self->generation_ != generation || !self->runningRequestTimer_) return;
                self->runningRequestTimer_->invalidate();
                self->runningRequestTimer_.reset();
            });
        }
        main->async(
            [self = shared_from_this(), generation, placemarks = result->placemarks, done = result->isDone] {
                if (self->generation_ != generation || !self->runningRequestHandler_) return;
                auto handler = self->runningRequestHandler_;
                handler(placemarks, done, std::nullopt);
            });
    }
    main->async(std::move(clearTask));
}

void QuovaForwardGeocoder::cancel() {
    ++generation_;
    retryPending_ = false;
    if (searchRequestTask_) {
        searchRequestTask_->cancel();
        searchRequestTask_.reset();
    }
    if (runningRequestTimer_) {
        runningRequestTimer_->invalidate();
        runningRequestTimer_.reset();
    }
    if (retrieveRequestTask_) {
        retrieveRequestTask_->cancel();
        retrieveRequestTask_.reset();
    }
    runningRequestHandler_ = nullptr;
    runningRequestUUID_.reset();
}

}  // namespace tervolo::search
