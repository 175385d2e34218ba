#include "backend/QMPUploadRecords.hpp"

#include <cstdio>

namespace tervolo::backend {

QMPUploadRequest QMPUploadRequest::decode(const platform::KeyedDecodingContainer& c) {
    QMPUploadRequest r;
    r.device_id = c.decode<int64_t>("device_id");
    r.vendor_id = c.decode<std::string>("vendor_id");
    r.device_hw_details = c.decode<std::string>("device_hw_details");
    r.ios_version = c.decode<std::string>("ios_version");
    r.app_version = c.decode<std::string>("app_version");
    r.title = c.decode<std::string>("title");
    r.longitude = c.decode<double>("longitude");
    r.latitude = c.decode<double>("latitude");
    r.maptype = c.decode<std::string>("maptype");
    r.zoom = c.decode<int64_t>("zoom");
    r.timestamp = c.decode<std::string>("timestamp");
    r.dataSourceName = c.decode<std::string>("dataSourceName");
    r.dataSourceUniqueID = c.decode<std::string>("dataSourceUniqueID");
    r.dataSourceURL = c.decode<std::string>("dataSourceURL");
    r.dataSourceImageURL = c.decode<std::string>("dataSourceImageURL");
    return r;
}

void QMPUploadRequest::encode(platform::KeyedEncodingContainer& c) const {
    c.encode("device_id", device_id);
    c.encode("vendor_id", vendor_id);
    c.encode("device_hw_details", device_hw_details);
    c.encode("ios_version", ios_version);
    c.encode("app_version", app_version);
    c.encode("title", title);
    c.encode("longitude", longitude);
    c.encode("latitude", latitude);
    c.encode("maptype", maptype);
    c.encode("zoom", zoom);
    c.encode("timestamp", timestamp);
    c.encode("dataSourceName", dataSourceName);
    c.encode("dataSourceUniqueID", dataSourceUniqueID);
    c.encode("dataSourceURL", dataSourceURL);
    c.encode("dataSourceImageURL", dataSourceImageURL);
}

QMPUploadResult QMPUploadResult::decode(const platform::KeyedDecodingContainer& c) {
    QMPUploadResult r;
    r.status = c.decodeIfPresent<int64_t>("status");
    r.message = c.decode<std::string>("message");
    r.shorturl = c.decode<std::string>("shorturl");
    return r;
}

void QMPUploadResult::encode(platform::KeyedEncodingContainer& c) const {
    c.encodeIfPresent("status", status);
    c.encode("message", message);
    c.encode("shorturl", shorturl);
}

std::string uploadTimestamp(double secondsSince2001) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.0f", secondsSince2001);
    return buffer;
}

}  // namespace tervolo::backend
