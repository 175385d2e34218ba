// The point list screen, offscreen: stored sort order and filter, location
// re-sorts, Delete with its batch update, undelete, print, Done.
#include <QApplication>
#include <QPdfView>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/ui/AlertController.hpp"
#include "pointscreens/PDFPreviewViewController.hpp"
#include "pointscreens/QuovaMapPointCell.hpp"
#include "pointscreens/tests/PointTableTestSupport.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::pointscreens {
namespace {

using pointscreens_test::PointTableScreenTest;
using ::testing::Contains;
using ::testing::ElementsAre;
using Rows = std::vector<std::vector<std::string>>;

class PointTableScreen : public PointTableScreenTest {};

TEST_F(PointTableScreen, StoredFilterIsAppliedBeforeTheFirstDisplayAndActivatesTheField) {
    auto bar = points::QuovaPointTag::make("bar");
    points::QuovaPointTagStore::shared().replaceTagsForTesting(std::vector{bar});
    auto pub = addPoint("Pub");
    pub->setTags(std::vector<std::string>{bar->uuid()});
    addPoint("Library");
    platform::UserDefaults::standard().set(PointTableViewController::kLastFilterKey, "#bar");
    platform::UserDefaults::standard().set(PointTableViewController::kLastSortOrderKey, "garbage");

    open();
    ASSERT_TRUE(list_->searchController());
    EXPECT_EQ(list_->searchController()->text(), "#bar");
    EXPECT_EQ(list_->searchController()->placeholder(), "Filter by #tags or text ...");
    EXPECT_TRUE(list_->searchController()->isActive());
    EXPECT_EQ(list_->sortOrderControl()->selectedSegmentIndex(), 0);  // an unknown stored order
    EXPECT_EQ(contentRows(), (Rows{{"Pub"}}));
    // What the table shows is the filtered content.
    EXPECT_EQ(list_->tableView()->numberOfSections(), 1);
    EXPECT_EQ(list_->tableView()->numberOfRows(0), 1);
    // The field sits in the navigation bar and got the focus after the presentation.
    EXPECT_TRUE(navigation_->navigationBar().isAncestorOf(list_->searchController()->searchBar()));
    EXPECT_TRUE(list_->searchController()->searchBar()->hasFocus());

    // Clearing the field stores the empty text and shows every point.
    QTest::keyClick(list_->searchController()->searchBar(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(list_->searchController()->searchBar(), Qt::Key_Backspace);
    EXPECT_EQ(platform::UserDefaults::standard().stringValue(PointTableViewController::kLastFilterKey), "");
    EXPECT_EQ(contentRows(), (Rows{{"Library"}, {"Pub"}}));
    QTest::keyClicks(list_->searchController()->searchBar(), "lib");
    EXPECT_EQ(contentRows(), (Rows{{"Library"}}));
    EXPECT_EQ(platform::UserDefaults::standard().stringValue(PointTableViewController::kLastFilterKey),
              "lib");
}

TEST_F(PointTableScreen, FixesResortOnlyWhileTheDistanceSegmentShows) {
    addPoint("North", 61.0, 25.0);
    addPoint("Middle", 60.5, 25.0);
    addPoint("South", 60.0, 25.0);
    platform::UserDefaults::standard().set(PointTableViewController::kLastSortOrderKey, "byDistance");
    open();
    EXPECT_EQ(list_->sortOrderControl()->selectedSegmentIndex(), 1);
    EXPECT_THAT(shownHeaders(), ElementsAre("3 Valid Points"));

    const int before = list_->reloadCount();
    postFix(61.1, 25.0);
    EXPECT_EQ(contentRows(), (Rows{{"North", "Middle", "South"}}));
    postFix(59.9, 25.0);
    EXPECT_EQ(contentRows(), (Rows{{"South", "Middle", "North"}}));
    postFix(60.45, 25.0);
    EXPECT_EQ(contentRows(), (Rows{{"Middle", "South", "North"}}));
    EXPECT_EQ(list_->reloadCount() - before, 3);
    // The cells show the rows' points in the new order.
    auto* first = static_cast<QuovaMapPointCell*>(list_->tableView()->cellForRow({0, 0}));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->quovaPoint()->title(), "Middle");

    // A-Z, chosen as a user does: stored, and fixes no longer reload.
    auto* control = list_->sortOrderControl();
    QTest::mouseClick(control, Qt::LeftButton, {}, control->segmentRect(0).center().toPoint());
    EXPECT_EQ(platform::UserDefaults::standard().stringValue(PointTableViewController::kLastSortOrderKey),
              "alphabetically");
    const int afterSwitch = list_->reloadCount();
    postFix(61.1, 25.0);
    postFix(59.9, 25.0);
    postFix(60.0, 25.0);
    EXPECT_EQ(list_->reloadCount(), afterSwitch);
    EXPECT_THAT(shownHeaders(), ElementsAre("M", "N", "S"));
    // And back again.
    QTest::mouseClick(control, Qt::LeftButton, {}, control->segmentRect(1).center().toPoint());
    postFix(61.1, 25.0);
    EXPECT_EQ(contentRows(), (Rows{{"North", "Middle", "South"}}));
    QTest::mouseClick(control, Qt::LeftButton, {}, control->segmentRect(2).center().toPoint());
    EXPECT_EQ(platform::UserDefaults::standard().stringValue(PointTableViewController::kLastSortOrderKey),
              "byLastChange");
}

TEST_F(PointTableScreen, DeleteMovesThePointAndHideRemovesIt) {
    testsupport::SharedLogRecording log;
    auto alpha = addPoint("Alpha");
    addPoint("Bravo");
    addPoint("Boat");
    open();
    auto* table = list_->tableView();
    EXPECT_THAT(shownHeaders(), ElementsAre("A", "B"));

    // The only point of its section: the section goes, "Deleted Points" comes with the point.
    list_->commitDelete(*table, {0, 0});
    settle();
    EXPECT_TRUE(alpha->deletedAt());
    EXPECT_THAT(shownHeaders(), ElementsAre("B", "Deleted Points"));
    EXPECT_EQ(table->numberOfRows(1), 1);
    EXPECT_EQ(contentRows(), (Rows{{"Boat", "Bravo"}, {"Alpha"}}));

    // Delete key on a selected row of B, confirmed in the row's Delete menu.
    table->selectRow(platform::IndexPath{0, 0});
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Delete);
    auto* confirmation = QApplication::activePopupWidget();
    ASSERT_NE(confirmation, nullptr);
    QTest::keyClick(confirmation, Qt::Key_Return);
    settle();
    EXPECT_THAT(shownHeaders(), ElementsAre("B", "Deleted Points"));
    EXPECT_EQ(table->numberOfRows(0), 1);
    EXPECT_EQ(table->numberOfRows(1), 2);

    // Hiding deleted points; the last one takes the section with it.
    list_->commitDelete(*table, {1, 0});
    list_->commitDelete(*table, {1, 0});
    settle();
    EXPECT_THAT(shownHeaders(), ElementsAre("B"));
    EXPECT_TRUE(alpha->hiddenAt());
    EXPECT_EQ(contentRows(), (Rows{{"Bravo"}}));
    EXPECT_THAT(log.texts(), ::testing::Not(Contains(::testing::HasSubstr("rows in the data source"))));
}

TEST_F(PointTableScreen, ValidCountHeaderFollowsADeleteInDistanceOrder) {
    addPoint("One");
    addPoint("Two");
    addPoint("Three");
    platform::UserDefaults::standard().set(PointTableViewController::kLastSortOrderKey, "byDistance");
    open();
    EXPECT_THAT(shownHeaders(), ElementsAre("3 Valid Points"));
    list_->commitDelete(*list_->tableView(), {0, 1});
    settle();
    EXPECT_THAT(shownHeaders(), ElementsAre("2 Valid Points", "Deleted Points"));
    EXPECT_EQ(list_->tableView()->numberOfRows(0), 2);
    EXPECT_EQ(list_->tableView()->numberOfRows(1), 1);
    // A point that the filter no longer lists after its delete: the table is drawn anew.
    auto* search = list_->searchController()->searchBar();
    search->setFocus();
    QTest::keyClicks(search, "One");
    const int reloads = list_->reloadCount();
    auto one = list_->content().pointAtIndexPath({0, 0});
    // Edited elsewhere: no longer matches "One" after the recompute.
    one->setTitle("Renamed");
    one->setSubtitle("elsewhere");
    list_->commitDelete(*list_->tableView(), {0, 0});
    EXPECT_EQ(list_->reloadCount(), reloads + 1);
    EXPECT_EQ(list_->tableView()->numberOfSections(), list_->content().numberOfSections());
}

TEST_F(PointTableScreen, ChoosingPointsUndeletingAndDone) {
    platform::PresentationRecorder recorder;
    auto valid = addPoint("Valid");
    auto gone = addPoint("Gone", 60.0, 25.0, true);
    open();
    // A deleted point asks first; Cancel leaves everything as it was.
    list_->didSelectRow(*list_->tableView(), *list_->content().indexPathOfPoint(gone));
    settle();
    EXPECT_EQ(recorder.actionTitles(), (std::vector<std::string>{"Cancel", "Undelete"}));
    ASSERT_TRUE(recorder.topAlert());
    EXPECT_EQ(recorder.topAlert()->title(), "Undelete location?");
    EXPECT_TRUE(recorder.chooseAction("Cancel"));
    settle();
    EXPECT_TRUE(gone->deletedAt());
    EXPECT_TRUE(map_->calls.empty());
    EXPECT_EQ(presenter_->presentedViewController(), navigation_);

    list_->didSelectRow(*list_->tableView(), *list_->content().indexPathOfPoint(gone));
    settle();
    EXPECT_TRUE(recorder.chooseAction("Undelete"));
    settle();
    EXPECT_FALSE(gone->deletedAt());
    EXPECT_TRUE(points::QuovaMapPointStore::shared().needsSync());
    EXPECT_THAT(map_->calls, ElementsAre("addPoint Gone", "zoomInOnPoint Gone"));
    EXPECT_EQ(presenter_->presentedViewController(), nullptr);

    // A valid point: selected on the map, zoomed to, the list goes.
    map_->calls.clear();
    map_->mainMapView()->addAnnotation(mapscreen::QuovaMapPointAnnotation::forPoint(valid));
    open();
    list_->didSelectRow(*list_->tableView(), *list_->content().indexPathOfPoint(valid));
    settle();
    EXPECT_THAT(map_->calls, ElementsAre("zoomInOnPoint Valid"));
    ASSERT_EQ(map_->mainMapView()->selectedAnnotations().size(), 1u);
    EXPECT_EQ(presenter_->presentedViewController(), nullptr);

    // Done.
    testsupport::SharedLogRecording log;
    open();
    navigation_->navigationItem();  // the bar shows the list's item
    list_->navigationItem().rightBarButtonItem()->trigger();
    settle();
    EXPECT_EQ(presenter_->presentedViewController(), nullptr);
    EXPECT_THAT(log.texts(), Contains("QuovaMapPointTableView canceled"));
}

TEST_F(PointTableScreen, PrintShowsThePreviewWithTheFilterOrNothing) {
    testsupport::SharedLogRecording log;
    addPoint("Cafe One");
    addPoint("Cafe Two");
    addPoint("Bakery");
    platform::UserDefaults::standard().set(PointTableViewController::kLastFilterKey, "cafe");
    open();
    list_->printButton()->click();
    settle();
    auto navigation =
        std::dynamic_pointer_cast<platform::NavigationController>(list_->presentedViewController());
    ASSERT_TRUE(navigation);
    EXPECT_EQ(navigation->modalPresentationStyle(), platform::ModalPresentationStyle::fullScreen);
    auto preview = std::dynamic_pointer_cast<PDFPreviewViewController>(navigation->topViewController());
    ASSERT_TRUE(preview);
    ASSERT_TRUE(preview->documentData());
    const std::string file = environment_.folder().path() + "/list.pdf";
    pointscreens_test::writeFile(file, *preview->documentData());
    const std::string text = pointscreens_test::runTool("pdftotext", {QString::fromStdString(file), "-"});
    EXPECT_THAT(text, ::testing::HasSubstr("2 locations from Tervolo"));
    // pdftotext reads the "fi" ligature back as one character.
    EXPECT_THAT(text, ::testing::HasSubstr("ltered by \"cafe\"")) << text;
    EXPECT_THAT(log.texts(), Contains("Printing 2 points in 1 sections."));

    list_->presentedViewController()->dismiss(false);
    settle();
    // Nothing listed: nothing shown.
    QTest::keyClicks(list_->searchController()->searchBar(), " nothing");
    log.clear();
    list_->printButton()->click();
    settle();
    EXPECT_EQ(list_->presentedViewController(), nullptr);
    EXPECT_THAT(log.texts(), Contains("Nothing to print"));
}

TEST_F(PointTableScreen, RowsMatchTheContentAfterComingBackFromThePreview) {
    addPoint("North", 61.0, 25.0);
    addPoint("South", 60.0, 25.0);
    addPoint("Middle", 60.5, 25.0);
    location_ = platform::CLLocation(61.1, 25.0);
    platform::UserDefaults::standard().set(PointTableViewController::kLastSortOrderKey, "byDistance");
    open();
    EXPECT_EQ(contentRows(), (Rows{{"North", "Middle", "South"}}));
    list_->printButton()->click();
    settle();
    ASSERT_TRUE(list_->presentedViewController());
    // The user moved while the preview was open.
    location_ = platform::CLLocation(59.9, 25.0);
    list_->presentedViewController()->dismiss(true);
    settle();
    EXPECT_EQ(contentRows(), (Rows{{"South", "Middle", "North"}}));
    for (int row = 0; row < 3; ++row) {
        auto* cell = static_cast<QuovaMapPointCell*>(list_->tableView()->cellForRow({0, row}));
        ASSERT_NE(cell, nullptr) << row;
        EXPECT_EQ(cell->quovaPoint(), list_->content().pointAtIndexPath({0, row})) << row;
    }
    // Choosing the first row acts on the point it shows.
    list_->didSelectRow(*list_->tableView(), {0, 0});
    EXPECT_THAT(map_->calls, ElementsAre("zoomInOnPoint South"));
}

}  // namespace
}  // namespace tervolo::pointscreens
