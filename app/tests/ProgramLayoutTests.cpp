// The screens above the map as the program composes them, in windows of any
// size: what each screen shows stays inside its sheet and its sheet inside the
// window, whatever size the window had when the sheet came and whatever it has
// now. Driven as a person does: clicks delivered to the shown window at the
// widgets' places, and window resizes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWindow>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Program.hpp"
#include "app/tests/MapScreenWindow.hpp"
#include "app/tests/ProgramWindowTest.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMKMapView.hpp"
#include "mapscreen/SearchButton.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/qt/MKCalloutView.hpp"
#include "platform/ui/ActivityIndicator.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/TextView.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PointDetailsViewController.hpp"
#include "pointscreens/PointTableViewController.hpp"
#include "shell/InfoViewController.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/location/ScriptedPositionSource.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"
#include "widgets/taglist/TagFlowView.hpp"
#include "widgets/taglist/TagView.hpp"

namespace tervolo::app::layouttests {

using mapscreen::MainViewController;
using points::QuovaMapPoint;
using points::QuovaMapPointStore;
using pointscreens::PointDetailsViewController;
using pointscreens::PointTableViewController;

class ProgramLayout : public programtests::ProgramWindowTest {
  protected:
    void TearDown() override {
        ProgramWindowTest::TearDown();
        QApplication::setPalette(QPalette());
    }

    // As the program sets the window up: the map shows the user's position once one comes.
    void setUpWindow(platform::MainWindow& window) override { configureMainWindow(window); }

    void resize(QSize size) {
        window_->resize(size);
        settle();
    }

    std::shared_ptr<PointDetailsViewController> openDetails(const std::shared_ptr<QuovaMapPoint>& point) {
        click(screen_->mapButton(MainViewController::MapButton::points));
        auto navigation = presentedNavigation();
        auto list = navigation
                        ? std::dynamic_pointer_cast<PointTableViewController>(navigation->topViewController())
                        : nullptr;
        if (!list) return nullptr;
        list->tableView()->layoutRows();
        const auto row = list->content().indexPathOfPoint(point);
        if (!row) return nullptr;
        platform::TableView& table = *list->tableView();
        click(table.viewport(),
              table.rectForRow(*row).translated(0, -table.contentOffset()).center().toPoint());
        platform::MKCalloutView* callout = screen_->mapView()->calloutView();
        if (callout == nullptr || !callout->isVisible()) return nullptr;
        click(callout, QPoint(callout->width() / 2, (callout->height() - 10) / 2));
        navigation = presentedNavigation();
        return navigation
                   ? std::dynamic_pointer_cast<PointDetailsViewController>(navigation->topViewController())
                   : nullptr;
    }

