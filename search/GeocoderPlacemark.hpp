#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/location/CLPlacemark.hpp"
#include "points/QuovaPlacemark.hpp"

namespace tervolo::search {

// Turns a place the platform geocoder found into a search result place. Any thread.

// The placemark's address lines in the geocoder's order; nothing when it has
// none (the platform's "FormattedAddressLines" is then absent).
std::optional<std::vector<std::string>> formattedAddressLines(const platform::CLPlacemark& placemark);

// The lines joined into one: each line is preceded by ", " unless the text
// built so far is empty, so an empty first line leaves no separator behind.
std::string joinedAddressLines(const std::vector<std::string>& lines);

// The label of results of the platform geocoder: the localized "Geocoder".
// Ours is the configured HTTP geocoding service, so the label names no vendor;
// nothing compares it.
std::string geocoderDataSourceName();

// A result place from a geocoder placemark: title the name, address the joined
// lines, data source geocoderDataSourceName(), longitude and latitude from the
// location (degrees); no identifier, web page or image. Nothing when the
// placemark has no name, no location or no address lines.
std::optional<points::QuovaPlacemark> makeQuovaPlacemark(const platform::CLPlacemark& placemark);

}  // namespace tervolo::search
