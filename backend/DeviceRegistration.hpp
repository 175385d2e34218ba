#pragma once

#include <cstdint>
#include <string>

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"

namespace tervolo::backend {

struct DeviceInformation;

// The body of the device registration POST: fifteen keys, always all present.
struct DeviceRegistration {
    static constexpr const char* codingTypeName = "DeviceRegistration";

    std::string device_name;
    std::string ios_version;
    std::string device_hw_details;
    std::string app_version;
    std::string apns_mode = "none";
    std::string pref_lang;
    std::string timezone;
    int64_t time_offset = 0;  // seconds east of GMT
    std::string push_token;
    std::string vendor_id;
    std::string ad_id;
    std::string bundle_id;
    int64_t signal_supported = 0;  // 1 or 0
    int64_t whatsapp_supported = 0;
    std::string supported_apps;

    // The body for this installation: `pushToken` empty or absent becomes
    // "none", a locale without a language "none".
    static DeviceRegistration make(const DeviceInformation& info, const std::string& pushToken);

    static DeviceRegistration decode(const platform::KeyedDecodingContainer& container);
    void encode(platform::KeyedEncodingContainer& container) const;
};

// The server's reply: four decimal texts, each a required JSON string.
struct DeviceRegistrationResult {
    static constexpr const char* codingTypeName = "DeviceRegistrationResult";

    std::string deviceID;
    std::string updateCount;
    std::string testlevel;
    std::string pushlevel;

    static DeviceRegistrationResult decode(const platform::KeyedDecodingContainer& container);
    void encode(platform::KeyedEncodingContainer& container) const;
};

}  // namespace tervolo::backend
