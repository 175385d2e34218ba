#include "testsupport/location/FakeGeocoderServer.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace tervolo::testsupport {

namespace {

// The value of `key` in a query, percent-decoded ("+" is a blank).
std::string queryValue(const std::string& query, const std::string& key) {
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        if (pair.compare(0, key.size() + 1, key + "=") == 0) {
            return percentDecoded(pair.substr(key.size() + 1), true);
        }
        start = end + 1;
    }
    return {};
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string degreesText(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.7f", value);
    return buffer;
}

nlohmann::json placeJSON(const FakeGeocoderServer::Place& place, long id) {
    return {
        {"place_id", id},
        {"lat", degreesText(place.latitude)},
        {"lon", degreesText(place.longitude)},
        {"name", place.name},
        {"display_name", place.name + ", " + place.road + ", " + place.city + ", " + place.country},
        {"address",
         {{"road", place.road}, {"city", place.city}, {"country", place.country}, {"country_code", "fi"}}}};
}

}  // namespace

FakeGeocoderServer::FakeGeocoderServer() {
    reverse_ = {"Harbour Gate", "Quay Street", "Tervola", "Finland", 0, 0};
    http_.setFallback([this](const RecordedRequest& request) { return answer(request); });
}

void FakeGeocoderServer::setReversePlace(Place place) {
    std::lock_guard lock(mutex_);
    reverse_ = std::move(place);
}

void FakeGeocoderServer::addPlace(Place place) {
    std::lock_guard lock(mutex_);
    places_.push_back(std::move(place));
}

size_t FakeGeocoderServer::reverseCount() const {
    const auto all = http_.requests();
    return static_cast<size_t>(
        std::count_if(all.begin(), all.end(), [](const RecordedRequest& r) { return r.path == "/reverse"; }));
}

size_t FakeGeocoderServer::searchCount() const {
    const auto all = http_.requests();
    return static_cast<size_t>(
        std::count_if(all.begin(), all.end(), [](const RecordedRequest& r) { return r.path == "/search"; }));
}

CannedReply FakeGeocoderServer::answer(const RecordedRequest& request) {
    std::lock_guard lock(mutex_);
    if (request.method == "GET" && request.path == "/reverse") {
        Place place = reverse_;
        char* end = nullptr;
        const std::string lat = queryValue(request.query, "lat");
        const std::string lon = queryValue(request.query, "lon");
        place.latitude = std::strtod(lat.c_str(), &end);
        place.longitude = std::strtod(lon.c_str(), &end);
        if (lat.empty() || lon.empty()) return CannedReply::json(R"({"error":"Unable to geocode"})");
        return CannedReply::json(placeJSON(place, 1).dump());
    }
    if (request.method == "GET" && request.path == "/search") {
        const std::string text = lowered(queryValue(request.query, "q"));
        nlohmann::json list = nlohmann::json::array();
        long id = 100;
        for (const auto& place : places_) {
            if (!text.empty() && lowered(place.name).find(text) != std::string::npos) {
                list.push_back(placeJSON(place, id));
            }
            ++id;
        }
        return CannedReply::json(list.dump());
    }
    return CannedReply::json(R"({"error":"no such resource"})", 404);
}

}  // namespace tervolo::testsupport
