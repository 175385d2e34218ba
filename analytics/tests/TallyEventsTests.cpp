#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyLocationManager.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"

namespace tervolo::analytics {
namespace {

using ::testing::HasSubstr;
using testing::TallyFacadeTest;
using testing::TimeZoneScope;

class TallyEventsTest : public TallyFacadeTest {
  protected:
    Tally& tally() { return Tally::sharedInstance(); }
    // The recorded events as the server will see them, emptying the list.
    TallyJSON events() {
        auto text = TallyPersistency::sharedInstance()->serializedRecordedEvents();
        return text ? TallyJSON::parse(*tly_percentDecoded(*text)) : TallyJSON::array();
    }
    std::shared_ptr<TallyConsentManager> consent() { return TallyConsentManager::sharedInstance(); }
};

TEST_F(TallyEventsTest, RecordingFormsAndTheirDefaults) {
    startOffline();
    tally().recordEvent("a", 0);
    tally().recordEvent("");
    tally().recordEventSum("b", 2.5);
    tally().recordEventDuration("c", 3);
    TallyJSON segmentation = TallyJSON::object();
    segmentation["k"] = "v";
    tally().recordEvent("d", segmentation, 4, 1.5);
    const TallyJSON list = events();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0]["count"], 1);  // 0 becomes 1
    EXPECT_EQ(list[1]["sum"], 2.5);
    EXPECT_EQ(list[2]["dur"], 3);
    EXPECT_EQ(list[3]["segmentation"]["k"], "v");
    EXPECT_EQ(list[3]["count"], 4);
    EXPECT_FALSE(list[0].contains("segmentation"));
    // Whole milliseconds: the stamp of 1700000000.123 s ends in 123.
    EXPECT_EQ(list[0]["timestamp"], 1700000000124);                    // the begin_session took ...123
    EXPECT_THAT(list[0].dump(), HasSubstr("\"count\":1,\"sum\":0,"));  // a whole sum without a fraction
}

TEST_F(TallyEventsTest, ReservedNamesNeedTheirOwnConsent) {
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.requiresConsent = true;
    config.consents = std::vector<std::string>{TLYConsentEvents};
    startOffline(config);
    tally().recordEvent(kTallyReservedEventView);
    tally().recordEvent(kTallyReservedEventOrientation);
    tally().recordEvent("plain");
    EXPECT_EQ(
        logger_->count("Specific consent not given for the reserved event! So, it will not be recorded."),
        2u);
    consent()->giveConsentForFeatures({TLYConsentUserDetails});
    tally().recordEvent(kTallyReservedEventOrientation);
    const TallyJSON list = events();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["key"], "plain");
    EXPECT_EQ(list[1]["key"], kTallyReservedEventOrientation);
    // Without the events consent plain events are refused, reserved ones with theirs are not.
    consent()->cancelConsentForFeatures({TLYConsentEvents});
    tally().recordEvent("plain");
    tally().recordEvent(kTallyReservedEventOrientation);
    EXPECT_EQ(logger_->count("Events consent not given! Event will not be recorded."), 1u);
    EXPECT_EQ(events().size(), 1u);
}

TEST_F(TallyEventsTest, TimedEvents) {
    TimeZoneScope zone("UTC");
    time_.clock().setWallSeconds(1699919940.0);  // Monday 23:59:00
    startOffline();
    tally().startEvent("timed");
    time_.clock().setWallSeconds(1699919950.0);
    tally().startEvent("timed");                 // the first start stays
    time_.clock().setWallSeconds(1699920060.5);  // Tuesday 00:01:00.5
    tally().endEvent("timed");
    tally().endEvent("timed");
    EXPECT_EQ(logger_->count("Event with key 'timed' already started!"), 1u);
    EXPECT_EQ(logger_->count("Event with key 'timed' not started yet or cancelled/ended before!"), 1u);
    tally().startEvent("dropped");
    tally().cancelEvent("dropped");
    EXPECT_EQ(logger_->count("Event with key 'dropped' cancelled!"), 1u);
    const TallyJSON list = events();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["hour"], 23);
    EXPECT_EQ(list[0]["dow"], 1);
    EXPECT_NEAR(list[0]["dur"].get<double>(), 120.5, 0.01);
}

TEST_F(TallyEventsTest, ConsentNotRequiredAnswersYesAndSendsNothing) {
    startOffline();
    const size_t before = queued().size();
    consent()->giveConsentForAllFeatures();
    consent()->cancelConsentForAllFeatures();
    EXPECT_EQ(queued().size(), before);
    EXPECT_TRUE(consent()->consentForSessions());
    EXPECT_TRUE(consent()->consentForRemoteConfig());
}

TEST_F(TallyEventsTest, ConsentRequestsAndTheirOrder) {
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.requiresConsent = true;
    config.city = "Berlin";
    config.ISOCountryCode = "DE";
    startOffline(config);
    EXPECT_TRUE(queued().empty());  // no session without its consent
    tally().giveConsentForFeatures(
        {TLYConsentSessions, TLYConsentLocation, TLYConsentStarRating, TLYConsentRemoteConfig});
    auto all = queued();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_THAT(all[0], HasSubstr("&city=Berlin&country_code=DE"));  // location first
    EXPECT_THAT(all[1], HasSubstr("&begin_session=1"));
    const auto consents =
        TallyJSON::parse(*tly_percentDecoded(*tly_valueForQueryStringKey(all[2], "consent")));
    EXPECT_EQ(consents.size(), 10u);
    EXPECT_TRUE(consents["feedback"]);
    EXPECT_FALSE(consents.contains("remote-config"));
    EXPECT_TRUE(consent()->consentForRemoteConfig());

    // Giving an already given feature still reports the consents.
    tally().giveConsentForFeature(TLYConsentSessions);
    EXPECT_EQ(queued().size(), 4u);
    // Withdrawing events sends what was recorded before the consent request.
    tally().giveConsentForFeature(TLYConsentEvents);
    tally().recordEvent("before withdrawal");
    tally().cancelConsentForFeature(TLYConsentEvents);
    all = queued();
    EXPECT_THAT(all[all.size() - 2], HasSubstr("before%20withdrawal"));
    EXPECT_THAT(all.back(), HasSubstr("&consent="));
}

TEST_F(TallyEventsTest, LocationFacts) {
    startOffline();
    auto location = TallyLocationManager::sharedInstance();
    tally().recordLocation(52.5, 13.4, std::nullopt, std::nullopt, "10.0.0.1");
    EXPECT_THAT(last(), ::testing::EndsWith("&location=52.500000%2C13.400000&ip_address=10.0.0.1"));
    tally().recordCity("", "");
    tally().recordIP("");
    tally().recordCity("Berlin", "");
    EXPECT_EQ(logger_->count("Country Code is missing while City is set!"), 1u);
    EXPECT_THAT(last(), ::testing::EndsWith("&city=Berlin"));
    tally().disableLocationInfo();
    EXPECT_TRUE(location->isLocationInfoDisabled());
    EXPECT_THAT(last(), ::testing::EndsWith("&location="));
    // Invalid coordinate and no texts: every fact cleared, the disabled state kept.
    location->updateLocation(-180, -180, "", "", "");
    EXPECT_TRUE(location->isLocationInfoDisabled());
    location->updateLocation(-180, -180, "Paris", "FR", std::nullopt);
    EXPECT_FALSE(location->isLocationInfoDisabled());
    location->updateLocation(std::nan(""), 13.4, std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(location->location(), std::nullopt);
}

}  // namespace
}  // namespace tervolo::analytics
