#include "backend/DeviceRegistration.hpp"

#include "backend/DeviceInformation.hpp"

namespace tervolo::backend {

DeviceRegistration DeviceRegistration::make(const DeviceInformation& info, const std::string& pushToken) {
    DeviceRegistration body;
    body.device_name = info.deviceName;
    body.ios_version = info.systemVersion;
    body.device_hw_details = info.hardwareDescription;
    body.app_version = info.appVersion;
    body.pref_lang = info.languageCode.empty() ? "none" : info.languageCode;
    body.timezone = info.timeZoneIdentifier;
    body.time_offset = info.secondsFromGMT;
    body.push_token = pushToken.empty() ? "none" : pushToken;
    body.vendor_id = info.vendorID;
    body.ad_id = info.advertisingID;
    body.bundle_id = info.bundleID;
    body.signal_supported = info.signalInstalled ? 1 : 0;
    body.whatsapp_supported = info.whatsAppInstalled ? 1 : 0;
    body.supported_apps = info.installedAppsList;
    return body;
}

DeviceRegistration DeviceRegistration::decode(const platform::KeyedDecodingContainer& c) {
    DeviceRegistration r;
    r.device_name = c.decode<std::string>("device_name");
    r.ios_version = c.decode<std::string>("ios_version");
    r.device_hw_details = c.decode<std::string>("device_hw_details");
    r.app_version = c.decode<std::string>("app_version");
    r.apns_mode = c.decode<std::string>("apns_mode");
    r.pref_lang = c.decode<std::string>("pref_lang");
    r.timezone = c.decode<std::string>("timezone");
    r.time_offset = c.decode<int64_t>("time_offset");
    r.push_token = c.decode<std::string>("push_token");
    r.vendor_id = c.decode<std::string>("vendor_id");
    r.ad_id = c.decode<std::string>("ad_id");
    r.bundle_id = c.decode<std::string>("bundle_id");
    r.signal_supported = c.decode<int64_t>("signal_supported");
    r.whatsapp_supported = c.decode<int64_t>("whatsapp_supported");
    r.supported_apps = c.decode<std::string>("supported_apps");
    return r;
}

void DeviceRegistration::encode(platform::KeyedEncodingContainer& c) const {
    c.encode("device_name", device_name);
    c.encode("ios_version", ios_version);
    c.encode("device_hw_details", device_hw_details);
    c.encode("app_version", app_version);
    c.encode("apns_mode", apns_mode);
    c.encode("pref_lang", pref_lang);
    c.encode("timezone", timezone);
    c.encode("time_offset", time_offset);
    c.encode("push_token", push_token);
    c.encode("vendor_id", vendor_id);
    c.encode("ad_id", ad_id);
    c.encode("bundle_id", bundle_id);
    c.encode("signal_supported", signal_supported);
    c.encode("whatsapp_supported", whatsapp_supported);
    c.encode("supported_apps", supported_apps);
}

DeviceRegistrationResult DeviceRegistrationResult::decode(const platform::KeyedDecodingContainer& c) {
    return {c.decode<std::string>("deviceID"), c.decode<std::string>("updateCount"),
            c.decode<std::string>("testlevel"), c.decode<std::string>("pushlevel")};
}

void DeviceRegistrationResult::encode(platform::KeyedEncodingContainer& c) const {
    c.encode("deviceID", deviceID);
    c.encode("updateCount", updateCount);
    c.encode("testlevel", testlevel);
    c.encode("pushlevel", pushlevel);
}

}  // namespace tervolo::backend
