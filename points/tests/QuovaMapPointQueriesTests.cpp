// The point store's queries and the sorting of point lists, including a
// comparison of 10,000 random points against a plain reference of the
// documented rules.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <GeographicLib/Geodesic.hpp>

#include "platform/text/Unicode.hpp"
#include "points/BestKnownLocation.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/tests/PointsTestSupport.hpp"

namespace tervolo::points {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using PointList = std::vector<std::shared_ptr<QuovaMapPoint>>;
using SortOrder = QuovaMapPointStore::SortOrder;

constexpr double kDay = 86400;

struct PointFields {
    std::optional<std::string> title;
    std::optional<std::string> subtitle;
    bool deleted = false;
    bool hidden = false;
};

std::shared_ptr<QuovaMapPoint> makePoint(const PointFields& fields) {
    auto point = QuovaMapPoint::make("");
    point->setTitle(fields.title);
    point->setSubtitle(fields.subtitle);
    if (fields.deleted) point->setDeletedAt(platform::Date{1000});
    if (fields.hidden) point->setHiddenAt(platform::Date{2000});
    return point;
}

std::vector<std::string> titles(const PointList& points) {
    std::vector<std::string> result;
    for (const auto& point : points) result.push_back(point->title().value_or("-"));
    return result;
}

class QuovaMapPointQueriesTest : public testing::PointsTest {
  protected:
    void TearDown() override {
        setBestKnownLocationProvider(nullptr);
        PointsTest::TearDown();
    }

    QuovaMapPointStore& storeWith(const std::vector<PointFields>& rows) {
        auto& store = QuovaMapPointStore::shared();
        std::vector<std::shared_ptr<QuovaMapPoint>> points;
        for (const auto& fields : rows) points.push_back(makePoint(fields));
        store.replacePointsForTesting(std::move(points));
        log_->clear();
        return store;
    }

