#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"

namespace tervolo::backend {

// The body of a shared point's upload: fifteen keys, always all present.
struct QMPUploadRequest {
    static constexpr const char* codingTypeName = "QMPUploadRequest";

    int64_t device_id = 0;  // 0 while the device has no identifier
    std::string vendor_id;
    std::string device_hw_details;
    std::string ios_version;
    std::string app_version;
    std::string title;
    double longitude = 0;  // degrees
    double latitude = 0;   // degrees
    std::string maptype;
    int64_t zoom = 0;
    std::string timestamp;  // whole seconds since 2001 as "%.0f" prints them
    std::string dataSourceName;
    std::string dataSourceUniqueID;
    std::string dataSourceURL;
    std::string dataSourceImageURL;

    static QMPUploadRequest decode(const platform::KeyedDecodingContainer& container);
    void encode(platform::KeyedEncodingContainer& container) const;
};

// The upload's reply: "message" and "shorturl" required strings, "status" an
// optional integer nobody interprets.
struct QMPUploadResult {
    static constexpr const char* codingTypeName = "QMPUploadResult";

    std::optional<int64_t> status;
    std::string message;
    std::string shorturl;

    static QMPUploadResult decode(const platform::KeyedDecodingContainer& container);
    void encode(platform::KeyedEncodingContainer& container) const;
};

// "%.0f" of seconds since 2001: C rounding, ties to even (30.5 → "30").
std::string uploadTimestamp(double secondsSince2001);

}  // namespace tervolo::backend
