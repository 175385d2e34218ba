#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "PointScreensTestSupport.hpp"
#include "points/QuovaMapPoint.hpp"
#include "pointscreens/PDFLayout.hpp"

using tervolo::pointscreens::PDFLayout;
using Kind = PDFLayout::Kind;
using Style = PDFLayout::Style;

namespace {

// Measures every text as 10 points per byte wide and one line of the style's
// height per started 451.44 points; single texts can be given other extents
// (a word wrap that needs more lines than the estimate, an odd height).
class FakeMeasurer : public PDFLayout::Measurer {
  public:
    static constexpr double kTitleHeight = 30;
    static constexpr double kTextHeight = 20;

    std::map<std::string, PDFLayout::Measure> overrides;
    std::vector<std::string> measured;

    PDFLayout::Measure measure(const std::string& text, Style style, double wrapWidth) override {
        measured.push_back(text);
        if (auto found = overrides.find(text); found != overrides.end()) return found->second;
        PDFLayout::Measure m;
        m.naturalWidth = 10.0 * static_cast<double>(text.size());
        m.naturalHeight = style == Style::title ? kTitleHeight : kTextHeight;
        const auto lines = std::max<size_t>(1, static_cast<size_t>(std::ceil(m.naturalWidth / wrapWidth)));
        m.lineHeights.assign(lines, m.naturalHeight);
        return m;
    }
};

std::vector<PDFLayout::Item> lines(int count, const std::string& prefix = "line") {
    std::vector<PDFLayout::Item> items;
    for (int i = 0; i < count; ++i) items.push_back({Kind::pointLine, prefix + std::to_string(i)});
    return items;
}

// Where each text landed: page index and y.
struct Landing {
    size_t page;
    double y;
};
std::map<std::string, Landing> landings(const std::vector<PDFLayout::Page>& pages) {
    std::map<std::string, Landing> result;
    for (size_t p = 0; p < pages.size(); ++p) {
        for (const auto& text : pages[p].texts) result.emplace(text.text, Landing{p, text.y});
    }
    return result;
}

}  // namespace

TEST(PDFLayoutItems, SectionsInCodePointOrderAndPointLines) {
    PDFLayout::PointsDict dict;
    dict["B"] = {pointscreens_test::titledPoint("Bakery", std::nullopt)};
    dict["A"] = {pointscreens_test::titledPoint("Alpha", ""),
                 pointscreens_test::titledPoint(std::nullopt, std::nullopt),
                 pointscreens_test::titledPoint(std::nullopt, "Harbour 3")};
    dict["Deleted Points"] = {pointscreens_test::titledPoint("Gone", "was here")};
    dict["D"] = {pointscreens_test::titledPoint("Dock", "Pier 7"),
                 pointscreens_test::titledPoint("Dam", std::nullopt)};
    // An NFD key sorts by its NFC form: "É" (U+00C9) after "a" (a byte-wise
    // order of the NFD form, "E" U+0301, would put it before "a").
    dict["E\xCC\x81"] = {};
    dict["a"] = {};
    dict["E"] = {};

    const auto items =
        PDFLayout::items(dict, std::string("Locations"), std::string("All points"), "(unknown)");
    const std::vector<std::pair<Kind, std::string>> expected = {
        {Kind::titleLine, "Locations"},
        {Kind::subtitleLine, "All points"},
        {Kind::sectionTitle, "A"},
        {Kind::pointLine, "Alpha, "},
        {Kind::pointLine, "(unknown)"},
        {Kind::pointLine, "(unknown), Harbour 3"},
        {Kind::sectionTitle, "B"},
        {Kind::pointLine, "Bakery"},
        {Kind::sectionTitle, "D"},
        {Kind::pointLine, "Dock, Pier 7"},
        {Kind::pointLine, "Dam"},
        {Kind::sectionTitle, "Deleted Points"},
        {Kind::pointLine, "Gone, was here"},
        {Kind::sectionTitle, "E"},
        {Kind::sectionTitle, "a"},
        {Kind::sectionTitle, "E\xCC\x81"},
    };
    ASSERT_EQ(items.size(), expected.size());
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].kind, expected[i].first);
        EXPECT_EQ(items[i].text, expected[i].second);
    }
}

TEST(PDFLayoutItems, HeaderLinesOnlyWhenPresent) {
    struct Case {
        std::optional<std::string> title, subtitle;
        std::vector<Kind> kinds;
    } cases[] = {
        {std::nullopt, std::nullopt, {}},
        {"T", std::nullopt, {Kind::titleLine}},
        {std::nullopt, "S", {Kind::subtitleLine}},
        {"T", "S", {Kind::titleLine, Kind::subtitleLine}},
    };
    for (const auto& c : cases) {
        std::vector<Kind> kinds;
        for (const auto& item : PDFLayout::items({}, c.title, c.subtitle, "(unknown)"))
            kinds.push_back(item.kind);
        EXPECT_EQ(kinds, c.kinds);
    }
}

