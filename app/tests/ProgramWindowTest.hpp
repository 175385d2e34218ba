#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWindow>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Program.hpp"
#include "app/tests/MapScreenWindow.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace tervolo::app::programtests {

// The program's map screen in a shown, active window over private documents and preferences,
// with immediate animations and a virtual clock, driven as a person does: presses and releases
// delivered to the window at the widgets' places.
class ProgramWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::sharedTestApplication("tervolo_app_tests");
        // Each case over documents and preferences of its own.
        environment_.reset();
        environment_.emplace();
        platform::UserDefaults::standard().reload();
        points::QuovaMapPointStore::resetSharedForTesting();
        points::QuovaPointTagStore::resetSharedForTesting();
    }
    void TearDown() override {
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        shown_.close();
    }

    std::shared_ptr<points::QuovaMapPoint> addPoint(
        const std::string& title, double latitude, double longitude, bool deleted = false,
        std::optional<std::vector<std::string>> tags = std::nullopt) {
        auto point = points::QuovaMapPoint::make(title);
        point->setSubtitle("Street " + title);
        point->setCoordinate({latitude, longitude});
        point->setTags(std::move(tags));
        points::QuovaMapPointStore::shared().addPoint(point);
        if (deleted) points::QuovaMapPointStore::shared().deletePoint(point);
        return point;
    }
    std::shared_ptr<points::QuovaPointTag> addTag(const std::string& title, const std::string& colour) {
        auto tag = points::QuovaPointTag::make(title);
        tag->setColorString(colour);
        points::QuovaPointTagStore::shared().addTag(tag);
        return tag;
    }

    // The map screen in a window of `size`, shown and active.
    void open(QSize size = QSize(1280, 800)) {
        ASSERT_NO_FATAL_FAILURE(shown_.open(size, [this](platform::MainWindow& window) { setUpWindow(window); }));
        settle();
    }
    // What open does to the window after giving it the screen, before it is sized and shown.
    virtual void setUpWindow(platform::MainWindow&) {}

    void settle() {
        for (int i = 0; i < 3; ++i) {
            environment_->advance(0.5);
            platform::RunLoop::runUntilIdle();
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    // The release lands where the press did, whatever the press did to the widget.
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

    platform::ImmediateAnimationsScope immediate_;
    std::optional<testsupport::TestEnvironment> environment_;
    tests::MapScreenWindow shown_;
    std::unique_ptr<platform::MainWindow>& window_ = shown_.window;
    std::shared_ptr<mapscreen::MainViewController>& screen_ = shown_.screen;
};

}  // namespace tervolo::app::programtests
