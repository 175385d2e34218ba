// The screens above the map as the program composes them, driven as a person
// does: presses and releases at the widgets' places delivered to the shown
// window, keys to the window. Nothing here calls a handler or sets what the
// program does not set.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPdfView>
#include <QPointer>
#include <QPrintDialog>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Program.hpp"
#include "app/tests/ProgramWindowTest.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMKMapView.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/qt/MKCalloutView.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/PrintInteractionController.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PDFPreviewViewController.hpp"
#include "pointscreens/PointDetailsViewController.hpp"
#include "pointscreens/PointTableViewController.hpp"
#include "shell/InfoViewController.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"
#include "widgets/taglist/TagFlowView.hpp"
#include "widgets/taglist/TagView.hpp"

namespace {

using tervolo::mapscreen::MainViewController;
using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using tervolo::pointscreens::PointTableViewController;
using PointPtr = std::shared_ptr<QuovaMapPoint>;

std::string fileText(const PointPtr& point) {
    std::ifstream in(QuovaMapPoint::documentDirectory() + point->uuid().value_or("") +
                     QuovaMapPoint::kFileExtension);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ProgramScreens : public tervolo::app::programtests::ProgramWindowTest {
  protected:
    QWindow* windowHandle() const { return window_->windowHandle(); }
    QPoint inWindow(QWidget* widget, QPoint position) const { return widget->mapTo(window_.get(), position); }

    // The mouse as the windowing system delivers it: to the window, at the widget's place.
    void press(QWidget* widget, QPoint position) {
        QTest::mousePress(windowHandle(), Qt::LeftButton, Qt::NoModifier, inWindow(widget, position));
        settle();
    }
    void release(QWidget* widget, QPoint position) {
        QTest::mouseRelease(windowHandle(), Qt::LeftButton, Qt::NoModifier, inWindow(widget, position));
        settle();
    }
    void key(Qt::Key which) {
        QTest::keyClick(windowHandle(), which);
        settle();
    }

    std::shared_ptr<PointTableViewController> openList() {
        click(screen_->mapButton(MainViewController::MapButton::points));
        const auto navigation = presentedNavigation();
        if (!navigation) return nullptr;
        auto list = std::dynamic_pointer_cast<PointTableViewController>(navigation->topViewController());
        if (list && list->tableView()) list->tableView()->layoutRows();
        return list;
    }
    // The row's middle in the table's viewport.
    static QPoint rowCentre(platform::TableView& table, platform::IndexPath path) {
        return table.rectForRow(path).translated(0, -table.contentOffset()).center().toPoint();
    }
    static std::optional<platform::IndexPath> rowOf(PointTableViewController& list, const PointPtr& point) {
        return list.content().indexPathOfPoint(point);
    }
    bool selectedOnMap(const PointPtr& point) const {
        const auto annotation = tervolo::mapscreen::QuovaMapPointAnnotation::forPoint(point);
        for (const auto& selected : screen_->mainMapView()->selectedAnnotations()) {
            if (selected == annotation) return true;
        }
        return false;
    }
    bool onMap(const PointPtr& point) const {
        const auto annotation = tervolo::mapscreen::QuovaMapPointAnnotation::forPoint(point);
        for (const auto& shown : screen_->mainMapView()->annotations()) {
            if (shown == annotation) return true;
        }
        return false;
    }
    QPushButton* alertButton(const std::string& title) const {
        const auto alert =
            std::dynamic_pointer_cast<platform::AlertController>(screen_->topMostViewController());
        if (!alert || !alert->isViewLoaded()) return nullptr;
        for (auto* button : alert->view()->findChildren<QPushButton*>()) {
            if (button->text().toStdString() == title) return button;
        }
        return nullptr;
    }

    // The point's details as a person opens them: chosen in the list, then its callout on the map.
    std::shared_ptr<tervolo::pointscreens::PointDetailsViewController> openDetails(const PointPtr& point) {
        const auto list = openList();
        if (!list) return nullptr;
        const auto row = rowOf(*list, point);
        if (!row) return nullptr;
        click(list->tableView()->viewport(), rowCentre(*list->tableView(), *row));
        settle();
        platform::MKCalloutView* callout = screen_->mapView()->calloutView();
        if (callout == nullptr || !callout->isVisible()) {
            ADD_FAILURE() << "no callout for the chosen point";
            return nullptr;
        }
        click(callout, QPoint(callout->width() / 2, (callout->height() - 10) / 2));
        const auto navigation = presentedNavigation();
        return navigation ? std::dynamic_pointer_cast<tervolo::pointscreens::PointDetailsViewController>(
                                navigation->topViewController())
                          : nullptr;
    }

    // The window as the screen shows it, the whole window at the screen's pixel ratio.
    QImage shownImage() const {
        return window_->screen()
            ->grabWindow(window_->winId(), 0, 0, window_->width(), window_->height())
            .toImage();
    }

    // What the window shows on the screen now (the offscreen screen hands back the window's own
    // backing store), against what `widget` draws when asked: a widget never painted shows what
    // lay there before.
    double shownDifference(QWidget* widget) {
        const QImage shown = shownImage().convertToFormat(QImage::Format_RGB32);
        const QRect area(widget->mapTo(window_.get(), QPoint(0, 0)), widget->size());
        const double ratio = shown.devicePixelRatio();
        const QImage part = shown.copy(QRect(area.topLeft() * ratio, area.size() * ratio))
                                .scaled(area.size())
                                .convertToFormat(QImage::Format_RGB32);
        const QImage drawn =
            widget->grab().toImage().scaled(area.size()).convertToFormat(QImage::Format_RGB32);
        long differing = 0;
        for (int y = 0; y < area.height(); ++y) {
            for (int x = 0; x < area.width(); ++x) {
                const QColor a = part.pixelColor(x, y), b = drawn.pixelColor(x, y);
                if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                        std::abs(a.blue() - b.blue()) >
                    60)
                    ++differing;
            }
        }
        return area.isEmpty() ? 1.0 : static_cast<double>(differing) / (area.width() * area.height());
    }
};

// Choosing a point in the list shows it on the map: its annotation selected,
// the map zoomed to it, the list gone.
TEST_F(ProgramScreens, ChoosingAPointInTheListZoomsToAndSelectsIt) {
    addPoint("Alpha", 60.10, 24.90);
    const auto bravo = addPoint("Bravo", 61.50, 23.80);
    open();
    const auto list = openList();
    ASSERT_NE(list, nullptr);
    const auto row = rowOf(*list, bravo);
    ASSERT_TRUE(row);
    const double widthBefore = screen_->mainMapView()->visibleMapRect().size.width;
    click(list->tableView()->viewport(), rowCentre(*list->tableView(), *row));

    EXPECT_EQ(screen_->presentedViewController(), nullptr);
    EXPECT_TRUE(selectedOnMap(bravo));
    const auto centre = screen_->mainMapView()->centerCoordinate();
    EXPECT_NEAR(centre.latitude, 61.50, 0.01);
    EXPECT_NEAR(centre.longitude, 23.80, 0.01);
    EXPECT_LT(screen_->mainMapView()->visibleMapRect().size.width, widthBefore / 100);
}

// The Undelete alert from the list: its buttons, Return and Escape each take
// their action. Undelete clears deletedAt in the file and puts the pin back;
// Cancel leaves the file deleted and the list open.
TEST_F(ProgramScreens, TheUndeleteAlertTakesItsActionsFromMouseAndKeys) {
    struct Case {
        const char* name;
        bool undelete;
        bool byKey;
    };
    const Case cases[] = {{"Undelete button", true, false},
                          {"Return", true, true},
                          {"Cancel button", false, false},
                          {"Escape", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const auto gone = addPoint("Ferry Pier", 60.16, 24.96, true);
        ASSERT_TRUE(gone->deletedAt());
        open();
        EXPECT_FALSE(onMap(gone));
        const auto list = openList();
        ASSERT_NE(list, nullptr);
        const auto row = rowOf(*list, gone);
        ASSERT_TRUE(row);
        click(list->tableView()->viewport(), rowCentre(*list->tableView(), *row));
        QPushButton* button = alertButton(c.undelete ? "Undelete" : "Cancel");
        ASSERT_NE(button, nullptr);
        if (c.byKey) {
            key(c.undelete ? Qt::Key_Return : Qt::Key_Escape);
        } else {
            // The press alone must not take the alert (nor the list) away.
            press(button, button->rect().center());
            ASSERT_NE(alertButton(c.undelete ? "Undelete" : "Cancel"), nullptr);
            release(button, button->rect().center());
        }
        EXPECT_EQ(std::dynamic_pointer_cast<platform::AlertController>(screen_->topMostViewController()),
                  nullptr);
        if (c.undelete) {
            EXPECT_FALSE(gone->deletedAt());
            EXPECT_EQ(fileText(gone).find("deletedAt"), std::string::npos) << fileText(gone);
            EXPECT_TRUE(onMap(gone));
            EXPECT_TRUE(selectedOnMap(gone));
            EXPECT_EQ(screen_->presentedViewController(), nullptr);
        } else {
            EXPECT_TRUE(gone->deletedAt());
            EXPECT_NE(fileText(gone).find("deletedAt"), std::string::npos);
            EXPECT_FALSE(onMap(gone));
            EXPECT_NE(presentedNavigation(), nullptr) << "the list closed with the alert";
        }
        TearDown();
    }
}

// Clicks inside a presented screen, or on what it presents, leave it open;
// a click outside closes it.
TEST_F(ProgramScreens, ClicksInsideAPresentedScreenKeepItOpen) {
    addPoint("Alpha", 60.10, 24.90);
    addPoint("Bravo", 61.50, 23.80);
    open();
    QWidget* map = screen_->mapView();

    // The list's own title.
    auto list = openList();
    ASSERT_NE(list, nullptr);
    auto* title = presentedNavigation()->navigationBar().findChild<QLabel*>("titleLabel");
    ASSERT_NE(title, nullptr);
    click(title);
    ASSERT_NE(presentedNavigation(), nullptr) << "a click on the list's title closed it";

    // The PDF preview over the list: its page, then Print, pressed and released.
    click(list->printButton());
    const auto previewNavigation =
        std::dynamic_pointer_cast<platform::NavigationController>(list->presentedViewController());
    ASSERT_NE(previewNavigation, nullptr);
    const auto preview = std::dynamic_pointer_cast<tervolo::pointscreens::PDFPreviewViewController>(
        previewNavigation->topViewController());
    ASSERT_NE(preview, nullptr);
    click(preview->pdfView()->viewport());
    EXPECT_EQ(list->presentedViewController(), previewNavigation) << "a click on the page closed the preview";
    EXPECT_NE(presentedNavigation(), nullptr);
    QWidget* print = preview->printButton()->view();
    ASSERT_NE(print, nullptr);
    press(print, print->rect().center());
    EXPECT_EQ(list->presentedViewController(), previewNavigation) << "the press on Print closed the preview";
    release(print, print->rect().center());
    ASSERT_NE(preview->lastPrintInteraction(), nullptr);
    const QPointer<QWidget> dialog = preview->lastPrintInteraction()->dialog();
    ASSERT_NE(qobject_cast<QPrintDialog*>(dialog.data()), nullptr);
    EXPECT_TRUE(dialog->isVisible());
    QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
    settle();
    EXPECT_EQ(dialog, nullptr);
    EXPECT_EQ(list->presentedViewController(), previewNavigation);

    // Escape closes the preview, back to the list; a click outside it (the map) closes the list.
    key(Qt::Key_Escape);
    EXPECT_EQ(list->presentedViewController(), nullptr);
    ASSERT_NE(presentedNavigation(), nullptr);
    click(map, QPoint(20, map->height() - 20));
    EXPECT_EQ(screen_->presentedViewController(), nullptr);

    // About: its imprint and copyright lines open the maker's page; an empty
    // part of it does nothing; the map closes it.
    platform::OpenURLRecorder opened;
    click(screen_->mapButton(MainViewController::MapButton::info));
    const auto aboutNavigation = presentedNavigation();
    ASSERT_NE(aboutNavigation, nullptr);
    const auto about =
        std::dynamic_pointer_cast<tervolo::shell::InfoViewController>(aboutNavigation->topViewController());
    ASSERT_NE(about, nullptr);
    for (QLabel* line : {about->imprintLabel(), about->appCopyLabel()}) {
        press(line, line->rect().center());
        EXPECT_EQ(presentedNavigation(), aboutNavigation);
        release(line, line->rect().center());
        EXPECT_EQ(presentedNavigation(), aboutNavigation);
    }
    EXPECT_EQ(opened.urls().size(), 2u);
    if (opened.urls().size() == 2u) {
        EXPECT_EQ(opened.urls()[0], opened.urls()[1]);
    }
    QWidget* aboutView = about->view();
    QPoint empty(-1, -1);
    for (int y = aboutView->height() - 2; y > 0 && empty.x() < 0; y -= 4) {
        for (int x = 2; x < aboutView->width(); x += 4) {
            // Nothing there but the screen's plain containers.
            const QWidget* hit = aboutView->childAt(x, y);
            if (hit == nullptr || std::string(hit->metaObject()->className()) == "QWidget") {
                empty = QPoint(x, y);
                break;
            }
        }
    }
    ASSERT_GE(empty.x(), 0);
    click(aboutView, empty);
    EXPECT_EQ(presentedNavigation(), aboutNavigation) << "a click on an empty part of About closed it";
    click(map, QPoint(20, map->height() - 20));
    EXPECT_EQ(screen_->presentedViewController(), nullptr);
}

// The keyboard in the list: Down moves a visible highlight and chooses
// nothing, Return chooses, Delete asks before deleting, Escape closes; after
// the list closes the keys are the map's again.
TEST_F(ProgramScreens, TheListAnswersTheKeyboardAndGivesTheKeysBackToTheMap) {
    const auto alpha = addPoint("Alpha", 60.10, 24.90);
    const auto bravo = addPoint("Bravo", 61.50, 23.80);
    open();
    auto list = openList();
    ASSERT_NE(list, nullptr);
    platform::TableView* table = list->tableView();
    key(Qt::Key_Down);
    ASSERT_NE(presentedNavigation(), nullptr) << "Down closed the list";
    EXPECT_EQ(table->indexPathForSelectedRow(), list->content().indexPathOfPoint(alpha));
    ASSERT_NE(table->cellForRow({0, 0}), nullptr);
    EXPECT_TRUE(table->cellForRow({0, 0})->isSelected());
    key(Qt::Key_Down);
    EXPECT_EQ(table->indexPathForSelectedRow(), list->content().indexPathOfPoint(bravo));
    key(Qt::Key_Return);
    EXPECT_EQ(screen_->presentedViewController(), nullptr);
    EXPECT_TRUE(selectedOnMap(bravo));

    // The map has the keys: + zooms in.
    EXPECT_EQ(QApplication::focusWidget(), screen_->mapView());
    const double width = screen_->mainMapView()->visibleMapRect().size.width;
    key(Qt::Key_Plus);
    EXPECT_NEAR(screen_->mainMapView()->visibleMapRect().size.width, width / 2, width * 0.01);

    // Escape closes the list; the map keeps the keys.
    ASSERT_NE(openList(), nullptr);
    key(Qt::Key_Escape);
    EXPECT_EQ(screen_->presentedViewController(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), screen_->mapView());

    // Delete asks first; the confirmation deletes the highlighted point.
    list = openList();
    ASSERT_NE(list, nullptr);
    key(Qt::Key_Down);
    key(Qt::Key_Delete);
    EXPECT_FALSE(alpha->deletedAt());
    auto* confirmation = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(confirmation, nullptr);
    QTest::keyClick(confirmation, Qt::Key_Return);
    settle();
    EXPECT_TRUE(alpha->deletedAt());
    EXPECT_NE(fileText(alpha).find("deletedAt"), std::string::npos);
    EXPECT_NE(presentedNavigation(), nullptr);
}

// A chip's remove button takes the tag off the point: the chip goes, the
// screen turns to editing, the tag is offered again, and Save writes the point
// without it.
TEST_F(ProgramScreens, AChipsRemoveButtonTakesTheTagOffThePoint) {
    const auto bar = addTag("Bar", "FF2D55FF");
    const auto sights = addTag("Sights", "34C759FF");
    const auto point =
        addPoint("Harbour", 60.16, 24.95, false, std::vector<std::string>{bar->uuid(), sights->uuid()});
    open();
    const auto details = openDetails(point);
    ASSERT_NE(details, nullptr);
    auto chips = details->tagFlowView()->allTags();
    ASSERT_EQ(chips.size(), 2u);
    tervolo::widgets::taglist::TagView* barChip = chips[0]->title() == "Bar" ? chips[0] : chips[1];
    QWidget* remove = barChip->removeButton();
    ASSERT_NE(remove, nullptr);
    ASSERT_TRUE(remove->isVisible()) << "the chip shows no remove button";
    ASSERT_TRUE(barChip->rect().contains(remove->geometry().center()));
    click(remove);
    EXPECT_EQ(details->tagFlowView()->allTagTitles(), std::vector<QString>{"Sights"});
    EXPECT_EQ(details->title(), "Edit Point Details");
    EXPECT_EQ(details->tagsForTagTable().size(), 1u);  // Bar is offered again
    // Nothing is written before Save.
    EXPECT_NE(fileText(point).find(bar->uuid()), std::string::npos);
    QWidget* save = details->navigationItem().rightBarButtonItem()->view();
    ASSERT_NE(save, nullptr);
    click(save);
    EXPECT_EQ(screen_->presentedViewController(), nullptr);
    EXPECT_EQ(point->tags(),
              std::optional<std::vector<std::string>>(std::vector<std::string>{sights->uuid()}));
    EXPECT_EQ(fileText(point).find(bar->uuid()), std::string::npos) << fileText(point);
    EXPECT_NE(fileText(point).find(sights->uuid()), std::string::npos);
}

// The tag editor's table of stored tags is drawn where it stands: on the
// screen the rows look as the table draws them, at 1x and 2x.
TEST_F(ProgramScreens, TheTagEditorsTableIsDrawnOnTheScreen) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        SetUp();
        QApplication::setPalette(dark ? tervolo::testsupport::darkScreenshotPalette() : QPalette());
        addTag("Bar", "FF2D55FF");
        addTag("Cinema", "5856D6FF");
        addTag("MustSee", "AF52DEFF");
        const auto point = addPoint("Harbour", 60.16, 24.95);
        open();
        const auto details = openDetails(point);
        ASSERT_NE(details, nullptr);
        click(details->addTagButton());
        platform::TableView* table = details->tagTableView();
        ASSERT_TRUE(table->isVisible());
        ASSERT_EQ(table->numberOfRows(0), 3);
        EXPECT_LT(shownDifference(table), 0.02);
        // A click on a row picks its tag.
        click(table->viewport(), rowCentre(*table, {0, 1}));
        EXPECT_EQ(details->tagFlowView()->allTagTitles(), std::vector<QString>{"Cinema"});
        QApplication::setPalette(QPalette());
        TearDown();
    }
}

