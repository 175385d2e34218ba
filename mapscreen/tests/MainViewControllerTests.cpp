#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mapscreen/CenterButton.hpp"
#include "mapscreen/InfoLayerKey.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/StyleKitButton.hpp"
#include "mapscreen/TervoloButtonKit.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/LongPressGestureRecognizer.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/FakeDesktopApplications.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/logging/LogRecorder.hpp"
#include "testsupport/mapscreen/MapScreenFixture.hpp"

using tervolo::mapscreen::MainViewController;
using tervolo::testsupport::MapScreenFixture;
using MapButton = MainViewController::MapButton;

namespace {

class MainViewControllerTest : public widgetkit_test::WidgetTest {
  protected:
    void TearDown() override {
        controller_.reset();
        fixture_.reset();
        platform::RunLoop::runUntilIdle();
        widgetkit_test::WidgetTest::TearDown();
    }

    std::shared_ptr<MainViewController> show(QSize size = QSize(1280, 800)) {
        controller_ = fixture_->showInWindow(size);
        platform::RunLoop::runUntilIdle();
        return controller_;
    }
    void advance(double seconds) {
        environment_.advance(seconds);
        platform::RunLoop::runUntilIdle();
    }

    tervolo::testsupport::TestEnvironment environment_;
    std::unique_ptr<MapScreenFixture> fixture_ = std::make_unique<MapScreenFixture>();
    std::shared_ptr<MainViewController> controller_;
};

bool contains(const std::vector<std::string>& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

// ---- Loading and appearing

TEST_F(MainViewControllerTest, LoadsInOrderAndHandsTheSearchControllerItsWidgets) {
    auto screen = show();
    EXPECT_EQ(fixture_->steps,
              (std::vector<std::string>{"installToolbarDelegate", "bindPlugIn", "authorizationStatus",
                                        "makeSearchController", "loadVersionInfo"}));
    EXPECT_TRUE(screen->initializationDone());
    ASSERT_NE(screen->mapView(), nullptr);
    EXPECT_FALSE(screen->mapView()->showsScale());
    EXPECT_TRUE(screen->mapView()->showsUserLocation());
    EXPECT_EQ(screen->mapView()->delegate().get(), static_cast<platform::MKMapViewDelegate*>(screen.get()));
    // The status label starts hidden; its own alpha is what it fades in to.
    EXPECT_TRUE(screen->statusLabel()->isHidden());
    EXPECT_DOUBLE_EQ(screen->statusLabelMaxAlpha(), platform::alpha(screen->statusLabel()));
    EXPECT_EQ(screen->retinaShiftLevel(), 2);

    const auto& search = fixture_->searchController;
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(screen->searchController(), search);
    EXPECT_EQ(search->searchBar(), screen->searchBar());
    EXPECT_EQ(search->tableView(), screen->searchTable());
    EXPECT_EQ(search->spinner(), screen->spinner());
    EXPECT_EQ(search->heightConstraint(), screen->searchTableHeight());
    EXPECT_EQ(search->parent(), screen.get());
    EXPECT_TRUE(screen->searchBar()->isHidden());
    EXPECT_DOUBLE_EQ(platform::alpha(screen->searchBar()), 0.0);
    EXPECT_TRUE(screen->searchTable()->isHidden());

    // Half-transparent credit text on a clear background.
    const QColor credit = screen->osmCreditLabel()->textColor();
    EXPECT_NEAR(credit.alphaF(), 0.5, 0.01);
    EXPECT_DOUBLE_EQ(screen->osmCreditLabel()->palette().color(QPalette::Window).alphaF(), 0.0);
}

TEST_F(MainViewControllerTest, ShowsTheUserLocationOnlyWhenAuthorised) {
    struct Case {
        platform::CLAuthorizationStatus status;
        bool shows;
    };
    const Case cases[] = {{platform::CLAuthorizationStatus::notDetermined, false},
                          {platform::CLAuthorizationStatus::restricted, false},
                          {platform::CLAuthorizationStatus::denied, false},
                          {platform::CLAuthorizationStatus::authorizedAlways, true},
                          {platform::CLAuthorizationStatus::authorizedWhenInUse, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        MapScreenFixture fixture;
        fixture.authorization = c.status;
        auto screen = fixture.makeController();
        screen->view();
        EXPECT_EQ(screen->mapView()->showsUserLocation(), c.shows);
    }
}

TEST_F(MainViewControllerTest, LogsTheRetinaFixLevelOnlyWhenItIsAnInteger) {
    struct Case {
        std::optional<platform::PropertyValue> stored;
        std::string line;
    };
    const Case cases[] = {{platform::PropertyValue(4), "found retinaFixLevel 4 in Defaults"},
                          {platform::PropertyValue("4"), "no retinaFixLevel found in Defaults"},
                          {std::nullopt, "no retinaFixLevel found in Defaults"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        if (c.stored) {
            platform::UserDefaults::standard().set("retinaFixLevel", *c.stored);
        } else {
            platform::UserDefaults::standard().remove("retinaFixLevel");
        }
        tervolo::testsupport::SharedLogRecording log;
        auto screen = fixture_->makeController();
        screen->view();
        EXPECT_TRUE(contains(log.texts(), c.line));
        EXPECT_EQ(screen->retinaShiftLevel(), 2);
    }
}

TEST_F(MainViewControllerTest, TwoAppearancesMakeOneTimerAndTwoVersionChecks) {
    auto screen = show();
    const auto timer = screen->statusTimer();
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isValid());
    fixture_->window()->hide();
    QApplication::processEvents();
    fixture_->window()->show();
    QApplication::processEvents();
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(fixture_->versionLoads, 2);
    EXPECT_EQ(screen->statusTimer(), timer);
}

TEST_F(MainViewControllerTest, ShowsTheDebugTextOnlyWhenTheDefaultSaysSo) {
    for (const bool shown : {false, true}) {
        SCOPED_TRACE(shown);
        platform::UserDefaults::standard().set("shouldShowTileDebugInfo", shown);
        MapScreenFixture fixture;
        auto screen = fixture.showInWindow();
        EXPECT_EQ(screen->debugTextView()->isHidden(), !shown);
    }
}

// A screen whose view lacks the optional outlets, as a layout without them would.
class ScreenWithoutOutlets : public MainViewController {
  public:
    using MainViewController::MainViewController;
    void loadView() override {
        MainViewController::loadView();
        setMapView(nullptr);
        setStatusLabel(nullptr);
        setOsmCreditLabel(nullptr);
        setDebugTextView(nullptr);
        setSearchBar(nullptr);
        setSearchTable(nullptr);
        setSpinner(nullptr);
        setScaleView(nullptr);
        setSearchBarHeight(nullptr);
        setSearchBarWidth(nullptr);
        setMapTrailingMargin(nullptr);
        setMapSidecontainerMargin(nullptr);
        setScaleBottomSpacing(nullptr);
        setScaleViewCenterX(nullptr);
    }
};

TEST_F(MainViewControllerTest, SkipsWhatNeedsAMissingOutlet) {
    fixture_->tileStatus = "downloading 3 tiles";
    fixture_->idiom = platform::TraitCollection::UserInterfaceIdiom::phone;
    auto screen = std::make_shared<ScreenWithoutOutlets>(fixture_->services());
    platform::MainWindow window;
    window.setRootViewController(screen);
    window.resize(900, 700);
    window.show();
    QApplication::processEvents();
    platform::RunLoop::runUntilIdle();

    // No map: its authorisation question is not asked. No field: the search
    // controller is made but given nothing.
    EXPECT_FALSE(contains(fixture_->steps, "authorizationStatus"));
    ASSERT_NE(fixture_->searchController, nullptr);
    EXPECT_EQ(fixture_->searchController->parent(), nullptr);
    EXPECT_TRUE(screen->initializationDone());

    screen->updateStatusLabel();
    screen->zoomInButtonPressed(screen->zoomInButton());
    EXPECT_FALSE(screen->manuallyZoomedAt());
    screen->searchLocationButtonPressed(screen->searchButton());
    screen->setScaleViewConstraintsFor(QSizeF(400, 900));
    screen->willTransition(platform::TraitCollection{});
    screen->viewWillTransition(QSizeF(400, 900));
    advance(1.5);
    EXPECT_EQ(fixture_->versionLoads, 1);
    window.setRootViewController(nullptr);
}

// ---- The button column and the scale bar

TEST_F(MainViewControllerTest, ColumnIsWideOnlyWhenBothSidesExceed500) {
    auto screen = show();
    struct Case {
        QSizeF size;
        double width;
    };
    const Case cases[] = {
        {{800, 600}, 100}, {{800, 500}, 66}, {{500, 800}, 66}, {{400, 900}, 66}, {{501, 501}, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size.width() * 10000 + c.size.height());
        screen->setButtonSizeWithSize(c.size);
        ASSERT_NE(screen->sideContainerWidthConstraint(), nullptr);
        EXPECT_DOUBLE_EQ(screen->sideContainerWidthConstraint()->constant(), c.width);
        EXPECT_DOUBLE_EQ(screen->sideContainer()->width(), c.width);
    }
}

TEST_F(MainViewControllerTest, WindowSizeChangesResizeTheColumnAndRestyleOneTurnLater) {
    auto screen = show(QSize(1280, 800));
    auto* zoomIn = qobject_cast<tervolo::mapscreen::StyleKitButton*>(screen->zoomInButton());
    ASSERT_NE(zoomIn, nullptr);
    EXPECT_DOUBLE_EQ(zoomIn->layer().cornerRadius, zoomIn->height() / 2.0);
    const double before = zoomIn->layer().cornerRadius;

    screen->viewWillTransition(QSizeF(450, 900));
    screen->view()->resize(450, 900);
    // Still the old radius: the restyle waits for the main queue's next turn.
    EXPECT_DOUBLE_EQ(zoomIn->layer().cornerRadius, before);
    EXPECT_DOUBLE_EQ(screen->sideContainer()->width(), 66);
    platform::RunLoop::runUntilIdle();
    EXPECT_DOUBLE_EQ(zoomIn->layer().cornerRadius, zoomIn->height() / 2.0);
    EXPECT_LT(zoomIn->layer().cornerRadius, before);
}

TEST_F(MainViewControllerTest, ScaleBarSitsInTheBottomContainerInLandscapeAndOnTheStackInPortrait) {
    auto screen = show(QSize(1000, 800));
    struct Case {
        QSize size;
        bool landscape;
    };
    const Case cases[] = {{{1000, 800}, true}, {{700, 900}, false}, {{800, 800}, false}, {{900, 899}, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size.width() * 10000 + c.size.height());
        screen->view()->resize(c.size);
        screen->setScaleViewConstraintsFor(QSizeF(c.size));
        const QRectF scale = QRectF(screen->scaleView()->geometry());
        // The width is the scale bar's, which the map's region chooses.
        EXPECT_EQ(scale.height(), 30);
        if (c.landscape) {
            const QRectF box = QRectF(screen->bottomScaleContainer()->geometry())
                                   .translated(screen->bottomContainerView()->geometry().topLeft());
            EXPECT_EQ(scale.center(), box.center());
        } else {
            const QRectF stack = QRectF(screen->stackScaleContainer()->geometry());
            EXPECT_DOUBLE_EQ(scale.center().x(), stack.center().x());
            EXPECT_DOUBLE_EQ(scale.bottom(),
                             stack.bottom() - tervolo::mapscreen::MainViewLayout::kContainerMargin);
        }
        EXPECT_TRUE(screen->scaleBottomSpacing()->isActive());
        EXPECT_TRUE(screen->scaleViewCenterX()->isActive());
    }
}

TEST_F(MainViewControllerTest, PhoneMarginsFollowTheSizeClassAndNothingElseChangesThem) {
    struct Case {
        platform::TraitCollection::UserInterfaceIdiom idiom;
        platform::TraitCollection::SizeClass sizeClass;
        double trailing;
        double side;
    };
    using Idiom = platform::TraitCollection::UserInterfaceIdiom;
    using SizeClass = platform::TraitCollection::SizeClass;
    const Case cases[] = {{Idiom::phone, SizeClass::regular, -48, 72},
                          {Idiom::phone, SizeClass::compact, 0, 5},
                          {Idiom::mac, SizeClass::regular, 7, 9},
                          {Idiom::pad, SizeClass::regular, 7, 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.idiom) * 10 + static_cast<int>(c.sizeClass));
        MapScreenFixture fixture;
        fixture.idiom = c.idiom;
        auto screen = fixture.makeController();
        screen->view();
        screen->mapTrailingMargin()->setConstant(7);
        screen->mapSidecontainerMargin()->setConstant(9);
        platform::TraitCollection traits;
        traits.horizontalSizeClass = c.sizeClass;
        screen->willTransition(traits);
        EXPECT_DOUBLE_EQ(screen->mapTrailingMargin()->constant(), c.trailing);
        EXPECT_DOUBLE_EQ(screen->mapSidecontainerMargin()->constant(), c.side);
    }
}

TEST_F(MainViewControllerTest, StylesTheEightButtonsRoundAndBordersOnlyTheMyLocationView) {
    auto screen = show();
    for (size_t i = 0; i < MainViewController::kMapButtonCount; ++i) {
        SCOPED_TRACE(i);
        QWidget* widget = screen->mapButton(static_cast<MapButton>(i));
        ASSERT_NE(widget, nullptr);
        EXPECT_DOUBLE_EQ(platform::alpha(widget), 1.0);
        tervolo::mapscreen::ButtonLayer layer;
        if (auto* kit = qobject_cast<tervolo::mapscreen::StyleKitButton*>(widget)) {
            layer = kit->layer();
            EXPECT_EQ(kit->tintColor(), tervolo::mapscreen::TervoloButtonKit::buttonBlue());
            EXPECT_DOUBLE_EQ(layer.borderWidth, 0.0);
        } else {
            auto* center = qobject_cast<tervolo::mapscreen::CenterButton*>(widget);
            ASSERT_NE(center, nullptr);
            layer = center->layer();
            EXPECT_DOUBLE_EQ(layer.borderWidth, 2.0);
            EXPECT_EQ(layer.borderColor, tervolo::mapscreen::TervoloButtonKit::buttonBlue());
        }
        EXPECT_DOUBLE_EQ(layer.cornerRadius, widget->height() / 2.0);
        EXPECT_TRUE(layer.clipsToBounds);
    }
}

// ---- Buttons

TEST_F(MainViewControllerTest, ZoomButtonsHalveAndDoubleTheCameraDistance) {
    auto screen = show();
    platform::MKMapCamera camera = screen->mapView()->camera();
    camera.centerCoordinate = {48.2, 16.37};
    camera.centerCoordinateDistance = 4000;
    screen->mapView()->setCamera(camera, false);
    screen->setUserWantsToZoomInOnUserLocation(true);
    const double now = platform::Date::now().secondsSince2001;

    screen->zoomInButtonPressed(screen->zoomInButton());
    screen->zoomInButtonPressed(screen->zoomInButton());
    EXPECT_NEAR(screen->mapView()->camera().centerCoordinateDistance, 1000, 1e-6);
    ASSERT_TRUE(screen->manuallyZoomedAt());
    EXPECT_DOUBLE_EQ(screen->manuallyZoomedAt()->secondsSince2001, now);
    EXPECT_FALSE(screen->userWantsToZoomInOnUserLocation());

    advance(5);
    screen->zoomOutButtonPressed(screen->zoomOutButton());
    EXPECT_NEAR(screen->mapView()->camera().centerCoordinateDistance, 2000, 1e-6);
    EXPECT_DOUBLE_EQ(screen->manuallyZoomedAt()->secondsSince2001, now + 5);
}

TEST_F(MainViewControllerTest, PressedButtonsDimAndTheActionBringsThemBack) {
    auto screen = show();
    QWidget* zoomIn = screen->zoomInButton();
    screen->buttonDown(zoomIn);
    EXPECT_DOUBLE_EQ(platform::alpha(zoomIn), 0.7);
    advance(0.3);
    EXPECT_NEAR(platform::presentationAlpha(zoomIn), 0.7, 1e-6);
    screen->zoomInButtonPressed(zoomIn);
    advance(0.3);
    EXPECT_NEAR(platform::presentationAlpha(zoomIn), 1.0, 1e-6);
}

TEST_F(MainViewControllerTest, SearchToggleOpensAtItsSizeAndFadesOutOnVirtualTime) {
    auto screen = show();
    fixture_->searchController->setResultCount(3);
    auto* field = screen->searchBar();

    screen->searchLocationButtonPressed(screen->searchButton());
    EXPECT_FALSE(field->isHidden());
    EXPECT_FALSE(screen->searchTable()->isHidden());
    EXPECT_EQ(field->size(), QSize(600, 80));
    EXPECT_EQ(fixture_->searchController->calls(), std::vector<std::string>{"setSearchTableHeight(3)"});
    EXPECT_EQ(screen->searchTable()->height(), 360);
    advance(0.3);
    for (QWidget* widget : {static_cast<QWidget*>(field), static_cast<QWidget*>(screen->searchTable()),
                            static_cast<QWidget*>(screen->spinner())}) {
        EXPECT_NEAR(platform::presentationAlpha(widget), 1.0, 1e-6);
    }

    screen->searchLocationButtonPressed(screen->searchButton());
    advance(0.2);
    // Still fading: shown until the fade ends, and the search not yet ended.
    EXPECT_FALSE(field->isHidden());
    EXPECT_EQ(fixture_->searchController->calls().size(), 1u);
    advance(0.1);
    EXPECT_TRUE(field->isHidden());
    EXPECT_TRUE(screen->searchTable()->isHidden());
    EXPECT_DOUBLE_EQ(platform::alpha(screen->spinner()), 0.0);
    EXPECT_EQ(fixture_->searchController->calls().back(), "textFieldShouldReturn");
}

TEST_F(MainViewControllerTest, SearchToggleWithoutASearchControllerOnlyShowsAndHidesTheField) {
    fixture_->withSearchController = false;
    auto screen = show();
    EXPECT_EQ(screen->searchController(), nullptr);
    screen->searchLocationButtonPressed(screen->searchButton());
    EXPECT_FALSE(screen->searchBar()->isHidden());
    screen->searchLocationButtonPressed(screen->searchButton());
    advance(0.3);
    EXPECT_TRUE(screen->searchBar()->isHidden());
}

TEST_F(MainViewControllerTest, OnlyTheMyLocationTapAndLongPressRunTogether) {
    auto screen = show();
    auto* tap = new platform::TapGestureRecognizer;
    auto* press = new platform::LongPressGestureRecognizer;
    auto* other = new platform::TapGestureRecognizer;
    platform::addGestureRecognizer(screen->myLocationButton(), tap);
    platform::addGestureRecognizer(screen->myLocationButton(), press);
    platform::addGestureRecognizer(screen->myLocationButton(), other);
    // Unset recognisers: never.
    EXPECT_FALSE(screen->shouldRecognizeSimultaneously(*tap, *press));
    screen->setLocationTapRecognizer(tap);
    screen->setLocationLongPressRecognizer(press);
    EXPECT_TRUE(screen->shouldRecognizeSimultaneously(*tap, *press));
    EXPECT_TRUE(screen->shouldRecognizeSimultaneously(*press, *tap));
    EXPECT_FALSE(screen->shouldRecognizeSimultaneously(*tap, *other));
    EXPECT_FALSE(screen->shouldRecognizeSimultaneously(*tap, *tap));
    EXPECT_TRUE(screen->gestureRecognizerShouldBegin(*other));
}

// A click on the column's empty background lands on the map; on a button, not.
class PressCounter : public QObject {
  public:
    int presses = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress) ++presses;
        return false;
    }
};

