#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/location/CLError.hpp"
#include "platform/location/CLGeocoder.hpp"
#include "platform/location/GeocoderReply.hpp"
#include "platform/location/HTTPGeocoderService.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/location/ScriptedGeocoderService.hpp"

namespace platform {
namespace {

using tervolo::testsupport::CannedReply;

const char* kSearchReply = R"([
 {"lat":"60.1699","lon":"24.9384","name":"Kauppatori","display_name":"Kauppatori, Helsinki, Finland",
  "address":{"road":"Eteläranta","house_number":"1","postcode":"00170","city":"Helsinki","country":"Suomi",
  "country_code":"fi"}},
 {"lat":"91","lon":"24.9","name":"Off the globe"},
 {"lat":"60.2","lon":"24.9","display_name":"Pasila, Helsinki","address":{"town":"Helsinki"}}
])";

const char* kReverseReply = R"({"lat":"52.5163","lon":"13.3777","name":"Brandenburger Tor",
 "address":{"road":"Pariser Platz","postcode":"10117","city":"Berlin","country":"Deutschland","country_code":"de"}})";

TEST(GeocoderReplyTest, PlacesBecomePlacemarksWithAddressLines) {
    const auto places = decodeGeocoderReply(kSearchReply);
    ASSERT_EQ(places.size(), 2u);  // the one off the globe is skipped
    EXPECT_EQ(places[0].name, "Kauppatori");
    EXPECT_EQ(places[0].isoCountryCode, "FI");
    EXPECT_EQ(places[0].formattedAddressLines(),
              (std::vector<std::string>{"Eteläranta 1", "00170 Helsinki", "Suomi"}));
    EXPECT_NEAR(places[0].location->coordinate().latitude, 60.1699, 1e-12);
    EXPECT_EQ(places[1].name, "Pasila");
    EXPECT_EQ(places[1].formattedAddressLines(), std::vector<std::string>{"Helsinki"});

    const auto reverse = decodeGeocoderReply(kReverseReply);
    ASSERT_EQ(reverse.size(), 1u);
    EXPECT_EQ(reverse[0].formattedAddressLines(),
              (std::vector<std::string>{"Pariser Platz", "10117 Berlin", "Deutschland"}));
    EXPECT_TRUE(decodeGeocoderReply(R"({"error":"Unable to geocode"})").empty());
    EXPECT_TRUE(decodeGeocoderReply("[]").empty());
}

TEST(GeocoderReplyTest, AnythingElseIsRefused) {
    for (const char* reply : {"", "<html>", "42", "\"text\"", "[{\"lat\":", "null",
                              "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["
                              "[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]"
                              "]]]]]]]]]]]]]]]]]"}) {
        SCOPED_TRACE(reply);
        EXPECT_THROW(decodeGeocoderReply(reply), std::runtime_error);
    }
}

class CLGeocoderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        service_ = HTTPGeocoderService::make();
        service_->setBaseURLForTesting(server_.url());
        GeocoderService::setCurrentForTesting(service_);
        setenv("LANGUAGE", "fi", 1);
    }
    void TearDown() override {
        GeocoderService::setCurrentForTesting(nullptr);
        unsetenv("LANGUAGE");
    }

    struct Outcome {
        std::optional<std::vector<CLPlacemark>> placemarks;
        std::optional<Error> error;
    };
    CLGeocoder::Completion recordInto(std::vector<Outcome>& outcomes) {
        return [&outcomes](auto placemarks, auto error) { outcomes.push_back({placemarks, error}); };
    }
    void waitFor(const std::vector<Outcome>& outcomes, size_t count) {
        ASSERT_TRUE(RunLoop::runUntil([&] { return outcomes.size() >= count; }, 10));
        RunLoop::runUntilIdle();
    }

    tervolo::testsupport::LoopbackHTTPServer server_;
    std::shared_ptr<HTTPGeocoderService> service_;
};