    static void locationAt(double latitude, double longitude) {
        setBestKnownLocationProvider(
            [=] { return std::optional(platform::CLLocation(latitude, longitude)); });
    }
};

TEST_F(QuovaMapPointQueriesTest, FilteredQueriesMatchTitleThenSubtitleIgnoringCaseButNotAccents) {
    auto& store = storeWith({
        {"Dive BAR", std::nullopt},
        {"Harbour", "Barstra\u00dfe 5"},
        {"Caf\u00e9 Central", "Main street"},
        {std::nullopt, "Bar street"},
        {std::nullopt, std::nullopt},
        {"Old bar", std::nullopt, true},
        {"Hidden bar", std::nullopt, true, true},
        {"Hidden only bar", std::nullopt, false, true},
    });
    struct Row {
        std::optional<std::string> filter;
        std::vector<std::string> valid;
        std::vector<std::string> deleted;
    };
    const std::vector<Row> rows = {
        {std::nullopt, {"Dive BAR", "Harbour", "Caf\u00e9 Central", "-", "-"}, {"Old bar"}},
        {"bar", {"Dive BAR", "Harbour", "-"}, {"Old bar"}},
        {"STRASSE", {"Harbour"}, {}},
        {"", {}, {}},
        {"cafe", {}, {}},
        {"CAF\u00c9", {"Caf\u00e9 Central"}, {}},
        {"Cafe\u0301", {"Caf\u00e9 Central"}, {}},  // canonically equivalent
        {"street", {"Caf\u00e9 Central", "-"}, {}},
        {"nothing like it", {}, {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(titles(store.validPointsWithFilter(row.filter)), row.valid)
            << row.filter.value_or("(none)");
        EXPECT_EQ(titles(store.deletedPointsWithFilter(row.filter)), row.deleted)
            << row.filter.value_or("(none)");
    }
    // Results are the stored objects themselves.
    EXPECT_EQ(store.validPointsWithFilter(std::nullopt).front(), store.points().front());
}

// The filter keeps each point's texts folded between queries: a changed
// title or subtitle must be found by its new text, never by the old one,
// whether the change crosses between ASCII and other text or not.
TEST_F(QuovaMapPointQueriesTest, FilterFollowsChangedTitlesAndSubtitles) {
    auto& store = storeWith({{"Caf\u00e9 Central", "Main street"}, {"Harbour", std::nullopt}});
    const auto point = store.points().front();
    const auto found = [&](const std::string& filter) { return titles(store.validPointsWithFilter(filter)); };
    using Titles = std::vector<std::string>;
    ASSERT_EQ(found("central"), Titles{"Caf\u00e9 Central"});
    ASSERT_EQ(found("STREET"), Titles{"Caf\u00e9 Central"});

    const struct Step {
        std::function<void()> change;
        std::string oldText;
        std::string newText;
        std::string title;  // the point's title after the change
    } steps[] = {
        {[&] { point->setTitle("Lighthouse"); }, "CENTRAL", "lighthouse", "Lighthouse"},
        {[&] { point->setTitle("B\u00e4ckerei"); }, "lighthouse", "B\u00c4CKEREI", "B\u00e4ckerei"},
        {[&] { point->setSubtitle("Stra\u00dfe 5"); }, "street", "STRASSE", "B\u00e4ckerei"},
        {[&] { point->setSubtitle("Pier 9"); }, "strasse", "PIER", "B\u00e4ckerei"},
        {[&] { point->setTitle(std::nullopt); }, "b\u00e4ckerei", "pier", "-"},
        {[&] { point->setSubtitle(std::nullopt); }, "pier", "", "-"},
    };
    for (const auto& step : steps) {
        step.change();
        EXPECT_THAT(found(step.oldText), IsEmpty()) << step.oldText;
        if (!step.newText.empty()) {
            EXPECT_EQ(found(step.newText), Titles{step.title}) << step.newText;
        }
        EXPECT_EQ(found("harbour"), Titles{"Harbour"});  // the other point keeps its forms
    }
}

TEST_F(QuovaMapPointQueriesTest, QueriesLogTheirCounts) {
    auto& store = storeWith({{"a"},
                             {"b"},
                             {"bar"},
                             {"c", std::nullopt, true},
                             {"d", std::nullopt, true, true},
                             {"e", std::nullopt, false, true},
                             {"f", std::nullopt, true}});
    store.validPointsWithFilter(std::nullopt);
    store.validPointsWithFilter("bar");
    store.deletedPointsWithFilter(std::nullopt);
    store.deletedPointsWithFilter("x");
    const auto& all = store.allPoints();
    EXPECT_THAT(
        log_->texts(logging::QLLogFlag::info),
        ElementsAre("QuovaMapPointStore: returning 3 VALID points of 7 points altogether.",
                    "QuovaMapPointStore: returning 1 VALID points of 7 points altogether, using filter bar",
                    "QuovaMapPointStore: returning 2 DELETED points of 7 points altogether.",
                    "QuovaMapPointStore: returning 0 DELETED points of 7 points altogether, using filter x",
                    "QuovaMapPointStore: returning all points"));
    // All points: the list itself, hidden and deleted included, unsorted.
    EXPECT_EQ(&all, &store.points());
    EXPECT_THAT(titles(all), ElementsAre("a", "b", "bar", "c", "d", "e", "f"));
}

TEST_F(QuovaMapPointQueriesTest, WithinDistanceIsInclusiveNearestFirstAndSkipsInvalid) {
    const platform::CLLocationCoordinate2D origin{53.5511, 9.9937};
    auto at = [&](const char* title, double metres, double azimuth, bool valid = true) {
        double lat = 0, lon = 0;
        GeographicLib::Geodesic::WGS84().Direct(origin.latitude, origin.longitude, azimuth, metres, lat, lon);
        auto point = QuovaMapPoint::make(title);
        if (valid) point->setCoordinate({lat, lon});
        return point;
    };
    auto& store = storeWith({});
    auto harbour = QuovaMapPoint::make("Harbour");
    harbour->setCoordinate(origin);
    store.replacePointsForTesting({at("far", 25.01, 0), at("near", 24.999, 90), at("close", 3, 180),
                                   at("invalid", 1, 0, false), at("same-a", 10, 45), at("deleted", 5, 0),
                                   at("same-b", 10, 45), harbour});
    store.points()[5]->setDeletedAt(platform::Date{1});

    EXPECT_THAT(titles(store.validPointsWithinDistance(25.0, *harbour)),
                ElementsAre("Harbour", "close", "same-a", "same-b", "near"));
    EXPECT_THAT(
        log_->texts(logging::QLLogFlag::info),
        ElementsAre("QuovaMapPointStore: returning 5 VALID points of 8 points altogether within 25.0 from "
                    "\"Harbour\"."));

    // Exactly at the limit, as the platform's distance gives it: taken.
    const double exact = platform::CLLocation(store.points()[0]->coordinate().latitude,
                                              store.points()[0]->coordinate().longitude)
                             .distance(platform::CLLocation(origin.latitude, origin.longitude));
    EXPECT_THAT(titles(store.validPointsWithinDistance(exact, *harbour)),
                ElementsAre("Harbour", "close", "same-a", "same-b", "near", "far"));

    // An untitled point with an invalid coordinate: nothing, and "unknown".
    log_->clear();
    auto nowhere = QuovaMapPoint::make("");
    nowhere->setTitle(std::nullopt);
    EXPECT_THAT(store.validPointsWithinDistance(1e9, *nowhere), IsEmpty());
    EXPECT_THAT(store.validPointsWithinDistance(std::numeric_limits<double>::quiet_NaN(), *harbour),
                IsEmpty());
    EXPECT_THAT(
        log_->texts(logging::QLLogFlag::info),
        ElementsAre("QuovaMapPointStore: returning 0 VALID points of 8 points altogether within "
                    "1000000000.0 from unknown.",
                    "QuovaMapPointStore: returning 0 VALID points of 8 points altogether within nan from "
                    "\"Harbour\"."));
}

TEST_F(QuovaMapPointQueriesTest, SortOrdersAreTotalAndStable) {
    struct P {
        std::optional<std::string> title;
        std::optional<platform::CLLocationCoordinate2D> coordinate;
        double savedAt;
    };
    const std::vector<P> input = {
        {"apple", platform::CLLocationCoordinate2D{53.60, 10.0}, 30},
        {"Zoo", std::nullopt, 10},
        {std::nullopt, platform::CLLocationCoordinate2D{53.51, 10.0}, 30},
        {"Cafe\u0301", platform::CLLocationCoordinate2D{53.70, 10.0}, 20},
        {"Caf\u00e9", std::nullopt, 40},
        {"", platform::CLLocationCoordinate2D{53.51, 10.0}, 10},
        {"apple", platform::CLLocationCoordinate2D{53.55, 10.0}, 20},
    };
    PointList points;
    for (size_t i = 0; i < input.size(); ++i) {
        auto point = QuovaMapPoint::make("");
        point->setTitle(input[i].title);
        if (input[i].coordinate) point->setCoordinate(*input[i].coordinate);
        point->setLastSavedAt(platform::Date{input[i].savedAt});
        point->setAlarmSound(std::to_string(i));  // the input position, to read the result by
        points.push_back(point);
    }
    auto order = [&](SortOrder sortOrder) {
        std::vector<std::string> positions;
        for (const auto& point : QuovaMapPointStore::sortedPoints(points, sortOrder)) {
            positions.push_back(*point->alarmSound());
        }
        return positions;
    };
    const std::vector<std::string> unchanged = {"0", "1", "2", "3", "4", "5", "6"};

    // Untitled and empty titles first (keeping their order), "Zoo" before
    // "apple", canonically equal titles keep their order, equal titles too.
    EXPECT_THAT(order(SortOrder::alphabetically), ElementsAre("2", "5", "3", "4", "1", "0", "6"));
    EXPECT_THAT(order(SortOrder::byLastChange), ElementsAre("4", "0", "2", "3", "6", "1", "5"));
    EXPECT_EQ(order(SortOrder::unsorted), unchanged);
    EXPECT_EQ(order(static_cast<SortOrder>(7)), unchanged);

    // No known location: unchanged, with the debug line.
    log_->clear();
    EXPECT_EQ(order(SortOrder::byDistance), unchanged);
    EXPECT_THAT(log_->texts(logging::QLLogFlag::debug),
                ElementsAre("CANNOT use location for sorting - NO current location available"));

    // From 53.5 N 10 E: nearest first, equal distances in input order, the
    // points without a valid coordinate last in input order.
    log_->clear();
    locationAt(53.5, 10.0);
    EXPECT_THAT(order(SortOrder::byDistance), ElementsAre("2", "5", "6", "0", "3", "1", "4"));
    const auto debug = log_->texts(logging::QLLogFlag::debug);
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_THAT(debug[0],
                ::testing::StartsWith("using location for sort: Optional(<+53.50000000,+10.00000000>"));
    EXPECT_THAT(debug[0], ::testing::EndsWith(")"));
}

// --- 10,000 random points against a plain reference --------------------------

// The documented rules written out directly: a merging sort with insertion for
// short runs, driven by a comes-before test that computes its keys anew in
// every comparison (as the original did), and filters applied point by point.
PointList referenceSort(PointList points,
                        const std::function<bool(const QuovaMapPoint&, const QuovaMapPoint&)>& before) {
    std::function<void(size_t, size_t)> sortRange = [&](size_t begin, size_t end) {
        if (end - begin <= 8) {
            for (size_t i = begin + 1; i < end; ++i) {
                for (size_t j = i; j > begin && before(*points[j], *points[j - 1]); --j) {
                    std::swap(points[j], points[j - 1]);
                }
            }
            return;
        }
        const size_t middle = begin + (end - begin) / 2;
        sortRange(begin, middle);
        sortRange(middle, end);
        PointList merged;
        size_t a = begin, b = middle;
        while (a < middle && b < end) {
            // Take from the right run only when it strictly comes first.
            merged.push_back(before(*points[b], *points[a]) ? points[b++] : points[a++]);
        }
        while (a < middle) merged.push_back(points[a++]);
        while (b < end) merged.push_back(points[b++]);
        std::copy(merged.begin(), merged.end(), points.begin() + static_cast<std::ptrdiff_t>(begin));
    };
    if (!points.empty()) sortRange(0, points.size());
    return points;
}

double referenceDistance(const QuovaMapPoint& point, const platform::CLLocation& from) {
    if (!platform::CLLocationCoordinate2DIsValid(point.coordinate()))
        return std::numeric_limits<double>::infinity();
    return platform::CLLocation(point.coordinate().latitude, point.coordinate().longitude).distance(from);
}

PointList referenceFilter(const PointList& points, const std::optional<std::string>& filter, bool deleted) {
    PointList result;
    for (const auto& point : points) {
        const bool state = deleted ? (point->deletedAt() && !point->hiddenAt())
                                   : (!point->deletedAt() && !point->hiddenAt());
        if (!state) continue;
        bool match = !filter.has_value();
        if (filter && !filter->empty()) {
            match =
                (point->title() && platform::text::containsCaseInsensitive(*point->title(), *filter)) ||
                (point->subtitle() && platform::text::containsCaseInsensitive(*point->subtitle(), *filter));
        }
        if (match) result.push_back(point);
    }
    return result;
}

PointList randomPoints(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    const std::vector<std::string> words = {"Caf\u00e9",
                                            "Cafe\u0301",
                                            "cafe",
                                            "CAF\u00c9",
                                            "Zoo",
                                            "zoo",
                                            "apple",
                                            "Apple",
                                            "Bar",
                                            "Barstra\u00dfe",
                                            "\u00c5ngstr\u00f6m",
                                            "\U0001F600",
                                            "\uff5e",
                                            "Stra\u00dfe",
                                            "e\u0323\u0301",
                                            "Harbour",
                                            "Pier",
                                            ""};
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    auto chance = [&](int percent) { return static_cast<int>(pick(100)) < percent; };
    auto text = [&] {
        std::string result;
        const size_t parts = 1 + pick(3);
        for (size_t i = 0; i < parts; ++i) result += (i ? " " : "") + words[pick(words.size())];
        return result;
    };
    PointList points;
    for (size_t i = 0; i < count; ++i) {
        auto point = QuovaMapPoint::make("");
        point->setTitle(chance(10) ? std::nullopt : std::optional(text()));
        if (chance(50)) point->setSubtitle(text());
        if (chance(90)) {
            // Coarse positions, so equal distances occur.
            point->setCoordinate({std::uniform_int_distribution<int>(-900, 900)(random) / 10.0,
                                  std::uniform_int_distribution<int>(-1800, 1800)(random) / 10.0});
        }
        point->setLastSavedAt(platform::Date{static_cast<double>(pick(500)) * kDay});
        if (chance(20)) point->setDeletedAt(platform::Date{1});
        if (chance(10)) point->setHiddenAt(platform::Date{2});
        points.push_back(point);
    }
    return points;
}

TEST_F(QuovaMapPointQueriesTest, TenThousandRandomPointsGiveTheReferenceResults) {
    auto& store = storeWith({});
    store.replacePointsForTesting(randomPoints(10000, 20260101));

    const std::vector<std::optional<std::string>> filters = {
        std::nullopt, "", "caf", "CAF\u00c9", "Cafe\u0301", "zoo", "STRASSE", "\U0001F600", "e\u0301", "r"};
    for (const auto& filter : filters) {
        EXPECT_EQ(store.validPointsWithFilter(filter), referenceFilter(store.points(), filter, false))
            << filter.value_or("(none)");
        EXPECT_EQ(store.deletedPointsWithFilter(filter), referenceFilter(store.points(), filter, true))
            << filter.value_or("(none)");
    }

    const platform::CLLocation here(48.1, 11.6);
    locationAt(48.1, 11.6);
    const auto alphabetical = [](const QuovaMapPoint& a, const QuovaMapPoint& b) {
        return platform::text::compareCodePoints(a.title().value_or(""), b.title().value_or("")) < 0;
    };
    const auto nearer = [&](const QuovaMapPoint& a, const QuovaMapPoint& b) {
        return referenceDistance(a, here) < referenceDistance(b, here);
    };
    const auto newer = [](const QuovaMapPoint& a, const QuovaMapPoint& b) {
        return b.lastSavedAt() < a.lastSavedAt();
    };

    const PointList input = store.validPointsWithFilter(std::nullopt);
    EXPECT_EQ(QuovaMapPointStore::sortedPoints(input, SortOrder::alphabetically),
              referenceSort(input, alphabetical));
    EXPECT_EQ(QuovaMapPointStore::sortedPoints(input, SortOrder::byDistance), referenceSort(input, nearer));
    EXPECT_EQ(QuovaMapPointStore::sortedPoints(input, SortOrder::byLastChange), referenceSort(input, newer));
    EXPECT_EQ(QuovaMapPointStore::sortedPoints(input, SortOrder::unsorted), input);

    // Within a distance: every valid point, nearest first, against a plain
    // filter and a stable sort of the reference distances.
    auto origin = QuovaMapPoint::make("origin");
    origin->setCoordinate({48.1, 11.6});
    const double limit = 1500000;  // metres
    PointList expected;
    for (const auto& point : store.points()) {
        if (point->deletedAt() || point->hiddenAt()) continue;
        if (referenceDistance(*point, here) <= limit) expected.push_back(point);
    }
    expected = referenceSort(expected, nearer);
    EXPECT_EQ(store.validPointsWithinDistance(limit, *origin), expected);
}

}  // namespace
}  // namespace tervolo::points
