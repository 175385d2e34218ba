#pragma once

#include <QApplication>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "location/QuovaPinCircleOverlay.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/location/ScriptedGeocoderService.hpp"
#include "testsupport/mapscreen/MapScreenFixture.hpp"

namespace points_on_map_test {

using tervolo::mapscreen::MainViewController;
using tervolo::mapscreen::QuovaMapPointAnnotation;
using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using PointPtr = std::shared_ptr<QuovaMapPoint>;

// The harbour of Helsinki, where most points of these tests lie.
inline constexpr platform::CLLocationCoordinate2D kHelsinki{60.1699, 24.9384};

// A map that writes what happens to it as lines, in order: "annotation <title>"
// when one is added, "selected <title>", "halo <radius> top of level 1" (or
// "halo <radius> elsewhere") when a point's circle goes on, "geocode" when a
// reverse geocoding was asked for since the last line, and "rect animated" /
// "rect" when the camera moves.
class RecordingMap : public tervolo::mapscreen::QuovaMKMapView {
  public:
    using QuovaMKMapView::QuovaMKMapView;

    std::vector<std::string> lines;
    std::shared_ptr<tervolo::testsupport::ScriptedGeocoderService> geocoder;
    bool recordCamera = true;

    // Forgets what happened so far: lines and geocodings.
    void startRecording() {
        lines.clear();
        geocodes_ = geocoder ? geocoder->requests().size() : 0;
    }

    void note(const std::string& line) {
        if (geocoder && geocoder->requests().size() > geocodes_) {
            geocodes_ = geocoder->requests().size();
            lines.push_back("geocode");
        }
        lines.push_back(line);
    }

  protected:
    void contentDidChange() override {
        QuovaMKMapView::contentDidChange();
        if (annotationCount() > annotations_) {
            note("annotation " + annotations().back()->title());
        }
        annotations_ = annotationCount();
        const auto selected = selectedAnnotations();
        const std::string now = selected.empty() ? std::string() : selected.front()->title();
        if (!now.empty() && now != selected_) note("selected " + now);
        selected_ = now;
    }
    void overlaysDidChange() override {
        QuovaMKMapView::overlaysDidChange();
        size_t halos = 0;
        for (const auto& overlay : overlays()) {
            if (std::dynamic_pointer_cast<tervolo::location::QuovaPinCircleOverlay>(overlay)) ++halos;
        }
        if (halos > halos_) {
            const auto& top = overlaysInLevel(platform::MKOverlayLevel::AboveLabels);
            const auto circle =
                top.empty() ? nullptr
                            : std::dynamic_pointer_cast<tervolo::location::QuovaPinCircleOverlay>(top.back());
            note(circle ? "halo " + platform::text::describe(circle->radius()) + " top of level 1"
                        : std::string("halo elsewhere"));
        }
        halos_ = halos;
    }
    void cameraDidChange(const CameraState& from, bool animated) override {
        QuovaMKMapView::cameraDidChange(from, animated);
        if (recordCamera) note(animated ? "rect animated" : "rect");
    }

  private:
    size_t annotations_ = 0;
    size_t halos_ = 0;
    size_t geocodes_ = 0;
    std::string selected_;
};

// The map screen shown in a window over a fresh documents folder, with a
// scripted geocoder and, once replaceMap() ran, a RecordingMap in place of
// its own map.
class PointsOnMapTest : public widgetkit_test::WidgetTest {
  protected:
    void SetUp() override {
        widgetkit_test::WidgetTest::SetUp();
        geocoder_ = tervolo::testsupport::ScriptedGeocoderService::install();
    }
    void TearDown() override {
        storeToken_.reset();
        controller_.reset();
        fixture_.reset();
        tervolo::testsupport::ScriptedGeocoderService::uninstall();
        platform::RunLoop::runUntilIdle();
        widgetkit_test::WidgetTest::TearDown();
    }

