#include "platform/location/HTTPGeocoderService.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/location/CLError.hpp"
#include "platform/location/GeocoderReply.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/text/Numbers.hpp"

namespace platform {

namespace {

std::string queryEncoded(const std::string& text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string languageOf(const char* value) {
    if (value == nullptr) return "";
    // The language is the part before any of ":" (LANGUAGE lists several),
    // "_" (territory), "." (encoding) or "@" (variant).
    const std::string_view text(value);
    const std::string name(text.substr(0, text.find_first_of(":_.@")));
    if (name == "C" || name == "POSIX") return "";
    return name;
}

struct ServiceHolder {
    std::mutex mutex;
    std::shared_ptr<GeocoderService> replacement;
    std::shared_ptr<GeocoderService> http;
};

ServiceHolder& holder() {
    return SharedInstance<ServiceHolder>::get();
}

}  // namespace

std::string preferredGeocoderLanguage() {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const std::string language = languageOf(std::getenv(name));
        if (!language.empty()) return language;
    }
    return "en";
}

std::shared_ptr<GeocoderService> GeocoderService::current() {
    auto& h = holder();
    std::lock_guard lock(h.mutex);
    if (h.replacement) return h.replacement;
    if (!h.http) h.http = HTTPGeocoderService::make();
    return h.http;
}

void GeocoderService::setCurrentForTesting(std::shared_ptr<GeocoderService> service) {
    auto& h = holder();
    std::lock_guard lock(h.mutex);
    h.replacement = std::move(service);
}

struct HTTPGeocoderService::Job {
    Request request;
    Completion completion;
    std::mutex mutex;
    bool cancelled = false;
    std::shared_ptr<URLSessionTask> task;
};

std::shared_ptr<HTTPGeocoderService> HTTPGeocoderService::make(double minimumInterval, size_t maximumQueued) {
    return std::shared_ptr<HTTPGeocoderService>(new HTTPGeocoderService(minimumInterval, maximumQueued));
}

HTTPGeocoderService::HTTPGeocoderService(double minimumInterval, size_t maximumQueued)
    : minimumInterval_(minimumInterval), maximumQueued_(maximumQueued) {
    auto configuration = URLSessionConfiguration::ephemeral();
    configuration.timeoutIntervalForRequest = requestTimeout;
    configuration.timeoutIntervalForResource = requestTimeout;
    configuration.maximumResponseBytes = maximumReplyBytes;
    session_ = URLSession::make(configuration);
    queue_ = DispatchQueue::serial("tervolo.geocoder.ratelimit");
}

HTTPGeocoderService::~HTTPGeocoderService() = default;

std::string HTTPGeocoderService::baseURL() const {
    {
        std::lock_guard lock(overrideMutex_);
        if (baseURLOverride_) return *baseURLOverride_;
    }
    std::string host = Bundle::main().infoString("QuovaGeocoderHost").value_or("geocoder.tervolo.invalid");
    while (!host.empty() && host.back() == '/') host.pop_back();
    if (host.rfind("http://", 0) == 0 || host.rfind("https://", 0) == 0) return host;
    return "https://" + host;
}

void HTTPGeocoderService::setBaseURLForTesting(std::optional<std::string> url) {
    std::lock_guard lock(overrideMutex_);
    baseURLOverride_ = std::move(url);
}

std::string HTTPGeocoderService::requestURL(const Request& request) const {
    const std::string language = "&accept-language=" + queryEncoded(request.language);
    if (request.kind == Request::Kind::reverse) {
        return baseURL() + "/reverse?lat=" + text::describe(request.coordinate.latitude) +
               "&lon=" + text::describe(request.coordinate.longitude) + "&format=jsonv2&addressdetails=1" +
               language;
    }
    std::string url = baseURL() + "/search?q=" + queryEncoded(request.text) +
                      "&format=jsonv2&addressdetails=1&limit=10" + language;
    if (request.region && request.region->radius > 0 &&
        CLLocationCoordinate2DIsValid(request.region->center)) {
        // The region biases the search (bounded=0): a place outside it can
        // still be the answer when nothing inside matches.
        constexpr double metresPerDegree = 111320.0;
        const auto& c = request.region->center;
        const double dLat = request.region->radius / metresPerDegree;
        const double cosLat = std::max(0.01, std::cos(c.latitude * M_PI / 180.0));
        const double dLon = std::min(180.0, dLat / cosLat);
        url += "&viewbox=" + text::describe(std::max(-180.0, c.longitude - dLon)) + "," +
               text::describe(std::min(90.0, c.latitude + dLat)) + "," +
               text::describe(std::min(180.0, c.longitude + dLon)) + "," +
               text::describe(std::max(-90.0, c.latitude - dLat)) + "&bounded=0";
    }
    return url;
}

GeocoderService::Cancel HTTPGeocoderService::start(Request request, Completion completion) {
    auto job = std::make_shared<Job>();
    job->request = std::move(request);
    job->completion = std::move(completion);
    std::vector<std::shared_ptr<Job>> dropped;
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back(job);
        pumpLocked();
        // A full line lets its oldest request go: what the user typed last is
        // what they wait for. Cancelled requests leave first, without a word.
        std::erase_if(waiting_, [](const std::shared_ptr<Job>& waiting) {
            std::lock_guard jobLock(waiting->mutex);
            return waiting->cancelled;
        });
        while (waiting_.size() > maximumQueued_) {
            dropped.push_back(waiting_.front());
            waiting_.pop_front();
        }
    }
    for (auto& old : dropped) {
        queue_->async([completion = std::move(old->completion)] {
            completion(std::nullopt,
                       CLError::make(CLError::network,
                                     "The geocoding request was dropped: newer requests took its "
                                     "place while it waited"));
        });
    }
    std::weak_ptr<Job> weak = job;
    return [weak] {
        auto job = weak.lock();
        if (!job) return;
        std::shared_ptr<URLSessionTask> task;
        {
            std::lock_guard lock(job->mutex);
            job->cancelled = true;
            task = job->task;
        }
        if (task) task->cancel();
    };
}

