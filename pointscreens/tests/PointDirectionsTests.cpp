// The directions sheet's rows and links, built without widgets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/CanOpenURL.hpp"
#include "pointscreens/PointDirections.hpp"

using tervolo::pointscreens::DirectionsRequest;
using tervolo::pointscreens::DirectionsRow;
using tervolo::pointscreens::directionsRows;
using tervolo::pointscreens::InstalledRoutingApps;
using tervolo::pointscreens::percentEncodedQueryValue;
using tervolo::pointscreens::uberDirectionsLink;

namespace {

constexpr InstalledRoutingApps kAllApps{true, true, true, true, true};

std::vector<std::string> titles(const std::vector<DirectionsRow>& rows) {
    std::vector<std::string> result;
    for (const auto& row : rows) result.push_back(row.title);
    return result;
}

std::string linkOf(const std::vector<DirectionsRow>& rows, DirectionsRow::Kind kind) {
    for (const auto& row : rows) {
        if (row.kind == kind) return row.link;
    }
    return "(no row)";
}

TEST(PointDirectionsTest, LinkTable) {
    using Kind = DirectionsRow::Kind;
    struct Case {
        const char* name;
        platform::CLLocationCoordinate2D point;
        std::optional<std::string> title;
        std::optional<std::string> subtitle;
        std::optional<platform::CLLocationCoordinate2D> user;
        Kind kind;
        std::string expected;
    };
    const Case cases[] = {
        {"google",
         {48.137, 11.575},
         "Marienplatz",
         {},
         {},
         Kind::googleMaps,
         "comgooglemaps://?daddr=48.137,11.575"},
        {"magicearth",
         {48.137, 11.575},
         "Marienplatz",
         {},
         {},
         Kind::magicEarth,
         "magicearth://?drive_to&lat=48.137&lon=11.575"},
        {"waze",
         {48.137, 11.575},
         "Marienplatz",
         {},
         {},
         Kind::waze,
         "https://waze.com/ul?navigate=yes&ll=48.137,11.575"},
        {"osmand", {48.137, 11.575}, {}, {}, {}, Kind::osmAnd, "https://osmand.net/go?lat=48.137&lon=11.575"},
        {"apple by coordinates",
         {48.137, 11.575},
         {},
         {},
         {},
         Kind::appleMapsByCoordinates,
         "https://maps.apple.com/?daddr=48.137,11.575"},
        {"whole numbers keep a fraction",
         {48.0, 11.0},
         {},
         {},
         {},
         Kind::googleMaps,
         "comgooglemaps://?daddr=48.0,11.0"},
        {"negative and tiny",
         {-33.8688, 0.00001},
         {},
         {},
         {},
         Kind::googleMaps,
         "comgooglemaps://?daddr=-33.8688,1e-05"},
        {"osm route from the user",
         {48.1, 11.6},
         {},
         {},
         platform::CLLocationCoordinate2D{52.5, 13.4},
         Kind::openStreetMap,
         "https://www.openstreetmap.org/directions?route=52.5%2C13.4%3B48.1%2C11.6"},
        {"address is the subtitle, encoded",
         {48.1, 11.6},
         "Title",
         "A & B",
         {},
         Kind::appleMapsByAddress,
         "https://maps.apple.com/?daddr=A%20%26%20B"},
        {"address falls back to the title",
         {48.1, 11.6},
         "Caf\xC3\xA9 Luitpold",
         {},
         {},
         Kind::appleMapsByAddress,
         "https://maps.apple.com/?daddr=Caf%C3%A9%20Luitpold"},
        {"an empty subtitle names nothing",
         {48.1, 11.6},
         "Odeon",
         "",
         {},
         Kind::appleMapsByAddress,
         "https://maps.apple.com/?daddr=Odeon"},
        {"uber with names",
         {48.1, 11.6},
         "A & B",
         "x=1?y+z",
         {},
         Kind::uber,
         "https://m.uber.com/ul/?action=setPickup&pickup=my_location&dropoff[latitude]=48.1"
         "&dropoff[longitude]=11.6&dropoff[nickname]=A%20%26%20B"
         "&dropoff[formatted_address]=x%3D1%3Fy%2Bz"},
        {"uber without names",
         {48.1, 11.6},
         {},
         {},
         {},
         Kind::uber,
         "https://m.uber.com/ul/?action=setPickup&pickup=my_location&dropoff[latitude]=48.1"
         "&dropoff[longitude]=11.6"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        DirectionsRequest request;
        request.coordinate = test.point;
        request.title = test.title;
        request.subtitle = test.subtitle;
        request.userLocation = test.user;
        request.apps = kAllApps;
        const auto rows = directionsRows(request);
        const std::string link = linkOf(rows, test.kind);
        EXPECT_EQ(link, test.expected);
        // Every link is one the desktop can be handed.
        EXPECT_TRUE(platform::urlScheme(link).has_value());
    }
}

TEST(PointDirectionsTest, RowsShownDependOnPointPositionAndApplications) {
    struct Case {
        const char* name;
        std::optional<platform::CLLocationCoordinate2D> point;
        std::optional<std::string> title;
        std::optional<std::string> subtitle;
        std::optional<platform::CLLocationCoordinate2D> user;
        InstalledRoutingApps apps;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"everything",
         platform::CLLocationCoordinate2D{48.1, 11.6},
         "T",
         "S",
         platform::CLLocationCoordinate2D{52.5, 13.4},
         kAllApps,
         {"Apple Maps by Address", "Apple Maps by Coordinates", "Google Maps", "MagicEarth", "OpenStreetMap",
          "OsmAnd", "Uber", "Waze"}},
        {"no applications and no position",
         platform::CLLocationCoordinate2D{48.1, 11.6},
         "T",
         {},
         {},
         {},
         {"Apple Maps by Address", "Apple Maps by Coordinates"}},
        {"no title or subtitle",
         platform::CLLocationCoordinate2D{48.1, 11.6},
         {},
         {},
         {},
         {},
         {"Apple Maps by Coordinates"}},
        {"only some applications",
         platform::CLLocationCoordinate2D{48.1, 11.6},
         {},
         {},
         {},
         {false, false, true, false, true},
         {"Apple Maps by Coordinates", "OsmAnd", "Waze"}},
        {"an invalid user position is none",
         platform::CLLocationCoordinate2D{48.1, 11.6},
         {},
         {},
         platform::kCLLocationCoordinate2DInvalid,
         {},
         {"Apple Maps by Coordinates"}},
        {"invalid coordinate",
         platform::kCLLocationCoordinate2DInvalid,
         "T",
         "S",
         platform::CLLocationCoordinate2D{52.5, 13.4},
         kAllApps,
         {}},
        {"no point", {}, {}, {}, platform::CLLocationCoordinate2D{52.5, 13.4}, kAllApps, {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        DirectionsRequest request;
        request.coordinate = test.point;
        request.title = test.title;
        request.subtitle = test.subtitle;
        request.userLocation = test.user;
        request.apps = test.apps;
        EXPECT_EQ(titles(directionsRows(request)), test.expected);
    }
}

TEST(PointDirectionsTest, QueryValuesCannotAddParameters) {
    // Only the unreserved characters stay; the separators of a query, the
    // fragment mark and non-ASCII text are all encoded.
    EXPECT_EQ(percentEncodedQueryValue("aZ09-._~"), "aZ09-._~");
    EXPECT_EQ(percentEncodedQueryValue("&dropoff[latitude]=0#x"), "%26dropoff%5Blatitude%5D%3D0%23x");
    EXPECT_EQ(percentEncodedQueryValue("a+b/c?d;e,f"), "a%2Bb%2Fc%3Fd%3Be%2Cf");
    EXPECT_EQ(percentEncodedQueryValue("\xE6\x9D\xB1\xE4\xBA\xAC"), "%E6%9D%B1%E4%BA%AC");
    EXPECT_EQ(percentEncodedQueryValue(""), "");
    const std::string link = uberDirectionsLink({1, 2}, std::string("&dropoff[latitude]=90"), std::nullopt);
    EXPECT_EQ(link.find("&dropoff[latitude]=90"), std::string::npos);
}

}  // namespace
