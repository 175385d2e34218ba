// The point list's content: filter parsing, tag resolution, the store's
// queries and sort, sections and index titles.
#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "points/BestKnownLocation.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PointTableContent.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::pointscreens {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using PointList = PointTableContent::PointList;
using points::QuovaMapPoint;
using points::QuovaPointTag;

const std::string kDeleted = "Deleted Points";
const std::string kBin = PointTableContent::kDeletedIndexTitle;

TEST(PointTableFilter, SplitsAtBlanksIntoTagNamesAndOneSearchText) {
    struct Row {
        std::optional<std::string> input;
        std::vector<std::string> tagNames;
        std::optional<std::string> searchText;
    };
    const Row rows[] = {
        {std::nullopt, {}, std::nullopt},
        {"", {}, std::nullopt},
        {"#", {}, std::nullopt},
        {"#bar cafe", {"bar"}, "cafe"},
        {"a  b", {}, "a  b"},  // both blanks kept: the empty word between them is a word
        {" a", {}, " a"},
        {"a ", {}, "a "},
        {" ", {}, " "},
        {"a\tb", {}, "a\tb"},  // a tab belongs to the word
        {"new york", {}, "new york"},
        {"#bar #work", {"bar", "work"}, std::nullopt},
        {"x # y", {}, "x y"},          // a lone "#" is dropped
        {"#\u0301x", {}, "#\u0301x"},  // "#" with a combining mark is not a hashtag
        {"#Café park #", {"Café"}, "park"},
    };
    for (const auto& row : rows) {
        const auto parsed = PointTableFilter::parse(row.input);
        EXPECT_EQ(parsed.tagNames, row.tagNames) << row.input.value_or("<none>");
        EXPECT_EQ(parsed.searchText, row.searchText) << row.input.value_or("<none>");
    }
}

TEST(PointTableContentStatics, SortOrderAndSectionKeys) {
    using SortOrder = points::QuovaMapPointStore::SortOrder;
    EXPECT_EQ(PointTableContent::sortOrderForSegment(0), SortOrder::alphabetically);
    EXPECT_EQ(PointTableContent::sortOrderForSegment(1), SortOrder::byDistance);
    EXPECT_EQ(PointTableContent::sortOrderForSegment(-1), SortOrder::byDistance);
    EXPECT_EQ(PointTableContent::sortOrderForSegment(2), SortOrder::byLastChange);
    EXPECT_EQ(PointTableContent::sortOrderForSegment(std::nullopt), SortOrder::alphabetically);

    const std::pair<std::string, std::string> keys[] = {
        {"apple", "A"},
        {"ßtraße", "SS"},
        {"élan", "É"},
        {"e\u0301lan", "É"},
        {"1st", "1"},
        {"東京", "東"},
        {"👍🏽 yes", "👍🏽"},
        {"ölk", "Ö"},
        {"שלום", "ש"},
        {"ǆemal", "Ǆ"},
    };
    for (const auto& [title, key] : keys) EXPECT_EQ(PointTableContent::sectionKey(title), key) << title;
}

class PointTableContentTest : public ::testing::Test {
  protected:
    void SetUp() override { points::setBestKnownLocationProvider(nullptr); }
    void TearDown() override { points::setBestKnownLocationProvider(nullptr); }

    std::shared_ptr<QuovaMapPoint> add(std::optional<std::string> title,
                                       std::optional<std::string> subtitle = {},
                                       std::vector<std::string> tags = {}, bool deleted = false) {
        auto point = QuovaMapPoint::make("");
        point->setTitle(std::move(title));
        point->setSubtitle(std::move(subtitle));
        point->setTags(std::move(tags));
        if (deleted) point->setDeletedAt(platform::Date{1000});
        points_.push_back(point);
        points::QuovaMapPointStore::shared().replacePointsForTesting(points_);
        return point;
    }
    std::shared_ptr<QuovaPointTag> tag(const std::string& title) {
        auto made = QuovaPointTag::make(title);
        tags_->push_back(made);
        return made;
    }
    void compute(std::optional<std::string> filter, std::optional<int> segment = 0) {
        content_.cachePointStoreWithFilter(filter, segment, points::QuovaMapPointStore::shared(), tags_);
    }
    // Titles of every section's points, per section.
    std::vector<std::vector<std::string>> rows() const {
        std::vector<std::vector<std::string>> out;
        for (const auto& header : content_.sectionsHeaders()) {
            out.emplace_back();
            for (const auto& point : content_.sectionValues().at(header))
                out.back().push_back(point->title().value_or("<none>"));
        }
        return out;
    }

