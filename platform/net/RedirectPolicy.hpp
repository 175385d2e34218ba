#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::net_detail {

// Which redirects one transfer follows, judged from the response headers
// before curl follows a Location: never from https to http, and, where the
// configuration says so, never to another host or port. A refusal leaves
// the URL error code and its detail for the load's error. Touched only by
// the session's I/O thread (curl's header callback runs on it).
struct RedirectPolicy {
    bool followsRedirects = true;
    bool stayOnHost = false;
    // The URL of the response being read, and the target its Location
    // names once allowed.
    std::string currentURL;
    std::string redirectTarget;
    // Set when a redirect was refused: a URLError code and why.
    int64_t refusedRedirect = 0;
    std::string refusedDetail;

    static bool isFollowedStatus(long status);
    static bool equalsIgnoringCase(std::string_view a, std::string_view b);

    // A new response begins (after a redirect or an interim 1xx): the
    // target allowed before is now the URL being read.
    void beginResponse();

    // Whether the transfer goes on after the header `name: value` of a
    // response with `status`; false for a Location that may not be followed.
    bool allowsHeader(long status, std::string_view name, const std::string& value);

    // Whether the redirect to `location` (relative to the current URL) may
    // be followed; when not, why, for the load's error.
    bool allowRedirect(const std::string& location);
};

}  // namespace platform::net_detail
