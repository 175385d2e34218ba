#pragma once

// The program's map screen as makeMapScreen composes it, shown in an active
// window for tests that drive it as a person does. Main thread only.

#include <gtest/gtest.h>

#include <QSize>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

#include "app/Program.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMKMapView.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/mapkit/MKUserLocation.hpp"
#include "platform/ui/MainWindow.hpp"
#include "testsupport/location/ScriptedPositionSource.hpp"

namespace tervolo::app::tests {

struct MapScreenWindow {
    std::unique_ptr<platform::MainWindow> window;
    std::shared_ptr<mapscreen::MainViewController> screen;

    // Shows the screen at `size`; `setUp` does what else the window needs after it has the screen,
    // before it is sized and shown. A fatal test failure where the screen or the window does not
    // come up.
    void open(QSize size, const std::function<void(platform::MainWindow&)>& setUp) {
        window = std::make_unique<platform::MainWindow>();
        screen = std::dynamic_pointer_cast<mapscreen::MainViewController>(makeMapScreen());
        ASSERT_NE(screen, nullptr);
        window->setRootViewController(screen);
        if (setUp) setUp(*window);
        window->resize(size);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    // The same, configured as the program configures its window where `asProgram` (the map then
    // shows the user's position once one comes).
    void open(QSize size = QSize(1280, 800), bool asProgram = false) {
        open(size, asProgram ? std::function<void(platform::MainWindow&)>(configureMainWindow)
                             : std::function<void(platform::MainWindow&)>());
    }

    std::optional<QPoint> userLocationPoint() const;
    QWidget* calloutButton(const char* name) const;

    // Takes the screen out of its window before both go, then lets what they queued run.
    void close() {
        if (window) window->setRootViewController(nullptr);
        window.reset();
        screen.reset();
        platform::RunLoop::runUntilIdle();
    }
};

// Where the map shows the user's position, in the map view's points; none before a fix.
inline std::optional<QPoint> userLocationPoint(const mapscreen::MainViewController& screen) {
    const platform::MKMapViewModel* map = screen.mainMapView();
    if (map == nullptr || map->userLocation() == nullptr) return std::nullopt;
    const auto at = map->convertCoordinate(map->userLocation()->coordinate());
    return QPoint(static_cast<int>(at.x), static_cast<int>(at.y));
}

// A button of the "My Position" callout: "userLocationSettingsButton" (the gear) or
// "userLocationShareButton"; null while the callout is not there.
inline QWidget* calloutButton(const mapscreen::MainViewController& screen, const char* name) {
    return screen.mapView() != nullptr ? screen.mapView()->findChild<QWidget*>(name) : nullptr;
}

inline std::optional<QPoint> MapScreenWindow::userLocationPoint() const {
    return screen ? tests::userLocationPoint(*screen) : std::nullopt;
}

inline QWidget* MapScreenWindow::calloutButton(const char* name) const {
    return screen ? tests::calloutButton(*screen, name) : nullptr;
}

// The desktop's position service as a person who allows it sees it: every source made so far
// answers "allowed", then delivers `at`; `settle` runs after each step.
inline void allowAndDeliverPosition(const testsupport::ScriptedPositionSources& sources,
                                    const platform::CLLocation& at, const std::function<void()>& settle) {
    for (auto& source : sources.made())
        source->answerAuthorization(platform::CLAuthorizationStatus::authorizedWhenInUse);
    settle();
    for (auto& source : sources.made()) source->deliver(at);
    settle();
}

}  // namespace tervolo::app::tests