    std::shared_ptr<MainViewController> show() {
        controller_ = fixture_->showInWindow(QSize(1024, 700));
        platform::RunLoop::runUntilIdle();
        return controller_;
    }
    // Puts a RecordingMap where the screen's map is, as the screen's map.
    RecordingMap& replaceMap() {
        QWidget* old = controller_->mapView();
        auto* map = new RecordingMap(old->parentWidget());
        map->setGeometry(old->geometry());
        map->show();
        map->setDelegate(std::static_pointer_cast<platform::MKMapViewDelegate>(controller_));
        map->setRegion(platform::MKCoordinateRegion{{60.0, 25.0}, {6.0, 12.0}}, false);
        map->geocoder = geocoder_;
        controller_->setMapView(map);
        old->hide();
        return *map;
    }
    // Notes the store's additions among the map's lines: "saved" (the point's
    // file is written) and "stored".
    void recordStore(RecordingMap& map) {
        storeToken_ = QuovaMapPointStore::shared().observeChanges([&map, this](const auto& change) {
            if (change.reason != tervolo::points::MapPointChange::Reason::added) return;
            if (std::filesystem::exists(fileOf(*change.point))) map.note("saved");
            map.note("stored");
        });
    }

    void advance(double seconds) {
        environment_.advance(seconds);
        platform::RunLoop::runUntilIdle();
    }
    // Waits (real time, bounded) until every reverse geocoding has its answer.
    // The scripted answers wait on the virtual clock (for no time at all by
    // default), then hop over to the main queue.
    void settleGeocoding() {
        for (int round = 0; round < 200 && controller_->reverseGeocodingsUnderWay() > 0; ++round) {
            environment_.advance(0);
            platform::RunLoop::runUntil([this] { return controller_->reverseGeocodingsUnderWay() == 0; },
                                        0.05);
        }
        platform::RunLoop::runUntilIdle();
    }

    // A point saved and stored, as another screen leaves it.
    static PointPtr storedPoint(const std::string& title, platform::CLLocationCoordinate2D at,
                                std::optional<double> radius = std::nullopt,
                                std::optional<std::string> subtitle = std::nullopt) {
        auto point = QuovaMapPoint::make(title);
        point->setCoordinate(at);
        point->setAlarmCircleDiameter(radius);
        point->setSubtitle(std::move(subtitle));
        QuovaMapPointStore::shared().addPoint(point);
        return point;
    }
    static std::filesystem::path fileOf(const QuovaMapPoint& point) {
        return std::filesystem::path(QuovaMapPoint::documentDirectory()) /
               (point.uuid().value_or("?") + QuovaMapPoint::kFileExtension);
    }
    // The coordinate `meters` north of `from` (found with the program's own
    // distance, to a micrometre).
    static platform::CLLocationCoordinate2D north(platform::CLLocationCoordinate2D from, double meters) {
        double low = 0, high = 0.01;
        const platform::CLLocation origin(from.latitude, from.longitude);
        for (int i = 0; i < 100; ++i) {
            const double mid = (low + high) / 2;
            (platform::CLLocation(from.latitude + mid, from.longitude).distance(origin) < meters ? low
                                                                                                 : high) =
                mid;
        }
        return {from.latitude + high, from.longitude};
    }
    bool onMap(const PointPtr& point) const {
        return controller_->mapView()->containsAnnotation(QuovaMapPointAnnotation::forPoint(point).get());
    }
    PointPtr selectedPoint() const {
        const auto selected = controller_->mapView()->selectedAnnotations();
        return selected.empty() ? nullptr : QuovaMapPointAnnotation::pointFor(selected.front());
    }

    tervolo::testsupport::TestEnvironment environment_;
    std::unique_ptr<tervolo::testsupport::MapScreenFixture> fixture_ =
        std::make_unique<tervolo::testsupport::MapScreenFixture>();
    std::shared_ptr<MainViewController> controller_;
    std::shared_ptr<tervolo::testsupport::ScriptedGeocoderService> geocoder_;
    std::unique_ptr<QuovaMapPointStore::ChangeToken> storeToken_;
};

}  // namespace points_on_map_test