    testsupport::TestEnvironment environment_;
    PointList points_;
    std::optional<PointTableContent::TagList> tags_ = PointTableContent::TagList{};
    PointTableContent content_;
};

TEST_F(PointTableContentTest, TagFiltersResolveByLowerCasedTitleAndListEachPointOnce) {
    auto bar = tag("bar");
    auto park = tag("park");
    auto cafeTag = tag("Cafe\u0301");  // stored decomposed
    add("Dive bar", "Harbour", {bar->uuid()});
    add("Cafe Nero", "street", {bar->uuid(), park->uuid()});  // both tags: still one row
    add("Central", "park side", {park->uuid()});
    add("Cafe plain", "no tags");
    add("Untagged list", std::nullopt, {});
    auto noList = add("No list", "cafe");
    noList->setTags(std::nullopt);
    add("Espresso", "x", {cafeTag->uuid()});
    // A tag identifier written in another letter case still matches.
    std::string lowerUuid = bar->uuid();
    std::transform(lowerUuid.begin(), lowerUuid.end(), lowerUuid.begin(), ::tolower);
    add("bar lower uuid", "x", {lowerUuid});

    struct Row {
        std::string filter;
        std::vector<std::vector<std::string>> rows;
    };
    const Row cases[] = {
        {"#Bar", {{"Cafe Nero"}, {"Dive bar"}, {"bar lower uuid"}}},
        {"#ba", {}},
        {"#bar #park", {{"Cafe Nero", "Central"}, {"Dive bar"}, {"bar lower uuid"}}},
        {"#bar cafe", {{"Cafe Nero"}}},
        {"#BAR CAFE", {{"Cafe Nero"}}},
        {"#nosuchtag cafe", {}},
        {"#Caf\u00e9", {{"Espresso"}}},  // typed precomposed, stored decomposed
        {"#",
         {{"Cafe Nero", "Cafe plain", "Central"},
          {"Dive bar"},
          {"Espresso"},
          {"No list"},
          {"Untagged list"},
          {"bar lower uuid"}}},
    };
    for (const auto& row : cases) {
        compute(row.filter);
        if (row.filter == "#Bar") {
            EXPECT_THAT(content_.sectionsHeaders(), ElementsAre("C", "D", "B"));
        }
        EXPECT_EQ(rows(), row.rows) << row.filter;
    }
}

TEST_F(PointTableContentTest, UnknownHashtagEmptiesTheTableAndSaysWhy) {
    testsupport::SharedLogRecording log;
    tag("bar");
    add("Cafe", "x");
    compute("#nosuchtag cafe");
    EXPECT_THAT(content_.sectionsHeaders(), IsEmpty());
    EXPECT_THAT(content_.sectionValues(), IsEmpty());
    EXPECT_THAT(content_.sectionIndexTitles(0), IsEmpty());
    const auto texts = log.texts();
    EXPECT_THAT(texts, ::testing::Contains("found hashtag strings [\"nosuchtag\"]"));
    EXPECT_THAT(texts, ::testing::Contains("found search string \"cafe\""));
    EXPECT_THAT(texts, ::testing::Contains("no tags to search for found, but hashtag entered -> exiting"));

    log.clear();
    compute("#");
    EXPECT_THAT(log.texts(),
                ::testing::Contains("found no tags to search for, no hashtag entered -> normal search"));
    log.clear();
    compute("#bar #wo\"rk");
    EXPECT_THAT(log.texts(), ::testing::Contains("found hashtag strings [\"bar\", \"wo\\\"rk\"]"));

    // Without a tag list nothing resolves.
    tags_.reset();
    compute("#bar");
    EXPECT_THAT(content_.sectionsHeaders(), IsEmpty());
}