// Starts the first waiting request when the interval allows, otherwise arms
// one timer for the moment it will.
void HTTPGeocoderService::pumpLocked() {
    while (!waiting_.empty()) {
        // Cancelled requests give up their place in the line.
        {
            std::lock_guard jobLock(waiting_.front()->mutex);
            if (waiting_.front()->cancelled) {
                waiting_.pop_front();
                continue;
            }
        }
        const double now = Clock::current()->monotonicSeconds();
        double earliest = lastStart_ ? *lastStart_ + minimumInterval_ : now;
        if (notBefore_) earliest = std::max(earliest, *notBefore_);
        if (now < earliest) {
            if (!timerArmed_) {
                timerArmed_ = true;
                std::weak_ptr<HTTPGeocoderService> weak = weak_from_this();
                queue_->asyncAfter(earliest - now, [weak] {
                    auto service = weak.lock();
                    if (!service) return;
                    std::lock_guard lock(service->mutex_);
                    service->timerArmed_ = false;
                    service->pumpLocked();
                });
            }
            return;
        }
        auto job = waiting_.front();
        waiting_.pop_front();
        lastStart_ = now;
        launch(job);
    }
}

void HTTPGeocoderService::holdRequests(double seconds) {
    std::lock_guard lock(mutex_);
    const double until = Clock::current()->monotonicSeconds() + std::min(seconds, maximumRetryAfter);
    notBefore_ = std::max(notBefore_.value_or(until), until);
}

void HTTPGeocoderService::launch(const std::shared_ptr<Job>& job) {
    const std::string url = requestURL(job->request);
    auto request = URLRequest::make(url);
    if (!request) {
        OSLog::defaultLog()->write(OSLogType::Error, "Geocoder: cannot make a request for " + url);
        auto completion = std::move(job->completion);
        queue_->async([completion] {
            completion(std::nullopt,
                       CLError::make(CLError::network, "The geocoding service address is not valid"));
        });
        return;
    }
    request->timeoutInterval = requestTimeout;
    request->setValue("application/json", "Accept");
    if (!job->request.language.empty()) request->setValue(job->request.language, "Accept-Language");
    std::weak_ptr<HTTPGeocoderService> weak = weak_from_this();
    auto task = session_->dataTask(std::move(*request), [job, weak](std::optional<std::vector<uint8_t>> data,
                                                                    std::optional<HTTPURLResponse> response,
                                                                    std::optional<Error> error) {
        // A busy or rate-limiting service says when to come back: the next
        // request of the process waits for it.
        if (response && (response->statusCode() == 429 || response->statusCode() == 503)) {
            if (const auto wait = response->retryAfterSeconds(); wait && *wait > 0) {
                if (auto service = weak.lock()) service->holdRequests(*wait);
            }
        }
        if (error) {
            OSLog::defaultLog()->write(OSLogType::Error,
                                       "Geocoder request failed: " + error->fullDescription());
            job->completion(std::nullopt, std::move(error));
            return;
        }
        if (response && response->statusCode() != 200) {
            const std::string text =
                "The geocoding service answered with status " + std::to_string(response->statusCode());
            OSLog::defaultLog()->write(OSLogType::Error, "Geocoder: " + text);
            job->completion(std::nullopt, CLError::make(CLError::network, text));
            return;
        }
        try {
            const auto& bytes = data.value_or(std::vector<uint8_t>{});
            job->completion(decodeGeocoderReply(
                                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())),
                            std::nullopt);
        } catch (const std::exception& decodeError) {
            OSLog::defaultLog()->write(OSLogType::Error, std::string("Geocoder: ") + decodeError.what());
            job->completion(std::nullopt, CLError::make(CLError::network, decodeError.what()));
        }
    });
    {
        std::lock_guard lock(job->mutex);
        if (job->cancelled) {
            task->cancel();
        }
        job->task = task;
    }
    task->resume();
}

}  // namespace platform