TEST_F(MainViewControllerTest, ClicksOnTheColumnBackgroundReachTheMapAndOnAButtonDoNot) {
    auto screen = show();
    PressCounter counter;
    screen->mapView()->installEventFilter(&counter);
    QWindow* window = fixture_->window()->windowHandle();
    ASSERT_NE(window, nullptr);
    auto* column = screen->sideContainer();
    const QRect zoomIn = screen->zoomInButton()->geometry();

    // Between the zoom-in and zoom-out buttons.
    const QPoint gap = column->mapTo(fixture_->window(), QPoint(zoomIn.center().x(), zoomIn.bottom() + 4));
    EXPECT_EQ(column->hitTest(QPointF(zoomIn.center().x(), zoomIn.bottom() + 4)), nullptr);
    QTest::mouseClick(window, Qt::LeftButton, {}, gap);
    QApplication::processEvents();
    EXPECT_EQ(counter.presses, 1);

    const double distance = screen->mapView()->camera().centerCoordinateDistance;
    const QPoint onButton = column->mapTo(fixture_->window(), zoomIn.center());
    EXPECT_EQ(column->hitTest(QPointF(zoomIn.center())), screen->zoomInButton());
    QTest::mouseClick(window, Qt::LeftButton, {}, onButton);
    QApplication::processEvents();
    EXPECT_EQ(counter.presses, 1);
    EXPECT_NEAR(screen->mapView()->camera().centerCoordinateDistance, distance / 2, distance * 1e-9);
}

