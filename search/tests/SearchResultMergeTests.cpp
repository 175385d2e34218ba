#include <gtest/gtest.h>
#include <GeographicLib/Geodesic.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>

#include "platform/location/CLLocation.hpp"
#include "search/SearchResultMerge.hpp"

namespace tervolo::search {
namespace {

points::QuovaPlacemark at(const std::string& title, double latitude, double longitude) {
    points::QuovaPlacemark place;
    place.title = title;
    place.latitude = latitude;
    place.longitude = longitude;
    return place;
}

std::vector<std::string> titles(const std::vector<points::QuovaPlacemark>& places) {
    std::vector<std::string> result;
    for (const auto& p : places) result.push_back(p.title);
    return result;
}

TEST(SearchTextTest, TrimmingTakesOnlyWhatEachRuleNames) {
    struct Case {
        std::string text, lineBreaksTrimmed, allTrimmed;
    };
    const Case cases[] = {
        {"abc\n", "abc", "abc"}, {"\r\nabc \n", "abc ", "abc"}, {" ab\t", " ab\t", "ab"},
        {"\n\n", "", ""},        {"a\nb", "a\nb", "a\nb"},      {"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(trimmingLineBreaks(c.text), c.lineBreaksTrimmed);
        EXPECT_EQ(trimmingWhitespaceAndLineBreaks(c.text), c.allTrimmed);
    }
}

TEST(SearchTableHeightTest, RowsPlusOneOfNinetyWithinKeyboardOrWindowNeverNegative) {
    struct Case {
        size_t rows;
        SearchTableLimits limits;
        double height;
    };
    const Case cases[] = {
        {0, {0, 100, std::nullopt}, 0},
        {1, {0, 100, std::nullopt}, 180},
        {5, {0, 100, std::nullopt}, 540},
        {5, {0, 100, 800.0}, 540},
        {10, {0, 100, 800.0}, 680},
        {10, {500, 100, 800.0}, 390},
        {10, {500, 100, std::nullopt}, 390},
        {3, {50, 100, 800.0}, 0},
        {3, {0, 790, 800.0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        EXPECT_EQ(searchTableHeight(c.rows, c.limits), c.height);
    }
}

TEST(SearchMergeTest, WithoutCentreTheListsKeepTheirOrderBackendGeocoderOwn) {
    const auto merged = mergeSearchResults({at("b1", 5, 5), at("b2", 0, 0)}, {at("g1", 9, 9)},
                                           {at("o1", 1, 1)}, std::nullopt);
    EXPECT_EQ(titles(merged), (std::vector<std::string>{"b1", "b2", "g1", "o1"}));
}

TEST(SearchMergeTest, WithACentreEqualDistancesKeepListOrderAndUnknownOnesComeLast) {
    const auto merged = mergeSearchResults({at("far", 10, 0), at("nowhere", -180, -180), at("same1", 1, 0)},
                                           {at("same2", 1, 0), at("nan", std::nan(""), 0)},
                                           {at("near", 0.1, 0)}, platform::CLLocationCoordinate2D{0, 0});
    EXPECT_EQ(titles(merged), (std::vector<std::string>{"near", "same1", "same2", "far", "nowhere", "nan"}));
}

TEST(SearchMergeTest, TheApproximationStaysWithinItsBoundOfTheGeodesic) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> latitude(-90, 90), longitude(-180, 180), near(-0.05, 0.05);
    double worst = 0;
    for (int i = 0; i < 200000; ++i) {
        const platform::CLLocationCoordinate2D a{latitude(random), longitude(random)};
        platform::CLLocationCoordinate2D b{latitude(random), longitude(random)};
        if (i % 2)
            b = {std::clamp(a.latitude + near(random), -90.0, 90.0),
                 std::clamp(a.longitude + near(random), -180.0, 180.0)};
        const double approx = approximateDistance(a, b);
        if (std::isnan(approx)) continue;
        const double exact = platform::CLLocation(a.latitude, a.longitude)
                                 .distance(platform::CLLocation(b.latitude, b.longitude));
        const double error = std::abs(approx - exact);
        const double allowed = kApproximateDistanceRelativeError * exact + kApproximateDistanceAbsoluteError;
        ASSERT_LE(error, allowed) << a.latitude << "," << a.longitude << " " << b.latitude << ","
                                  << b.longitude;
        if (exact > 1000) worst = std::max(worst, error / exact);
    }
    // Pairs at every scale, from micrometres to thousands of kilometres, a
    // third of them starting within a few kilometres of a pole, where the
    // reduced latitude and the longitude difference behave worst.
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < 150000; ++i) {
        const double spread = std::pow(10.0, -10 + 12 * unit(random));  // degrees
        double lat = latitude(random);
        if (i % 3 == 0) lat = (unit(random) < 0.5 ? -1 : 1) * (90 - std::pow(10.0, -6 + 6 * unit(random)));
        const platform::CLLocationCoordinate2D a{lat, longitude(random)};
        const platform::CLLocationCoordinate2D b{
            std::clamp(a.latitude + spread * (2 * unit(random) - 1), -90.0, 90.0),
            a.longitude + spread * (2 * unit(random) - 1)};
        const double approx = approximateDistance(a, b);
        if (std::isnan(approx)) continue;
        const double exact = platform::CLLocation(a.latitude, a.longitude)
                                 .distance(platform::CLLocation(b.latitude, b.longitude));
        const double allowed = kApproximateDistanceRelativeError * exact + kApproximateDistanceAbsoluteError;
        ASSERT_LE(std::abs(approx - exact), allowed)
            << a.latitude << "," << a.longitude << " " << b.latitude << "," << b.longitude;
        if (exact > 1000) worst = std::max(worst, std::abs(approx - exact) / exact);
    }
    RecordProperty("worstRelativeError", std::to_string(worst));
}

// The merge's order is the exact geodesic order (ties in list order), also for
// clusters of results a few metres apart and for centres near the antipode.
TEST(SearchMergeTest, TheOrderIsTheOneOfTheExactDistance) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    const platform::CLLocationCoordinate2D centers[] = {{52.52, 13.405}, {0, 0}, {-89.9, 0}, {60, 179.99}};
    for (const auto& center : centers) {
        SCOPED_TRACE(center.latitude);
        std::vector<points::QuovaPlacemark> lists[3];
        for (int i = 0; i < 900; ++i) {
            double lat, lon;
            switch (i % 3) {
                case 0:
                    lat = -90 + 180 * unit(random);
                    lon = -180 + 360 * unit(random);
                    break;
                case 1:
                    lat = center.latitude + 0.001 * (unit(random) - 0.5);
                    lon = center.longitude + 0.001 * (unit(random) - 0.5);
                    break;
                default:
                    lat = std::round(unit(random) * 4) / 4;
                    lon = 13;
                    break;  // exact duplicates
            }
            lat = std::clamp(lat, -90.0, 90.0);
            lon = std::clamp(lon, -180.0, 180.0);
            if (i % 97 == 0) lat = lon = -180;
            lists[i % 3 == 0 ? 0 : (i % 3 == 1 ? 1 : 2)].push_back(at(std::to_string(i), lat, lon));
        }
        std::vector<points::QuovaPlacemark> all;
        for (auto& list : lists) all.insert(all.end(), list.begin(), list.end());
        std::vector<double> distances;
        const platform::CLLocation c(center.latitude, center.longitude);
        for (const auto& p : all)
            distances.push_back(platform::CLLocation(p.latitude, p.longitude).distance(c));
        auto expected = all;
        sortByDistance(expected, distances);
        EXPECT_EQ(titles(mergeSearchResults(lists[0], lists[1], lists[2], center)), titles(expected));
    }
}

// Results around the centre, each a few decimetres further than the last
// but at bearings all around, where the approximation's error (up to
// metres at these distances) depends on the bearing: their approximate
// order is wrong in places, and the merge must still give the exact one,
// whatever the order of the lists.
TEST(SearchMergeTest, ResultsOnARingComeInTheOrderOfTheExactDistance) {
    const struct Ring {
        platform::CLLocationCoordinate2D center;
        double radius;  // metres
    } rings[] = {
        {{48.0, 11.0}, 1000000}, {{-60.0, 170.0}, 3000000}, {{5.0, -75.0}, 300000}, {{52.52, 13.405}, 8000}};
    std::mt19937 random(5);
    for (const auto& ring : rings) {
        SCOPED_TRACE(ring.radius);
        std::vector<points::QuovaPlacemark> results;
        std::vector<std::string> expected;
        for (int k = 0; k < 360; ++k) {
            double lat = 0, lon = 0;
            // Bearings in steps of 37 degrees visit every direction in turn.
            GeographicLib::Geodesic::WGS84().Direct(ring.center.latitude, ring.center.longitude,
                                                    std::fmod(37.0 * k, 360.0), ring.radius + 0.3 * k, lat,
                                                    lon);
            results.push_back(at(std::to_string(k), lat, lon));
            expected.push_back(std::to_string(k));
        }
        std::shuffle(results.begin(), results.end(), random);
        const std::vector<points::QuovaPlacemark> own(results.begin() + 240, results.end());
        const std::vector<points::QuovaPlacemark> geocoder(results.begin() + 120, results.begin() + 240);
        results.resize(120);
        EXPECT_EQ(titles(mergeSearchResults(results, geocoder, own, ring.center)), expected);
    }
}

}  // namespace
}  // namespace tervolo::search
