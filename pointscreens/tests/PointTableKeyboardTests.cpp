// The point list with the keyboard alone: the highlight stays on its point
// through the re-sorts of position fixes and filtering, Tab and Shift+Tab go
// through the screen's controls in reading order, and keys press what has the
// focus.
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <filesystem>
#include <iostream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "pointscreens/QuovaMapPointCell.hpp"
#include "pointscreens/tests/PointTableTestSupport.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace tervolo::pointscreens {
namespace {

using ::testing::ElementsAre;
using Rows = std::vector<std::vector<std::string>>;

QPalette darkListPalette() {
    QPalette dark = tervolo::testsupport::darkScreenshotPalette();
    dark.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xfd));
    dark.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
    return dark;
}

class PointTableKeyboard : public pointscreens_test::PointTableScreenTest {
  protected:
    void TearDown() override {
        QApplication::setPalette(QPalette());
        PointTableScreenTest::TearDown();
    }

    // Three points north to south, listed by distance.
    void openByDistance() {
        addPoint("North", 61.0, 25.0);
        addPoint("Middle", 60.5, 25.0);
        addPoint("South", 60.0, 25.0);
        platform::UserDefaults::standard().set(PointTableViewController::kLastSortOrderKey, "byDistance");
        platform::UserDefaults::standard().set(PointTableViewController::kLastFilterKey, "");
        open();
        window_->activateWindow();
        settle();
    }

    void key(int keyCode, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, static_cast<Qt::Key>(keyCode), modifiers);
        settle();
    }

    // The title of the highlighted row's point as its cell shows it, or "(none)".
    std::string highlighted() {
        auto* table = list_->tableView();
        const auto path = table->indexPathForSelectedRow();
        if (!path) return "(none)";
        table->scrollToRow(*path, platform::TableView::ScrollPosition::None);
        auto* cell = static_cast<QuovaMapPointCell*>(table->cellForRow(*path));
        if (!cell || !cell->isSelected() || !cell->quovaPoint()) return "(no highlighted cell)";
        return cell->quovaPoint()->title().value_or("");
    }

    // Who holds the focus, by the name a reader of the screen would give it.
    std::string focusName() const {
        const QWidget* focus = QApplication::focusWidget();
        if (!focus) return "(nothing)";
        if (list_->searchController() && focus == list_->searchController()->searchBar())
            return "filter field";
        if (focus == list_->tableView()) return "table";
        if (focus == list_->sortOrderControl()) return "sort order";
        if (focus == list_->printButton()) return "Print";
        if (const auto* button = qobject_cast<const QAbstractButton*>(focus))
            return button->text().toStdString() + " (" + focus->objectName().toStdString() + ")";
        return focus->metaObject()->className() + std::string(" ") + focus->objectName().toStdString();
    }
};

TEST_F(PointTableKeyboard, TheHighlightStaysOnItsPointThroughResortsAndFiltering) {
    openByDistance();
    postFix(61.1, 25.0);
    ASSERT_EQ(contentRows(), (Rows{{"North", "Middle", "South"}}));
    auto* table = list_->tableView();
    // On appearing the rows have the keyboard.
    ASSERT_EQ(QApplication::focusWidget(), table);
    key(Qt::Key_Down);
    EXPECT_EQ(highlighted(), "North");

    // Each fix re-sorts; the highlight goes with its point, the focus stays in the table.
    postFix(59.9, 25.0);
    EXPECT_EQ(contentRows(), (Rows{{"South", "Middle", "North"}}));
    EXPECT_EQ(table->indexPathForSelectedRow(), (platform::IndexPath{0, 2}));
    EXPECT_EQ(highlighted(), "North");
    EXPECT_EQ(QApplication::focusWidget(), table);
    // Only one row looks highlighted.
    for (const auto& path : table->indexPathsForVisibleRows())
        EXPECT_EQ(table->cellForRow(path)->isSelected(), (path == platform::IndexPath{0, 2})) << path.row;
    // The arrows go on from the point, not from its old place.
    key(Qt::Key_Up);
    EXPECT_EQ(highlighted(), "Middle");
    postFix(60.45, 25.0);
    EXPECT_EQ(contentRows(), (Rows{{"Middle", "South", "North"}}));
    EXPECT_EQ(highlighted(), "Middle");
    key(Qt::Key_Down);
    postFix(61.1, 25.0);
    EXPECT_EQ(highlighted(), "South");
    EXPECT_EQ(QApplication::focusWidget(), table);

    // Filtering away the highlighted point takes the highlight off: no other point inherits it.
    list_->searchController()->searchBar()->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(list_->searchController()->searchBar(), "North");
    settle();
    EXPECT_EQ(contentRows(), (Rows{{"North"}}));
    EXPECT_EQ(highlighted(), "(none)");
    // Down in the field takes the keyboard to the rows; clearing the filter keeps the point.
    key(Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), table);
    EXPECT_EQ(highlighted(), "North");
    list_->searchController()->searchBar()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list_->searchController()->searchBar(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(list_->searchController()->searchBar(), Qt::Key_Backspace);
    settle();
    EXPECT_EQ(contentRows(), (Rows{{"North", "Middle", "South"}}));
    EXPECT_EQ(highlighted(), "North");

    // Return after a re-sort chooses the highlighted point, as a click on it does.
    table->setFocus(Qt::TabFocusReason);
    postFix(59.9, 25.0);
    key(Qt::Key_Return);
    EXPECT_THAT(map_->calls, ElementsAre("zoomInOnPoint North"));
    EXPECT_EQ(presenter_->presentedViewController(), nullptr);
}

