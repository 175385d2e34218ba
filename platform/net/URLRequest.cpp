#include "platform/net/URLRequest.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>

namespace platform {

bool HeaderNameLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

bool URLRequest::isLoadableURL(const std::string& urlText) {
    // curl forgives "https:///path" by taking the first path segment as the
    // host; a URL without an authority has no host here.
    size_t authority = urlText.find("://");
    if (authority == std::string::npos || urlText.compare(authority + 3, 1, "/") == 0) return false;
    CURLU* handle = curl_url();
    if (!handle) return false;
    bool ok = false;
    if (curl_url_set(handle, CURLUPART_URL, urlText.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* host = nullptr;
        if (curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(handle, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
            std::string s = scheme;
            ok = (s == "http" || s == "https") && host[0] != '\0';
        }
        curl_free(scheme);
        curl_free(host);
    }
    curl_url_cleanup(handle);
    return ok;
}

std::optional<URLRequest> URLRequest::make(const std::string& urlText) {
    if (!isLoadableURL(urlText)) return std::nullopt;
    return URLRequest(urlText);
}

void URLRequest::setValue(std::optional<std::string> value, const std::string& field) {
    allHTTPHeaderFields.erase(field);
    if (value) allHTTPHeaderFields.emplace(field, std::move(*value));
}

std::optional<std::string> URLRequest::value(const std::string& field) const {
    auto it = allHTTPHeaderFields.find(field);
    if (it == allHTTPHeaderFields.end()) return std::nullopt;
    return it->second;
}

}  // namespace platform