// ---- Hover

TEST_F(MainViewControllerTest, HoverKeepsThePositionOfMovesOverTheWholeScreen) {
    auto screen = show();
    const auto recognizers = platform::gestureRecognizers(screen->view());
    ASSERT_EQ(recognizers.size(), 1u);
    platform::GestureRecognizer* hover = recognizers.front();

    hover->simulateState(platform::GestureRecognizer::State::Began, QPointF(5, 6));
    EXPECT_FALSE(screen->lastMouseLocation());
    hover->simulateState(platform::GestureRecognizer::State::Changed, QPointF(10.5, 20));
    EXPECT_EQ(screen->lastMouseLocation(), QPointF(10.5, 20));
    hover->simulateState(platform::GestureRecognizer::State::Ended, QPointF(30, 40));
    EXPECT_EQ(screen->lastMouseLocation(), QPointF(10.5, 20));

    // Over the map itself, through the window.
    tervolo::testsupport::SharedLogRecording log;
    QWindow* window = fixture_->window()->windowHandle();
    const QPoint inMap = screen->mapView()->mapTo(fixture_->window(), QPoint(300, 200));
    QTest::mouseMove(window, inMap);
    QTest::mouseMove(window, inMap + QPoint(3, 4));
    QApplication::processEvents();
    EXPECT_EQ(screen->lastMouseLocation(),
              QPointF(screen->mapView()->mapTo(screen->view(), QPoint(303, 204))));
    EXPECT_TRUE(contains(log.texts(), "mouse position: (303.0, 204.0)"));
}