TEST_F(PointTableContentTest, SectionsAndIndexTitlesInEachOrder) {
    add("apple");
    add("Banana");
    add("avocado");
    add("ßpecial");
    add("\u00e9tude");
    add("e\u0301cole");
    auto untitled = add(std::nullopt, "somewhere");
    add("", "empty title");
    add("Zed gone", {}, {}, true);
    add("Yak gone", {}, {}, true);

    compute(std::nullopt, 0);
    EXPECT_THAT(content_.sectionsHeaders(), ElementsAre("B", "A", "SS", "É", kDeleted));
    // Code-point order of the NFC titles: upper-case ASCII, lower-case ASCII, then "ß" and "é".
    EXPECT_EQ(rows(), (std::vector<std::vector<std::string>>{{"Banana"},
                                                             {"apple", "avocado"},
                                                             {"ßpecial"},
                                                             {"e\u0301cole", "\u00e9tude"},
                                                             {"Yak gone", "Zed gone"}}));
    EXPECT_THAT(content_.sectionIndexTitles(0), ElementsAre("B", "A", "SS", "É", kBin));
    EXPECT_FALSE(content_.indexPathOfPoint(untitled));  // no title: not in the A-Z sections

    // The empty filter and no filter give the same content.
    const auto unfiltered = content_.sectionsHeaders();
    compute("", 0);
    EXPECT_EQ(content_.sectionsHeaders(), unfiltered);

    compute(std::nullopt, 1);
    EXPECT_THAT(content_.sectionsHeaders(), ElementsAre("8 Valid Points", kDeleted));
    EXPECT_THAT(content_.sectionIndexTitles(1), ElementsAre("", kBin));
    EXPECT_TRUE(content_.indexPathOfPoint(untitled));
    compute(std::nullopt, 2);
    EXPECT_THAT(content_.sectionsHeaders(), ElementsAre("8 Valid Points", kDeleted));
    EXPECT_THAT(content_.sectionIndexTitles(2), ElementsAre("", kBin));
}

TEST_F(PointTableContentTest, ThreeValidTwoDeletedAndTheEdgeCountsOfSections) {
    add("One");
    add("Two");
    add("Three");
    add("Four gone", {}, {}, true);
    add("Five gone", {}, {}, true);
    compute(std::nullopt, 1);
    EXPECT_THAT(content_.sectionsHeaders(), ElementsAre("3 Valid Points", kDeleted));
    EXPECT_THAT(content_.sectionIndexTitles(1), ElementsAre("", kBin));
    EXPECT_EQ(content_.numberOfRows(0), 3);
    EXPECT_EQ(content_.numberOfRows(1), 2);
    EXPECT_EQ(content_.numberOfRows(2), 0);
    EXPECT_EQ(content_.pointCount(), 5u);

    // Only deleted points match.
    compute("gone", 0);
    EXPECT_THAT(content_.sectionsHeaders(), ElementsAre(kDeleted));
    EXPECT_THAT(content_.sectionIndexTitles(0), ElementsAre(kBin));
    compute("gone", 1);
    EXPECT_THAT(content_.sectionIndexTitles(1), ElementsAre(kBin));
    // Only valid ones, one section.
    compute("Two", 1);
    EXPECT_THAT(content_.sectionIndexTitles(1), ElementsAre(""));
    // Nothing.
    compute("nothing like this", 0);
    EXPECT_THAT(content_.sectionIndexTitles(0), IsEmpty());
    EXPECT_THAT(content_.sectionIndexTitles(1), ElementsAre(""));
    EXPECT_THAT(content_.sectionIndexTitles(std::nullopt), ElementsAre(""));
}

TEST_F(PointTableContentTest, RowLookupsAndDistanceOrder) {
    auto far = add("Far");
    far->setCoordinate({61.0, 25.0});
    auto near = add("Near");
    near->setCoordinate({60.17, 24.94});
    auto nowhere = add("Nowhere");
    compute(std::nullopt, 1);
    // No location yet: the store's own order.
    EXPECT_EQ(rows(), (std::vector<std::vector<std::string>>{{"Far", "Near", "Nowhere"}}));
    points::setBestKnownLocationProvider([] { return std::optional(platform::CLLocation(60.17, 24.94)); });
    compute(std::nullopt, 1);
    EXPECT_EQ(rows(), (std::vector<std::vector<std::string>>{{"Near", "Far", "Nowhere"}}));

    EXPECT_EQ(content_.pointAtIndexPath({0, 0}), near);
    EXPECT_EQ(content_.pointAtIndexPath({0, 3}), nullptr);
    EXPECT_EQ(content_.pointAtIndexPath({1, 0}), nullptr);
    EXPECT_EQ(content_.pointAtIndexPath({-1, 0}), nullptr);
    EXPECT_EQ(content_.indexPathOfPoint(nowhere), (platform::IndexPath{0, 2}));
    EXPECT_FALSE(content_.indexPathOfPoint(QuovaMapPoint::make("stranger")));
}

}  // namespace
}  // namespace tervolo::pointscreens
