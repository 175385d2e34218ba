#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "location/QuovaUserLocationAnnotation.hpp"
#include "points/QuovaMapPoint.hpp"
#include "testsupport/TestEnvironment.hpp"

namespace tervolo::location {
namespace {

class QuovaUserLocationAnnotationTest : public ::testing::Test {
  protected:
    tervolo::testsupport::TestEnvironment environment_;
};

TEST_F(QuovaUserLocationAnnotationTest, FreshAnnotationMakesItsPointOnFirstRead) {
    QuovaUserLocationAnnotation annotation;
    EXPECT_FALSE(annotation.hasMapPoint());
    EXPECT_EQ(annotation.encode().dump(), "{}");
    EXPECT_EQ(annotation.coordinate(), platform::kCLLocationCoordinate2DInvalid);
    EXPECT_TRUE(annotation.hasMapPoint());
    EXPECT_EQ(annotation.optionalTitle(), "My Position");
    EXPECT_FALSE(annotation.optionalSubtitle().has_value());
    EXPECT_FALSE(annotation.mapPoint()->uuid().has_value());
}

TEST_F(QuovaUserLocationAnnotationTest, EveryWriteStampsTheModificationTime) {
    QuovaUserLocationAnnotation annotation;
    const auto created = annotation.mapPoint()->lastSavedAt();
    environment_.advance(1);
    annotation.setCoordinate({60.17, 24.94});
    const auto first = annotation.mapPoint()->lastSavedAt();
    EXPECT_GT(first.secondsSince2001, created.secondsSince2001);
    environment_.advance(1);
    annotation.setCoordinate({60.17, 24.94});  // the same value again
    EXPECT_GT(annotation.mapPoint()->lastSavedAt().secondsSince2001, first.secondsSince2001);
    environment_.advance(1);
    const auto beforeReads = annotation.mapPoint()->lastSavedAt();
    (void)annotation.coordinate();
    (void)annotation.title();
    EXPECT_EQ(annotation.mapPoint()->lastSavedAt().secondsSince2001, beforeReads.secondsSince2001);

    annotation.setTitle(std::nullopt);
    EXPECT_FALSE(annotation.optionalTitle().has_value());
    EXPECT_EQ(annotation.title(), "");
    annotation.setSubtitle("Kauppatori");
    EXPECT_EQ(annotation.subtitle(), "Kauppatori");
}

TEST_F(QuovaUserLocationAnnotationTest, RoundTripAndStrictDecoding) {
    QuovaUserLocationAnnotation annotation;
    annotation.setCoordinate({60.17, 24.94});
    annotation.setSubtitle("Harbour");
    const auto json = nlohmann::json::parse(annotation.encode().dump());
    ASSERT_TRUE(json.contains("_mapPoint"));
    auto decoded = QuovaUserLocationAnnotation::decode(json);
    EXPECT_EQ(decoded->coordinate(), annotation.coordinate());
    EXPECT_EQ(decoded->optionalSubtitle(), "Harbour");
    EXPECT_EQ(decoded->optionalTitle(), "My Position");

    auto empty = QuovaUserLocationAnnotation::decode(nlohmann::json::object());
    EXPECT_FALSE(empty->hasMapPoint());
    EXPECT_EQ(empty->optionalTitle(), "My Position");
    EXPECT_FALSE(QuovaUserLocationAnnotation::decode(nlohmann::json{{"_mapPoint", nullptr}})->hasMapPoint());

    const nlohmann::json refused[] = {
        nlohmann::json::array(),
        nlohmann::json{{"_mapPoint", "a point"}},
        nlohmann::json{{"_mapPoint", {{"title", 5}}}},
        nlohmann::json{{"_mapPoint", nlohmann::json::object()}},
    };
    for (const auto& json : refused) {
        SCOPED_TRACE(json.dump());
        EXPECT_ANY_THROW(QuovaUserLocationAnnotation::decode(json));
    }
}

}  // namespace
}  // namespace tervolo::location