// ---- The status line

TEST_F(MainViewControllerTest, StatusLabelShowsTheTileStatusAndFadesAwayWithoutOne) {
    auto screen = show();
    auto* label = screen->statusLabel();
    advance(1.0);
    EXPECT_TRUE(label->isHidden());

    fixture_->tileStatus = "12 tiles in the queue";
    advance(1.0);
    EXPECT_FALSE(label->isHidden());
    EXPECT_EQ(label->text(), QStringLiteral("12 tiles in the queue"));
    advance(0.3);
    EXPECT_NEAR(platform::presentationAlpha(label), screen->statusLabelMaxAlpha(), 1e-6);

    // The next tick (0.7 s on) fades the label out over 0.3 s.
    fixture_->tileStatus.reset();
    advance(0.8);
    EXPECT_FALSE(label->isHidden());
    advance(0.3);
    EXPECT_TRUE(label->isHidden());
    EXPECT_TRUE(label->text().isEmpty());
}

TEST_F(MainViewControllerTest, AFadeOutUnderWayYieldsToANewStatus) {
    auto screen = show();
    auto* label = screen->statusLabel();
    fixture_->tileStatus = "busy";
    screen->updateStatusLabel();
    advance(0.3);
    fixture_->tileStatus.reset();
    screen->updateStatusLabel();
    advance(0.1);
    fixture_->tileStatus = "busy again";
    screen->updateStatusLabel();
    advance(0.5);
    EXPECT_FALSE(label->isHidden());
    EXPECT_EQ(label->text(), QStringLiteral("busy again"));
    EXPECT_NEAR(platform::presentationAlpha(label), screen->statusLabelMaxAlpha(), 1e-6);
}