// Screenshots for a person to look at, light and dark: the details screen
// with removable chips, the tag editor with its rows, the print dialog over
// the PDF preview (the dialog is a window of its own, drawn over the main one
// where it stands).
TEST_F(ProgramScreens, ScreenshotsOfChipsTagEditorAndPrintDialog) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        SetUp();
        QApplication::setPalette(dark ? tervolo::testsupport::darkScreenshotPalette() : QPalette());
        const QString suffix = dark ? QStringLiteral("-dark") : QStringLiteral("-light");
        const auto bar = addTag("Bar", "FF2D55FF");
        const auto sights = addTag("Sights", "34C759FF");
        addTag("Cinema", "5856D6FF");
        addTag("\xE6\x9D\xB1\xE4\xBA\xAC\xE3\x82\xBF\xE3\x83\xAF\xE3\x83\xBC", "30B0C7FF");  // 東京タワー
        const auto point =
            addPoint("Harbour", 60.16, 24.95, false, std::vector<std::string>{bar->uuid(), sights->uuid()});
        addPoint("Rock Church", 60.17, 24.93);
        open();
        const auto details = openDetails(point);
        ASSERT_NE(details, nullptr);
        const auto shot = [this](const QString& name) {
            tervolo::testsupport::saveScreenshot(shownImage(), TERVOLO_SCREENSHOT_DIR, name);
        };
        shot("program-details-chips" + suffix);
        click(details->addTagButton());
        shot("program-tag-editor" + suffix);
        key(Qt::Key_Escape);
        ASSERT_EQ(screen_->presentedViewController(), nullptr);

        const auto list = openList();
        ASSERT_NE(list, nullptr);
        click(list->printButton());
        const auto previewNavigation =
            std::dynamic_pointer_cast<platform::NavigationController>(list->presentedViewController());
        ASSERT_NE(previewNavigation, nullptr);
        const auto preview = std::dynamic_pointer_cast<tervolo::pointscreens::PDFPreviewViewController>(
            previewNavigation->topViewController());
        ASSERT_NE(preview, nullptr);
        click(preview->printButton()->view());
        ASSERT_NE(preview->lastPrintInteraction(), nullptr);
        const QPointer<QWidget> dialog = preview->lastPrintInteraction()->dialog();
        ASSERT_NE(dialog, nullptr);
        QImage composed = shownImage();
        {
            QPainter painter(&composed);
            const QImage drawnDialog = dialog->grab().toImage();
            const QPoint at = window_->mapFromGlobal(dialog->mapToGlobal(QPoint(0, 0)));
            painter.drawImage(QRect(at, dialog->size()), drawnDialog);
        }
        tervolo::testsupport::saveScreenshot(composed, TERVOLO_SCREENSHOT_DIR,
                                             "program-print-dialog" + suffix);
        QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
        settle();
        QApplication::setPalette(QPalette());
        TearDown();
    }
}

}  // namespace
