// The map screen as the user sees it while choosing a tracking mode: the
// my-location button in each mode and the HUD that announces the mode, for a
// person to look at.

#include <QApplication>
#include <QImage>
#include <QPalette>

#include <memory>
#include <optional>
#include <string>

#include "TrackingTestSupport.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "widgets/hud/HUD.hpp"
#include "widgets/hud/HUDController.hpp"

namespace tracking_test {
namespace {

using platform::GestureRecognizer;
using platform::PropertyValue;

class TrackingScreenshotTest : public TrackingTest {
  protected:
    void SetUp() override {
        TrackingTest::SetUp();
        // A HUD of the test's own, gone with the test's application.
        hud_ = std::make_unique<tervolo::widgets::hud::HUDController>();
        replacement_.emplace(*hud_);
        fixture_->showHUD = true;
    }
    void TearDown() override {
        advance(5);  // the HUD fades away
        replacement_.reset();
        TrackingTest::TearDown();
        hud_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The window after a long press that brings the mode to `mode`, while the
    // HUD shows it; the map follows the user near Helsinki.
    QImage takeWithHUD(int64_t mode, double pixelRatio) {
        storeMode(PropertyValue(mode == 0 ? 2 : mode - 1));
        controller_->mapView()->setRegion(platform::MKCoordinateRegion{{60.17, 24.94}, {0.08, 0.2}}, false);
        controller_->mapView()->updateUserLocation(fix(60.1699, 24.9384, 25, 80));
        controller_->locationLongPressRecognizer()->simulateState(GestureRecognizer::State::Began);
        controller_->locationLongPressRecognizer()->simulateState(GestureRecognizer::State::Ended);
        deliver(fix(60.1699, 24.9384, 25, 80));
        advance(0.5);
        controller_->mapView()->waitForCells();
        QApplication::processEvents();
        EXPECT_TRUE(tervolo::widgets::hud::HUD::isVisible());
        return widgetkit_test::render(*fixture_->window(), pixelRatio);
    }

    std::unique_ptr<tervolo::widgets::hud::HUDController> hud_;
    std::optional<platform::SharedInstance<tervolo::widgets::hud::HUDController>::Replacement> replacement_;
};

TEST_F(TrackingScreenshotTest, WritesTheButtonInEachModeWithTheModesHUD) {
    struct Shot {
        const char* name;
        int64_t mode;
        bool dark;
        double pixelRatio;
    };
    const Shot shots[] = {
        {"tracking-hud-follow", 1, false, 1},       {"tracking-hud-heading", 2, false, 1},
        {"tracking-hud-none", 0, false, 1},         {"tracking-hud-follow-dark", 1, true, 1},
        {"tracking-hud-heading-dpr2", 2, false, 2},
    };
    for (const Shot& shot : shots) {
        SCOPED_TRACE(shot.name);
        const QPalette previous = QApplication::palette();
        if (shot.dark) QApplication::setPalette(tervolo::testsupport::darkScreenshotPalette());
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        fixture_->locationServices = services_;
        fixture_->showHUD = true;
        show();
        const QImage image = takeWithHUD(shot.mode, shot.pixelRatio);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(storedMode(), shot.mode);
        widgetkit_test::saveScreenshot(image, QString::fromStdString(shot.name));

        // The button alone, large, once the HUD has gone.
        advance(3);
        EXPECT_FALSE(tervolo::widgets::hud::HUD::isVisible());
        const QImage button = widgetkit_test::render(*controller_->myLocationButton(), 3);
        widgetkit_test::saveScreenshot(button, QString::fromStdString(std::string(shot.name) + "-button"));
        QApplication::setPalette(previous);
        controller_.reset();
    }
}

}  // namespace
}  // namespace tracking_test
