#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QWidget>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PointScreensTestSupport.hpp"
#include "mapscreen/MainMapPort.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PointDetailsViewController.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/logging/LogRecorder.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace pointscreens_test {

// The dark desktop palette the point details screenshots are taken in.
inline QPalette pointDetailsDarkPalette() {
    QPalette dark = tervolo::testsupport::darkScreenshotPalette();
    dark.setColor(QPalette::PlaceholderText, QColor(0x9a, 0xa0, 0xa6));
    return dark;
}

// `widget` drawn over its window colour at a device pixel ratio.
inline QImage grab(QWidget& widget, double ratio) {
    return tervolo::testsupport::renderOnWindowColour(widget, ratio);
}

// The map screen as the details screen sees it: a map model of its own, the
// halos it made, and every point it was asked to put on the map.
class RecordingMainMap : public tervolo::mapscreen::MainMapPort {
  public:
    platform::MKMapViewModel* mainMapView() const override { return hasMap ? &map_ : nullptr; }
    std::shared_ptr<platform::MKOverlay> haloForPoint(
        const std::shared_ptr<tervolo::points::QuovaMapPoint>& point) const override {
        for (const auto& [owner, halo] : halos_) {
            if (owner == point && map_.containsOverlay(halo.get())) return halo;
        }
        return nullptr;
    }
    void addAnnotation(const std::shared_ptr<tervolo::points::QuovaMapPoint>& point) override {
        added.push_back(point);
        map_.addAnnotation(tervolo::mapscreen::QuovaMapPointAnnotation::forPoint(point));
        const auto radius = point->alarmCircleDiameter();
        if (radius && *radius > 0) {
            auto halo = std::make_shared<platform::MKCircle>(point->coordinate(), *radius);
            map_.addOverlay(halo, platform::MKOverlayLevel::AboveLabels);
            halos_.emplace_back(point, halo);
        }
    }
    // The point list's calls: the details screen makes neither.
    void addPoint(const std::shared_ptr<tervolo::points::QuovaMapPoint>& point) override {
        addAnnotation(point);
    }
    void zoomInOnPoint(const std::shared_ptr<tervolo::points::QuovaMapPoint>& point) override {
        zoomed.push_back(point);
    }
    platform::MKMapViewModel& map() { return map_; }
    bool selected(const std::shared_ptr<tervolo::points::QuovaMapPoint>& point) const {
        for (const auto& annotation : map_.selectedAnnotations()) {
            if (tervolo::mapscreen::QuovaMapPointAnnotation::pointFor(annotation) == point) return true;
        }
        return false;
    }

    bool hasMap = true;
    std::vector<std::shared_ptr<tervolo::points::QuovaMapPoint>> added;
    std::vector<std::shared_ptr<tervolo::points::QuovaMapPoint>> zoomed;

  private:
    mutable platform::MKMapViewModel map_;
    std::vector<
        std::pair<std::shared_ptr<tervolo::points::QuovaMapPoint>, std::shared_ptr<platform::MKOverlay>>>
        halos_;
};

// What presents the details screen: the root of a window.
class DetailsHost : public platform::ViewController {};

// A test with private documents and preferences, a virtual clock, fresh
// point and tag stores, a log recording, and a window that presents the
// details screen in a navigation controller as the map screen does.
class PointDetailsTest : public ApplicationTest {
  protected:
    static constexpr double kStartSeconds2001 = 700000000.0;

    void SetUp() override;
    void TearDown() override;

    std::string documents() const { return root_ + "/data/TervoloNG"; }
    std::string pointsFolder() const { return documents() + "/points/"; }

    // A saved point at Helsinki's market square.
    std::shared_ptr<tervolo::points::QuovaMapPoint> savedPoint(const std::string& title,
                                                               std::optional<std::string> subtitle = {});
    // A stored tag.
    std::shared_ptr<tervolo::points::QuovaPointTag> storedTag(const std::string& title,
                                                              const std::string& uuid,
                                                              std::optional<std::string> color = {});
    // Presents the screen for `point` in a window of `size`.
    std::shared_ptr<tervolo::pointscreens::PointDetailsViewController> present(
        std::shared_ptr<tervolo::points::QuovaMapPoint> point, QSize size = QSize(700, 800));
    // The point's file, "" when there is none.
    std::string fileText(const tervolo::points::QuovaMapPoint& point) const;
    // Runs the main queue's pending blocks and Qt's events.
    static void settle();
    // Types `text` into `widget` as a user does (focus first).
    static void type(QWidget* widget, const QString& text);

    tervolo::testsupport::TestEnvironment environment_{
        {.wallSeconds = kStartSeconds2001 + platform::Date::kUnixOffset, .monotonicSeconds = 1000.0}};
    const std::string root_ = environment_.folder().path();
    std::unique_ptr<tervolo::testsupport::SharedLogRecording> log_;
    std::shared_ptr<RecordingMainMap> mainMap_ = std::make_shared<RecordingMainMap>();
    std::unique_ptr<platform::MainWindow> window_;
    std::shared_ptr<DetailsHost> host_;
    platform::ImmediateAnimationsScope immediate_;
};

}  // namespace pointscreens_test