TEST_F(CLGeocoderTest, ForwardSearchSendsTextLanguageAndBiasBox) {
    server_.route("GET", "/search", CannedReply::json(kSearchReply));
    CLGeocoder geocoder;
    std::vector<Outcome> outcomes;
    geocoder.geocodeAddressString("Kauppatori Helsinki",
                                  CLCircularRegion{{60.17, 24.94}, 10000, "surroundingRegion"},
                                  recordInto(outcomes));
    EXPECT_TRUE(geocoder.isGeocoding());
    waitFor(outcomes, 1);
    ASSERT_EQ(outcomes.size(), 1u);
    ASSERT_TRUE(outcomes[0].placemarks);
    EXPECT_EQ(outcomes[0].placemarks->size(), 2u);
    EXPECT_FALSE(geocoder.isGeocoding());

    const auto request = server_.requests().at(0);
    EXPECT_NE(request.query.find("q=Kauppatori%20Helsinki"), std::string::npos);
    EXPECT_NE(request.query.find("accept-language=fi"), std::string::npos);
    EXPECT_NE(request.query.find("viewbox="), std::string::npos);
    EXPECT_NE(request.query.find("bounded=0"), std::string::npos);
    EXPECT_EQ(request.header("Accept-Language"), "fi");
    EXPECT_NE(request.header("User-Agent").value_or("").find("TervoloNG/"), std::string::npos);
}

TEST_F(CLGeocoderTest, ReverseGeocodingAndNoResult) {
    server_.route("GET", "/reverse", [](const tervolo::testsupport::RecordedRequest& request) {
        if (request.query.find("lat=52.5163") != std::string::npos) return CannedReply::json(kReverseReply);
        return CannedReply::json(R"({"error":"Unable to geocode"})");
    });
    CLGeocoder geocoder;
    std::vector<Outcome> outcomes;
    geocoder.reverseGeocodeLocation(CLLocation(52.5163, 13.3777), recordInto(outcomes));
    waitFor(outcomes, 1);
    ASSERT_TRUE(outcomes[0].placemarks);
    EXPECT_EQ(outcomes[0].placemarks->at(0).name, "Brandenburger Tor");

    service_ = HTTPGeocoderService::make(0);  // no spacing for the second request
    service_->setBaseURLForTesting(server_.url());
    GeocoderService::setCurrentForTesting(service_);
    geocoder.reverseGeocodeLocation(CLLocation(0, -150), recordInto(outcomes));
    waitFor(outcomes, 2);
    EXPECT_FALSE(outcomes[1].placemarks);
    ASSERT_TRUE(outcomes[1].error);
    EXPECT_EQ(outcomes[1].error->code, CLError::geocodeFoundNoResult);
}

TEST_F(CLGeocoderTest, BrokenRepliesEndInAnErrorNeverACrash) {
    const CannedReply replies[] = {
        CannedReply::text("<html>captive portal</html>"),
        CannedReply::json("[{\"lat\":\"60.1"),
        CannedReply::json("[" + std::string(2 * 1024 * 1024, ' ') + "]"),
        CannedReply::ofMode(CannedReply::Mode::resetAfterHeaders),
        CannedReply::json("{}", 503),
    };
    for (const auto& reply : replies) {
        service_ = HTTPGeocoderService::make(0);
        service_->setBaseURLForTesting(server_.url());
        GeocoderService::setCurrentForTesting(service_);
        server_.route("GET", "/search", reply);
        CLGeocoder geocoder;
        std::vector<Outcome> outcomes;
        geocoder.geocodeAddressString("x", std::nullopt, recordInto(outcomes));
        waitFor(outcomes, 1);
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_FALSE(outcomes[0].placemarks);
        EXPECT_TRUE(outcomes[0].error);
    }
}

TEST_F(CLGeocoderTest, CancelAndBusyEachCompleteExactlyOnce) {
    auto scripted = tervolo::testsupport::ScriptedGeocoderService::install();
    tervolo::testsupport::VirtualClockScope time;
    scripted->answerText("slow", {{tervolo::testsupport::makePlacemark("Slow", 1, 1)}, std::nullopt, 5.0});

    CLGeocoder geocoder;
    std::vector<Outcome> first, second;
    geocoder.geocodeAddressString("slow", std::nullopt, recordInto(first));
    geocoder.geocodeAddressString("other", std::nullopt, recordInto(second));
    EXPECT_TRUE(first.empty());
    EXPECT_TRUE(second.empty());  // never inside the call
    RunLoop::runUntilIdle();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].error->code, CLError::network);  // busy
    EXPECT_TRUE(geocoder.isGeocoding());

    geocoder.cancelGeocode();
    EXPECT_FALSE(geocoder.isGeocoding());
    RunLoop::runUntilIdle();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].error->code, CLError::geocodeCanceled);
    time.advance(10);  // the scripted answer would have come now
    RunLoop::runUntilIdle();
    EXPECT_EQ(first.size(), 1u);
    EXPECT_EQ(scripted->cancelCount(), 1);
    tervolo::testsupport::ScriptedGeocoderService::uninstall();
}