    // The window as shown. The offscreen screen keeps the window's backing store at one pixel a point
    // whatever the scale factor, so at a higher ratio the window is drawn afresh at that ratio.
    QImage shownImage() const {
        if (window_->devicePixelRatio() != 1.0) return window_->grab().toImage();
        return window_->screen()
            ->grabWindow(window_->winId(), 0, 0, window_->width(), window_->height())
            .toImage();
    }
    QRect inWindow(const QWidget* widget) const {
        return QRect(widget->mapTo(window_.get(), QPoint(0, 0)), widget->size());
    }
};

// `widget`'s rect in the window.
QRect rectIn(const QWidget* widget, const QWidget* window) {
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

// The part of `widget` a person sees: clipped by every ancestor up to the window (a scroll area's
// viewport, a sheet's card).
QRect visibleRect(const QWidget* widget, const QWidget* window) {
    QRect visible = rectIn(widget, window);
    for (const QWidget* up = widget->parentWidget(); up != nullptr && up != window; up = up->parentWidget())
        visible &= rectIn(up, window);
    return visible;
}

// Whether a click at `point` (window coordinates) reaches `widget` or something inside it.
bool clickReaches(QWidget* window, QPoint point, const QWidget* widget) {
    QWidget* hit = window->childAt(point);
    return hit != nullptr && (hit == widget || widget->isAncestorOf(hit));
}

QString themed(const QString& name, bool dark, const QWidget& window) {
    return name + (dark ? "-dark" : "-light") + (window.devicePixelRatio() > 1.0 ? "@2x" : "");
}

QWidget* sheetCard(QWidget* window) {
    return window->findChild<QWidget*>("presentationCard");
}

// The tag editor in small windows: after "+" its field and every row of its table are on screen
// inside the sheet, not under the small map or the date line, and a click on them reaches them.
// Growing the window afterwards keeps "+" working. The sheet scrolls what it cannot show.
TEST_F(ProgramLayout, TheTagEditorOpensOnScreenInSmallWindows) {
    for (const bool dark : {false, true}) {
        for (const QSize size : {QSize(640, 480), QSize(800, 600)}) {
            SCOPED_TRACE(std::string(dark ? "dark " : "light ") + std::to_string(size.width()));
            SetUp();
            if (dark) QApplication::setPalette(testsupport::darkDesktopPalette());
            addTag("Bar", "FF2D55FF");
            addTag("Cinema", "5856D6FF");
            addTag("MustSee", "AF52DEFF");
            const auto point = addPoint("Harbour", 60.16, 24.95);
            open(size);
            const auto details = openDetails(point);
            ASSERT_NE(details, nullptr);
            QWidget* window = window_.get();
            QWidget* field = details->editTagTextField();
            platform::TableView* table = details->tagTableView();
            QWidget* map = details->bottomStackWidget();
            click(details->addTagButton());
            ASSERT_TRUE(field->isVisible());
            ASSERT_TRUE(table->isVisible());
            ASSERT_EQ(table->numberOfRows(0), 3);
            testsupport::saveScreenshot(
                shownImage(), TERVOLO_SCREENSHOT_DIR,
                themed(QStringLiteral("layout-tag-editor-%1x%2").arg(size.width()).arg(size.height()), dark,
                       *window));

            // Each part at its full size (nothing squeezed), and apart from the map below.
            EXPECT_GE(field->height(), field->minimumSizeHint().height());
            EXPECT_EQ(table->height(), 3 * 40);
            EXPECT_FALSE(rectIn(table, window).intersects(rectIn(map, window)));
            EXPECT_FALSE(rectIn(details->editTagStackView(), window).intersects(rectIn(table, window)));
            // The whole field is in sight, without scrolling, and takes the click.
            const QRect fieldShown = visibleRect(field, window);
            ASSERT_EQ(fieldShown, rectIn(field, window));
            EXPECT_TRUE(clickReaches(window, fieldShown.center(), field));
            // Every row, scrolled into sight as a person would, is the table's to click.
            QScrollArea* scroll = details->scrollArea();
            ASSERT_NE(scroll, nullptr);
            for (int row = 0; row < 3; ++row) {
                SCOPED_TRACE(row);
                const QRectF rowRect = table->rectForRow({0, row}).translated(0, -table->contentOffset());
                const QPoint rowCentre =
                    table->viewport()->mapTo(scroll->widget(), rowRect.center().toPoint());
                scroll->ensureVisible(rowCentre.x(), rowCentre.y(), 0, 30);
                settle();
                const QPoint inWindowCentre = table->viewport()->mapTo(window, rowRect.center().toPoint());
                EXPECT_TRUE(visibleRect(table->viewport(), window).contains(inWindowCentre));
                EXPECT_TRUE(clickReaches(window, inWindowCentre, table->viewport()));
            }

            // Closed, the window grown: "+" opens the editor again, on screen.
            click(details->cancelEditTagButton());
            ASSERT_FALSE(table->isVisible());
            resize(size + QSize(400, 300));
            QWidget* plus = details->addTagButton();
            scroll->ensureWidgetVisible(plus);
            settle();
            click(plus);
            EXPECT_TRUE(field->isVisible());
            EXPECT_TRUE(table->isVisible());
            EXPECT_FALSE(visibleRect(field, window).isEmpty());
            TearDown();
        }
    }
}

// A sheet sized by the map screen (the details, half its width by two thirds of its height) and the
// About panel follow the window as it grows and as it shrinks.
TEST_F(ProgramLayout, ASheetFollowsTheWindowBothWays) {
    const auto point = addPoint("Harbour", 60.16, 24.95);
    open(QSize(800, 600));
    const auto details = openDetails(point);
    ASSERT_NE(details, nullptr);
    QWidget* card = sheetCard(window_.get());
    ASSERT_NE(card, nullptr);
    QWidget* screenView = screen_->view();
    const auto expectFollows = [&](const char* when) {
        SCOPED_TRACE(when);
        const QSize view = screenView->size();
        // The card holds the navigation controller and a one-point border around it.
        EXPECT_NEAR(card->width(), view.width() / 2.0 + 2, 1.5);
        EXPECT_NEAR(card->height(), view.height() * 2.0 / 3.0 + 2, 1.5);
        EXPECT_TRUE(rectIn(screenView, window_.get()).contains(rectIn(card, window_.get())));
    };
    expectFollows("at first");
    const QSize first = card->size();
    resize(QSize(1400, 1000));
    expectFollows("grown");
    EXPECT_GT(card->width(), first.width());
    resize(QSize(640, 480));
    expectFollows("shrunk");
    EXPECT_LT(card->height(), first.height());
    // Closed and opened again in the small window: the same rule.
    click(details->navigationItem().rightBarButtonItem()->view());
    ASSERT_EQ(screen_->presentedViewController(), nullptr);
    const auto again = openDetails(point);
    ASSERT_NE(again, nullptr);
    card = sheetCard(window_.get());
    ASSERT_NE(card, nullptr);
    expectFollows("opened small");

    // About, a panel beside its button, as wide as half the screen whatever the window did since.
    click(again->navigationItem().rightBarButtonItem()->view());
    ASSERT_EQ(screen_->presentedViewController(), nullptr);
    click(screen_->mapButton(MainViewController::MapButton::info));
    auto* panel = window_->findChild<QWidget*>("presentationOverlay");
    ASSERT_NE(panel, nullptr);
    resize(QSize(1280, 800));
    EXPECT_NEAR(panel->width(), screenView->width() / 2.0 + 2, 1.5);
    resize(QSize(800, 600));
    EXPECT_NEAR(panel->width(), screenView->width() / 2.0 + 2, 1.5);
}

// The details sheet in small windows: the small map keeps its height and the date line shows its
// whole text (what it needs at its width is what it has); what does not fit scrolls. The small
// map's credit stays clear of its other lines however narrow the sheet.
TEST_F(ProgramLayout, TheDetailsSheetShowsItsDatesWholeInASmallWindow) {
    for (const bool dark : {false, true}) {
        for (const QSize size : {QSize(640, 480), QSize(560, 420), QSize(500, 360)}) {
            SCOPED_TRACE(std::string(dark ? "dark " : "light ") + std::to_string(size.width()));
            SetUp();
            if (dark) QApplication::setPalette(testsupport::darkDesktopPalette());
            const auto point = addPoint("Harbour", 60.16, 24.95);
            open(size);
            const auto details = openDetails(point);
            ASSERT_NE(details, nullptr);
            settle();
            testsupport::saveScreenshot(
                shownImage(), TERVOLO_SCREENSHOT_DIR,
                themed(QStringLiteral("layout-details-%1x%2").arg(size.width()).arg(size.height()), dark,
                       *window_));
            platform::TextView* dates = details->pointInfoTextView();
            ASSERT_NE(dates, nullptr);
            EXPECT_TRUE(dates->text().endsWith('.')) << dates->text().toStdString();
            // The line holds its whole text at its width...
            EXPECT_LE(dates->heightThatFits(dates->width()), dates->height() + 0.5);
            EXPECT_TRUE(
                rectIn(details->bottomStackWidget(), window_.get()).contains(rectIn(dates, window_.get())));
            // ...and, scrolled to the end (where it stands), the sheet shows all of it.
            ASSERT_NE(details->scrollArea(), nullptr);
            QScrollBar* bar = details->scrollArea()->verticalScrollBar();
            bar->setValue(bar->maximum());
            settle();
            EXPECT_EQ(visibleRect(dates, window_.get()), rectIn(dates, window_.get()));
            testsupport::saveScreenshot(
                shownImage(), TERVOLO_SCREENSHOT_DIR,
                themed(QStringLiteral("layout-details-%1x%2-dates").arg(size.width()).arg(size.height()),
                       dark, *window_));
            EXPECT_GE(details->map()->height(), details->map()->minimumHeight());
            // The small map's data credit covers none of its other lines (its name, its scale).
            const QWidget* credit = details->map()->findSubview(QStringLiteral("MKAttributionLabel"));
            ASSERT_NE(credit, nullptr);
            ASSERT_TRUE(credit->isVisible());
            for (const char* other : {"MKAppleLogoImageView", "MKScaleView"}) {
                const QWidget* line = details->map()->findSubview(QString::fromLatin1(other));
                if (line == nullptr || !line->isVisible()) continue;
                EXPECT_FALSE(rectIn(credit, window_.get()).intersects(rectIn(line, window_.get())))
                    << "the credit covers " << other;
            }
            EXPECT_TRUE(rectIn(details->bottomStackWidget(), window_.get())
                            .contains(rectIn(details->map(), window_.get())));
            TearDown();
        }
    }
}

// Panels from the button column open beside it: About covers none of its buttons, at any size.
TEST_F(ProgramLayout, AboutStandsBesideTheButtonColumn) {
    for (const QSize size : {QSize(640, 480), QSize(1280, 800)}) {
        SCOPED_TRACE(size.width());
        SetUp();
        open(size);
        click(screen_->mapButton(MainViewController::MapButton::info));
        ASSERT_NE(presentedNavigation(), nullptr);
        auto* panel = window_->findChild<QWidget*>("presentationOverlay");
        ASSERT_NE(panel, nullptr);
        const QRect shown = rectIn(panel, window_.get());
        for (int i = 0; i < static_cast<int>(MainViewController::MapButton::info) + 1; ++i) {
            QWidget* button = screen_->mapButton(static_cast<MainViewController::MapButton>(i));
            if (button == nullptr || !button->isVisible()) continue;
            EXPECT_FALSE(shown.intersects(rectIn(button, window_.get())))
                << button->objectName().toStdString();
        }
        EXPECT_TRUE(rectIn(screen_->view(), window_.get()).contains(shown));
        testsupport::saveScreenshot(
            shownImage(), TERVOLO_SCREENSHOT_DIR,
            themed(QStringLiteral("layout-about-%1x%2").arg(size.width()).arg(size.height()), false,
                   *window_));
        TearDown();
    }
}

// The search spinner turns inside the field it belongs to.
TEST_F(ProgramLayout, TheSearchSpinnerStandsInsideTheField) {
    for (const QSize size : {QSize(640, 480), QSize(1280, 800)}) {
        SCOPED_TRACE(size.width());
        SetUp();
        open(size);
        click(screen_->searchButton());
        click(screen_->searchBar());
        for (char c : std::string("Harb")) QTest::keyClick(window_->windowHandle(), c);
        settle();
        auto* spinner = static_cast<QWidget*>(screen_->spinner());
        ASSERT_TRUE(spinner->isVisible());
        EXPECT_TRUE(rectIn(screen_->searchBar(), window_.get()).contains(rectIn(spinner, window_.get())));
        // Not over the typed text.
        EXPECT_GE(spinner->geometry().left(), screen_->searchBar()->geometry().right() - 60);
        TearDown();
    }
}

// The colour sheet hugs the picker: no empty bands above and below its fields in a large window, and
// it stays inside a small one.
TEST_F(ProgramLayout, TheColourSheetHugsThePicker) {
    for (const QSize size : {QSize(640, 480), QSize(1280, 800)}) {
        SCOPED_TRACE(size.width());
        SetUp();
        const auto bar = addTag("Bar", "FF2D55FF");
        const auto point = addPoint("Harbour", 60.16, 24.95, false, std::vector<std::string>{bar->uuid()});
        open(size);
        const auto details = openDetails(point);
        ASSERT_NE(details, nullptr);
        auto chips = details->tagFlowView()->allTags();
        ASSERT_EQ(chips.size(), 1u);
        click(chips[0], QPoint(10, chips[0]->height() / 2));
        ASSERT_NE(details->colorPickerPopupController(), nullptr);
        auto* dialog = window_->findChild<QColorDialog*>("colorDialog");
        ASSERT_NE(dialog, nullptr);
        auto* scroll = window_->findChild<QScrollArea*>("colorDialogScrollArea");
        ASSERT_NE(scroll, nullptr);
        const QRect area = visibleRect(scroll->viewport(), window_.get());
        EXPECT_TRUE(rectIn(window_->contentView(), window_.get()).contains(area));
        // As tall as the fields, or smaller (then they scroll); never taller.
        EXPECT_LE(area.height(), dialog->sizeHint().height() + 2);
        if (area.height() < dialog->minimumSizeHint().height()) {
            EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
        }
        testsupport::saveScreenshot(
            shownImage(), TERVOLO_SCREENSHOT_DIR,
            themed(QStringLiteral("layout-colour-%1x%2").arg(size.width()).arg(size.height()), false,
                   *window_));
        details->colorPickerPopupController()->dismiss();
        settle();
        TearDown();
    }
}

// In a dark theme: the share symbol of the "My Position" callout stands out from the callout (3:1 at
// least, measured off the screen), and the "My Location" sheet's title has the colour of the other
// sheets' titles.
TEST_F(ProgramLayout, DarkThemeCalloutSymbolAndSheetTitleRead) {
    QApplication::setPalette(testsupport::darkDesktopPalette());
    testsupport::ScriptedPositionSources sources;
    const auto point = addPoint("Harbour", 60.16, 24.95);
    open(QSize(1024, 700));

    // The details sheet's title, for comparison.
    const auto details = openDetails(point);
    ASSERT_NE(details, nullptr);
    auto* detailsTitle = presentedNavigation()->navigationBar().findChild<QLabel*>("titleLabel");
    ASSERT_NE(detailsTitle, nullptr);
    const QColor otherTitle = detailsTitle->palette().color(QPalette::WindowText);
    click(details->navigationItem().rightBarButtonItem()->view());
    ASSERT_EQ(screen_->presentedViewController(), nullptr);

    ASSERT_FALSE(sources.made().empty());
    tests::allowAndDeliverPosition(sources, platform::CLLocation(60.185, 24.90), [this] { settle(); });
    const auto mine = tests::userLocationPoint(*screen_);
    ASSERT_TRUE(mine);
    click(screen_->mapView(), *mine);
    QWidget* share = tests::calloutButton(*screen_, "userLocationShareButton");
    QWidget* gear = tests::calloutButton(*screen_, "userLocationSettingsButton");
    ASSERT_NE(share, nullptr);
    ASSERT_NE(gear, nullptr);
    ASSERT_TRUE(share->isVisible());
    const QImage shown = shownImage();
    testsupport::saveScreenshot(shown, TERVOLO_SCREENSHOT_DIR, themed("layout-user-callout", true, *window_));
    // The callout's fill beside the symbol, read off the screen.
    const QRect symbolRect = rectIn(share, window_.get());
    const double ratio = shown.devicePixelRatio();
    const QColor fill =
        shown.pixelColor((QPointF(symbolRect.left() - 3, symbolRect.center().y()) * ratio).toPoint());
    EXPECT_GE(testsupport::strongestContrast(shown, QRectF(symbolRect), fill), 3.0);

    click(gear);
    const auto settings = presentedNavigation();
    ASSERT_NE(settings, nullptr);
    auto* title = settings->navigationBar().findChild<QLabel*>("titleLabel");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), "My Location");
    EXPECT_EQ(title->palette().color(QPalette::WindowText), otherTitle);
    testsupport::saveScreenshot(shownImage(), TERVOLO_SCREENSHOT_DIR,
                                themed("layout-my-location", true, *window_));
}

}  // namespace tervolo::app::layouttests
