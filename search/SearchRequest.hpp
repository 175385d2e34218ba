#pragma once

#include <string>
#include <vector>

#include "platform/dispatch/Date.hpp"
#include "platform/location/CLLocationCoordinate2D.hpp"
#include "search/CodingKeyTable.hpp"

namespace platform {
class KeyedDecodingContainer;
class KeyedEncodingContainer;
}  // namespace platform

namespace tervolo::search {

// The body of the request that starts a backend search: one compact JSON
// object, one member per field named exactly as the field, in field order.
// Equal when all ten fields are equal (numbers and dates exactly, so a NaN
// never equals anything; languages element by element). A value; any thread.
struct SearchRequest {
    // The text searched for, as the caller passed it.
    std::string searchString;
    // A fresh identifier for this one request: a random UUID's 36-character
    // upper-case text. Each start and each retry makes a new one.
    std::string uuid;
    double mapLon = 0;   // map centre, degrees
    double mapLat = 0;   // map centre, degrees
    double userLon = 0;  // user location as passed (not checked), degrees
    double userLat = 0;  // user location as passed (not checked), degrees
    // When the request was built; JSON: seconds since 2001-01-01 00:00:00 UTC.
    platform::Date startDate;
    // Always "all".
    std::string searchProviders = "all";
    // The current locale's identifier ("de_DE").
    std::string locale;
    // The preferred languages in preference order ("fi", "en-GB").
    std::vector<std::string> prefLangs;

    enum class CodingKeys {
        searchString,
        uuid,
        mapLon,
        mapLat,
        userLon,
        userLat,
        startDate,
        searchProviders,
        locale,
        prefLangs
    };
    static constexpr CodingKeyTable<CodingKeys, 10> codingKeys{{"searchString", "uuid", "mapLon", "mapLat",
                                                                "userLon", "userLat", "startDate",
                                                                "searchProviders", "locale", "prefLangs"}};
    static constexpr const char* codingTypeName = "SearchRequest";

    // The request for `searchString` now: a fresh identifier, the current
    // locale and preferred languages, providers "all".
    static SearchRequest make(std::string searchString, platform::CLLocationCoordinate2D mapCenter,
                              platform::CLLocationCoordinate2D userLocation);

    static SearchRequest decode(const platform::KeyedDecodingContainer& container);
    // A non-finite number throws platform::EncodingError: such a request
    // cannot be sent.
    void encode(platform::KeyedEncodingContainer& container) const;

    bool operator==(const SearchRequest&) const = default;
};

}  // namespace tervolo::search
