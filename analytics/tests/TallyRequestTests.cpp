#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyLocationManager.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"

namespace tervolo::analytics {
namespace {

using testing::StartedAnalyticsTest;
using testing::TimeZoneScope;

constexpr const char* kEssentials =
    "app_key=KEY&device_id=DEV&timestamp=1700000000123&hour=22&dow=2&tz=0&sdk_version=21.11.2&sdk_name=tally-"
    "native-cpp";

class TallyRequestTest : public StartedAnalyticsTest {
  protected:
    std::shared_ptr<TallyConnectionManager> connection() { return TallyConnectionManager::sharedInstance(); }
    std::string last() {
        auto all = queued();
        return all.empty() ? std::string() : all.back();
    }
};

TEST_F(TallyRequestTest, EssentialsInThreeTimeZones) {
    EXPECT_EQ(connection()->queryEssentials(), kEssentials);
    {
        TimeZoneScope zone("IST-5:30");
        EXPECT_THAT(connection()->queryEssentials(), ::testing::HasSubstr("&hour=3&dow=3&tz=330&"));
    }
    {
        TimeZoneScope zone("NST3:30");
        EXPECT_THAT(connection()->queryEssentials(), ::testing::HasSubstr("&tz=-210&"));
    }
    // Caller-made texts are escaped.
    connection()->setAppKey("a b&c");
    TallyDeviceInfo::sharedInstance().setDeviceID("x=y");
    EXPECT_EQ(connection()->queryEssentials().substr(0, 30), "app_key=a%20b%26c&device_id=x%");
}

TEST_F(TallyRequestTest, EndSessionAndItsChecksums) {
    time_.clock().setWallSeconds(1700000000.123 - 60);
    connection()->beginSession();
    time_.clock().setWallSeconds(1700000000.123);
    connection()->endSession();
    const std::string end = last();
    EXPECT_EQ(end, std::string(kEssentials) + "&end_session=1&session_duration=60");
    EXPECT_EQ(end.size(), 148u);

    const struct {
        std::optional<std::string> salt;
        std::string expected;
    } cases[] = {
        {std::nullopt, end},
        {"s3cret", end + "&checksum256=029093336b1f992c5ebba95974994110e2a5dba349c533325ac1127ff869a131"},
        {"", end + "&checksum256=f1e638bb54ad585de0a1d519f3d16e07a0b6d79a11256623493394c7b6303b61"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.salt.value_or("(none)"));
        connection()->setSecretSalt(row.salt);
        EXPECT_EQ(connection()->appendChecksum(end), row.expected);
    }
    // The queue never holds the checksum.
    EXPECT_EQ(last().find("checksum256"), std::string::npos);
}

TEST_F(TallyRequestTest, SessionLengthCarriesTheFraction) {
    connection()->beginSession();
    std::vector<int64_t> lengths;
    for (int i = 0; i < 3; ++i) {
        time_.clock().setWallSeconds(time_.clock().wallSeconds() + 0.4);
        lengths.push_back(connection()->sessionLengthInSeconds());
    }
    EXPECT_THAT(lengths, ::testing::ElementsAre(0, 0, 1));
}

TEST_F(TallyRequestTest, BeginSessionCarriesMetricsAndNoLocationWhenNoneIsSet) {
    connection()->beginSession();
    const std::string begin = last();
    EXPECT_EQ(begin.rfind(std::string(kEssentials) + "&begin_session=1&metrics=%7B%22_device%22", 0), 0u)
        << begin;
    EXPECT_EQ(begin.find("location"), std::string::npos);
    EXPECT_EQ(begin.find("aid="), std::string::npos);

    auto location = TallyLocationManager::sharedInstance();
    location->updateLocation(52.5, 13.4, "Berlin", std::nullopt, std::nullopt);
    EXPECT_EQ(location->location(), "52.500000,13.400000");
    connection()->beginSession();
    EXPECT_THAT(last(), ::testing::EndsWith("&location=52.500000%2C13.400000&city=Berlin"));
    location->disableLocationInfo();
    EXPECT_THAT(last(), ::testing::EndsWith("&location="));
    connection()->beginSession();
    EXPECT_THAT(last(), ::testing::EndsWith("&location="));
}

TEST_F(TallyRequestTest, EventsValueForOneEvent) {
    auto persistency = TallyPersistency::sharedInstance();
    TallyEvent event;
    event.key = "didFinishLaunchingWithOptions";
    event.timestamp = 1700000000.123;
    event.hourOfDay = 22;
    event.dayOfWeek = 2;
    event.duration = 1.5;
    persistency->recordEvent(event);
    connection()->sendEvents();
    EXPECT_EQ(
        last(),
        std::string(kEssentials) +
            "&events=%5B%7B%22key%22%3A%22didFinishLaunchingWithOptions%22%2C%22count%22%3A1%2C%22sum%"
            "22%3A0%2C%22timestamp%22%3A1700000000123%2C%22hour%22%3A22%2C%22dow%22%3A2%2C%22dur%22%3A1."
            "5%7D%5D");
    // Nothing recorded: no request.
    const size_t before = queued().size();
    connection()->sendEvents();
    EXPECT_EQ(queued().size(), before);
}

TEST_F(TallyRequestTest, CallerSuppliedValuesAreEscaped) {
    connection()->sendDirectAttributionWithCampaignID("c&x=1", "u ser");
    EXPECT_THAT(last(), ::testing::EndsWith("&campaign_id=c%26x%3D1&campaign_user=u%20ser"));
    connection()->sendDirectAttributionWithCampaignID("c", "");
    EXPECT_THAT(last(), ::testing::EndsWith("&campaign_id=c"));
    connection()->sendPushToken("0aff&x");
    EXPECT_THAT(last(), ::testing::EndsWith("&token_session=1&ios_token=0aff%26x&test_mode=0"));
    connection()->setPushTestMode("TLYPushTestModeTestFlightOrAdHoc");
    connection()->sendPushToken("0aff");
    EXPECT_THAT(last(), ::testing::EndsWith("&test_mode=2"));
    connection()->sendOldDeviceID("old id");
    EXPECT_THAT(last(), ::testing::EndsWith("&old_device_id=old%20id"));
    connection()->sendAttributionData("{\"a\":1}");
    EXPECT_THAT(last(), ::testing::EndsWith("&attribution_data=%7B%22a%22%3A1%7D"));
    TallyJSON aid = TallyJSON::object();
    aid["k"] = "v";
    connection()->sendIndirectAttribution(aid);
    EXPECT_THAT(last(), ::testing::EndsWith("&aid=%7B%22k%22%3A%22v%22%7D"));
    TallyCommon::sharedInstance().setAttributionID("ID 1");
    connection()->sendAttribution();
    EXPECT_THAT(last(), ::testing::EndsWith("&aid=%7B%22idfa%22%3A%22ID%201%22%7D"));
}

TEST_F(TallyRequestTest, HostLosesOneTrailingSlash) {
    connection()->setHost("https://a.invalid/");
    EXPECT_EQ(connection()->host(), "https://a.invalid");
    connection()->setHost("https://a.invalid//");
    EXPECT_EQ(connection()->host(), "https://a.invalid/");
    EXPECT_EQ(logger_->count("[Warning] Host has an extra \"/\" at the end! It will be removed by the SDK." +
                             std::string(18, ' ') +
                             "But please make sure you fix it to avoid this warning in the future."),
              2u);
}

TEST_F(TallyRequestTest, TransportDecision) {
    connection()->setHost("https://a.invalid");
    const std::string q2048 = "a=" + std::string(2046, 'x');
    const std::string q2049 = q2048 + "y";

    auto get = connection()->requestForQuery(q2048);
    EXPECT_EQ(get.httpMethod, "GET");
    EXPECT_EQ(get.url, "https://a.invalid/i?" + q2048);
    EXPECT_TRUE(get.httpBody.empty());

    auto post = connection()->requestForQuery(q2049);
    EXPECT_EQ(post.httpMethod, "POST");
    EXPECT_EQ(post.url, "https://a.invalid/i");
    EXPECT_EQ(std::string(post.httpBody.begin(), post.httpBody.end()), q2049);
    EXPECT_EQ(post.value("Content-Type"), std::nullopt);

    // The checksum counts toward the length.
    connection()->setSecretSalt("s");
    EXPECT_EQ(connection()->requestForQuery("a=" + std::string(2000, 'x')).httpMethod, "POST");
    connection()->setSecretSalt(std::nullopt);

    connection()->setAlwaysUsePOST(true);
    auto forced = connection()->requestForQuery("a=1");
    EXPECT_EQ(forced.httpMethod, "POST");
    EXPECT_EQ(forced.url, "https://a.invalid/i");
    EXPECT_EQ(std::string(forced.httpBody.begin(), forced.httpBody.end()), "a=1");

    // A picture upload keeps the query in the URL even with POST forced.
    const std::string jpg = folder_.file("avatar.JPG");
    std::ofstream(jpg, std::ios::binary) << std::string("\xFF\xD8XYZ", 5);
    TallyJSON details = TallyJSON::object();
    details["kTallyLocalPicturePath"] = jpg;
    const std::string query = "app_key=KEY&user_details=" + *tly_JSONify(details);
    auto upload = connection()->requestForQuery(query);
    EXPECT_EQ(upload.httpMethod, "POST");
    EXPECT_EQ(upload.url, "https://a.invalid/i?" + query);
    EXPECT_EQ(upload.value("Content-Type"), "multipart/form-data; boundary=0cae04a8b698d63ff6ea55d168993f21");
    const std::string body(upload.httpBody.begin(), upload.httpBody.end());
    EXPECT_EQ(body.size(), 184u);
    EXPECT_EQ(body,
              "--0cae04a8b698d63ff6ea55d168993f21\r\nContent-Disposition: form-data; name=\"pictureFile\"; "
              "filename=\"avatar.JPG\"\r\nContent-Type: image/jpeg\r\n\r\n\xFF\xD8XYZ\r\n"
              "--0cae04a8b698d63ff6ea55d168993f21--\r\n");

    const std::string bmp = folder_.file("avatar.bmp");
    std::ofstream(bmp) << "BM";
    details["kTallyLocalPicturePath"] = bmp;
    auto ordinary = connection()->requestForQuery("app_key=KEY&user_details=" + *tly_JSONify(details));
    EXPECT_EQ(ordinary.url, "https://a.invalid/i");
    EXPECT_EQ(ordinary.value("Content-Type"), std::nullopt);
    EXPECT_EQ(logger_->count("Unsupported file extension for picture upload: bmp"), 1u);

    details["kTallyLocalPicturePath"] = folder_.file("missing.png");
    EXPECT_EQ(connection()->pictureUploadDataForQueryString("user_details=" + *tly_JSONify(details)),
              std::nullopt);
    EXPECT_EQ(logger_->count("Local picture data can not be read!"), 1u);
}

TEST_F(TallyRequestTest, SessionRequestsNeedTheSessionConsent) {
    auto consent = TallyConsentManager::sharedInstance();
    consent->setRequiresConsent(true);
    connection()->beginSession();
    connection()->updateSession();
    connection()->endSession();
    EXPECT_TRUE(queued().empty());
    consent->giveConsentForFeatures({TLYConsentLocation, TLYConsentSessions});
    auto all = queued();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_THAT(all[0], ::testing::HasSubstr("&begin_session=1"));
    EXPECT_EQ(all[0].find("location"), std::string::npos);  // consent given, nothing set: no pair
    EXPECT_THAT(all[1], ::testing::HasSubstr("&consent=%7B%22sessions%22%3Atrue%2C%22events%22%3Afalse"));
}

}  // namespace
}  // namespace tervolo::analytics