TEST_F(CLGeocoderTest, RateLimiterSpacesRequestsAndKeepsTheirOrder) {
    tervolo::testsupport::VirtualClockScope time;
    server_.route("GET", "/search", CannedReply::json("[]"));
    auto limited = HTTPGeocoderService::make(1.0, 2);
    limited->setBaseURLForTesting(server_.url());
    std::mutex mutex;
    std::vector<std::string> done;
    std::map<std::string, std::string> errors;
    auto record = [&](std::string name) {
        return [&, name](auto, std::optional<Error> error) {
            std::lock_guard lock(mutex);
            done.push_back(name);
            if (error) errors[name] = error->description;
        };
    };
    GeocoderService::Request request;
    for (const char* text : {"a", "b", "c", "d"}) {
        request.text = text;
        limited->start(request, record(text));
    }
    // "a" starts at once; "b" and "c" wait; "d" finds the line full and takes the place of the oldest, "b".
    ASSERT_TRUE(server_.waitForRequests(1));
    EXPECT_EQ(server_.requestCount(), 1u);
    // "b" hears of its drop before the clock moves; "a"'s answer comes from
    // another thread, so the two may arrive in either order.
    ASSERT_TRUE(RunLoop::runUntil(
        [&] {
            std::lock_guard lock(mutex);
            return std::find(done.begin(), done.end(), "b") != done.end();
        },
        10));
    time.advance(0.99);
    EXPECT_EQ(server_.requestCount(), 1u);
    time.advance(0.01);
    ASSERT_TRUE(server_.waitForRequests(2));
    time.advance(1.0);
    ASSERT_TRUE(server_.waitForRequests(3));
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[0].query.find("q=a&"), std::string::npos);
    EXPECT_NE(requests[1].query.find("q=c&"), std::string::npos);
    EXPECT_NE(requests[2].query.find("q=d&"), std::string::npos);
    ASSERT_TRUE(RunLoop::runUntil(
        [&] {
            std::lock_guard lock(mutex);
            return done.size() == 4;
        },
        10));
    EXPECT_EQ(std::count(done.begin(), done.end(), "b"), 1);
    EXPECT_NE(errors["b"].find("dropped"), std::string::npos) << errors["b"];
}

TEST_F(CLGeocoderTest, RetryAfterOnABusyServiceHoldsTheNextRequest) {
    struct Case {
        const char* name;
        CannedReply reply;
        double wait;  // seconds from the first request to the second
    };
    const Case cases[] = {
        {"429 in seconds", CannedReply::json("{}", 429).withHeader("Retry-After", "5"), 5.0},
        {"503 in seconds", CannedReply::json("{}", 503).withHeader("Retry-After", "3"), 3.0},
        // The virtual wall clock stands at 2023-11-14 22:13:20 UTC.
        {"429 as a date",
         CannedReply::json("{}", 429).withHeader("Retry-After", "Tue, 14 Nov 2023 22:13:24 GMT"), 4.0},
        {"429 without", CannedReply::json("{}", 429), 1.0},
        {"500 is no request to wait", CannedReply::json("{}", 500).withHeader("Retry-After", "5"), 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tervolo::testsupport::LoopbackHTTPServer server;
        tervolo::testsupport::VirtualClockScope time;
        server.route("GET", "/search", [&](const tervolo::testsupport::RecordedRequest& request) {
            return request.query.find("q=first&") != std::string::npos ? c.reply : CannedReply::json("[]");
        });
        auto service = HTTPGeocoderService::make(1.0);
        service->setBaseURLForTesting(server.url());
        std::atomic<int> done{0};
        GeocoderService::Request request;
        request.text = "first";
        service->start(request, [&](auto, auto) { ++done; });
        ASSERT_TRUE(RunLoop::runUntil([&] { return done.load() == 1; }, 10));
        request.text = "second";
        service->start(request, [&](auto, auto) { ++done; });
        time.advance(c.wait - 0.01);
        EXPECT_FALSE(server.waitForRequests(2, 0.05));
        time.advance(0.01);
        EXPECT_TRUE(server.waitForRequests(2));
        ASSERT_TRUE(RunLoop::runUntil([&] { return done.load() == 2; }, 10));
    }
}

TEST_F(CLGeocoderTest, FreshInstallFailsFastAgainstTheUnconfiguredHost) {
    auto unconfigured = HTTPGeocoderService::make();
    EXPECT_EQ(unconfigured->baseURL(), "https://geocoder.tervolo.invalid");
}

}  // namespace
}  // namespace platform
