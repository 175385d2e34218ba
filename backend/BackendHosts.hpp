#pragma once

#include <optional>
#include <string>

#include "platform/net/URLSessionConfiguration.hpp"

namespace tervolo::backend {

// Base addresses of the backend's servers: "https://<host>" with no path and
// no trailing "/". The hosts come from the information dictionary
// ("QuovaAPIHost", "QuovaProductWebHost", "QuovaAnalyticsHost"; each can be
// overridden by TERVOLO_<key>); the shipped defaults lie under the reserved
// ".invalid" domain, so a fresh install fails fast and logs instead of
// talking to a server nobody configured. Any thread.
struct BackendHosts {
    // The API server (device registration, short-link upload and lookup).
    static std::string apiBaseURL();
    // The product's web server (the version document).
    static std::string productWebBaseURL();
    // The analytics server.
    static std::string analyticsBaseURL();
    // The host name (no scheme) of the links of shared points
    // ("QuovaShortLinkHost"), in lower case.
    static std::string shortLinkHost();

    // Tests point a server at a loopback address ("http://127.0.0.1:<port>");
    // nothing puts the configured host back.
    static void setAPIBaseURLForTesting(std::optional<std::string> url);
    static void setProductWebBaseURLForTesting(std::optional<std::string> url);
};

// The session every API request runs on: the default configuration with a
// request time-out of `requestTimeout` seconds, the responsive-data service
// type, replies of at most 1 MiB and no redirect off the API host.
platform::URLSessionConfiguration apiSessionConfiguration(double requestTimeout);

}  // namespace tervolo::backend
