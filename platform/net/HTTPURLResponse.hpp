#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/net/URLRequest.hpp"

namespace platform {

// The response to an HTTP request: final URL (after redirects), status code and
// the headers of the last response. A status code is never an error.
class HTTPURLResponse {
  public:
    HTTPURLResponse() = default;
    HTTPURLResponse(std::string url, int64_t statusCode, HTTPHeaderFields headerFields)
        : url_(std::move(url)), statusCode_(statusCode), allHeaderFields_(std::move(headerFields)) {}

    const std::string& url() const { return url_; }
    int64_t statusCode() const { return statusCode_; }
    const HTTPHeaderFields& allHeaderFields() const { return allHeaderFields_; }
    std::optional<std::string> value(const std::string& field) const;
    // Content-Length, or -1 when the server did not announce one.
    int64_t expectedContentLength() const;
    // The MIME type of Content-Type without parameters, lower-cased.
    std::optional<std::string> mimeType() const;
    // The seconds Retry-After asks to wait, given as a number of seconds or as
    // an HTTP date (measured from Clock::current()'s wall time; a date past
    // is 0); nothing when the header is missing or malformed.
    std::optional<double> retryAfterSeconds() const;

    // For log lines: { URL: <url> } { Status Code: <code>, Headers { "Name": "value", ... } }
    std::string description() const;

  private:
    std::string url_;
    int64_t statusCode_ = 0;
    HTTPHeaderFields allHeaderFields_;
};

}  // namespace platform
