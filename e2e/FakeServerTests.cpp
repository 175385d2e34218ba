// The fakes the end-to-end runs talk to, read with the program's own
// decoders: a fake that drifts from the program's formats fails here, with a
// plain message, instead of somewhere in a run.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "backend/DeviceRegistration.hpp"
#include "backend/ShorturlCoding.hpp"
#include "backend/VersionInfo.hpp"
#include "platform/coding/JSONDecoder.hpp"
#include "platform/location/GeocoderReply.hpp"
#include "platform/net/URLSession.hpp"
#include "search/RetrieveRequestResult.hpp"
#include "search/SearchRequestResult.hpp"
#include "testsupport/backend/FakeBackendServer.hpp"
#include "testsupport/location/FakeGeocoderServer.hpp"

namespace {

using tervolo::testsupport::FakeBackendServer;
using tervolo::testsupport::FakeGeocoderServer;

struct Reply {
    int status = 0;
    std::string body;
};

Reply fetch(const std::string& method, const std::string& url, const std::string& body = "") {
    platform::URLRequest request(url);
    request.httpMethod = method;
    request.setValue("application/json", "Content-Type");
    std::promise<Reply> answered;
    auto completion = [&answered](std::optional<std::vector<uint8_t>> data,
                                  std::optional<platform::HTTPURLResponse> response,
                                  std::optional<platform::Error> error) {
        Reply reply;
        if (!error && response) reply.status = static_cast<int>(response->statusCode());
        if (data) reply.body.assign(data->begin(), data->end());
        answered.set_value(std::move(reply));
    };
    auto& session = platform::URLSession::shared();
    auto task = method == "GET"
                    ? session.dataTask(std::move(request), completion)
                    : session.uploadTask(std::move(request), {body.begin(), body.end()}, completion);
    task->resume();
    return answered.get_future().get();
}

// Upload, lookup of the key it gave, an unknown key, a key the test added;
// registration and the version document.
TEST(FakeBackendServer, AnswersInTheProgramsFormats) {
    FakeBackendServer server("s.e2e.localhost");
    const auto registered = fetch("POST", server.url() + "/apps/api/device", "{}");
    EXPECT_EQ(
        platform::JSONDecoder().decode<tervolo::backend::DeviceRegistrationResult>(registered.body).deviceID,
        "42");

    const auto uploaded =
        fetch("POST", server.url() + "/apps/api/location",
              R"({"title":"Harbour Gate","latitude":60.1701,"longitude":24.9512,"zoom":14})");
    ASSERT_EQ(uploaded.status, 200) << uploaded.body;
    ASSERT_EQ(server.uploads().size(), 1u);
    const auto upload = server.uploads()[0];
    EXPECT_EQ(upload.link, "http://s.e2e.localhost/" + upload.key);
    EXPECT_EQ(upload.key.size(), 8u);
    EXPECT_NE(uploaded.body.find(upload.link), std::string::npos);

    const auto looked = fetch("GET", server.url() + "/apps/api/location/shorturl/" + upload.key);
    const auto record = tervolo::backend::decodeShorturl({looked.body.begin(), looked.body.end()});
    EXPECT_EQ(record.title, "Harbour Gate");
    EXPECT_EQ(record.shorturl, upload.link);
    ASSERT_TRUE(record.coordinate().has_value());
    EXPECT_NEAR(record.coordinate()->latitude, 60.1701, 1e-6);
    EXPECT_NEAR(record.coordinate()->longitude, 24.9512, 1e-6);

    const auto added = server.addSharedPoint("Lighthouse Island", 60.11, 24.987);
    EXPECT_NE(added.key, upload.key);
    const auto other = fetch("GET", server.url() + "/apps/api/location/shorturl/" + added.key);
    EXPECT_EQ(tervolo::backend::decodeShorturl({other.body.begin(), other.body.end()}).title,
              "Lighthouse Island");
    EXPECT_EQ(server.uploads().size(), 1u) << "a point the test added is no upload";

    const auto unknown = fetch("GET", server.url() + "/apps/api/location/shorturl/NOSUCHKY");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_THROW(tervolo::backend::decodeShorturl({unknown.body.begin(), unknown.body.end()}),
                 platform::DecodingError);

    const auto broken = fetch("POST", server.url() + "/apps/api/location", R"({"title":"no coordinate"})");
    EXPECT_EQ(broken.status, 400);
    EXPECT_EQ(server.uploads().size(), 1u);

    const auto version = fetch("GET", server.url() + "/tervolo-ng/MacVersion.json");
    const auto info = platform::JSONDecoder().decode<tervolo::backend::AppVersionInfo>(version.body);
    EXPECT_FALSE(info.forceUpdate);
    EXPECT_EQ(info.currentVersion.major, 0);
}

// A search's start and its poll: done at once, with the places whose title
// holds the searched text.
TEST(FakeBackendServer, SearchesItsPlaces) {
    FakeBackendServer server("s.e2e.localhost");
    server.addSearchPlace("Old Market Hall", 60.1672, 24.9536);
    server.addSearchPlace("Rock Church", 60.1731, 24.9253);
    const std::string path = server.url() + "/apps/api/searchLocation/ABC-1";
    const auto started = fetch("POST", path, R"({"searchString":"Market","uuid":"ABC-1"})");
    EXPECT_EQ(platform::JSONDecoder().decode<tervolo::search::SearchRequestResult>(started.body).uuid,
              "ABC-1");
    const auto polled = fetch("GET", path);
    const auto result = platform::JSONDecoder().decode<tervolo::search::RetrieveRequestResult>(polled.body);
    EXPECT_TRUE(result.isDone);
    ASSERT_TRUE(result.placemarks.has_value());
    ASSERT_EQ(result.placemarks->size(), 1u);
    EXPECT_EQ(result.placemarks->front().title, "Old Market Hall");
    EXPECT_EQ(fetch("GET", server.url() + "/apps/api/searchLocation/UNKNOWN").status, 404);
}

// Reverse answers the set place at the asked coordinate; search matches names
// without regard to ASCII case and answers [] for none.
TEST(FakeGeocoderServer, AnswersReverseAndSearch) {
    FakeGeocoderServer server;
    server.setReversePlace({"Harbour Gate", "Quay Street", "Helsinki", "Finland", 0, 0});
    server.addPlace({"Rock Church", "Lutherinkatu", "Helsinki", "Finland", 60.1731, 24.9253});
    const auto reverse = platform::decodeGeocoderReply(
        fetch("GET", server.url() + "/reverse?lat=60.17&lon=24.95&format=jsonv2").body);
    ASSERT_EQ(reverse.size(), 1u);
    EXPECT_EQ(reverse[0].name, "Harbour Gate");
    EXPECT_EQ(reverse[0].thoroughfare, "Quay Street");
    EXPECT_NEAR(reverse[0].location->coordinate().latitude, 60.17, 1e-6);
    EXPECT_NEAR(reverse[0].location->coordinate().longitude, 24.95, 1e-6);

    const auto found = platform::decodeGeocoderReply(
        fetch("GET", server.url() + "/search?q=rock%20CHURCH&format=jsonv2").body);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "Rock Church");
    EXPECT_TRUE(
        platform::decodeGeocoderReply(fetch("GET", server.url() + "/search?q=nowhere&format=jsonv2").body)
            .empty());
    EXPECT_EQ(server.reverseCount(), 1u);
    EXPECT_EQ(server.searchCount(), 2u);
}

}  // namespace