// ---- The version check and the update alert

class UpdateAlertTest : public MainViewControllerTest {
  protected:
    void SetUp() override {
        MainViewControllerTest::SetUp();
        desktop_ = std::make_unique<tervolo::testsupport::FakeDesktopApplications>(environment_.folder());
        desktop_->installApplication("browser.desktop", {"https"});
    }
    void TearDown() override {
        MainViewControllerTest::TearDown();
        desktop_.reset();
    }
    std::unique_ptr<tervolo::testsupport::FakeDesktopApplications> desktop_;
};

TEST_F(UpdateAlertTest, OffersQuitOnlyWhenForced) {
    for (const bool forced : {true, false}) {
        SCOPED_TRACE(forced);
        platform::PresentationRecorder recorder;
        MapScreenFixture fixture;
        auto screen = fixture.showInWindow();
        fixture.deliverVersion(tervolo::testsupport::makeVersionInfo(forced, "https://update.invalid/", ""));
        auto alert = recorder.topAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->title(), "Update Required");
        EXPECT_EQ(alert->message(), "Your app version is outdated - please update.");
        EXPECT_EQ(recorder.actionTitles(), (forced ? std::vector<std::string>{"Quit App", "Update App"}
                                                   : std::vector<std::string>{"Cancel", "Update App"}));
        EXPECT_EQ(alert->actions().front()->style(), platform::AlertAction::Style::destructive);
        recorder.dismissTop();
    }
}