TEST(PDFLayout, EmptyListGivesOnePageWithBothLinesCentred) {
    FakeMeasurer measurer;
    const auto pages = PDFLayout::layout(
        PDFLayout::items({}, std::string("Locations from here"), std::string("Sorted by title"), "(unknown)"),
        measurer);
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].texts.size(), 2u);
    const auto& title = pages[0].texts[0];
    EXPECT_EQ(title.style, Style::title);
    EXPECT_EQ(title.alignment, PDFLayout::Alignment::centre);
    EXPECT_FALSE(title.wraps);
    EXPECT_DOUBLE_EQ(title.x, (595.44 - 190) / 2);
    EXPECT_DOUBLE_EQ(title.width, 190);
    EXPECT_DOUBLE_EQ(title.y, 72);
    const auto& subtitle = pages[0].texts[1];
    EXPECT_EQ(subtitle.style, Style::text);
    EXPECT_DOUBLE_EQ(subtitle.x, (595.44 - 150) / 2);
    EXPECT_DOUBLE_EQ(subtitle.y, 72 + 30 + 0.3 * 30);

    // Nothing at all still gives a page.
    EXPECT_EQ(PDFLayout::layout({}, measurer).size(), 1u);
}

TEST(PDFLayout, ItemsFollowEachOtherWithGapsOfThreeTenthsOfTheirHeight) {
    FakeMeasurer measurer;
    measurer.overrides["tall"] = {40, 32, {32}};
    const std::vector<PDFLayout::Item> items = {{Kind::sectionTitle, "A"},
                                                {Kind::pointLine, "one"},
                                                {Kind::pointLine, "tall"},
                                                {Kind::pointLine, "two"}};
    const auto pages = PDFLayout::layout(items, measurer);
    ASSERT_EQ(pages.size(), 1u);
    const auto& t = pages[0].texts;
    ASSERT_EQ(t.size(), 4u);
    double y = 72;
    for (size_t i = 0; i < t.size(); ++i) {
        SCOPED_TRACE(t[i].text);
        EXPECT_DOUBLE_EQ(t[i].x, 72);
        EXPECT_DOUBLE_EQ(t[i].width, 451.44);
        EXPECT_EQ(t[i].alignment, PDFLayout::Alignment::natural);
        EXPECT_DOUBLE_EQ(t[i].y, y);
        y += t[i].height + 0.3 * t[i].height;
    }
    EXPECT_EQ(t[0].style, Style::title);
    EXPECT_EQ(t[1].style, Style::text);
}

TEST(PDFLayout, WrappedBoxIsAsTallAsItsRealLines) {
    FakeMeasurer measurer;
    // 600 points wide: the estimate says two lines, the word wrap needs three.
    measurer.overrides["long"] = {600, 20, {20, 20, 20}};
    const auto pages = PDFLayout::layout({{Kind::pointLine, "long"}, {Kind::pointLine, "next"}}, measurer);
    ASSERT_EQ(pages[0].texts.size(), 2u);
    EXPECT_DOUBLE_EQ(pages[0].texts[0].height, 60);
    EXPECT_EQ(pages[0].texts[0].lineCount, 3u);
    EXPECT_TRUE(pages[0].texts[0].wraps);
    EXPECT_DOUBLE_EQ(pages[0].texts[1].y, 72 + 60 + 0.3 * 20);
}

TEST(PDFLayout, BreakOnlyWhenPastTheBoundAfterAPointLine) {
    FakeMeasurer measurer;
    // "lead" advances 16 (a 10-high line, natural height 20), every other line
    // 26, so after 20 lines y is exactly 648 - 2 * 20.
    measurer.overrides["lead"] = {40, 20, {10}};
    std::vector<PDFLayout::Item> items = {{Kind::pointLine, "lead"}};
    for (const auto& item : lines(22)) items.push_back(item);
    const auto at = landings(PDFLayout::layout(items, measurer));

    // Equality does not break: line20 follows on page 1 at y 608.
    EXPECT_EQ(at.at("line20").page, 0u);
    EXPECT_DOUBLE_EQ(at.at("line20").y, 608);
    // After it y is 634 > 608: the next line starts page 2 at the top.
    EXPECT_EQ(at.at("line21").page, 1u);
    EXPECT_DOUBLE_EQ(at.at("line21").y, 72);
}

