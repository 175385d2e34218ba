#include "backend/ShorturlCoding.hpp"

namespace tervolo::backend {

ShorturlRecord ShorturlRecord::decode(const platform::KeyedDecodingContainer& c) {
    points::Shorturl s;
    s.id = c.decode<int64_t>("id");
    s.device_id = c.decode<int64_t>("device_id");
    s.device_hw_details = c.decode<std::string>("device_hw_details");
    s.ios_version = c.decode<std::string>("ios_version");
    s.app_version = c.decode<std::string>("app_version");
    s.shorturl = c.decode<std::string>("shorturl");
    s.title = c.decode<std::string>("title");
    s.longitude = c.decode<std::string>("longitude");
    s.latitude = c.decode<std::string>("latitude");
    s.maptype = c.decode<std::string>("maptype");
    s.zoom = c.decode<int64_t>("zoom");
    s.timestamp = c.decode<std::string>("timestamp");
    s.created = c.decode<std::string>("created");
    s.modified = c.decode<std::string>("modified");
    s.dataSourceName = c.decodeIfPresent<std::string>("dataSourceName");
    s.dataSourceUniqueID = c.decodeIfPresent<std::string>("dataSourceUniqueID");
    s.dataSourceURL = c.decodeIfPresent<std::string>("dataSourceURL");
    s.dataSourceImageURL = c.decodeIfPresent<std::string>("dataSourceImageURL");
    return {std::move(s)};
}

void ShorturlRecord::encode(platform::KeyedEncodingContainer& c) const {
    const auto& s = value;
    c.encode("id", s.id);
    c.encode("device_id", s.device_id);
    c.encode("device_hw_details", s.device_hw_details);
    c.encode("ios_version", s.ios_version);
    c.encode("app_version", s.app_version);
    c.encode("shorturl", s.shorturl);
    c.encode("title", s.title);
    c.encode("longitude", s.longitude);
    c.encode("latitude", s.latitude);
    c.encode("maptype", s.maptype);
    c.encode("zoom", s.zoom);
    c.encode("timestamp", s.timestamp);
    c.encode("created", s.created);
    c.encode("modified", s.modified);
    c.encodeIfPresent("dataSourceName", s.dataSourceName);
    c.encodeIfPresent("dataSourceUniqueID", s.dataSourceUniqueID);
    c.encodeIfPresent("dataSourceURL", s.dataSourceURL);
    c.encodeIfPresent("dataSourceImageURL", s.dataSourceImageURL);
}

points::Shorturl decodeShorturl(const std::vector<uint8_t>& data) {
    return platform::JSONDecoder().decode<ShorturlRecord>(data).value;
}

std::string encodeShorturl(const points::Shorturl& shorturl) {
    return platform::JSONEncoder().encodeToString(ShorturlRecord{shorturl});
}

}  // namespace tervolo::backend
