#include "backend/BackendHosts.hpp"

#include <mutex>

#include "platform/foundation/Bundle.hpp"

namespace tervolo::backend {

namespace {

std::mutex overridesMutex;
std::optional<std::string> apiOverride;
std::optional<std::string> webOverride;

std::string baseURL(const std::string& key, const std::string& fallbackHost) {
    std::string host = platform::Bundle::main().infoString(key).value_or(fallbackHost);
    while (!host.empty() && host.back() == '/') host.pop_back();
    if (host.rfind("https://", 0) == 0 || host.rfind("http://", 0) == 0) return host;
    return "https://" + host;
}

}  // namespace

std::string BackendHosts::apiBaseURL() {
    {
        std::lock_guard lock(overridesMutex);
        if (apiOverride) return *apiOverride;
    }
    return baseURL("QuovaAPIHost", "api.tervolo.invalid");
}

std::string BackendHosts::productWebBaseURL() {
    {
        std::lock_guard lock(overridesMutex);
        if (webOverride) return *webOverride;
    }
    return baseURL("QuovaProductWebHost", "www.tervolo.invalid");
}

std::string BackendHosts::analyticsBaseURL() {
    return baseURL("QuovaAnalyticsHost", "analytics.tervolo.invalid");
}

std::string BackendHosts::shortLinkHost() {
    std::string host =
        platform::Bundle::main().infoString("QuovaShortLinkHost").value_or("s.tervolo.invalid");
    for (char& c : host) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return host;
}

void BackendHosts::setAPIBaseURLForTesting(std::optional<std::string> url) {
    std::lock_guard lock(overridesMutex);
    apiOverride = std::move(url);
}

void BackendHosts::setProductWebBaseURLForTesting(std::optional<std::string> url) {
    std::lock_guard lock(overridesMutex);
    webOverride = std::move(url);
}

platform::URLSessionConfiguration apiSessionConfiguration(double requestTimeout) {
    auto configuration = platform::URLSessionConfiguration::defaultConfiguration();
    configuration.timeoutIntervalForRequest = requestTimeout;
    configuration.networkServiceType = 6;  // responsive data
    configuration.maximumResponseBytes = 1024 * 1024;
    // What the API server answers is trusted; a redirect elsewhere is not.
    configuration.redirectsStayOnHost = true;
    return configuration;
}

}  // namespace tervolo::backend
