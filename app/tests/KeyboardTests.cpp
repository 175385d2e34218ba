// The program's screens worked with the keyboard alone, keys delivered to the
// window as a person types them: Tab and Shift+Tab through the map screen,
// Space and Return on its buttons and on a selected pin, Return, Enter and
// Escape on the alerts over the map, over a sheet and over About, Escape in
// both search fields, Tab in the point's title. And the focus ring, light and
// dark, as a person sees it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Program.hpp"
#include "location/QuovaLocationServices.hpp"
#include "location/ui/UserLocationSettingsViewController.hpp"
#include "mapscreen/CenterButton.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMKMapView.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "mapscreen/StyleKitButton.hpp"
#include "mapscreen/TervoloButtonKit.hpp"
#include "platform/ui/Contrast.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/qt/MKCalloutView.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/TextView.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PointDetailsViewController.hpp"
#include "pointscreens/PointTableViewController.hpp"
#include "search/ui/QuovaLocationSearchController.hpp"
#include "shell/AppKitBridgeBinding.hpp"
#include "shell/InfoViewController.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/location/ScriptedGeocoderService.hpp"
#include "testsupport/location/ScriptedPositionSource.hpp"
#include "testsupport/logging/LogRecorder.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"
#include "widgets/taglist/TagFlowView.hpp"
#include "widgets/taglist/TagView.hpp"

#include "app/tests/MapScreenWindow.hpp"

namespace {

namespace fs = std::filesystem;
using tervolo::mapscreen::MainViewController;
using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using PointPtr = std::shared_ptr<QuovaMapPoint>;
using Button = MainViewController::MapButton;

// The program's map screen with the toolbar's plug-in, in a shown, active
// window, over private documents, with immediate animations and a virtual
// clock; a geocoder that finds "Harbour museum" for "Harbour".
class KeyboardUse : public ::testing::Test {
  protected:
    void SetUp() override {
        tervolo::testsupport::sharedTestApplication("tervolo_app_tests");
        environment_.reset();
        environment_.emplace();
        platform::UserDefaults::standard().reload();
        QuovaMapPointStore::resetSharedForTesting();
        tervolo::points::QuovaPointTagStore::resetSharedForTesting();
        geocoder_ = tervolo::testsupport::ScriptedGeocoderService::install();
        geocoder_->answerText("Harbour",
                              {{tervolo::testsupport::makePlacemark("Harbour museum", 60.16, 24.955, "Pier 3",
                                                                    "Helsinki", "Finland")}});
        ASSERT_TRUE(tervolo::shell::bindAppKitBridge(TERVOLO_BUILT_PLUGINS_DIR));
    }

    void TearDown() override {
        shown_.close();
        tervolo::testsupport::ScriptedGeocoderService::uninstall();
        tervolo::shell::resetAppKitBridgeForTesting();
    }

    PointPtr addPoint(const std::string& title, double latitude, double longitude) {
        auto point = QuovaMapPoint::make(title);
        point->setSubtitle("Street " + title);
        point->setCoordinate({latitude, longitude});
        point->save(QuovaMapPointStore::shared());
        QuovaMapPointStore::shared().addPoint(point);
        return point;
    }

    // `asProgram`: the window set up as the program sets it up, so the map shows the user's position.
    void open(bool asProgram = false) {
        ASSERT_NO_FATAL_FAILURE(shown_.open(QSize(1280, 800), asProgram));
        settle();
        ASSERT_EQ(QApplication::focusWidget(), screen_->mapView());
    }

