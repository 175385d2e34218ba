#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "app/incoming/UserActivity.hpp"

namespace tervolo::app {

// The links the program is opened with and what the web-link handler reads
// of them. Pure; any thread.
//
// On the command line, and from a later start of the program:
// - "tervolo://point/<identifier>": one of the user's points, as the search
//   index would name it (a search-index activity);
// - "tervolo://open?url=<percent-encoded link>": the link inside, as a web
//   activity;
// - an http or https link: a web activity.
// Scheme and host compare without regard to case; the program's own links
// are refused above kMaximumLinkBytes, like every web link.
struct IncomingLink {
    static constexpr size_t kMaximumLinkBytes = 2048;
    static constexpr const char* kScheme = "tervolo";

    // The activity for `link`; none for anything else (unknown scheme or
    // form, an empty identifier, a link too long).
    static std::optional<UserActivity> userActivity(std::string_view link);

    // A web link split as the handler reads it: scheme and host in lower case
    // (either may be empty), the path percent-decoded; query and fragment
    // are not part of it.
    struct Components {
        std::string scheme;
        std::string host;
        std::string path;
    };
    // None when the text is not a URL, or longer than kMaximumLinkBytes.
    static std::optional<Components> split(std::string_view url);

    // What the web-link rules make of a split link.
    struct Analysis {
        enum class Outcome {
            unknownScheme,   // neither http nor https
            shortLinkKey,    // the short-link host, `key` holds the key
            noKey,           // the short-link host, a path of neither form
            productWebHost,  // the product's web host: never opened
            unknownHost,     // any other host, or none
        };
        Outcome outcome = Outcome::unknownHost;
        std::string key;
    };
    // `shortLinkHost` and `productWebHost` are host names (any case). The key
    // of a short-link path of exactly 9 bytes is all after its leading "/"; of
    // a longer one that contains "/shared-location/", its last 8 characters
    // (Unicode scalar values).
    static Analysis analyse(const Components& components, std::string_view shortLinkHost,
                            std::string_view productWebHost);

    // The lookup path for `key`: "/apps/api/location/shorturl/" and the key
    // percent-encoded as one path segment, so that a key holding "/", "..",
    // "?" or "#" cannot reach another path of the server.
    static std::string lookupPath(std::string_view key);
};

}  // namespace tervolo::app