TEST_F(PointTableKeyboard, TabAndShiftTabGoThroughTheScreenInReadingOrder) {
    openByDistance();
    ASSERT_EQ(focusName(), "table");
    std::vector<std::string> forward{focusName()};
    for (int step = 0; step < 8; ++step) {
        key(Qt::Key_Tab);
        forward.push_back(focusName());
        if (QApplication::focusWidget() == list_->tableView()) break;
    }
    std::vector<std::string> backward{focusName()};
    for (int step = 0; step < 8; ++step) {
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        backward.push_back(focusName());
        if (QApplication::focusWidget() == list_->tableView()) break;
    }
    std::string walk;
    for (const auto& name : forward) walk += (walk.empty() ? "" : " -> ") + name;
    std::cout << "Tab: " << walk << "\n";
    walk.clear();
    for (const auto& name : backward) walk += (walk.empty() ? "" : " -> ") + name;
    std::cout << "Shift+Tab: " << walk << "\n";
    // Top to bottom, left to right: the bar's Done, the filter under it, the sort order and Print
    // beside it, the rows.
    EXPECT_THAT(forward, ElementsAre("table", "Done (rightBarButton0)", "filter field", "sort order", "Print",
                                     "table"));
    EXPECT_THAT(backward, ElementsAre("table", "Print", "sort order", "filter field",
                                      "Done (rightBarButton0)", "table"));
}

TEST_F(PointTableKeyboard, KeysPressWhatHasTheFocus) {
    openByDistance();
    // The sort order: arrows choose the segment.
    list_->sortOrderControl()->setFocus(Qt::TabFocusReason);
    key(Qt::Key_Left);
    EXPECT_EQ(list_->sortOrderControl()->selectedSegmentIndex(), 0);
    EXPECT_EQ(platform::UserDefaults::standard().stringValue(PointTableViewController::kLastSortOrderKey),
              "alphabetically");
    key(Qt::Key_Right);
    EXPECT_EQ(list_->sortOrderControl()->selectedSegmentIndex(), 1);

    // Print with Space and with Return: the preview comes.
    for (const int pressKey : {int(Qt::Key_Space), int(Qt::Key_Return)}) {
        SCOPED_TRACE(pressKey);
        list_->printButton()->setFocus(Qt::TabFocusReason);
        key(pressKey);
        ASSERT_NE(list_->presentedViewController(), nullptr);
        list_->presentedViewController()->dismiss(false);
        settle();
        EXPECT_EQ(list_->presentedViewController(), nullptr);
    }

    // Done with Return and with Space: the list goes.
    for (const int pressKey : {int(Qt::Key_Return), int(Qt::Key_Space)}) {
        SCOPED_TRACE(pressKey);
        if (!presenter_->presentedViewController()) open();
        auto* done = navigation_->navigationBar().findChild<QAbstractButton*>("rightBarButton0");
        ASSERT_NE(done, nullptr);
        done->setFocus(Qt::TabFocusReason);
        key(pressKey);
        EXPECT_EQ(presenter_->presentedViewController(), nullptr);
    }
}

TEST_F(PointTableKeyboard, ScreenshotOfTheHighlightAfterAResort) {
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkListPalette() : QPalette());
        std::filesystem::remove_all(points::QuovaMapPoint::documentDirectory());
        points::QuovaMapPointStore::resetSharedForTesting();
        openByDistance();
        postFix(61.1, 25.0);
        key(Qt::Key_Down);
        postFix(59.9, 25.0);
        ASSERT_EQ(highlighted(), "North");
        pointscreens_test::saveScreenshot(tervolo::testsupport::renderOnWindowColour(*window_, 2.0),
                                          QStringLiteral("pointtable-keyboard-resorted-%1")
                                              .arg(dark ? QStringLiteral("dark") : QStringLiteral("light")));
        presenter_->dismiss(false);
        settle();
    }
}

}  // namespace
}  // namespace tervolo::pointscreens