    void settle(double seconds = 0.5) {
        for (int i = 0; i < 3; ++i) {
            environment_->advance(seconds);
            platform::RunLoop::runUntilIdle();
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    QWindow* handle() const { return window_->windowHandle(); }
    void key(Qt::Key which, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(handle(), which, modifiers);
        settle();
    }
    void type(const std::string& text) {
        for (char c : text) QTest::keyClick(handle(), c);
        settle();
    }
    void click(QWidget* widget, QPoint at) {
        const QPoint inWindow = widget->mapTo(window_.get(), at);
        QTest::mousePress(handle(), Qt::LeftButton, Qt::NoModifier, inWindow);
        settle();
        QTest::mouseRelease(handle(), Qt::LeftButton, Qt::NoModifier, inWindow);
        settle();
    }
    void click(QWidget* widget) { click(widget, widget->rect().center()); }

    static QWidget* focus() { return QApplication::focusWidget(); }
    static std::string nameOf(const QWidget* widget) {
        if (widget == nullptr) return "(none)";
        const QString name = widget->objectName();
        return name.isEmpty() ? widget->metaObject()->className() : name.toStdString();
    }

    // Tabs until `target` has the focus; false when a round of the window goes by without it.
    bool tabTo(QWidget* target) {
        for (int i = 0; i < 30 && focus() != target; ++i) key(Qt::Key_Tab);
        return focus() == target;
    }

    QToolButton* toolbarStyleButton() const {
        for (auto* button : window_->toolbar().findChildren<QToolButton*>()) {
            if (button->isVisible() && button->text() == QStringLiteral("Select Map Style")) return button;
        }
        return nullptr;
    }
    QLineEdit* toolbarField() const { return window_->toolbar().findChild<QLineEdit*>("QuovaNSSearchField"); }

    std::shared_ptr<platform::AlertController> topAlert() const {
        return std::dynamic_pointer_cast<platform::AlertController>(screen_->topMostViewController());
    }
    template <typename Screen>
    std::shared_ptr<Screen> presentedTop() const {
        const auto navigation =
            std::dynamic_pointer_cast<platform::NavigationController>(screen_->presentedViewController());
        return navigation ? std::dynamic_pointer_cast<Screen>(navigation->topViewController()) : nullptr;
    }

    double visibleWidth() const { return screen_->mainMapView()->visibleMapRect().size.width; }
    size_t pointFileCount() const {
        size_t count = 0;
        for (const auto& entry : fs::directory_iterator(QuovaMapPoint::documentDirectory())) {
            count += entry.path().string().ends_with(QuovaMapPoint::kFileExtension) ? 1 : 0;
        }
        return count;
    }
    // A plain file where the points folder should be: no point can be written, by anyone.
    static void breakPointsFolder() {
        const std::string folder = QuovaMapPoint::documentDirectory();
        fs::remove_all(folder);
        std::ofstream(folder.substr(0, folder.size() - 1)) << "";
    }

    // `control`, which has the keys, shows it: it looks otherwise once Tab took them away (and
    // Shift+Tab brings them back). Where `name` is given, the window goes to the keyboard
    // screenshots at pixel ratios 1 and 2, as focus-ring-NAME-THEME[@2x].png.
    void expectFocusShown(QWidget* control, bool dark, const QString& name = {}) {
        ASSERT_EQ(focus(), control);
        const QImage focused = control->grab().toImage();
        if (!name.isEmpty()) {
            for (const double ratio : {1.0, 2.0}) {
                tervolo::testsupport::saveScreenshot(
                    tervolo::testsupport::renderWidget(*window_, ratio), TERVOLO_KEYBOARD_SCREENSHOT_DIR,
                    QStringLiteral("focus-ring-%1-%2%3").arg(name, dark ? "dark" : "light", ratio > 1 ? "@2x" : ""));
            }
        }
        key(Qt::Key_Tab);
        EXPECT_NE(control->grab().toImage(), focused) << nameOf(control) << " showed no focus";
        key(Qt::Key_Backtab);
        ASSERT_EQ(focus(), control) << "Shift+Tab did not come back";
    }

    // A fresh start of the case in the light or the dark desktop palette.
    void startAgainIn(bool dark) {
        TearDown();
        SetUp();
        QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette());
    }

    // Tabs to the top alert's button `title` and presses it with Space.
    void answerAlert(const char* title) {
        ASSERT_NE(topAlert(), nullptr);
        QAbstractButton* answer = nullptr;
        for (auto* button : topAlert()->view()->findChildren<QAbstractButton*>()) {
            if (button->isVisible() && button->text() == QString::fromUtf8(title)) answer = button;
        }
        ASSERT_NE(answer, nullptr) << "the alert has no " << title;
        ASSERT_TRUE(tabTo(answer));
        key(Qt::Key_Space);
        ASSERT_EQ(topAlert(), nullptr);
    }

    // Opens the point list from its button and clicks `point`'s row.
    void clickInList(const PointPtr& point) {
        click(screen_->mapButton(Button::points));
        const auto list = presentedTop<tervolo::pointscreens::PointTableViewController>();
        ASSERT_NE(list, nullptr);
        platform::TableView* table = list->tableView();
        table->layoutRows();
        const auto row = list->content().indexPathOfPoint(point);
        ASSERT_TRUE(row);
        click(table->viewport(), table->rectForRow(*row).translated(0, -table->contentOffset()).center().toPoint());
    }

    // A point chosen in the list: selected on the map with its callout shown, the map has the keys.
    void selectInList(const PointPtr& point) {
        ASSERT_NO_FATAL_FAILURE(clickInList(point));
        ASSERT_EQ(screen_->presentedViewController(), nullptr);
        platform::MKCalloutView* callout = screen_->mapView()->calloutView();
        ASSERT_TRUE(callout != nullptr && callout->isVisible());
        ASSERT_EQ(focus(), screen_->mapView());
    }

    // The details of `point`, opened as a mouse user does: its callout clicked.
    std::shared_ptr<tervolo::pointscreens::PointDetailsViewController> openDetails(const PointPtr& point) {
        selectInList(point);
        platform::MKCalloutView* callout = screen_->mapView()->calloutView();
        if (callout == nullptr) return nullptr;
        click(callout, QPoint(callout->width() / 2, (callout->height() - 10) / 2));
        return presentedTop<tervolo::pointscreens::PointDetailsViewController>();
    }

    platform::ImmediateAnimationsScope immediate_;
    std::optional<tervolo::testsupport::TestEnvironment> environment_;
    std::shared_ptr<tervolo::testsupport::ScriptedGeocoderService> geocoder_;
    tervolo::app::tests::MapScreenWindow shown_;
    std::unique_ptr<platform::MainWindow>& window_ = shown_.window;
    std::shared_ptr<MainViewController>& screen_ = shown_.screen;
};

// Tab from the map goes down the button column, then to the toolbar's field
// and button and back to the map; Shift+Tab goes the same way back. Every
// stop shows that it has the focus: a ring the button or the map draws.
TEST_F(KeyboardUse, TabAndShiftTabWalkTheMapScreenInReadingOrder) {
    open();
    QToolButton* styleItem = toolbarStyleButton();
    ASSERT_NE(styleItem, nullptr);
    const std::vector<std::string> expected = {"searchButton",       "zoomInButton",    "zoomOutButton",
                                               "myLocationButton",   "addButton",       "mapStyleButton",
                                               "mapLayersButton",    "pointsButton",    "infoButton",
                                               "QuovaNSSearchField", nameOf(styleItem), "mapView"};
    for (const bool forward : {true, false}) {
        SCOPED_TRACE(forward ? "Tab" : "Shift+Tab");
        std::vector<std::string> walked;
        for (size_t i = 0; i < expected.size(); ++i) {
            QWidget* before = focus();
            const QImage unfocused = before != nullptr ? before->grab().toImage() : QImage();
            key(forward ? Qt::Key_Tab : Qt::Key_Backtab);
            QWidget* now = focus();
            walked.push_back(nameOf(now));
            ASSERT_NE(now, nullptr);
            // The widget just left looks different now that the focus is gone: it showed the focus.
            if (before != nullptr && before != screen_->mapView() && before != toolbarField()) {
                EXPECT_NE(before->grab().toImage(), unfocused) << nameOf(before) << " showed no focus";
            }
            if (now == screen_->mapView()) {
                const auto* ring = screen_->mapView()->findChild<QWidget*>("MKFocusRing");
                ASSERT_NE(ring, nullptr);
                EXPECT_TRUE(ring->isVisible()) << "the map shows no focus";
            }
        }
        std::vector<std::string> wanted = expected;
        if (!forward) {
            // Backwards from the map: the same stops from the other end.
            std::reverse(wanted.begin(), wanted.end() - 1);
        }
        std::string order;
        for (const auto& name : walked) order += name + " ";
        std::cout << (forward ? "Tab:       " : "Shift+Tab: ") << order << "\n";
        EXPECT_EQ(walked, wanted);
    }
    // A click on the map takes the ring away: the mouse user needs none.
    click(screen_->mapView(), QPoint(40, screen_->mapView()->height() - 40));
    EXPECT_FALSE(screen_->mapView()->findChild<QWidget*>("MKFocusRing")->isVisible());

    // With the search open, its field comes before the map; the result list is no stop.
    ASSERT_TRUE(tabTo(screen_->searchButton()));
    key(Qt::Key_Space);
    ASSERT_TRUE(screen_->searchBar()->isVisible());
    ASSERT_TRUE(tabTo(screen_->mapView()));
    key(Qt::Key_Backtab);
    EXPECT_EQ(focus(), screen_->searchBar()) << nameOf(focus());
    key(Qt::Key_Tab);
    EXPECT_EQ(focus(), screen_->mapView());
}

// Space and Return press the focused button of the column, as a click does;
// the keys come back to the button when what it opened is closed.
TEST_F(KeyboardUse, SpaceAndReturnPressTheFocusedButton) {
    open();
    tervolo::testsupport::SharedLogRecording log;
    struct Case {
        const char* name;
        Button button;  // searchButton where `search`
        bool search;
        Qt::Key key;
        std::function<bool()> happened;
        bool presents;
    };
    double width = 0;
    size_t files = 0;
    const auto presented = [this] { return screen_->presentedViewController() != nullptr; };
    const auto logged = [&log](const std::string& text) {
        return [&log, text] {
            const auto texts = log.texts();
            return std::find(texts.begin(), texts.end(), text) != texts.end();
        };
    };
    const Case cases[] = {
        {"zoom in, Return", Button::zoomIn, false, Qt::Key_Return,
         [&] { return std::abs(visibleWidth() - width / 2) < width * 0.01; }, false},
        {"zoom out, Space", Button::zoomOut, false, Qt::Key_Space,
         [&] { return std::abs(visibleWidth() - width * 2) < width * 0.01; }, false},
        {"search, Return", Button::zoomIn, true, Qt::Key_Return,
         [&] { return screen_->searchBar()->isVisible(); }, false},
        {"search again, keypad Enter", Button::zoomIn, true, Qt::Key_Enter,
         [&] { return screen_->searchBar()->isHidden(); }, false},
        {"my location, Space", Button::myLocation, false, Qt::Key_Space, logged("centerButtonPressed"),
         false},
        {"add location, Return", Button::add, false, Qt::Key_Return,
         [&] { return pointFileCount() == files + 1; }, false},
        {"map style, Space", Button::mapStyle, false, Qt::Key_Space, presented, true},
        {"map layers, Return", Button::mapLayers, false, Qt::Key_Return, presented, true},
        {"list, Space", Button::points, false, Qt::Key_Space,
         [&] { return presentedTop<tervolo::pointscreens::PointTableViewController>() != nullptr; }, true},
        {"About, Return", Button::info, false, Qt::Key_Return,
         [&] { return presentedTop<tervolo::shell::InfoViewController>() != nullptr; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget* button = c.search ? screen_->searchButton() : screen_->mapButton(c.button);
        ASSERT_TRUE(tabTo(button));
        width = visibleWidth();
        files = pointFileCount();
        log.clear();
        key(c.key);
        EXPECT_TRUE(c.happened());
        if (c.presents) {
            ASSERT_TRUE(presented());
            key(Qt::Key_Escape);
            EXPECT_FALSE(presented());
            EXPECT_EQ(focus(), button) << "the keys did not come back to the button";
        }
        EXPECT_FALSE(QApplication::focusWidget() == nullptr);
    }
}

// About, opened from the keyboard: Tab goes round its controls and stays in
// it, each stop shows the focus, and Return on Done closes it.
TEST_F(KeyboardUse, AboutIsWorkedWithTheKeyboard) {
    open();
    ASSERT_TRUE(tabTo(screen_->mapButton(Button::info)));
    key(Qt::Key_Return);
    const auto about = presentedTop<tervolo::shell::InfoViewController>();
    ASSERT_NE(about, nullptr);
    QWidget* sheet = screen_->presentedViewController()->view();
    EXPECT_EQ(focus(), about->creditsButton());
    std::vector<std::string> walked;
    QWidget* done = nullptr;
    for (int i = 0; i < 13; ++i) {
        QWidget* before = focus();
        const QImage focused = before->grab().toImage();
        key(Qt::Key_Tab);
        ASSERT_NE(focus(), nullptr);
        EXPECT_TRUE(sheet->isAncestorOf(focus())) << "Tab left About for " << nameOf(focus());
        EXPECT_NE(before->grab().toImage(), focused) << nameOf(before) << " showed no focus";
        walked.push_back(nameOf(focus()));
        if (about->navigationItem().rightBarButtonItem() &&
            focus() == about->navigationItem().rightBarButtonItem()->view())
            done = focus();
    }
    std::string order;
    for (const auto& name : walked) order += name + " ";
    std::cout << "About, Tab: " << order << "\n";
    const std::vector<std::string> round = {"rightBarButton0", "appCopyLabel", "imprintLabel", "feedbackButton",
                                            "creditsButton"};
    std::vector<std::string> twice = round;
    twice.insert(twice.end(), round.begin(), round.end());
    twice.insert(twice.end(), round.begin(), round.begin() + 3);
    EXPECT_EQ(walked, twice);
    // The imprint and copyright lines open their page on Return and Space, as a click does.
    for (const Qt::Key which : {Qt::Key_Return, Qt::Key_Space}) {
        for (QLabel* line : {about->imprintLabel(), about->appCopyLabel()}) {
            SCOPED_TRACE(nameOf(line));
            platform::OpenURLRecorder opened;
            ASSERT_TRUE(tabTo(line));
            key(which);
            EXPECT_EQ(opened.urls().size(), 1u);
            EXPECT_EQ(presentedTop<tervolo::shell::InfoViewController>(), about);
        }
    }
    ASSERT_NE(done, nullptr) << "Done never took the focus";
    ASSERT_TRUE(tabTo(done));
    key(Qt::Key_Return);
    EXPECT_EQ(screen_->presentedViewController(), nullptr);
    EXPECT_EQ(focus(), screen_->mapButton(Button::info));
}

// Return, keypad Enter and Space on the map with a pin selected open the
// pin's details, as a click on its callout does; without a selection they do
// nothing.
TEST_F(KeyboardUse, ReturnOnASelectedPinOpensItsDetails) {
    const auto point = addPoint("Rock Church", 60.173, 24.925);
    open();
    key(Qt::Key_Return);
    EXPECT_EQ(screen_->presentedViewController(), nullptr) << "Return without a selection opened something";
    for (const Qt::Key which : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        SCOPED_TRACE(which);
        selectInList(point);
        if (which == Qt::Key_Enter) {
            QTest::keyClick(handle(), which, Qt::KeypadModifier);
            settle();
        } else {
            key(which);
        }
        const auto details = presentedTop<tervolo::pointscreens::PointDetailsViewController>();
        ASSERT_NE(details, nullptr);
        EXPECT_EQ(details->point(), point);
        key(Qt::Key_Escape);
        ASSERT_EQ(screen_->presentedViewController(), nullptr);
    }
}

// Every kind of alert answers the keys: Return and keypad Enter run the
// preferred or only action, Escape the cancel or only action, and Tab with
// Space presses the button Tab reached (the keys start on the preferred one).
// The screen under the alert stays unless the action closes it.
TEST_F(KeyboardUse, AlertsAnswerReturnEnterEscapeAndTab) {
    enum class Kind { notSavedOverMap, undeleteOverList, notSavedOverDetails, noticeOverAbout };
    enum class Keys { returnKey, enter, escape, tabSpace };
    struct Case {
        Kind kind;
        Keys keys;
        const char* closedWith;  // the action that ran
        bool underStays;         // the screen under the alert is still there afterwards
    };
    const Case cases[] = {
        {Kind::notSavedOverMap, Keys::returnKey, "OK", true},
        {Kind::notSavedOverMap, Keys::enter, "OK", true},
        {Kind::notSavedOverMap, Keys::escape, "OK", true},
        {Kind::notSavedOverMap, Keys::tabSpace, "OK", true},
        {Kind::undeleteOverList, Keys::returnKey, "Undelete", false},
        {Kind::undeleteOverList, Keys::enter, "Undelete", false},
        {Kind::undeleteOverList, Keys::escape, "Cancel", true},
        {Kind::undeleteOverList, Keys::tabSpace, "Cancel", true},
        {Kind::notSavedOverDetails, Keys::returnKey, "OK", true},
        {Kind::notSavedOverDetails, Keys::enter, "OK", true},
        {Kind::notSavedOverDetails, Keys::escape, "OK", true},
        {Kind::notSavedOverDetails, Keys::tabSpace, "OK", true},
        {Kind::noticeOverAbout, Keys::returnKey, "OK", true},
        {Kind::noticeOverAbout, Keys::enter, "OK", true},
        {Kind::noticeOverAbout, Keys::escape, "OK", true},
        {Kind::noticeOverAbout, Keys::tabSpace, "OK", true},
    };
    const char* kindNames[] = {"Location Not Saved over the map", "Undelete location? over the list",
                               "Location Not Saved over the details", "Notice over About"};
    const char* keyNames[] = {"Return", "keypad Enter", "Escape", "Tab, Space"};
    std::cout << "alert | keys | result\n";
    for (const Case& c : cases) {
        const std::string name =
            std::string(kindNames[static_cast<int>(c.kind)]) + ", " + keyNames[static_cast<int>(c.keys)];
        SCOPED_TRACE(name);
        TearDown();
        SetUp();
        tervolo::testsupport::SharedLogRecording log;
        const auto stored = addPoint("Harbour office", 60.17, 24.94);
        open();
        std::shared_ptr<platform::ViewController> under;  // the screen the alert is over
        switch (c.kind) {
            case Kind::notSavedOverMap:
                breakPointsFolder();
                click(screen_->mapButton(Button::add));
                under = screen_;
                break;
            case Kind::undeleteOverList: {
                const auto gone = addPoint("Ferry Pier", 60.16, 24.96);
                QuovaMapPointStore::shared().deletePoint(gone);
                const auto list = [this] { return presentedTop<tervolo::pointscreens::PointTableViewController>(); };
                ASSERT_NO_FATAL_FAILURE(clickInList(gone));
                under = list();
                break;
            }
            case Kind::notSavedOverDetails: {
                const auto details = openDetails(stored);
                ASSERT_NE(details, nullptr);
                click(details->titleView());
                type("x");
                breakPointsFolder();
                click(details->navigationItem().rightBarButtonItem()->view());
                under = details;
                break;
            }
            case Kind::noticeOverAbout: {
                click(screen_->mapButton(Button::info));
                const auto about = presentedTop<tervolo::shell::InfoViewController>();
                ASSERT_NE(about, nullptr);
                click(about->feedbackButton());
                under = about;
                break;
            }
        }
        const auto alert = topAlert();
        ASSERT_NE(alert, nullptr);
        ASSERT_NE(focus(), nullptr) << "the alert does not have the keys";
        EXPECT_TRUE(alert->view()->isAncestorOf(focus())) << nameOf(focus());
        log.clear();
        switch (c.keys) {
            case Keys::returnKey:
                key(Qt::Key_Return);
                break;
            case Keys::enter:
                QTest::keyClick(handle(), Qt::Key_Enter, Qt::KeypadModifier);
                settle();
                break;
            case Keys::escape:
                key(Qt::Key_Escape);
                break;
            case Keys::tabSpace:
                key(Qt::Key_Tab);
                EXPECT_TRUE(alert->view()->isAncestorOf(focus()))
                    << "Tab left the alert for " << nameOf(focus());
                key(Qt::Key_Space);
                break;
        }
        const bool open = topAlert() == alert;
        std::string result = open ? "stays open" : "closed";
        if (!open && c.kind == Kind::undeleteOverList) {
            // Which of the two ran: each logs its line.
            const auto texts = log.texts();
            const bool undelete = std::find(texts.begin(), texts.end(), "Undelete Button") != texts.end();
            const bool cancel = std::find(texts.begin(), texts.end(), "Cancel Button") != texts.end();
            const std::string ran = undelete ? "Undelete" : cancel ? "Cancel" : "neither";
            result += " with " + ran;
            EXPECT_EQ(ran, c.closedWith);
        }
        std::cout << kindNames[static_cast<int>(c.kind)] << " | " << keyNames[static_cast<int>(c.keys)]
                  << " | " << result << "\n";
        EXPECT_FALSE(open);
        if (!open && c.underStays) {
            EXPECT_EQ(
                screen_->topMostViewController(),
                under->navigationController() != nullptr
                    ? std::static_pointer_cast<platform::ViewController>(screen_->presentedViewController())
                    : under)
                << "the screen under the alert went too";
            EXPECT_NE(focus(), nullptr) << "the keys went nowhere after the alert";
        }
    }
}

// Escape in either search field first drops the highlighted result, then
// closes the result list and the search field and gives the map the keys.
TEST_F(KeyboardUse, EscapeEndsASearchInEitherField) {
    for (const bool toolbar : {false, true}) {
        SCOPED_TRACE(toolbar ? "toolbar field" : "map's field");
        TearDown();
        SetUp();
        open();
        auto& search = *std::dynamic_pointer_cast<tervolo::search::QuovaLocationSearchController>(
            screen_->searchController());
        if (toolbar) {
            click(toolbarField());
        } else {
            click(screen_->searchButton());
            click(screen_->searchBar());
        }
        type("Harbour");
        settle(0.7);
        ASSERT_TRUE(tervolo::testsupport::eventually([&] {
            platform::RunLoop::runUntilIdle();
            QCoreApplication::processEvents();
            return !search.allResults().empty() && !screen_->searchTable()->isHidden();
        }));
        key(Qt::Key_Down);
        ASSERT_EQ(search.highlightedRow(), std::optional<int>(0));
        key(Qt::Key_Escape);
        EXPECT_EQ(search.highlightedRow(), std::nullopt);
        EXPECT_FALSE(screen_->searchTable()->isHidden()) << "the first Escape only drops the highlight";
        key(Qt::Key_Escape);
        EXPECT_TRUE(screen_->searchTable()->isHidden());
        EXPECT_TRUE(screen_->searchBar()->isHidden()) << "the search field stayed open";
        EXPECT_EQ(focus(), screen_->mapView());
    }
}

// Tab in the title goes to the subtitle and Shift+Tab back; no tab is typed
// or saved. A tab pasted into the subtitle stays, as any pasted text does.
TEST_F(KeyboardUse, TabInTheTitleMovesToTheSubtitle) {
    const auto point = addPoint("Anchorage", 60.16, 24.95);
    open();
    const auto details = openDetails(point);
    ASSERT_NE(details, nullptr);
    platform::TextView* title = details->titleView();
    platform::TextView* subtitle = details->subtitleView();
    EXPECT_NE(focus(), title) << "opening the screen started editing the title";
    click(title);
    ASSERT_EQ(focus(), title);
    QTest::keyClick(handle(), Qt::Key_End);
    type(" KB");
    // The clear buttons beside the fields are no stops: the keys clear a field by selecting all.
    ASSERT_TRUE(details->clearTitleButton()->isVisible());
    key(Qt::Key_Tab);
    EXPECT_EQ(focus(), subtitle);
    ASSERT_TRUE(details->clearSubtitleButton()->isVisible());
    key(Qt::Key_Backtab);
    EXPECT_EQ(focus(), title);
    key(Qt::Key_Tab);
    ASSERT_EQ(focus(), subtitle);
    QTest::keyClick(handle(), Qt::Key_End);
    QApplication::clipboard()->setText(QStringLiteral("\tsub"));
    key(Qt::Key_V, Qt::ControlModifier);
    click(details->navigationItem().rightBarButtonItem()->view());
    ASSERT_EQ(screen_->presentedViewController(), nullptr);
    EXPECT_EQ(point->title(), std::optional<std::string>("Anchorage KB"));
    EXPECT_EQ(point->subtitle(), std::optional<std::string>("Street Anchorage\tsub"));

    // Select all and Delete empty a field from the keyboard, as its clear button does.
    const auto again = openDetails(point);
    ASSERT_NE(again, nullptr);
    click(again->subtitleView());
    ASSERT_EQ(focus(), again->subtitleView());
    key(Qt::Key_A, Qt::ControlModifier);
    key(Qt::Key_Delete);
    EXPECT_TRUE(again->subtitleView()->toPlainText().isEmpty()) << again->subtitleView()->toPlainText().toStdString();
    key(Qt::Key_Backtab);
    EXPECT_EQ(focus(), again->titleView());
    click(again->navigationItem().rightBarButtonItem()->view());
    ASSERT_EQ(screen_->presentedViewController(), nullptr);
    EXPECT_TRUE(point->subtitle().value_or("").empty()) << *point->subtitle();
}

// The "My Position" callout's gear and share buttons are Tab stops after the map; Return and Space
// press them as a click does (the gear opens "My Location" with the position, the share button the
// share sheet), and each shows the focus ring, light and dark.
TEST_F(KeyboardUse, TheMyPositionCalloutButtonsAreWorkedWithTheKeyboard) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        ASSERT_NO_FATAL_FAILURE(startAgainIn(dark));
        tervolo::testsupport::ScriptedPositionSources sources;
        open(true);
        // As the program's launch does: the location services follow the position from the start,
        // which gives the sheets their best known location.
        tervolo::location::QuovaLocationServices::shared().initLocationServices();
        ASSERT_FALSE(sources.made().empty());
        tervolo::app::tests::allowAndDeliverPosition(sources, platform::CLLocation(60.185, 24.90), [this] { settle(); });
        const auto mine = shown_.userLocationPoint();
        ASSERT_TRUE(mine);
        click(screen_->mapView(), *mine);
        QWidget* gear = shown_.calloutButton("userLocationSettingsButton");
        QWidget* share = shown_.calloutButton("userLocationShareButton");
        ASSERT_NE(gear, nullptr);
        ASSERT_NE(share, nullptr);
        ASSERT_TRUE(gear->isVisible());
        EXPECT_EQ(focus(), screen_->mapView()) << "a click gave a callout button the keys";

        for (QWidget* button : {gear, share}) {
            SCOPED_TRACE(nameOf(button));
            ASSERT_TRUE(tabTo(button));
            ASSERT_NO_FATAL_FAILURE(expectFocusShown(
                button, dark, button == gear ? QStringLiteral("callout-gear") : QStringLiteral("callout-share")));
        }
        for (const Qt::Key which : {Qt::Key_Return, Qt::Key_Space}) {
            SCOPED_TRACE(which == Qt::Key_Return ? "Return" : "Space");
            ASSERT_TRUE(tabTo(gear));
            key(which);
            const auto settings = presentedTop<tervolo::location::UserLocationSettingsViewController>();
            ASSERT_NE(settings, nullptr) << "the gear opened nothing";
            // The sheet opened with a known position shows it, not "(unknown)".
            ASSERT_NE(settings->coordinateLabel(), nullptr);
            EXPECT_NE(settings->coordinateLabel()->text(), QStringLiteral("(unknown)"));
            EXPECT_TRUE(settings->coordinateLabel()->text().contains(QStringLiteral("60")))
                << settings->coordinateLabel()->text().toStdString();
            key(Qt::Key_Escape);
            ASSERT_EQ(screen_->presentedViewController(), nullptr);

            ASSERT_TRUE(tabTo(share));
            key(which);
            ASSERT_NE(screen_->presentedViewController(), nullptr) << "the share button opened nothing";
            key(Qt::Key_Escape);
            ASSERT_EQ(screen_->presentedViewController(), nullptr);
        }
        QApplication::setPalette(QPalette());
    }
}

// A tag chip's remove button in the details is a Tab stop: Return or Space removes that chip only.
// A row's trash button in the tag table is one too: Return or Space asks to delete that tag, as a
// click does. Each shows the focus ring, light and dark; a click gives neither the keys.
TEST_F(KeyboardUse, ChipRemoveAndTagRowTrashButtonsAreWorkedWithTheKeyboard) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        ASSERT_NO_FATAL_FAILURE(startAgainIn(dark));
        std::vector<std::string> tags;
        for (const char* title : {"Bar", "Cinema", "Museum", "Sauna"}) {
            auto tag = tervolo::points::QuovaPointTag::make(title);
            tag->setColorString("5856D6FF");
            tervolo::points::QuovaPointTagStore::shared().addTag(tag);
            tags.push_back(tag->uuid());
        }
        const auto point = addPoint("Harbour", 60.16, 24.95);
        point->setTags(std::vector<std::string>{tags[0], tags[1], tags[2]});
        open();
        const auto details = openDetails(point);
        ASSERT_NE(details, nullptr);
        auto* chips = details->tagFlowView();
        ASSERT_EQ(chips->allTags().size(), 3u);

