// The screens above the map as the program composes them, in windows of any
// size: what each screen shows stays inside its sheet and its sheet inside the
// window, whatever size the window had when the sheet came and whatever it has
// now. Driven as a person does: clicks delivered to the shown window at the
// widgets' places, and window resizes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Program.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMKMapView.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/qt/MKCalloutView.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
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
#include "platform/location/CLLocation.hpp"
#include "widgets/taglist/TagFlowView.hpp"
#include "widgets/taglist/TagView.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace tervolo::app::layouttests {

using mapscreen::MainViewController;
using points::QuovaMapPoint;
using points::QuovaMapPointStore;
using pointscreens::PointDetailsViewController;
using pointscreens::PointTableViewController;

class ProgramLayout : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::sharedTestApplication("tervolo_app_tests");
        environment_.reset();
        environment_.emplace();
        platform::UserDefaults::standard().reload();
        QuovaMapPointStore::resetSharedForTesting();
        points::QuovaPointTagStore::resetSharedForTesting();
    }
    void TearDown() override {
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        if (window_) window_->setRootViewController(nullptr);
        window_.reset();
        screen_.reset();
        QApplication::setPalette(QPalette());
    }

    std::shared_ptr<QuovaMapPoint> addPoint(const std::string& title, double latitude, double longitude,
                                            std::optional<std::vector<std::string>> tags = std::nullopt) {
        auto point = QuovaMapPoint::make(title);
        point->setSubtitle("Street " + title);
        point->setCoordinate({latitude, longitude});
        point->setTags(std::move(tags));
        QuovaMapPointStore::shared().addPoint(point);
        return point;
    }
    std::shared_ptr<points::QuovaPointTag> addTag(const std::string& title, const std::string& colour) {
        auto tag = points::QuovaPointTag::make(title);
        tag->setColorString(colour);
        points::QuovaPointTagStore::shared().addTag(tag);
        return tag;
    }

    void open(QSize size) {
        window_ = std::make_unique<platform::MainWindow>();
        screen_ = std::dynamic_pointer_cast<MainViewController>(makeMapScreen());
        ASSERT_NE(screen_, nullptr);
        window_->setRootViewController(screen_);
        // As the program sets the window up: the map shows the user's position once one comes.
        configureMainWindow(*window_);
        window_->resize(size);
        window_->show();
        window_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
        settle();
    }
    void resize(QSize size) {
        window_->resize(size);
        settle();
    }
    void settle() {
        for (int i = 0; i < 3; ++i) {
            environment_->advance(0.5);
            platform::RunLoop::runUntilIdle();
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    void click(QWidget* widget, QPoint position) {
        const QPoint at = widget->mapTo(window_.get(), position);
        QTest::mousePress(window_->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
        settle();
        QTest::mouseRelease(window_->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
        settle();
    }
    void click(QWidget* widget) { click(widget, widget->rect().center()); }

    std::shared_ptr<platform::NavigationController> presentedNavigation() const {
        return std::dynamic_pointer_cast<platform::NavigationController>(screen_->presentedViewController());
    }
    std::shared_ptr<PointDetailsViewController> openDetails(const std::shared_ptr<QuovaMapPoint>& point) {
        click(screen_->mapButton(MainViewController::MapButton::points));
        auto navigation = presentedNavigation();
        auto list = navigation ? std::dynamic_pointer_cast<PointTableViewController>(navigation->topViewController())
                               : nullptr;
        if (!list) return nullptr;
        list->tableView()->layoutRows();
        const auto row = list->content().indexPathOfPoint(point);
        if (!row) return nullptr;
        platform::TableView& table = *list->tableView();
        click(table.viewport(), table.rectForRow(*row).translated(0, -table.contentOffset()).center().toPoint());
        platform::MKCalloutView* callout = screen_->mapView()->calloutView();
        if (callout == nullptr || !callout->isVisible()) return nullptr;
        click(callout, QPoint(callout->width() / 2, (callout->height() - 10) / 2));
        navigation = presentedNavigation();
        return navigation ? std::dynamic_pointer_cast<PointDetailsViewController>(navigation->topViewController())
                          : nullptr;
    }

    // The window as shown. The offscreen screen keeps the window's backing store at one pixel a point
    // whatever the scale factor, so at a higher ratio the window is drawn afresh at that ratio.
    QImage shownImage() const {
        if (window_->devicePixelRatio() != 1.0) return window_->grab().toImage();
        return window_->screen()->grabWindow(window_->winId(), 0, 0, window_->width(), window_->height()).toImage();
    }
    QRect inWindow(const QWidget* widget) const {
        return QRect(widget->mapTo(window_.get(), QPoint(0, 0)), widget->size());
    }

    platform::ImmediateAnimationsScope immediate_;
    std::optional<testsupport::TestEnvironment> environment_;
    std::unique_ptr<platform::MainWindow> window_;
    std::shared_ptr<MainViewController> screen_;
};

void dumpTree(QWidget* w, QWidget* window, int depth = 0) {
    if (!w->isVisible()) return;
    const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
    std::fprintf(stderr, "%*s%s %s [%d,%d %dx%d]\n", depth * 2, "", w->metaObject()->className(),
                 w->objectName().toStdString().c_str(), r.x(), r.y(), r.width(), r.height());
    for (QObject* child : w->children()) {
        if (auto* cw = qobject_cast<QWidget*>(child)) dumpTree(cw, window, depth + 1);
    }
}

TEST_F(ProgramLayout, Probe) {
    addTag("Bar", "FF2D55FF");
    addTag("Cinema", "5856D6FF");
    addTag("MustSee", "AF52DEFF");
    const auto point = addPoint("Harbour", 60.16, 24.95);
    std::fprintf(stderr, "dpr %f screen %dx%d\n", window_ ? 0.0 : QGuiApplication::primaryScreen()->devicePixelRatio(), QGuiApplication::primaryScreen()->geometry().width(), QGuiApplication::primaryScreen()->geometry().height());
    const char* w = getenv("PW");
    const char* h = getenv("PH");
    open(QSize(w ? atoi(w) : 640, h ? atoi(h) : 480));
    auto details = openDetails(point);
    ASSERT_NE(details, nullptr);
    { QImage g = shownImage(); std::fprintf(stderr, "grab %dx%d dpr %f; widget grab %dx%d\n", g.width(), g.height(), g.devicePixelRatio(), window_->grab().width(), window_->grab().height()); }
    testsupport::saveScreenshot(shownImage(), TERVOLO_SCREENSHOT_DIR, "probe-details-640");
    auto* info = details->view()->findChild<platform::TextView*>("pointInfoTextView");
    std::fprintf(stderr, "info doc %f x %f widget %d x %d text %s\n", info->document()->textWidth(), info->document()->size().height(), info->viewport()->width(), info->viewport()->height(), info->toPlainText().toStdString().c_str());
    dumpTree(details->view(), window_.get());
    click(details->addTagButton());
    testsupport::saveScreenshot(shownImage(), TERVOLO_SCREENSHOT_DIR, "probe-plus-640");
    std::fprintf(stderr, "---- after +\n");
    dumpTree(details->view(), window_.get());
}

TEST_F(ProgramLayout, Survey) {
    const bool dark = getenv("PDARK") != nullptr;
    if (dark) QApplication::setPalette(testsupport::darkDesktopPalette());
    const QString sfx = dark ? "-dark" : "-light";
    testsupport::ScriptedPositionSources sources;
    const auto bar = addTag("Bar", "FF2D55FF");
    const auto point = addPoint("Harbour", 60.16, 24.95, std::vector<std::string>{bar->uuid()});
    const char* w = getenv("PW");
    const char* h = getenv("PH");
    open(QSize(w ? atoi(w) : 640, h ? atoi(h) : 480));
    auto shot = [&](const char* name) { testsupport::saveScreenshot(shownImage(), TERVOLO_SCREENSHOT_DIR, QString("survey-") + name + sfx); };
    // About
    click(screen_->mapButton(MainViewController::MapButton::info));
    shot("about");
    if (auto nav = presentedNavigation()) { nav->dismiss(false); settle(); }
    // colour sheet
    auto details = openDetails(point);
    ASSERT_NE(details, nullptr);
    auto chips = details->tagFlowView()->allTags();
    ASSERT_FALSE(chips.empty());
    if (!getenv("PNOCOLOUR")) click(chips[0], QPoint(10, chips[0]->height() / 2));
    shot("colour");
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    settle();
    if (auto pop = details->colorPickerPopupController()) { pop->dismiss(); settle(); }
    std::fprintf(stderr, "popup %p\n", (void*)details->colorPickerPopupController().get());
    click(details->navigationItem().rightBarButtonItem()->view());
    std::fprintf(stderr, "presented %p\n", (void*)screen_->presentedViewController().get());
    // user location
    std::fprintf(stderr, "sources %zu\n", sources.made().size());
    for (auto& source : sources.made()) source->answerAuthorization(platform::CLAuthorizationStatus::authorizedWhenInUse);
    settle();
    for (auto& source : sources.made()) source->deliver(platform::CLLocation(60.185, 24.90));
    settle();
    auto* map = screen_->mainMapView();
    const auto at = map->convertCoordinate(map->userLocation()->coordinate());
    click(screen_->mapView(), QPoint(int(at.x), int(at.y)));
    shot("user");
    testsupport::saveScreenshot(window_->grab().toImage(), TERVOLO_SCREENSHOT_DIR, "survey-user-grab");
    auto* share = screen_->mapView()->findChild<QWidget*>("userLocationShareButton");
    auto* gear = screen_->mapView()->findChild<QWidget*>("userLocationSettingsButton");
    std::fprintf(stderr, "share %p gear %p\n", (void*)share, (void*)gear);
    if (gear) click(gear);
    shot("mylocation");
    if (auto nav = presentedNavigation()) { nav->dismiss(false); settle(); }
    // search spinner
    click(reinterpret_cast<QWidget*>(screen_->searchButton()));
    click(screen_->searchBar());
    for (char c : std::string("Harb")) QTest::keyClick(window_->windowHandle(), c);
    settle();
    shot("search");
}

}  // namespace tervolo::app::layouttests
