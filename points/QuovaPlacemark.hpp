#pragma once

#include <optional>
#include <string>

namespace tervolo::points {

// One search result place, as the point's placemark constructor reads it. The
// location search owns the record's JSON form and its making from a platform
// placemark; it is defined here, below the search, because a point is made
// from it and the points cannot depend on the search. A plain value: copied
// freely, no identity, never stored on disk.
struct QuovaPlacemark {
    std::string title;
    // One line of address text.
    std::string address;
    // Where the result came from; localDataSourceName() marks the user's own points.
    std::string datasource;
    double longitude = 0;  // degrees
    double latitude = 0;   // degrees
    // The source's identifier of the place.
    std::optional<std::string> uniqueID;
    // The source's web page of the place.
    std::optional<std::string> url;
    // An image of the place.
    std::optional<std::string> imageUrl;

    // All eight fields equal; coordinates compare as doubles, so a NaN never
    // equals anything.
    bool operator==(const QuovaPlacemark&) const = default;
};

}  // namespace tervolo::points
