#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/mapscreen/MapScreenFixture.hpp"

namespace mapdelegate_test {

using tervolo::mapscreen::MainViewController;
using tervolo::mapscreen::QuovaMapPointAnnotation;
using tervolo::points::QuovaMapPoint;
using Device = tervolo::appinfo::UIDevice_QuovaAdditions;

// The map screen shown in a window over the fixture's fakes, on virtual time,
// with the presentations recorded, and helpers to put points on its map
// straight through the map (so these tests do not depend on the screen's own
// roads for points).
class MapDelegateTest : public widgetkit_test::WidgetTest {
  protected:
    void SetUp() override {
        WidgetTest::SetUp();
        environment_ = std::make_unique<tervolo::testsupport::TestEnvironment>();
        platform::UserDefaults::standard().reload();
        recorder_ = std::make_unique<platform::PresentationRecorder>();
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
    }
    void TearDown() override {
        // Transitions and animations under way end on this test's clock: the
        // next test's presentations would otherwise wait behind them.
        advance(5.0);
        tervolo::points::QuovaPointTagStore::shared().replaceTagsForTesting(std::nullopt);
        screen_.reset();
        fixture_.reset();
        platform::RunLoop::runUntilIdle();
        recorder_.reset();
        device_.reset();
        environment_.reset();
        platform::UserDefaults::standard().reload();
        WidgetTest::TearDown();
    }

    std::shared_ptr<MainViewController> show(QSize size = QSize(1280, 800)) {
        screen_ = fixture_->showInWindow(size);
        platform::RunLoop::runUntilIdle();
        return screen_;
    }
    tervolo::mapscreen::QuovaMKMapView& map() { return *screen_->mapView(); }
    void advance(double seconds) {
        environment_->advance(seconds);
        platform::RunLoop::runUntilIdle();
    }

    // A point titled `title` at (latitude, longitude) on the map, not selected.
    std::shared_ptr<QuovaMapPoint> putPoint(const std::string& title, double latitude, double longitude) {
        auto point = QuovaMapPoint::make(title);
        point->setCoordinate({latitude, longitude});
        map().addAnnotation(QuovaMapPointAnnotation::forPoint(point));
        return point;
    }
    std::shared_ptr<platform::MKAnnotation> annotationOf(const std::shared_ptr<QuovaMapPoint>& point) {
        return QuovaMapPointAnnotation::forPoint(point);
    }
    // The view the map shows for the point, made through the screen on selection.
    std::shared_ptr<platform::MKAnnotationView> select(const std::shared_ptr<QuovaMapPoint>& point) {
        map().selectAnnotation(annotationOf(point));
        return map().viewForAnnotation(annotationOf(point).get());
    }
    // Device type `type` (0 phone, 3 desktop) until the test ends or the next call.
    void setDeviceType(int type) {
        device_.reset();
        sources_ = Device::desktopSources();
        const auto idiom = type == 0 ? Device::Idiom::phone : Device::Idiom::mac;
        sources_.userInterfaceIdiom = [idiom] { return idiom; };
        device_.emplace(sources_);
    }

    std::unique_ptr<tervolo::testsupport::TestEnvironment> environment_;
    std::unique_ptr<platform::PresentationRecorder> recorder_;
    std::unique_ptr<tervolo::testsupport::MapScreenFixture> fixture_;
    std::shared_ptr<MainViewController> screen_;
    Device::Sources sources_;
    std::optional<Device::SourcesReplacement> device_;
};

}  // namespace mapdelegate_test
