#include <gtest/gtest.h>

#include "SearchUITestSupport.hpp"
#include "points/AppTextsAndColors.hpp"
#include "search/ui/SearchResultCell.hpp"

namespace search_ui_test {
namespace {

using search::SearchResultCell;

class SearchResultCellTest : public ::testing::Test {
  protected:
    void SetUp() override { ensureApplication(); }
};

TEST_F(SearchResultCellTest, TheTitleNamesItsSourceInBrackets) {
    struct Case {
        std::string datasource;
        std::string title;
    };
    const Case cases[] = {
        {"", "Harbour"},
        {"Geocoder", "Harbour (Geocoder)"},
        {points::localDataSourceName(), "Harbour (local data)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.datasource);
        SearchResultCell cell(QStringLiteral("basicStyleCell"));
        cell.configure(place("Harbour", 60, 25, c.datasource));
        EXPECT_EQ(cell.titleLabel()->text().toStdString(), c.title);
        EXPECT_EQ(cell.addressLabel()->text().toStdString(), "Harbour street 1, Town");
    }
}

TEST_F(SearchResultCellTest, FontsGrowByHalfOnceHoweverOftenTheCellIsConfiguredOrReused) {
    SearchResultCell cell(QStringLiteral("basicStyleCell"));
    const double before = cell.titleLabel()->font().pointSizeF();
    const double addressBefore = cell.addressLabel()->font().pointSizeF();
    for (int i = 0; i < 3; ++i) {
        std::string title = "P";
        title += std::to_string(i);
        cell.configure(place(title, 0, 0));
        cell.prepareForReuse();
    }
    EXPECT_TRUE(cell.hasBeenPatchedForMac());
    EXPECT_DOUBLE_EQ(cell.titleLabel()->font().pointSizeF(), before * 1.5);
    EXPECT_DOUBLE_EQ(cell.addressLabel()->font().pointSizeF(), addressBefore * 1.5);
}

TEST_F(SearchResultCellTest, ReuseEmptiesTheTextsAndGivesBackTheImageArea) {
    SearchResultCell cell(QStringLiteral("basicStyleCell"));
    EXPECT_EQ(cell.imageWrapperViewWidth()->constant(), 100);
    cell.configure(place("P", 0, 0));
    cell.imageWrapperViewWidth()->setConstant(0);
    cell.prepareForReuse();
    EXPECT_TRUE(cell.titleLabel()->text().isEmpty());
    EXPECT_TRUE(cell.addressLabel()->text().isEmpty());
    EXPECT_EQ(cell.imageWrapperViewWidth()->constant(), 100);
    EXPECT_TRUE(cell.placemark()) << "the result survives reuse";
}

TEST_F(SearchResultCellTest, TheDistanceShowsOnlyWithAMapCentre) {
    struct Case {
        const char* name;
        std::optional<platform::CLLocationCoordinate2D> center;
        double latitude;
        bool shown;
    };
    const Case cases[] = {
        {"no map screen", std::nullopt, 60.01, false},
        {"map centre", platform::CLLocationCoordinate2D{60, 25}, 60.01, true},
        {"invalid result position", platform::CLLocationCoordinate2D{60, 25}, -180, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SearchResultCell cell(QStringLiteral("basicStyleCell"));
        cell.setMapCenterLookup([&](const QWidget&) { return c.center; });
        cell.configure(place("P", c.latitude, c.latitude == -180 ? -180 : 25));
        const std::string text = cell.distanceLabel()->text().toStdString();
        if (c.shown) {
            EXPECT_NE(text.find(" from map center"), std::string::npos) << text;
        } else {
            EXPECT_TRUE(text.empty()) << text;
        }
    }
}

TEST_F(SearchControllerTest, RowsWithoutAnImageAddressGiveTheImageAreaNoRoom) {
    host_->center = platform::CLLocationCoordinate2D{60, 25};
    makeController();
    type("abc");
    advance(0.7);
    backend_->reply(
        std::vector<points::QuovaPlacemark>{place("With", 60, 25, "backend", "http://127.0.0.1:1/x.png"),
                                            place("Without", 60.1, 25, "backend", ""),
                                            place("None", 60.2, 25)},
        true);
    table_->layoutRows();
    const std::pair<int, double> expected[] = {{0, 100}, {1, 0}, {2, 0}};
    for (auto [row, width] : expected) {
        auto* cell = dynamic_cast<search::SearchResultCell*>(table_->cellForRow({0, row}));
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->imageWrapperViewWidth()->constant(), width) << row;
        EXPECT_FALSE(cell->distanceLabel()->text().isEmpty()) << "the cell is in the map screen's window";
    }
    EXPECT_EQ(controller_->thumbnails().waitingCount("http://127.0.0.1:1/x.png"), 1u);
}

}  // namespace
}  // namespace search_ui_test