        const auto chipsAt = [&] { return chips->allTagTitles(); };
        auto* cinema = chips->allTags()[1]->removeButton();
        ASSERT_TRUE(cinema->isVisible());
        ASSERT_TRUE(tabTo(cinema));
        ASSERT_NO_FATAL_FAILURE(expectFocusShown(cinema, dark, QStringLiteral("chip-remove-button")));
        key(Qt::Key_Return);
        EXPECT_EQ(chipsAt(), (std::vector<QString>{"Bar", "Museum"}));
        EXPECT_NE(focus(), nullptr);
        auto* museum = chips->allTags()[1]->removeButton();
        ASSERT_TRUE(tabTo(museum));
        key(Qt::Key_Space);
        EXPECT_EQ(chipsAt(), (std::vector<QString>{"Bar"}));

        // The tag table lists the tags the point has not got; a row's trash button asks as a click does.
        click(details->addTagButton());
        platform::TableView* table = details->tagTableView();
        ASSERT_TRUE(table->isVisible());
        table->layoutRows();
        ASSERT_GE(table->numberOfRows(0), 1);
        platform::TableViewCell* row = table->cellForRow({0, 0});
        ASSERT_NE(row, nullptr);
        auto* trash = row->findChild<QPushButton*>("tagRowDeleteButton");
        ASSERT_NE(trash, nullptr);
        const std::string title = row->textLabel()->text().toStdString();
        const std::string asked = "Delete Tag \"" + title + "\"?";
        click(trash);
        ASSERT_NE(topAlert(), nullptr);
        EXPECT_EQ(topAlert()->title(), asked);
        EXPECT_NE(focus(), trash) << "a click gave the trash button the keys";
        ASSERT_NO_FATAL_FAILURE(answerAlert("Cancel"));
        for (const Qt::Key which : {Qt::Key_Return, Qt::Key_Space}) {
            SCOPED_TRACE(which == Qt::Key_Return ? "Return" : "Space");
            ASSERT_TRUE(tabTo(trash));
            if (which == Qt::Key_Return) {
                ASSERT_NO_FATAL_FAILURE(expectFocusShown(trash, dark, QStringLiteral("tag-row-trash-button")));
            }
            key(which);
            ASSERT_NE(topAlert(), nullptr) << "the key did not press the trash button";
            EXPECT_EQ(topAlert()->title(), asked);
            ASSERT_NO_FATAL_FAILURE(answerAlert("Cancel"));
        }
        QApplication::setPalette(QPalette());
    }
}

