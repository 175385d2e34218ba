#include "testsupport/backend/FakeBackendServer.hpp"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "backend/ShorturlCoding.hpp"
#include "points/Shorturl.hpp"

namespace tervolo::testsupport {

namespace {

constexpr const char* kDevicePath = "/apps/api/device";
constexpr const char* kUploadPath = "/apps/api/location";
constexpr const char* kLookupPrefix = "/apps/api/location/shorturl/";
constexpr const char* kSearchPrefix = "/apps/api/searchLocation/";
constexpr const char* kVersionPath = "/tervolo-ng/MacVersion.json";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// Built by appending: g++ 12 at -O3 warns falsely about `"literal" + string`.
std::string linkFor(const std::string& host, const std::string& key) {
    std::string link("http://");
    link.append(host).append("/").append(key);
    return link;
}

std::string degreesText(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.7f", value);
    return buffer;
}

}  // namespace

FakeBackendServer::FakeBackendServer(std::string shortLinkHost)
    : shortLinkHost_(std::move(shortLinkHost)),
      versionDocument_(
          R"({"appName":"TervoloNG","currentVersion":{"build":0,"major":0,"minor":0,"patch":1},)"
          R"("forceUpdate":false,"updateURL":"http://127.0.0.1/update","fallbackURL":"http://127.0.0.1/"})") {
    http_.setFallback([this](const RecordedRequest& request) { return answer(request); });
}

FakeBackendServer::SharedPoint FakeBackendServer::addSharedPoint(const std::string& title, double latitude,
                                                                 double longitude) {
    std::lock_guard lock(mutex_);
    SharedPoint point;
    point.key = nextKey();
    point.title = title;
    point.latitude = latitude;
    point.longitude = longitude;
    point.link = linkFor(shortLinkHost_, point.key);
    byKey_[point.key] = point;
    return point;
}

void FakeBackendServer::addSearchPlace(const std::string& title, double latitude, double longitude) {
    std::lock_guard lock(mutex_);
    places_.push_back({title, latitude, longitude});
}

void FakeBackendServer::setVersionDocument(std::string json) {
    std::lock_guard lock(mutex_);
    versionDocument_ = std::move(json);
}

void FakeBackendServer::setVersionHeaders(std::vector<std::pair<std::string, std::string>> headers) {
    std::lock_guard lock(mutex_);
    versionHeaders_ = std::move(headers);
}

std::vector<FakeBackendServer::SharedPoint> FakeBackendServer::uploads() const {
    std::lock_guard lock(mutex_);
    std::vector<SharedPoint> out;
    for (const auto& key : uploadOrder_) out.push_back(byKey_.at(key));
    return out;
}

std::vector<RecordedRequest> FakeBackendServer::requestsTo(const std::string& path) const {
    std::vector<RecordedRequest> out;
    for (auto& request : http_.requests()) {
        const bool under = !path.empty() && path.back() == '/';
        if (under ? startsWith(request.path, path) : request.path == path) out.push_back(std::move(request));
    }
    return out;
}

std::string FakeBackendServer::nextKey() {
    // Eight characters, as the backend's keys are; unique for the server's life.
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "E2e%05d", ++keyCounter_);
    return buffer;
}

CannedReply FakeBackendServer::answer(const RecordedRequest& request) {
    if (request.method == "POST" && request.path == kDevicePath) {
        return CannedReply::json(R"({"deviceID":"42","updateCount":"0","testlevel":"0","pushlevel":"0"})");
    }
    if (request.method == "POST" && request.path == kUploadPath) return upload(request);
    if (request.method == "GET" && startsWith(request.path, kLookupPrefix)) {
        return lookup(request.path.substr(std::string(kLookupPrefix).size()));
    }
    if (startsWith(request.path, kSearchPrefix)) {
        return search(request, request.path.substr(std::string(kSearchPrefix).size()));
    }
    if (request.method == "GET" && request.path == kVersionPath) {
        std::lock_guard lock(mutex_);
        auto reply = CannedReply::json(versionDocument_);
        reply.headers.insert(reply.headers.end(), versionHeaders_.begin(), versionHeaders_.end());
        return reply;
    }
    return CannedReply::json(R"({"status":404,"message":"no such resource"})", 404);
}

CannedReply FakeBackendServer::upload(const RecordedRequest& request) {
    const auto body = nlohmann::json::parse(request.body, nullptr, false);
    if (!body.is_object() || !body.contains("title") || !body["title"].is_string() ||
        !body.contains("latitude") || !body["latitude"].is_number() || !body.contains("longitude") ||
        !body["longitude"].is_number()) {
        return CannedReply::json(R"({"status":400,"message":"incomplete upload"})", 400);
    }
    std::lock_guard lock(mutex_);
    SharedPoint point;
    point.key = nextKey();
    point.title = body["title"].get<std::string>();
    point.latitude = body["latitude"].get<double>();
    point.longitude = body["longitude"].get<double>();
    point.link = linkFor(shortLinkHost_, point.key);
    point.body = request.body;
    byKey_[point.key] = point;
    uploadOrder_.push_back(point.key);
    nlohmann::json reply = {{"status", 0}, {"message", "created"}, {"shorturl", point.link}};
    return CannedReply::json(reply.dump());
}

CannedReply FakeBackendServer::lookup(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto found = byKey_.find(key);
    if (found == byKey_.end()) {
        return CannedReply::json(R"({"status":404,"message":"unknown short link"})", 404);
    }
    const SharedPoint& point = found->second;
    const points::Shorturl record{static_cast<int64_t>(std::distance(byKey_.begin(), found)) + 1,
                                  42,
                                  std::string("loopback"),
                                  std::string("Debian 12"),
                                  std::string("0.0.1"),
                                  point.link,
                                  point.title,
                                  degreesText(point.longitude),
                                  degreesText(point.latitude),
                                  std::string("s"),
                                  14,
                                  std::string("0"),
                                  std::string("2026-01-01 00:00:00"),
                                  std::string("2026-01-01 00:00:00"),
                                  std::nullopt,
                                  std::nullopt,
                                  std::nullopt,
                                  std::nullopt};
    return CannedReply::json(backend::encodeShorturl(record));
}

CannedReply FakeBackendServer::search(const RecordedRequest& request, const std::string& uuid) {
    std::lock_guard lock(mutex_);
    if (request.method == "POST") {
        const auto body = nlohmann::json::parse(request.body, nullptr, false);
        std::string text;
        if (body.is_object() && body.contains("searchString") && body["searchString"].is_string()) {
            text = body["searchString"].get<std::string>();
        }
        searches_[uuid] = text;
        nlohmann::json reply = {
            {"status", 0}, {"message", "started"}, {"uuid", uuid}, {"searchString", text}};
        return CannedReply::json(reply.dump());
    }
    const auto found = searches_.find(uuid);
    if (found == searches_.end()) {
        return CannedReply::json(R"({"status":404,"message":"unknown search"})", 404);
    }
    nlohmann::json placemarks = nlohmann::json::array();
    for (const auto& place : places_) {
        if (found->second.empty() || place.title.find(found->second) == std::string::npos) continue;
        placemarks.push_back({{"title", place.title},
                              {"address", ""},
                              {"datasource", "backend"},
                              {"longitude", place.longitude},
                              {"latitude", place.latitude}});
    }
    nlohmann::json reply = {{"status", 0},
                            {"message", "done"},
                            {"uuid", uuid},
                            {"hits", placemarks.size()},
                            {"placemarks", placemarks},
                            {"isDone", true}};
    return CannedReply::json(reply.dump());
}

}  // namespace tervolo::testsupport
