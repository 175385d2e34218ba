#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "mapscreen/PointsOnMapRules.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "testsupport/location/ScriptedGeocoderService.hpp"

namespace {

using namespace tervolo::mapscreen;
using tervolo::points::QuovaMapPoint;

// Metres on the ground of a map rect's width and height, measured at its own middle latitude.
struct GroundSize {
    double width;
    double height;
};
GroundSize groundSize(const platform::MKMapRect& rect) {
    const double middle = platform::MKCoordinateForMapPoint(
                              {platform::MKMapRectGetMidX(rect), platform::MKMapRectGetMidY(rect)})
                              .latitude;
    const double perPoint = platform::MKMetersPerMapPointAtLatitude(middle);
    return {rect.size.width * perPoint, rect.size.height * perPoint};
}

TEST(PointZoomRect, ShowsTenKilometresOrOnlyRecentres) {
    const platform::CLLocationCoordinate2D helsinki{60.1699, 24.9384};
    const platform::MKMapPoint centre = platform::MKMapPointForCoordinate(helsinki);
    struct Case {
        const char* name;
        std::optional<platform::MKCoordinateRegion> visible;
        bool recentresOnly;
    };
    const Case cases[] = {
        {"no map", std::nullopt, false},
        {"all of Europe", platform::MKCoordinateRegion{{50, 10}, {30, 40}}, false},
        {"exactly the 10 km spans",
         platform::MKCoordinateRegionMakeWithDistance(helsinki, kPointZoomDistance, kPointZoomDistance),
         false},
        {"latitude span smaller", platform::MKCoordinateRegion{{61, 25}, {0.05, 3.0}}, true},
        {"longitude span smaller", platform::MKCoordinateRegion{{61, 25}, {3.0, 0.1}}, true},
        {"both smaller", platform::MKCoordinateRegion{{61, 25}, {0.01, 0.02}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::MKMapRect rect = zoomMapRectForPoint(helsinki, c.visible);
        // Centred on the point: east-west in map points, north-south in degrees (the Mercator stretch
        // puts the point a little below the rect's middle).
        EXPECT_NEAR(platform::MKMapRectGetMidX(rect), centre.x, 1e-6 * rect.size.width);
        const double top = platform::MKCoordinateForMapPoint(rect.origin).latitude;
        const double bottom =
            platform::MKCoordinateForMapPoint({rect.origin.x, platform::MKMapRectGetMaxY(rect)}).latitude;
        EXPECT_NEAR((top + bottom) / 2, helsinki.latitude, 1e-9);
        const platform::MKCoordinateRegion shown = platform::MKCoordinateRegionForMapRect(rect);
        if (c.recentresOnly) {
            EXPECT_NEAR(shown.span.latitudeDelta, c.visible->span.latitudeDelta, 1e-9);
            EXPECT_NEAR(shown.span.longitudeDelta, c.visible->span.longitudeDelta, 1e-9);
        } else {
            const GroundSize size = groundSize(rect);
            EXPECT_NEAR(size.width, 10000.0, 60.0);
            EXPECT_NEAR(size.height, 10000.0, 60.0);
        }
    }
}

TEST(PointZoomRect, StaysOnTheProjectedMapNearThePolesAndPassesTheAntimeridian) {
    // Beside the pole: both corners would sit on the world's top edge; the region moves south so the
    // rect keeps its height and touches the edge.
    for (const double latitude : {89.99, -89.99, 85.0}) {
        SCOPED_TRACE(latitude);
        const platform::MKMapRect rect = zoomMapRectForPoint({latitude, 0}, std::nullopt);
        EXPECT_TRUE(std::isfinite(rect.origin.x) && std::isfinite(rect.origin.y));
        EXPECT_GT(rect.size.height, 0);
        EXPECT_GT(rect.size.width, 0);
        // Within a hundredth of a map point (the projection's limit latitude rounds a hair past the edge).
        EXPECT_GE(rect.origin.y, -0.01);
        EXPECT_LE(platform::MKMapRectGetMaxY(rect), platform::kMKMapWorldSide + 0.01);
        const double edgeGap =
            latitude > 0 ? rect.origin.y : platform::kMKMapWorldSide - platform::MKMapRectGetMaxY(rect);
        if (std::fabs(latitude) > 89) {
            EXPECT_NEAR(edgeGap, 0, 0.01);
        }
    }
    // Beside the antimeridian: the east edge lies past the world's width, and the rect is still 10 km wide.
    const platform::MKMapRect east = zoomMapRectForPoint({0, 179.99}, std::nullopt);
    EXPECT_GT(platform::MKMapRectGetMaxX(east), platform::kMKMapWorldSide);
    EXPECT_LT(east.origin.x, platform::kMKMapWorldSide);
    EXPECT_NEAR(groundSize(east).width, 10000.0, 60.0);
    EXPECT_NEAR(groundSize(east).height, 10000.0, 60.0);
}

TEST(ReverseGeocodedTexts, TitleRulesTimesSubtitleRulesTimesAddressLines) {
    const std::string newLocation = "New Location";
    struct TitleCase {
        const char* name;
        std::string title;
        bool handcrafted;
        bool placemarkHasName;
        bool replaced;
    };
    const TitleCase titles[] = {
        {"new title", newLocation, false, true, true},
        {"new title typed by the user", newLocation, true, true, false},
        {"other title", "Sauna", false, true, false},
        {"placemark without name", newLocation, false, false, false},
    };
    struct SubtitleCase {
        const char* name;
        std::optional<std::string> subtitle;
        bool fillable;
    };
    const SubtitleCase subtitles[] = {{"absent", std::nullopt, true},
                                      {"empty", std::string(), true},
                                      {"present", std::string("Kauppatori"), false}};
    struct LinesCase {
        const char* street;
        const char* city;
        const char* country;
        std::optional<std::string> joined;
    };
    const LinesCase lines[] = {
        {"Pohjoisesplanadi", "Helsinki", "Finland", "Pohjoisesplanadi, Helsinki, Finland"},
        {"", "", "Finland", "Finland"},
        {"", "", "", std::nullopt},
    };
    for (const auto& t : titles) {
        for (const auto& s : subtitles) {
            for (const auto& l : lines) {
                SCOPED_TRACE(std::string(t.name) + " / subtitle " + s.name + " / " +
                             l.joined.value_or("no lines"));
                auto point = QuovaMapPoint::make(t.title);
                point->setHasHandcraftedTitle(t.handcrafted);
                point->setSubtitle(s.subtitle);
                auto placemark = tervolo::testsupport::makePlacemark("Market Square", 60.1675, 24.9525,
                                                                     l.street, l.city, l.country);
                if (!t.placemarkHasName) placemark.name.reset();
                const ReverseGeocodedTexts texts = reverseGeocodedTexts(*point, placemark, newLocation);
                EXPECT_EQ(texts.title,
                          t.replaced ? std::optional<std::string>("Market Square") : std::nullopt);
                EXPECT_EQ(texts.subtitle, s.fillable ? l.joined : std::nullopt);
                EXPECT_EQ(texts.changesSomething(), t.replaced || (s.fillable && l.joined));
            }
        }
    }
}

TEST(ReverseGeocodingRetry, BacksOffFromThreeSecondsToAMinute) {
    const std::vector<double> expected{3, 6, 12, 24, 48, 60, 60};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_DOUBLE_EQ(reverseGeocodingRetryDelay(static_cast<int>(i) + 1), expected[i])
            << "after " << i + 1;
    }
    EXPECT_DOUBLE_EQ(reverseGeocodingRetryDelay(1000), 60);
}

TEST(LegacyIdentifierSeconds, ReadsOnlyALeadingDecimalNumber) {
    struct Case {
        const char* identifier;
        double seconds;
    };
    const Case cases[] = {
        {"700000000.5abc", 700000000.5},
        {"700000000", 700000000},
        {"12-AB", 12},
        {"ABC-700", 0},
        {"", 0},
        {"nan123", 0},
        {"inf", 0},
        {"-inf", 0},
        {"1e400x", 0},
        {".5x", 0.5},
        {"0x1p3", 0},
        {"-12.25z", -12.25},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(leadingSecondsOfIdentifier(c.identifier), c.seconds) << c.identifier;
    }
}

}  // namespace
