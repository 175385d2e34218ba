#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/location/CLLocationCoordinate2D.hpp"

namespace tervolo::points {

// The backend's record of a shared point, as the short-link lookup returns
// it. The backend owns its JSON coding and the lookup; the record is defined
// here, below the backend, because a point is made from it. Only `title`, the
// two coordinate texts and the four data-source fields are read by the point.
struct Shorturl {
    int64_t id = 0;
    int64_t device_id = 0;
    std::string device_hw_details;
    std::string ios_version;
    std::string app_version;
    std::string shorturl;
    std::string title;
    // Decimal degrees as text.
    std::string longitude;
    std::string latitude;
    std::string maptype;
    int64_t zoom = 0;
    std::string timestamp;
    std::string created;
    std::string modified;
    std::optional<std::string> dataSourceName;
    std::optional<std::string> dataSourceUniqueID;
    std::optional<std::string> dataSourceURL;
    std::optional<std::string> dataSourceImageURL;

    // The record's position: `latitude` then `longitude`, each the whole text
    // as one decimal number in the C locale; none when either does not read.
    // Only plain decimal syntax is accepted and only finite values: the texts
    // come from the network, and "nan", "inf" or a hexadecimal float would
    // give a point that can never be saved. A latitude beyond ±90° or a
    // longitude beyond ±180° gives none as well.
    std::optional<platform::CLLocationCoordinate2D> coordinate() const;
};

}  // namespace tervolo::points