// The my-location button's long press (the next tracking mode) has the desktop's keys for "more
// on this control": the menu key and Shift+F10 on the focused button, and a right click. Space
// and Return stay its tap.
TEST_F(KeyboardUse, TheMyLocationButtonsLongPressHasKeys) {
    tervolo::testsupport::ScriptedPositionSources sources;
    open(true);
    tervolo::app::tests::allowAndDeliverPosition(sources, platform::CLLocation(60.185, 24.90), [this] { settle(); });
    const auto mode = [] {
        return platform::UserDefaults::standard()
            .integerValue(tervolo::mapscreen::CenterButton::kTrackingModeKey)
            .value_or(0);
    };
    QWidget* button = screen_->mapButton(Button::myLocation);
    ASSERT_TRUE(tabTo(button));
    const int64_t first = mode();
    struct Step {
        const char* name;
        std::function<void()> press;
    };
    const Step steps[] = {
        {"menu key", [&] { key(Qt::Key_Menu); }},
        {"Shift+F10", [&] { key(Qt::Key_F10, Qt::ShiftModifier); }},
        {"right click",
         [&] {
             const QPoint inWindow = button->mapTo(window_.get(), button->rect().center());
             QTest::mouseClick(handle(), Qt::RightButton, Qt::NoModifier, inWindow);
             settle();
         }},
    };
    int64_t expected = first;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        tervolo::testsupport::SharedLogRecording log;
        step.press();
        expected = (expected + 1) % 3;
        EXPECT_EQ(mode(), expected) << "the tracking mode did not move on";
        const auto texts = log.texts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "myLocationAlternateActivated()"), 1);
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "centerButtonPressed"), 0) << "it was a tap too";
        EXPECT_EQ(screen_->presentedViewController(), nullptr);
    }
    // Space is the tap, which leaves the mode alone.
    tervolo::testsupport::SharedLogRecording log;
    key(Qt::Key_Space);
    const auto texts = log.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "centerButtonPressed"), 1);
    EXPECT_EQ(mode(), expected);
}

