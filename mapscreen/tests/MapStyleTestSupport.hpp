#pragma once

#include <gtest/gtest.h>

#include <QWidget>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "mapscreen/QuovaMKMapView.hpp"
#include "mapscreen/QuovaMKMapViewDelegate.hpp"
#include "mapscreen/QuovaScaleView.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "tiles/QuovaMapManager.hpp"
#include "tiles/QuovaNetworkActivityManager.hpp"
#include "tiles/TileCacheManager.hpp"
#include "tiles/TileOverlayRenderer.hpp"
#include "widgets/hud/MultilineLabel.hpp"

namespace mapstyle_test {

using tervolo::mapscreen::QuovaMKMapView;
using tervolo::mapscreen::QuovaScaleView;
using tervolo::tiles::QuovaBaseMapStyle;
using tervolo::tiles::QuovaTileOverlay;
using tervolo::widgets::hud::MultilineLabel;

// The map screen as the map view sees it: the map's delegate (a tile renderer
// for tile overlays, a translucent red fill for circles, every question
// counted) and its quovaDelegate with a scale bar and a credit label, both
// children of `host`. Records the compass calls.
class TestScreen : public platform::MKMapViewDelegate, public tervolo::mapscreen::QuovaMKMapViewDelegate {
  public:
    explicit TestScreen(QWidget* host) : scale_(new QuovaScaleView(host)), credit_(new MultilineLabel(host)) {
        scale_->resize(220, 30);
        credit_->resize(420, 60);
    }

    std::shared_ptr<platform::MKOverlayRenderer> rendererForOverlay(
        platform::MKMapViewModel&, const std::shared_ptr<platform::MKOverlay>& overlay) override {
        rendererQuestions.push_back(overlay.get());
        if (auto tile = std::dynamic_pointer_cast<QuovaTileOverlay>(overlay))
            return tervolo::tiles::TileOverlayRenderer::makeForOverlay(tile);
        if (auto circle = std::dynamic_pointer_cast<platform::MKCircle>(overlay)) {
            auto renderer = std::make_shared<platform::MKCircleRenderer>(circle);
            renderer->setFillColor(platform::Color(1, 0, 0, 0.25));
            return renderer;
        }
        return nullptr;
    }
    void quovaMapViewDidAddCompassView(QuovaMKMapView&, QWidget* compass) override {
        compassCalls.push_back("added " + std::string(compass->metaObject()->className()));
    }
    void quovaMapViewWillRemoveCompassView(QuovaMKMapView&, QWidget* compass) override {
        compassCalls.push_back("will remove " + std::string(compass->metaObject()->className()));
    }
    QuovaScaleView* scaleView() const override { return withViews ? scale_ : nullptr; }
    MultilineLabel* osmCreditLabel() const override { return withViews ? credit_ : nullptr; }

    QuovaScaleView* scale() const { return scale_; }
    MultilineLabel* credit() const { return credit_; }
    size_t questionsFor(const platform::MKOverlay* overlay) const {
        return size_t(std::count(rendererQuestions.begin(), rendererQuestions.end(), overlay));
    }

    bool withViews = true;
    std::vector<const platform::MKOverlay*> rendererQuestions;
    std::vector<std::string> compassCalls;

  private:
    QuovaScaleView* scale_;
    MultilineLabel* credit_;
};

// A private environment (folders, virtual clock, user defaults), the system
// log captured, a fresh tile manager registry, and a map screen host with the
// map view and the screen's views.
class MapStyleTest : public widgetkit_test::WidgetTest {
  protected:
    void SetUp() override {
        WidgetTest::SetUp();
        environment_ = std::make_unique<tervolo::testsupport::TestEnvironment>();
        platform::UserDefaults::standard().reload();
        systemLog_ = platform::OSLogCapture::install();
        tervolo::tiles::TileCacheManager::resetForTesting();
        tervolo::tiles::QuovaMapManager::shared().resetForTesting();
        host_ = std::make_unique<QWidget>();
        host_->resize(900, 600);
        map_ = new QuovaMKMapView(host_.get());
        map_->setGeometry(0, 0, 900, 600);
        screen_ = std::make_shared<TestScreen>(host_.get());
        map_->setDelegate(screen_);
        map_->setQuovaDelegate(screen_);
    }
    void TearDown() override {
        host_.reset();
        tervolo::tiles::QuovaMapManager::shared().resetForTesting();
        tervolo::tiles::TileCacheManager::resetForTesting();
        tervolo::tiles::TileCacheManager::setSessionFactory(nullptr);
        platform::RunLoop::runUntilIdle();
        systemLog_->uninstall();
        platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
        environment_.reset();
        platform::UserDefaults::standard().reload();
        WidgetTest::TearDown();
    }

    size_t countSystemLines(const std::string& text) const {
        const auto lines = systemLog_->texts();
        return size_t(std::count(lines.begin(), lines.end(), text));
    }
    // Runs the animations and timers due within `seconds` of virtual time.
    void advance(double seconds) { environment_->advance(seconds); }

    std::unique_ptr<tervolo::testsupport::TestEnvironment> environment_;
    std::shared_ptr<platform::OSLogCapture> systemLog_;
    std::unique_ptr<QWidget> host_;
    QuovaMKMapView* map_ = nullptr;  // owned by host_
    std::shared_ptr<TestScreen> screen_;
};

}  // namespace mapstyle_test
