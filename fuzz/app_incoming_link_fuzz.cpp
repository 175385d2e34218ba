// The program's links and the web-link rules on arbitrary text: whatever the
// text, a key comes only from the short-link host, is at most 8 characters
// (or all after "/" of a 9-byte path), and its lookup path stays one segment
// below the lookup folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/incoming/IncomingLink.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tervolo::app::IncomingLink;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (auto activity = IncomingLink::userActivity(text)) {
        if (activity->webpageURL && activity->webpageURL->size() > IncomingLink::kMaximumLinkBytes) __builtin_trap();
        (void)activity->debugDescription();
    }
    const auto components = IncomingLink::split(text);
    if (!components) return 0;
    const auto analysis = IncomingLink::analyse(*components, "s.example", "web.example");
    if (analysis.outcome != IncomingLink::Analysis::Outcome::shortLinkKey) {
        if (!analysis.key.empty()) __builtin_trap();
        return 0;
    }
    if (components->host != "s.example" || analysis.key.size() > components->path.size()) __builtin_trap();
    const std::string path = IncomingLink::lookupPath(analysis.key);
    const std::string_view folder = "/apps/api/location/shorturl/";
    if (path.compare(0, folder.size(), folder) != 0) __builtin_trap();
    for (char c : path.substr(folder.size())) {
        // Only unreserved characters and percent escapes: no "/", "?", "#".
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~' || c == '%';
        if (!unreserved) __builtin_trap();
    }
    return 0;
}
