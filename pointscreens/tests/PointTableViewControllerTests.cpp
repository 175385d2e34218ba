// The point list screen, offscreen: stored sort order and filter, location
// re-sorts, Delete with its batch update, undelete, print, Done.
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPdfView>
#include <QTest>

#include <filesystem>
#include <map>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/foundation/OSLog.hpp"
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
    // The table's own records: a batch that does not add up is logged there as an error.
    auto tableLog = platform::OSLogCapture::install();
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
    EXPECT_EQ(shownRows(), contentRows());
    EXPECT_THAT(log.texts(), ::testing::Not(Contains(::testing::HasSubstr("rows in the data source"))));
    tableLog->uninstall();
    // Each of these deletes took the last point of a section with its section: no batch was
    // refused, nothing was drawn anew in full.
    EXPECT_THAT(tableLog->texts(), ::testing::IsEmpty());
}

// A row action waits for the user's answer (the Delete menu, the undelete alert) while a position
// fix re-sorts the distance order: the answer acts on the point asked about, wherever it moved, and
// on nothing once that point is no longer listed as it was.
TEST_F(PointTableScreen, ARowActionAnsweredAfterAResortActsOnThePointAskedAbout) {
    enum class Way { deleteKey, contextMenu, click };
    struct Case {
        const char* name;
        Way way;
        const char* asked;
        bool deletedElsewhere;  // the asked point is deleted by another road before the answer
        const char* states;
    };
    // States after the answer, in the order North, South, Old North, Old South.
    const Case cases[] = {
        {"Delete key on a valid point", Way::deleteKey, "North", false, "deleted valid deleted deleted"},
        {"context menu on a valid point", Way::contextMenu, "North", false, "deleted valid deleted deleted"},
        {"Delete key on a deleted point", Way::deleteKey, "Old North", false, "valid valid hidden deleted"},
        {"context menu on a deleted point", Way::contextMenu, "Old North", false,
         "valid valid hidden deleted"},
        {"undelete", Way::click, "Old North", false, "valid valid valid deleted"},
        // Delete would now hide it, which is not what was asked.
        {"Delete key on a point deleted meanwhile", Way::deleteKey, "North", true,
         "deleted valid deleted deleted"},
    };
    const auto stateOf = [](const points::QuovaMapPoint& point) -> std::string {
        return point.hiddenAt() ? "hidden" : point.deletedAt() ? "deleted" : "valid";
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::filesystem::remove_all(points::QuovaMapPoint::documentDirectory());
        points::QuovaMapPointStore::resetSharedForTesting();
        std::map<std::string, std::shared_ptr<points::QuovaMapPoint>> byTitle{
            {"North", addPoint("North", 61.0, 25.0)},
            {"South", addPoint("South", 60.0, 25.0)},
            {"Old North", addPoint("Old North", 61.2, 25.0, true)},
            {"Old South", addPoint("Old South", 59.8, 25.0, true)},
        };
        location_ = platform::CLLocation(61.1, 25.0);
        platform::UserDefaults::standard().set(PointTableViewController::kLastSortOrderKey, "byDistance");
        platform::UserDefaults::standard().set(PointTableViewController::kLastFilterKey, "");
        platform::PresentationRecorder recorder;
        open();
        ASSERT_EQ(contentRows(), (Rows{{"North", "South"}, {"Old North", "Old South"}}));
        auto* table = list_->tableView();
        const auto asked = byTitle.at(test.asked);
        const platform::IndexPath path = *list_->content().indexPathOfPoint(asked);
        ASSERT_EQ(path.row, 0);
        const QRectF row = table->rectForRow(path).translated(0, -table->contentOffset());
        const QPoint inRow(table->viewport()->width() / 2, qRound(row.center().y()));

        // The question.
        switch (test.way) {
            case Way::deleteKey:
                table->selectRow(path);
                table->setFocus();
                QTest::keyClick(table, Qt::Key_Delete);
                break;
            case Way::contextMenu: {
                QContextMenuEvent event(QContextMenuEvent::Mouse, inRow,
                                        table->viewport()->mapToGlobal(inRow));
                QApplication::sendEvent(table->viewport(), &event);
                break;
            }
            case Way::click:
                QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, inRow);
                break;
        }
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (test.way == Way::click) {
            ASSERT_TRUE(recorder.topAlert());
        } else {
            ASSERT_NE(menu, nullptr);
        }

        // The list moves under it.
        if (test.deletedElsewhere) points::QuovaMapPointStore::shared().deletePoint(asked);
        postFix(59.9, 25.0);
        ASSERT_EQ(list_->content().indexPathOfPoint(byTitle.at("South"))->row, 0);

        // The answer.
        switch (test.way) {
            case Way::deleteKey:
                QTest::keyClick(menu, Qt::Key_Return);
                break;
            case Way::contextMenu:
                QTest::mouseClick(menu, Qt::LeftButton, {},
                                  menu->actionGeometry(menu->actions().value(0)).center());
                break;
            case Way::click:
                EXPECT_TRUE(recorder.chooseAction("Undelete"));
                break;
        }
        settle();
        std::string states;
        for (const char* title : {"North", "South", "Old North", "Old South"})
            states += (states.empty() ? "" : " ") + stateOf(*byTitle.at(title));
        EXPECT_EQ(states, test.states);
        if (presenter_->presentedViewController()) {
            EXPECT_EQ(shownRows(), contentRows());
        }
        list_.reset();
        navigation_.reset();
        window_.reset();
        presenter_.reset();
    }
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
