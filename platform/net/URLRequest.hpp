#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Compares header names the way HTTP does: without regard to ASCII case.
struct HeaderNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using HTTPHeaderFields = std::map<std::string, std::string, HeaderNameLess>;

// One HTTP request: URL, method, headers, body and time-out.
struct URLRequest {
    std::string url;
    std::string httpMethod = "GET";
    HTTPHeaderFields allHTTPHeaderFields;
    std::vector<uint8_t> httpBody;
    // Seconds without any progress before the request fails with -1001; the
    // session's own request time-out applies too, the smaller one wins.
    double timeoutInterval = 60;

    URLRequest() = default;
    explicit URLRequest(std::string urlText) : url(std::move(urlText)) {}

    // A request for `urlText` when it is an absolute http or https URL with a
    // host; nothing otherwise (the only URLs a session can load).
    static std::optional<URLRequest> make(const std::string& urlText);
    static bool isLoadableURL(const std::string& urlText);

    // Sets (or with an empty optional removes) a header; names match without case.
    void setValue(std::optional<std::string> value, const std::string& field);
    std::optional<std::string> value(const std::string& field) const;
};

}  // namespace platform