TEST_F(UpdateAlertTest, NoAlertWithoutANewerDocument) {
    platform::PresentationRecorder recorder;
    auto screen = show();
    fixture_->deliverVersion(std::nullopt);
    fixture_->newerVersion = false;
    screen->updateCheck();
    fixture_->deliverVersion(tervolo::testsupport::makeVersionInfo(true, "https://update.invalid/", ""));
    EXPECT_TRUE(recorder.entries().empty());
}

TEST_F(UpdateAlertTest, UpdateOpensThePageOrTheFallbackAndEndsTheProgramLaterOnlyWhenSomethingOpened) {
    struct Case {
        const char* name;
        bool forced;
        std::string updateURL;
        std::string fallbackURL;
        std::vector<std::string> opened;
        int terminations;
    };
    const Case cases[] = {
        {"update page",
         false,
         "https://update.invalid/page",
         "https://fallback.invalid/",
         {"https://update.invalid/page"},
         1},
        {"fallback",
         false,
         "nohandler://update",
         "https://fallback.invalid/",
         {"https://fallback.invalid/"},
         1},
        {"nothing opens", false, "not a url", "https://fallback.invalid/", {}, 0},
        {"nothing opens, forced", true, "not a url", "https://fallback.invalid/", {}, 1},
        // The document's addresses come from a server: what is no web page
        // is never opened, however the desktop would take it.
        {"a local file", false, "file:///etc/passwd", "", {}, 0},
        {"a launcher",
         false,
         "file:///usr/share/applications/evil.desktop",
         "file:///home/user/.local/share/applications/evil.desktop",
         {},
         0},
        {"a launcher's path", false, "/usr/share/applications/evil.desktop", "", {}, 0},
        {"a local file, web fallback",
         false,
         "file:///etc/passwd",
         "https://fallback.invalid/",
         {"https://fallback.invalid/"},
         1},
        {"a web page, local fallback", false, "nohandler://update", "file:///etc/passwd", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::OpenURLRecorder urls;
        platform::PresentationRecorder recorder;
        MapScreenFixture fixture;
        auto screen = fixture.showInWindow();
        fixture.deliverVersion(tervolo::testsupport::makeVersionInfo(c.forced, c.updateURL, c.fallbackURL));
        advance(0.5);  // the alert's presentation
        ASSERT_TRUE(recorder.chooseAction("Update App"));
        // The handler runs once the alert is gone (within half a second).
        advance(0.5);
        EXPECT_EQ(urls.urls(), c.opened);
        // Nothing waits on the main thread: the program ends two seconds later, on the clock.
        EXPECT_EQ(fixture.terminations, 0);
        advance(1.4);
        EXPECT_EQ(fixture.terminations, 0);
        advance(0.7);
        EXPECT_EQ(fixture.terminations, c.terminations);
        advance(5);
        EXPECT_EQ(fixture.terminations, c.terminations);
    }
}

TEST_F(UpdateAlertTest, QuitEndsTheProgramAtOnce) {
    platform::PresentationRecorder recorder;
    auto screen = show();
    fixture_->deliverVersion(tervolo::testsupport::makeVersionInfo(true, "https://update.invalid/", ""));
    advance(0.5);  // the alert's presentation
    tervolo::testsupport::SharedLogRecording log;
    ASSERT_TRUE(recorder.chooseAction("Quit App"));
    advance(0.5);
    EXPECT_EQ(fixture_->terminations, 1);
    EXPECT_TRUE(contains(log.texts(), "Quit App Button"));
}

TEST_F(UpdateAlertTest, CancelLeavesTheProgramRunning) {
    platform::PresentationRecorder recorder;
    auto screen = show();
    fixture_->deliverVersion(tervolo::testsupport::makeVersionInfo(false, "https://update.invalid/", ""));
    ASSERT_TRUE(recorder.chooseAction("Cancel"));
    advance(3);
    EXPECT_EQ(fixture_->terminations, 0);
    EXPECT_EQ(recorder.topAlert(), nullptr);
}

TEST_F(UpdateAlertTest, AnAlertAskedForOffTheMainThreadComesOnTheMainQueue) {
    platform::PresentationRecorder recorder;
    auto screen = show();
    const auto info = tervolo::testsupport::makeVersionInfo(false, "https://update.invalid/", "");
    std::thread([&] { screen->newVersionFound(info); }).join();
    EXPECT_EQ(recorder.topAlert(), nullptr);
    platform::RunLoop::runUntilIdle();
    EXPECT_NE(recorder.topAlert(), nullptr);
}

// ---- Finding the screen, the toolbar

TEST_F(MainViewControllerTest, TheToolbarGoesOnTheFirstWindowAndTheScreenIsFoundAmongTheWindows) {
    EXPECT_EQ(tervolo::mapscreen::mainViewController(), nullptr);
    platform::MainWindow first;
    first.setRootViewController(std::make_shared<platform::ViewController>());
    EXPECT_EQ(tervolo::mapscreen::mainViewController(), nullptr);
    auto screen = show();
    EXPECT_TRUE(first.hasToolbar());
    EXPECT_FALSE(fixture_->window()->hasToolbar());
    EXPECT_EQ(screen->macToolbar(), &first.toolbar());
    EXPECT_EQ(first.toolbar().displayMode(), platform::Toolbar::DisplayMode::iconAndLabel);
    EXPECT_EQ(tervolo::mapscreen::mainViewController(), screen);
    first.setRootViewController(nullptr);
}

}  // namespace

