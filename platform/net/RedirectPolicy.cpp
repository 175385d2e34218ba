#include "platform/net/RedirectPolicy.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/net/URLError.hpp"

namespace platform::net_detail {

bool RedirectPolicy::isFollowedStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool RedirectPolicy::equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool RedirectPolicy::allowRedirect(const std::string& location) {
    std::string scheme[2];
    std::string host[2];
    std::string port[2];
    std::string target;
    CURLU* parts = curl_url();
    bool parsed = parts != nullptr && curl_url_set(parts, CURLUPART_URL, currentURL.c_str(), 0) == CURLUE_OK;
    for (int index = 0; parsed && index < 2; ++index) {
        if (index == 1) {
            // Relative targets resolve against the URL set before.
            parsed =
                curl_url_set(parts, CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK;
            if (!parsed) break;
            char* full = nullptr;
            if (curl_url_get(parts, CURLUPART_URL, &full, 0) == CURLUE_OK) target = full;
            curl_free(full);
        }
        char* text = nullptr;
        if (curl_url_get(parts, CURLUPART_SCHEME, &text, 0) == CURLUE_OK) scheme[index] = text;
        curl_free(text);
        text = nullptr;
        if (curl_url_get(parts, CURLUPART_HOST, &text, 0) == CURLUE_OK) host[index] = text;
        curl_free(text);
        text = nullptr;
        if (curl_url_get(parts, CURLUPART_PORT, &text, CURLU_DEFAULT_PORT) == CURLUE_OK) port[index] = text;
        curl_free(text);
    }
    if (parts) curl_url_cleanup(parts);
    // What cannot be read is left to curl, which refuses it itself.
    if (!parsed) return true;
    for (auto& name : host) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    if (equalsIgnoringCase(scheme[0], "https") && equalsIgnoringCase(scheme[1], "http")) {
        refusedRedirect = URLError::appTransportSecurityRequiresSecureConnection;
        refusedDetail = "redirect from https to http refused";
        return false;
    }
    if (stayOnHost && (host[0] != host[1] || port[0] != port[1])) {
        refusedRedirect = URLError::badServerResponse;
        refusedDetail = "redirect to another host refused";
        return false;
    }
    redirectTarget = target;
    return true;
}

void RedirectPolicy::beginResponse() {
    if (!redirectTarget.empty()) currentURL = std::move(redirectTarget);
    redirectTarget.clear();
}

bool RedirectPolicy::allowsHeader(long status, std::string_view name, const std::string& value) {
    return !(followsRedirects && isFollowedStatus(status) && equalsIgnoringCase(name, "Location") &&
             !allowRedirect(value));
}

}  // namespace platform::net_detail