TEST(PDFLayout, NoBreakTestAfterASectionTitle) {
    FakeMeasurer measurer;
    measurer.overrides["lead"] = {40, 20, {10}};
    std::vector<PDFLayout::Item> items = {{Kind::pointLine, "lead"}};
    for (const auto& item : lines(20)) items.push_back(item);  // y = 608, no break
    items.push_back({Kind::sectionTitle, "Z"});                // y = 647 > 608: no test
    items.push_back({Kind::pointLine, "first"});               // same page
    items.push_back({Kind::pointLine, "second"});              // the test after "first" breaks
    const auto at = landings(PDFLayout::layout(items, measurer));
    EXPECT_EQ(at.at("Z").page, 0u);
    EXPECT_DOUBLE_EQ(at.at("Z").y, 608);
    EXPECT_EQ(at.at("first").page, 0u);
    EXPECT_DOUBLE_EQ(at.at("first").y, 647);
    EXPECT_EQ(at.at("second").page, 1u);
}

TEST(PDFLayout, NoEmptyLastPage) {
    FakeMeasurer measurer;
    measurer.overrides["lead"] = {40, 20, {10}};
    std::vector<PDFLayout::Item> items = {{Kind::pointLine, "lead"}};
    for (const auto& item : lines(21)) items.push_back(item);  // the last line asks for a break
    auto pages = PDFLayout::layout(items, measurer);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].texts.back().text, "line20");

    items.push_back({Kind::sectionTitle, "More"});
    pages = PDFLayout::layout(items, measurer);
    ASSERT_EQ(pages.size(), 2u);
    ASSERT_EQ(pages[1].texts.size(), 1u);
    EXPECT_EQ(pages[1].texts[0].text, "More");
}

TEST(PDFLayout, ItemThatWouldCrossTheBottomMarginMovesWhole) {
    FakeMeasurer measurer;
    measurer.overrides["lead"] = {40, 20, {10}};
    measurer.overrides["note"] = {2000, 20, {20, 20, 20, 20, 20}};
    std::vector<PDFLayout::Item> items = {{Kind::pointLine, "lead"}};
    for (const auto& item : lines(20)) items.push_back(item);  // y = 608
    items.push_back({Kind::sectionTitle, "Z"});                // y = 647
    items.push_back({Kind::pointLine, "note"});                // 647 + 100 > 720
    const auto pages = PDFLayout::layout(items, measurer);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].texts.back().text, "Z");
    ASSERT_EQ(pages[1].texts.size(), 1u);
    const auto& note = pages[1].texts[0];
    EXPECT_EQ(note.text, "note");
    EXPECT_DOUBLE_EQ(note.y, 72);
    EXPECT_EQ(note.firstLine, 0u);
    EXPECT_EQ(note.lineCount, 5u);
    EXPECT_DOUBLE_EQ(note.height, 100);
}

TEST(PDFLayout, ItemTallerThanAPageIsSplitBetweenItsLines) {
    FakeMeasurer measurer;
    // 50 lines of 20: 1000 points, more than the 648 a page holds.
    measurer.overrides["essay"] = {20000, 20, std::vector<double>(50, 20)};
    const auto pages = PDFLayout::layout(
        {{Kind::pointLine, "before"}, {Kind::pointLine, "essay"}, {Kind::pointLine, "after"}}, measurer);
    // Page 1: "before" (72..92), then the essay from 98 down to 718 (31 lines).
    ASSERT_EQ(pages.size(), 2u);
    ASSERT_EQ(pages[0].texts.size(), 2u);
    const auto& head = pages[0].texts[1];
    EXPECT_DOUBLE_EQ(head.y, 98);
    EXPECT_EQ(head.firstLine, 0u);
    EXPECT_EQ(head.lineCount, 31u);
    EXPECT_LE(head.y + head.height, 720);
    const auto& tail = pages[1].texts[0];
    EXPECT_EQ(tail.text, "essay");
    EXPECT_DOUBLE_EQ(tail.y, 72);
    EXPECT_EQ(tail.firstLine, 31u);
    EXPECT_EQ(tail.lineCount, 19u);
    // The tail is followed by its gap.
    EXPECT_DOUBLE_EQ(pages[1].texts[1].y, 72 + 380 + 6);
}

TEST(PDFLayout, HeaderWiderThanTheTextColumnWrapsCentred) {
    FakeMeasurer measurer;
    measurer.overrides["Wide title"] = {700, 30, {30, 30}};
    const auto pages =
        PDFLayout::layout({{Kind::titleLine, "Wide title"}, {Kind::subtitleLine, "sub"}}, measurer);
    const auto& title = pages[0].texts[0];
    EXPECT_TRUE(title.wraps);
    EXPECT_EQ(title.alignment, PDFLayout::Alignment::centre);
    EXPECT_DOUBLE_EQ(title.x, 72);
    EXPECT_DOUBLE_EQ(title.width, 451.44);
    EXPECT_DOUBLE_EQ(title.height, 60);
    EXPECT_DOUBLE_EQ(pages[0].texts[1].y, 72 + 60 + 9);
    EXPECT_FALSE(pages[0].texts[1].wraps);
}
