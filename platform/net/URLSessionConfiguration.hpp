#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/URLRequest.hpp"

namespace platform {

// How a URLSession loads: time-outs, connection cap, extra headers, limits and
// trust. Neither configuration keeps cookies, credentials or a cache.
struct URLSessionConfiguration {
    static URLSessionConfiguration defaultConfiguration();
    static URLSessionConfiguration ephemeral();

    // Seconds a request may go without progress (connecting included) before
    // it fails with -1001. A request's own timeoutInterval may shorten it.
    double timeoutIntervalForRequest = 60;
    // Seconds a whole transfer may take, redirects included.
    double timeoutIntervalForResource = 7 * 24 * 3600;
    // Connections open at once to one host; further requests wait their turn.
    int httpMaximumConnectionsPerHost = 6;
    // Added to every request unless the request sets the same header.
    HTTPHeaderFields httpAdditionalHeaders;
    // Accepted for the platform's sake; has no effect on Linux.
    int networkServiceType = 0;
    // Redirects are followed (http and https targets only, at most 10) unless
    // off. A redirect from https to http is never followed: the load fails
    // with -1022.
    bool followsRedirects = true;
    // Whether a redirect may leave the host (and port) of the request's URL;
    // when not, one that does fails the load with -1011. Servers whose
    // replies the program trusts (its own backend) say so.
    bool redirectsStayOnHost = false;
    // Largest response body in bytes (after content decoding); a bigger one
    // fails with -1103, never as a truncated success.
    int64_t maximumResponseBytes = 4 * 1024 * 1024;
    // Public-key pinning for https: certificate files (DER or PEM) whose
    // subject public key (SHA-256) the server must present. When any file is
    // missing or unreadable no key can match, so every https request fails
    // with -1202: pinning fails closed.
    std::vector<std::string> pinnedCertificateFiles;
    // PEM file of the certificates to trust instead of the system's; verification
    // stays on (tests point it at their own server's certificate).
    std::string trustedCertificatesFile;
    // Test hook: an address (e.g. "127.0.0.1") for a host name, or nothing to
    // resolve it as usual. Applies to the host and port of each request's URL.
    std::function<std::optional<std::string>(const std::string& host)> resolveHook;

    bool isEphemeral() const { return ephemeral_; }

  private:
    bool ephemeral_ = false;
};

}  // namespace platform
