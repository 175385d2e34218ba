// The point cell's texts and its own observation of location fixes.
#include <QLabel>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "geodesy/DoubleQuovaAdditions.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "points/BestKnownLocation.hpp"
#include "pointscreens/QuovaMapPointCell.hpp"
#include "pointscreens/tests/PointScreensTestSupport.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::pointscreens {
namespace {

using platform::CLLocation;
using platform::NotificationCenter;

class QuovaMapPointCellTest : public pointscreens_test::ApplicationTest {
  protected:
    static void postFix(std::any location) {
        NotificationCenter::defaultCenter().post(
            "QuovaLocationUpdate", nullptr,
            NotificationCenter::UserInfo{{"CLLocation", std::move(location)}});
    }
    static std::string detail(const QuovaMapPointCell& cell) {
        return cell.detailTextLabel()->text().toStdString();
    }
    static std::shared_ptr<points::QuovaMapPoint> point(std::optional<std::string> title,
                                                        std::optional<std::string> subtitle) {
        auto made = points::QuovaMapPoint::make("");
        made->setTitle(std::move(title));
        made->setSubtitle(std::move(subtitle));
        made->setCoordinate({60.0, 25.0});
        return made;
    }
    // About 1,234 m north of the points.
    const CLLocation here_{60.0 - 1234.0 / 111412.0, 25.0};
};

TEST_F(QuovaMapPointCellTest, DistancePrefixFollowsEveryFixAndOnlyARealLocation) {
    testsupport::SharedLogRecording log;
    // Asked for the default style, the cell still has a detail label.
    QuovaMapPointCell cell(platform::TableViewCell::Style::Default, QuovaMapPointCell::kReuseIdentifier);
    ASSERT_NE(cell.detailTextLabel(), nullptr);
    auto cafe = point("Cafe Nero", "Cafe");
    cell.setQuovaPoint(cafe);
    EXPECT_EQ(cell.textLabel()->text().toStdString(), "Cafe Nero");
    EXPECT_EQ(detail(cell), "Cafe");  // no location known yet

    const std::string distance = *geodesy::distanceDescription(cafe->distance(here_));
    postFix(here_);
    EXPECT_EQ(detail(cell), distance + " away - Cafe");
    EXPECT_THAT(log.texts(), ::testing::Contains("Cell received location: " + here_.description()));

    // Not a location under "CLLocation": ignored, no log line.
    log.clear();
    postFix(std::string("not a location"));
    NotificationCenter::defaultCenter().post("QuovaLocationUpdate");
    EXPECT_EQ(detail(cell), distance + " away - Cafe");
    EXPECT_THAT(log.texts(),
                ::testing::Not(::testing::Contains(::testing::HasSubstr("Cell received location"))));

    // The pure text: no location, a negative distance text (none) and no point keep the subtitle.
    EXPECT_EQ(cell.distanceSubtitle("x", std::nullopt), "x");
    QuovaMapPointCell empty(platform::TableViewCell::Style::Subtitle, QuovaMapPointCell::kReuseIdentifier);
    EXPECT_EQ(empty.distanceSubtitle("x", here_), "x");
}

TEST_F(QuovaMapPointCellTest, MissingTextsShowUnknownAndReuseEmptiesTheLabels) {
    QuovaMapPointCell cell(platform::TableViewCell::Style::Subtitle, QuovaMapPointCell::kReuseIdentifier);
    auto anonymous = point(std::nullopt, std::nullopt);
    cell.setQuovaPoint(anonymous);
    EXPECT_EQ(cell.textLabel()->text().toStdString(), "(unknown)");
    EXPECT_EQ(detail(cell), "(unknown)");
    postFix(here_);
    EXPECT_THAT(detail(cell), ::testing::EndsWith(" away - (unknown)"));

    cell.setQuovaPoint(nullptr);
    EXPECT_EQ(cell.quovaTitle(), "(unknown)");
    EXPECT_EQ(detail(cell), "(unknown)");

    cell.setQuovaPoint(point("Old", "Old street"));
    cell.prepareForReuse();
    EXPECT_EQ(cell.textLabel()->text(), QString());
    EXPECT_EQ(detail(cell), "");
    // A fix between reuse and the next point writes the previous point's subtitle.
    postFix(here_);
    EXPECT_THAT(detail(cell), ::testing::EndsWith(" away - Old street"));
}

TEST_F(QuovaMapPointCellTest, ADestroyedCellReceivesNothing) {
    auto cell = std::make_unique<QuovaMapPointCell>(platform::TableViewCell::Style::Subtitle,
                                                    QuovaMapPointCell::kReuseIdentifier);
    cell->setQuovaPoint(point("A", "B"));
    cell.reset();
    postFix(here_);  // under ASan a delivery to the destroyed cell would be a use after free
    SUCCEED();
}

}  // namespace
}  // namespace tervolo::pointscreens