// The focus ring on a column button and on the map, light and dark, at pixel ratios 1 and 2, for a
// person to look at. The column button's ring is wide and dark enough to see at a glance on the
// map and against the button: 3:1 or more against the map's sea and land, the button's face and
// its blue, at least two pixels wide, with a light edge outside it for a dark map.
TEST_F(KeyboardUse, ScreenshotsOfTheFocusRing) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        ASSERT_NO_FATAL_FAILURE(startAgainIn(dark));
        open();
        QWidget* button = screen_->mapButton(Button::points);
        ASSERT_TRUE(tabTo(button));
        screen_->mapView()->waitForCells(10000);
        QCoreApplication::processEvents();
        for (const double ratio : {1.0, 2.0}) {
            SCOPED_TRACE(ratio);
            const QImage shot = tervolo::testsupport::renderWidget(*window_, ratio);
            tervolo::testsupport::saveScreenshot(
                shot, TERVOLO_KEYBOARD_SCREENSHOT_DIR,
                QStringLiteral("focus-ring-column-button-%1%2")
                    .arg(dark ? "dark" : "light", ratio > 1 ? "@2x" : ""));
            // Along the button's middle row, from the left: the map, the light edge, the ring.
            const QPoint left = button->mapTo(window_.get(), QPoint(0, button->height() / 2));
            const int y = static_cast<int>(left.y() * ratio);
            const int x0 = static_cast<int>(left.x() * ratio);
            auto* kit = qobject_cast<tervolo::mapscreen::StyleKitButton*>(button);
            ASSERT_NE(kit, nullptr);
            const QColor faceColour = kit->layer().backgroundColor;
            int ringPixels = 0;
            QColor ring;
            // The light edge and the ring take the outer five points.
            for (int x = x0; x < x0 + static_cast<int>(5 * ratio); ++x) {
                const QColor at = shot.pixelColor(x, y);
                if (platform::contrastRatio(at, QColor(203, 216, 222)) >= 3.0) {
                    ++ringPixels;
                    ring = at;
                }
            }
            EXPECT_GE(ringPixels, static_cast<int>(2 * ratio)) << "the ring is too thin";
            ASSERT_TRUE(ring.isValid());
            EXPECT_GE(platform::contrastRatio(ring, QColor(245, 244, 240)), 3.0) << "against the land";
            EXPECT_GE(platform::contrastRatio(ring, faceColour), 3.0) << "against the button's face";
            EXPECT_GE(platform::contrastRatio(ring, tervolo::mapscreen::TervoloButtonKit::buttonBlue()), 3.0)
                << "against the button's blue";
        }
        ASSERT_TRUE(tabTo(screen_->mapView()));
        tervolo::testsupport::saveScreenshot(tervolo::testsupport::renderWidget(*window_, 1.0),
                                             TERVOLO_KEYBOARD_SCREENSHOT_DIR,
                                             QStringLiteral("focus-ring-map-%1").arg(dark ? "dark" : "light"));
        QApplication::setPalette(QPalette());
    }
}

}  // namespace
