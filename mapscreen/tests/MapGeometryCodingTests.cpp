#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <string>

#include "mapscreen/MapGeometryCoding.hpp"
#include "mapscreen/UserTrackingModeTexts.hpp"
#include "platform/coding/DecodingError.hpp"
#include "platform/coding/EncodingError.hpp"
#include "platform/foundation/Bundle.hpp"
#include "points/CoordinateCoding.hpp"

namespace tervolo::mapscreen {
namespace {

using nlohmann::json;
using platform::DecodingError;

TEST(CoordinateCoding, LongitudeFirstBothWays) {
    const platform::CLLocationCoordinate2D berlin{52.5, 13.4};
    EXPECT_EQ(points::encodeCoordinate(berlin).dump(), "[13.4,52.5]");
    const auto read = points::decodeCoordinate(json::parse("[13.4, 52.5]"));
    EXPECT_EQ(read.latitude, 52.5);
    EXPECT_EQ(read.longitude, 13.4);
    // No range test: what is written reads back unchanged.
    const auto far = points::decodeCoordinate(points::encodeCoordinate({123.0, -400.5}));
    EXPECT_EQ(far.latitude, 123.0);
    EXPECT_EQ(far.longitude, -400.5);
}

TEST(CoordinateCoding, ReadsOnlyArraysOfAtLeastTwoNumbers) {
    struct Case {
        const char* text;
        bool decodes;
        DecodingError::Category category;  // when it does not
    } cases[] = {
        {"[13.4, 52.5, 7]", true, {}},
        {"[13.4, 52.5, \"extra\", null]", true, {}},
        {"[13, 52]", true, {}},
        {"[13.4]", false, DecodingError::Category::valueNotFound},
        {"[]", false, DecodingError::Category::valueNotFound},
        {"null", false, DecodingError::Category::valueNotFound},
        {"[13.4, \"52.5\"]", false, DecodingError::Category::typeMismatch},
        {"[null, 52.5]", false, DecodingError::Category::valueNotFound},
        {"{\"longitude\": 13.4, \"latitude\": 52.5}", false, DecodingError::Category::typeMismatch},
        {"\"13.4,52.5\"", false, DecodingError::Category::typeMismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.decodes) {
            const auto read = points::decodeCoordinate(json::parse(c.text), {"coordinate"});
            EXPECT_EQ(read.longitude, json::parse(c.text)[0].get<double>());
            EXPECT_EQ(read.latitude, json::parse(c.text)[1].get<double>());
            continue;
        }
        try {
            points::decodeCoordinate(json::parse(c.text), {"coordinate"});
            ADD_FAILURE() << "decoded";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.category(), c.category);
            ASSERT_FALSE(error.codingPath().empty());
            EXPECT_EQ(error.codingPath().front(), "coordinate");
        }
    }
}

TEST(MapGeometryCoding, UnkeyedArraysOfMapPoints) {
    EXPECT_EQ(encode(platform::MKMapPointMake(1, 2)).dump(), "[1.0,2.0]");
    EXPECT_EQ(encode(platform::MKMapSizeMake(3, 4)).dump(), "[3.0,4.0]");
    EXPECT_EQ(encode(platform::MKMapRectMake(1, 2, 3, 4)), nlohmann::ordered_json::parse("[[1, 2], [3, 4]]"));
    EXPECT_EQ(encode(platform::MKMapRectWorld),
              nlohmann::ordered_json::parse("[[0, 0], [268435456, 268435456]]"));
    EXPECT_EQ(encode(platform::MKMapRectMake(-0.5, 1e-3, 2.25, 1e9)).dump(),
              "[[-0.5,0.001],[2.25,1000000000.0]]");
}

TEST(MapGeometryCoding, NonFiniteNumbersAreRefusedWithTheirPlace) {
    try {
        encode(platform::MKMapRect{{0, 0}, {INFINITY, 1}}, {"mapRect"});
        ADD_FAILURE() << "encoded";
    } catch (const platform::EncodingError& error) {
        EXPECT_EQ(error.codingPath(), (std::vector<std::string>{"mapRect", "Index 1", "Index 0"}));
    }
    // The null rect's infinite origin has no JSON form either.
    EXPECT_THROW(encode(platform::MKMapRectNull), platform::EncodingError);
    EXPECT_THROW(encode(platform::MKMapPointMake(NAN, 0)), platform::EncodingError);
    EXPECT_THROW(points::encodeCoordinate({1, NAN}), platform::EncodingError);
}

TEST(MapGeometryCoding, MapRectFromAViewRectCopiesTheNumbers) {
    EXPECT_EQ(mapRectWith(QRectF(1.5, -2, 300, 0.25)), platform::MKMapRectMake(1.5, -2, 300, 0.25));
    EXPECT_EQ(mapRectWith(QRectF()), platform::MKMapRectMake(0, 0, 0, 0));
}

TEST(UserTrackingModeTexts, TitlesAndSentencesOfEachRawValue) {
    platform::Bundle::main().setLanguageForTesting("en");
    struct Case {
        int64_t raw;
        const char* title;
        const char* description;
    } cases[] = {
        {0, "none", "The map won't follow your location any more."},
        {1, "follow", "The map now keeps your location centered."},
        {2, "followWithHeading", "The map now tracks your location & heading."},
        {7, "none", "none"},
        {-1, "none", "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        const auto mode = static_cast<platform::MKUserTrackingMode>(c.raw);
        EXPECT_EQ(title(mode), c.title);
        EXPECT_EQ(description(mode), c.description);
    }
    platform::Bundle::main().setLanguageForTesting(std::nullopt);
}

}  // namespace
}  // namespace tervolo::mapscreen
