#include "search/tests/GeocoderTestSupport.hpp"

#include <algorithm>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/RunLoop.hpp"

namespace tervolo::search::testing {

QuovaForwardGeocoder::CompletionHandler HandlerCalls::handler(std::string search) {
    return [this, search](std::optional<std::vector<points::QuovaPlacemark>> placemarks, bool done,
                          std::optional<platform::Error> error) {
        calls_.push_back(
            {std::move(placemarks), done, std::move(error), platform::Clock::current()->monotonicSeconds()});
        searches_.push_back(search);
    };
}

std::string startReply(const std::string& uuid, const std::string& searchString) {
    return R"({"status":0,"message":"search queued","uuid":")" + uuid + R"(","searchString":")" +
           searchString + R"("})";
}

std::string pollReply(int hits, bool done, bool withPlacemarks, const std::string& uuid) {
    std::string places;
    for (int i = 0; i < hits; ++i) {
        if (i > 0) places += ",";
        places += R"({"title":"Place )" + std::to_string(i) +
                  R"(","address":"Street 1","datasource":"Backend","longitude":24.5,"latitude":65.7})";
    }
    std::string text = R"({"status":0,"message":"","uuid":")" + uuid + R"(","hits":)" + std::to_string(hits);
    if (withPlacemarks) text += R"(,"placemarks":[)" + places + "]";
    return text + R"(,"isDone":)" + (done ? "true" : "false") + "}";
}

GeocoderTest::GeocoderTest() : time_(978307200.0 + 700000000.0) {}

GeocoderTest::~GeocoderTest() {
    platform::RunLoop::runUntilIdle();
}

bool GeocoderTest::logged(const std::string& text) {
    return loggedCount(text) > 0;
}

size_t GeocoderTest::loggedCount(const std::string& text) {
    const auto texts = log_.texts();
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

}  // namespace tervolo::search::testing
