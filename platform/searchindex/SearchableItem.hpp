#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One entry of the search index: what the program tells the system search
// about one of its objects.
struct SearchableItem {
    std::string uniqueIdentifier;  // key of the item within the index
    std::string domainIdentifier;  // groups items, e.g. the application's identifier
    std::string contentType;       // uniform type, e.g. "public.content"
    std::string title;
    std::string contentDescription;
    std::optional<double> latitude;                     // degrees
    std::optional<double> longitude;                    // degrees
    std::optional<std::vector<uint8_t>> thumbnailData;  // JPEG bytes

    bool operator==(const SearchableItem&) const = default;
};

}  // namespace platform