namespace {

// ---- The map view subclass, styles and layers, the shell

TEST_F(MainViewControllerTest, OpensOnOpenStreetMapAsTheMapsQuovaDelegate) {
    auto screen = show();
    EXPECT_EQ(screen->mapView()->mapStyle(), tervolo::tiles::QuovaBaseMapStyle::osm);
    EXPECT_EQ(screen->mapView()->quovaDelegate().get(),
              static_cast<tervolo::mapscreen::QuovaMKMapViewDelegate*>(screen.get()));
    EXPECT_NE(screen->stylesAndLayers().osmSeamapOverlay(), nullptr);
    // The tile style's attribution is on the credit line.
    EXPECT_FALSE(screen->osmCreditLabel()->isHidden());
    EXPECT_FALSE(screen->osmCreditLabel()->text().isEmpty());
}

TEST_F(MainViewControllerTest, EveryAppearanceReappliesTheSeaMarkSwitch) {
    auto screen = show();
    const auto seaMarks = screen->stylesAndLayers().osmSeamapOverlay();
    ASSERT_NE(seaMarks, nullptr);
    EXPECT_FALSE(screen->mapView()->containsOverlay(seaMarks.get()));
    for (const bool active : {true, false, true}) {
        SCOPED_TRACE(active);
        tervolo::mapscreen::setInfoLayerActive(tervolo::mapscreen::InfoLayerKey::openSeaMap, active);
        fixture_->window()->hide();
        QApplication::processEvents();
        fixture_->window()->show();
        QApplication::processEvents();
        platform::RunLoop::runUntilIdle();
        EXPECT_EQ(screen->mapView()->containsOverlay(seaMarks.get()), active);
    }
}

TEST_F(MainViewControllerTest, MapStyleButtonOpensTheStyleSheet) {
    platform::PresentationRecorder recorder;
    auto screen = show();
    auto* button = qobject_cast<QAbstractButton*>(screen->mapButton(MapButton::mapStyle));
    ASSERT_NE(button, nullptr);
    button->click();
    platform::RunLoop::runUntilIdle();
    ASSERT_NE(recorder.topAlert(), nullptr);
    EXPECT_EQ(recorder.actionTitles().size(), 9u);  // eight styles and Cancel
    EXPECT_EQ(recorder.topAlert()->preferredStyle(), platform::AlertController::Style::actionSheet);
    // Closed again before the window goes, as a user would.
    advance(0.5);
    EXPECT_TRUE(recorder.chooseAction("Cancel"));
    advance(0.5);
}

TEST_F(MainViewControllerTest, TheShellsToolbarDelegateGetsTheScreen) {
    MainViewController::Services services = fixture_->services();
    services.installToolbarDelegate = nullptr;  // the screen's own: the shell's delegate
    services.bindPlugIn = [] {};
    auto screen = std::make_shared<MainViewController>(services);
    platform::MainWindow window;
    window.setRootViewController(screen);
    ASSERT_TRUE(window.hasToolbar());
    EXPECT_EQ(window.toolbar().delegate(), screen->macToolbarDelegate());
    EXPECT_EQ(screen->macToolbarDelegate()->mainVC().get(),
              static_cast<tervolo::shell::MapScreenActions*>(screen.get()));
    EXPECT_EQ(tervolo::shell::firstWindowMapScreen(),
              static_cast<tervolo::shell::MapScreenActions*>(screen.get()));
    EXPECT_EQ(screen->retinaShiftLevel(), 2);
    window.setRootViewController(nullptr);
}

}  // namespace
