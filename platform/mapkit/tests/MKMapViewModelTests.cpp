#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/location/PositionSource.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/mapkit/RecordingMapViewDelegate.hpp"

namespace {

using namespace platform;
using Calls = std::vector<std::string>;

std::shared_ptr<MKPointAnnotation> pin(const std::string& title, double latitude = 60.17,
                                       double longitude = 24.94) {
    return std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{latitude, longitude}, title);
}

class MapModel : public ::testing::Test {
  protected:
    void SetUp() override {
        model.setBoundsSize({800, 600});
        model.setDelegate(delegate);
        // A view of southern Finland at zoom level 8.
        model.setCamera({{60.17, 24.94}, 0, 0, 0});
        model.setVisibleMapRect(MKMapRectMake(MKMapPointForCoordinate({60.17, 24.94}).x - 400 * 4096,
                                              MKMapPointForCoordinate({60.17, 24.94}).y - 300 * 4096,
                                              800 * 4096, 600 * 4096));
        RunLoop::runUntilIdle();
        delegate->clear();
    }

    tervolo::testsupport::VirtualClockScope time;
    std::shared_ptr<tervolo::testsupport::RecordingMapViewDelegate> delegate =
        std::make_shared<tervolo::testsupport::RecordingMapViewDelegate>();
    MKMapViewModel model;
};

// ---- Camera and conversions

TEST_F(MapModel, CameraDistanceIsProportionalToTheVisibleWidth) {
    const double width = model.visibleMapRect().size.width;
    MKMapCamera camera = model.camera();
    EXPECT_NEAR(camera.centerCoordinate.latitude, 60.17, 1e-9);
    camera.centerCoordinateDistance *= 2;
    model.setCamera(camera);
    EXPECT_NEAR(model.visibleMapRect().size.width, 2 * width, 1e-6 * width);
    camera.centerCoordinateDistance *= 0.25;
    model.setCamera(camera);
    EXPECT_NEAR(model.visibleMapRect().size.width, 0.5 * width, 1e-6 * width);
    EXPECT_NEAR(model.camera().centerCoordinateDistance, camera.centerCoordinateDistance,
                1e-9 * camera.centerCoordinateDistance);
}

TEST_F(MapModel, ZoomStaysBetweenTheWorldAndTheDeepestLevel) {
    model.setVisibleMapRect(
        MKMapRectMake(0, 0, 4 * platform::kMKMapWorldSide, 4 * platform::kMKMapWorldSide));
    EXPECT_DOUBLE_EQ(model.zoomScale(), model.minimumZoomScale());
    // The world's height fills the view: nothing north or south of it shows.
    EXPECT_NEAR(model.visibleMapRect().size.height, platform::kMKMapWorldSide, 1);
    EXPECT_NEAR(model.visibleMapRect().origin.y, 0, 1);
    model.setVisibleMapRect(MKMapRectMake(1000, 1000, 1, 1));
    EXPECT_DOUBLE_EQ(model.zoomScale(), model.maximumZoomScale());
    // Panning north past the edge stops at the edge.
    model.setVisibleMapRect(MKMapRectMake(1000, 0, 800 * 64, 600 * 64));
    model.panBy(0, 1e9);
    EXPECT_NEAR(model.visibleMapRect().origin.y, 0, 1e-6);
}

TEST_F(MapModel, ConvertPointAndCoordinate) {
    const CLLocationCoordinate2D centre = model.convertPoint({400, 300});
    EXPECT_NEAR(centre.latitude, model.centerCoordinate().latitude, 1e-9);
    EXPECT_NEAR(centre.longitude, 24.94, 1e-9);
    struct Case {
        double heading;
        MKGraphicsContext::Point point;
    };
    for (const Case c : {Case{0, {10, 20}}, Case{90, {700, 50}}, Case{225, {333, 599}}}) {
        MKMapCamera camera = model.camera();
        camera.heading = c.heading;
        model.setCamera(camera);
        const MKGraphicsContext::Point back = model.convertCoordinate(model.convertPoint(c.point));
        EXPECT_NEAR(back.x, c.point.x, 1e-6) << c.heading;
        EXPECT_NEAR(back.y, c.point.y, 1e-6) << c.heading;
    }
    // Heading 90°: the top of the view faces east.
    MKMapCamera facingEast = model.camera();
    facingEast.heading = 90;
    model.setCamera(facingEast);
    const MKGraphicsContext::Point east = model.convertCoordinate({model.centerCoordinate().latitude, 25.5});
    EXPECT_NEAR(east.x, 400, 1e-6);
    EXPECT_LT(east.y, 300);
    // North of the world there is no coordinate.
    model.setCamera({{0, 0}, 0, 0, 0});
    model.setVisibleMapRect(
        MKMapRectMake(0, 0, 4 * platform::kMKMapWorldSide, 4 * platform::kMKMapWorldSide));
    model.setBoundsSize({800, 600});
    EXPECT_EQ(model.convertPoint({400, -10}), kCLLocationCoordinate2DInvalid);
    EXPECT_EQ(model.convertPoint({400, 610}), kCLLocationCoordinate2DInvalid);
    // East-west the map wraps: a point left of the world is a valid longitude.
    const CLLocationCoordinate2D wrapped = model.convertPoint({-300, 300});
    EXPECT_TRUE(CLLocationCoordinate2DIsValid(wrapped));
}

TEST_F(MapModel, HeadingTurnsTheVisibleRectIntoItsBoundingRect) {
    const MKMapRect plain = model.visibleMapRect();
    MKMapCamera camera = model.camera();
    camera.heading = 90;
    model.setCamera(camera);
    EXPECT_NEAR(model.visibleMapRect().size.width, plain.size.height, 1e-6);
    EXPECT_NEAR(model.visibleMapRect().size.height, plain.size.width, 1e-6);
    EXPECT_DOUBLE_EQ(model.heading(), 90);
    camera.heading = -90;
    model.setCamera(camera);
    EXPECT_DOUBLE_EQ(model.heading(), 270);
}

TEST_F(MapModel, SnapshotIsReadableFromAnyThread) {
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop) {
            const MKMapRect rect = model.visibleMapRectSnapshot();
            // Every published rect has the view's aspect ratio; a torn read would not.
            if (std::abs(rect.size.width / rect.size.height - 800.0 / 600.0) > 1e-9) ++bad;
        }
    });
    for (int i = 0; i < 2000; ++i) model.panBy(3, 1), model.zoomBy(i % 2 == 0 ? 1.1 : 1 / 1.1, {100, 100});
    stop = true;
    reader.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(model.visibleMapRectSnapshot(), model.visibleMapRect());
}

// ---- Region callbacks

TEST_F(MapModel, WillAndDidOrderForProgrammaticMovesAndGestures) {
    struct Case {
        const char* name;
        std::function<void(MKMapViewModel&, tervolo::testsupport::VirtualClockScope&)> act;
        Calls during;  // right after the setter returns
        Calls after;   // once the main queue and the animation ran
    };
    const Case cases[] = {
        {"plain",
         [](MKMapViewModel& m, auto&) {
             m.setCenterCoordinate({61, 25}, false);
         },
         {"willChange animated=0"},
         {"willChange animated=0", "didChange animated=0"}},
        {"animated",
         [](MKMapViewModel& m, auto& t) {
             m.setVisibleMapRect(MKMapRectMake(1e8, 1e8, 1e6, 1e6), true);
             RunLoop::runUntilIdle();
             t.advance(0.3);  // not yet over
         },
         {"willChange animated=1"},
         {"willChange animated=1", "didChange animated=1"}},
        {"interrupted",
         [](MKMapViewModel& m, auto&) {
             m.setCamera({{50, 10}, 1e6, 0, 0}, true);
             m.setRegion({{40, 5}, {1, 1}}, false);
         },
         {"willChange animated=1", "didChange animated=1", "willChange animated=0"},
         {"willChange animated=1", "didChange animated=1", "willChange animated=0", "didChange animated=0"}},
        {"gesture",
         [](MKMapViewModel& m, auto&) {
             m.beginUserGesture();
             m.panBy(10, 0);
             m.beginUserGesture();  // a second start inside the gesture is no new pair
             m.zoomBy(2, {10, 10});
             m.endUserGesture();
             m.endUserGesture();
         },
         {"willChange animated=0", "didChange animated=0"},
         {"willChange animated=0", "didChange animated=0"}},
    };
    for (const auto& c : cases) {
        delegate->clear();
        c.act(model, time);
        EXPECT_EQ(delegate->calls, c.during) << c.name;
        RunLoop::runUntilIdle();
        time.advance(MKMapViewModel::kAnimationDuration);
        EXPECT_EQ(delegate->calls, c.after) << c.name;
    }
}

TEST_F(MapModel, WillChangeSeesTheOldRegionAndDidChangeTheNew) {
    std::vector<double> latitudes;
    delegate->onCall = [&](const std::string&) { latitudes.push_back(model.centerCoordinate().latitude); };
    const double before = model.centerCoordinate().latitude;
    model.setCenterCoordinate({62, 25});
    RunLoop::runUntilIdle();
    ASSERT_EQ(latitudes.size(), 2u);
    EXPECT_NEAR(latitudes[0], before, 1e-9);
    EXPECT_NEAR(latitudes[1], 62, 1e-9);
}

// ---- Annotations

TEST_F(MapModel, AnnotationsAreAnIdentitySet) {
    auto log = OSLogCapture::install();
    auto a = pin("A");
    auto twin = pin("A");  // equal values, another object
    model.addAnnotation(a);
    model.addAnnotation(a);
    model.addAnnotation(twin);
    model.removeAnnotation(pin("never added"));
    model.addAnnotation(nullptr);
    EXPECT_EQ(model.annotationCount(), 2u);
    model.addAnnotation(pin("bad", -180, -180));
    model.addAnnotation(pin("nan", NAN, 0));
    EXPECT_EQ(model.annotationCount(), 2u);
    EXPECT_EQ(log->texts().size(), 2u);
    model.removeAnnotation(a);
    model.removeAnnotation(a);
    EXPECT_EQ(model.annotations(), std::vector<std::shared_ptr<MKAnnotation>>{twin});
    log->uninstall();
}

// The start puts every stored point on the map in one call: the same identity
// rules and order as one by one, and the view told of the change once.
TEST_F(MapModel, BatchInsertionKeepsTheRulesAndNotifiesOnce) {
    struct CountingModel : MKMapViewModel {
        int changes = 0;
        void contentDidChange() override { ++changes; }
    } counting;
    auto log = OSLogCapture::install();
    std::vector<std::shared_ptr<MKAnnotation>> batch;
    std::vector<std::shared_ptr<MKAnnotation>> expected;
    for (int i = 0; i < 3000; ++i) {
        auto annotation = pin("P" + std::to_string(i), 60 + (i % 50) * 0.01, 24 + (i / 50) * 0.01);
        batch.push_back(annotation);
        expected.push_back(annotation);
        if (i % 1000 == 0) batch.push_back(annotation);  // twice in one batch
    }
    batch.push_back(nullptr);
    batch.push_back(pin("nowhere", NAN, 0));
    counting.addAnnotations(batch);
    EXPECT_EQ(counting.changes, 1);
    EXPECT_EQ(counting.annotations(), expected);
    EXPECT_EQ(log->texts().size(), 1u);  // the refused one
    counting.addAnnotations({expected[0], nullptr});
    EXPECT_EQ(counting.changes, 1);  // nothing new, nothing to redraw
    counting.addAnnotation(pin("later"));
    EXPECT_EQ(counting.changes, 2);
    EXPECT_EQ(counting.annotations().back()->title(), "later");
    log->uninstall();
}

TEST_F(MapModel, AnnotationsInRectFollowChangesAndWrap) {
    auto helsinki = pin("Helsinki");
    auto fiji = pin("Fiji", -17.7, 179.9);
    auto samoa = pin("Samoa", -13.8, -172.1);
    model.addAnnotations({helsinki, fiji, samoa});
    auto titles = [&](const MKMapRect& rect) {
        std::vector<std::string> found;
        for (const auto& a : model.annotationsInMapRect(rect)) found.push_back(a->title());
        std::sort(found.begin(), found.end());
        return found;
    };
    // A rect across the antimeridian finds both sides.
    const MKMapRect pacific = MKMapRectForCoordinateRegion({{-15, 180}, {10, 20}});
    EXPECT_EQ(titles(pacific), (std::vector<std::string>{"Fiji", "Samoa"}));
    const MKMapRect finland = MKMapRectForCoordinateRegion({{62, 25}, {10, 20}});
    EXPECT_EQ(titles(finland), std::vector<std::string>{"Helsinki"});
    helsinki->setCoordinate({-15, 178});
    model.annotationChanged(helsinki);
    EXPECT_TRUE(titles(finland).empty());
    EXPECT_EQ(titles(pacific), (std::vector<std::string>{"Fiji", "Helsinki", "Samoa"}));
}

TEST_F(MapModel, ViewsAreMadeLazilyAndReused) {
    const auto visible = pin("near");
    const auto hidden = pin("far", -40, -60);
    delegate->viewFactory = [](MKMapViewModel& map, const std::shared_ptr<MKAnnotation>& annotation) {
        auto view = map.dequeueReusableAnnotationView("pin");
        if (!view) view = std::make_shared<MKPinAnnotationView>(annotation, "pin");
        return view;
    };
    model.addAnnotations({visible, hidden});
    EXPECT_TRUE(delegate->calls.empty());  // nothing asked before a layout pass
    model.updateAnnotationViews();
    EXPECT_EQ(delegate->calls, (Calls{"viewFor near", "didAdd near"}));
    const auto view = model.viewForAnnotation(visible.get());
    ASSERT_TRUE(view);
    EXPECT_EQ(model.viewForAnnotation(hidden.get()), nullptr);
    // A second pass changes nothing.
    delegate->clear();
    model.updateAnnotationViews();
    EXPECT_TRUE(delegate->calls.empty());
    // Moving to the other pin recycles the first view and hands it out for the second.
    model.setCenterCoordinate({-40, -60});
    model.updateAnnotationViews();
    EXPECT_EQ(model.viewForAnnotation(visible.get()), nullptr);
    EXPECT_EQ(model.viewForAnnotation(hidden.get()), view);
    EXPECT_EQ(view->annotation(), hidden);
    // A removed annotation's view goes back to the queue without its annotation.
    model.removeAnnotation(hidden);
    EXPECT_EQ(view->annotation(), nullptr);
    EXPECT_EQ(model.dequeueReusableAnnotationView("pin"), view);
    EXPECT_EQ(model.dequeueReusableAnnotationView("pin"), nullptr);
}

TEST_F(MapModel, DefaultViewsAndTheUserLocation) {
    const auto a = pin("A");
    model.addAnnotation(a);
    model.updateAnnotationViews();
    EXPECT_TRUE(std::dynamic_pointer_cast<MKPinAnnotationView>(model.viewForAnnotation(a.get())));
    // Not shown: fixes are kept but not reported, and there is no user-location annotation.
    model.updateUserLocation(CLLocation(60.2, 24.9));
    EXPECT_TRUE(delegate->callsStartingWith("userLocation").empty());
    EXPECT_FALSE(model.containsAnnotation(model.userLocation().get()));
    model.setShowsUserLocation(true);
    EXPECT_TRUE(model.containsAnnotation(model.userLocation().get()));
    model.updateUserLocation(CLLocation(60.21, 24.91));
    EXPECT_EQ(delegate->callsStartingWith("userLocation").size(), 1u);
    ASSERT_TRUE(model.userLocation()->location());
    EXPECT_NEAR(model.userLocation()->location()->coordinate().latitude, 60.21, 1e-12);
    model.userLocation()->setTitle("My Position");
    model.updateAnnotationViews();
    EXPECT_TRUE(
        std::dynamic_pointer_cast<MKUserLocationView>(model.viewForAnnotation(model.userLocation().get())));
    model.setShowsUserLocation(false);
    EXPECT_FALSE(model.containsAnnotation(model.userLocation().get()));
    model.updateUserLocation(CLLocation(60.22, 24.92));
    EXPECT_EQ(delegate->callsStartingWith("userLocation").size(), 1u);
}

TEST_F(MapModel, ShowingTheUserLocationFollowsThePositionSource) {
    // A position source the test drives.
    struct Source : PositionSource {
        Listener listener;
        int starts = 0;
        int stops = 0;
        void setListener(Listener l) override { listener = std::move(l); }
        void start(const Settings&) override { ++starts; }
        void stop() override { ++stops; }
    };
    auto source = std::make_shared<Source>();
    setPositionSourceFactory([source] { return source; });
    model.setShowsUserLocation(true);
    RunLoop::runUntilIdle();
    EXPECT_EQ(source->starts, 1);
    ASSERT_TRUE(source->listener.fix);
    source->listener.fix(CLLocation(60.2, 24.9));
    RunLoop::runUntilIdle();
    EXPECT_EQ(delegate->callsStartingWith("userLocation").size(), 1u);
    ASSERT_TRUE(model.userLocation()->location());
    EXPECT_NEAR(model.userLocation()->location()->coordinate().latitude, 60.2, 1e-12);
    EXPECT_TRUE(model.containsAnnotation(model.userLocation().get()));
    model.setShowsUserLocation(false);
    EXPECT_EQ(source->stops, 1);
    EXPECT_FALSE(model.containsAnnotation(model.userLocation().get()));
    setPositionSourceFactory(nullptr);
}

// ---- Selection

TEST_F(MapModel, SelectionOrder) {
    const auto a = pin("A");
    const auto b = pin("B", 60.2, 25.0);
    const auto elsewhere = pin("C", -40, -60);
    model.addAnnotations({a, b, elsewhere});
    model.updateAnnotationViews();
    delegate->clear();
    std::vector<size_t> selectedDuringDidSelect;
    delegate->onCall = [&](const std::string& line) {
        if (line.rfind("didSelect", 0) == 0)
            selectedDuringDidSelect.push_back(model.selectedAnnotations().size());
    };
    struct Step {
        std::function<void()> act;
        Calls expected;
    };
    const Step steps[] = {
        {[&] { model.selectAnnotation(a); }, {"didSelect A"}},
        {[&] { model.selectAnnotation(a); }, {}},
        {[&] { model.selectAnnotation(b); }, {"didDeselect A", "didSelect B"}},
        {[&] { model.deselectAnnotation(a); }, {}},
        {[&] { model.deselectAnnotation(b); }, {"didDeselect B"}},
        // Off screen and without a view yet: the view is made on demand.
        {[&] { model.selectAnnotation(elsewhere); }, {"viewFor C", "didAdd C", "didSelect C"}},
        {[&] { model.selectAnnotation(pin("not on the map")); }, {}},
        {[&] { model.removeAnnotation(elsewhere); }, {"didDeselect C"}},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        delegate->clear();
        steps[i].act();
        EXPECT_EQ(delegate->calls, steps[i].expected) << "step " << i;
    }
    EXPECT_TRUE(model.selectedAnnotations().empty());
    EXPECT_EQ(selectedDuringDidSelect, (std::vector<size_t>{1, 1, 1}));
}

TEST_F(MapModel, SelectRightAfterAdd) {
    const auto a = pin("A");
    model.addAnnotation(a);
    model.selectAnnotation(a, true);
    EXPECT_EQ(delegate->calls, (Calls{"viewFor A", "didAdd A", "didSelect A"}));
    EXPECT_EQ(model.selectedAnnotations(), std::vector<std::shared_ptr<MKAnnotation>>{a});
    EXPECT_TRUE(model.viewForAnnotation(a.get())->isSelected());
    // A selected view stays while its annotation is out of sight.
    model.setCenterCoordinate({-40, -60});
    model.updateAnnotationViews();
    EXPECT_TRUE(model.viewForAnnotation(a.get()));
}

TEST_F(MapModel, CalloutAccessoryReportsControlsOnly) {
    struct Accessory : MKCalloutAccessoryView {
        explicit Accessory(bool control) : control(control) {}
        bool isControl() const override { return control; }
        bool control;
    };
    const auto a = pin("A");
    model.addAnnotation(a);
    model.selectAnnotation(a);
    delegate->clear();
    const auto view = model.viewForAnnotation(a.get());
    model.calloutAccessoryTapped(view, std::make_shared<Accessory>(true));
    model.calloutAccessoryTapped(view, std::make_shared<Accessory>(false));
    EXPECT_EQ(delegate->calls, Calls{"accessory A"});
}

// ---- Dragging

TEST_F(MapModel, DragSequences) {
    const auto a = pin("A");
    model.addAnnotation(a);
    model.selectAnnotation(a);
    model.viewForAnnotation(a.get())->setDraggable(true);
    const MKMapPoint target = MKMapPointForCoordinate({60.5, 25.5});
    std::vector<double> latitudeAtEnding;
    delegate->onCall = [&](const std::string& line) {
        if (line == "drag A 4<-2") latitudeAtEnding.push_back(a->coordinate().latitude);
    };

    delegate->clear();
    ASSERT_TRUE(model.beginDrag(a));
    EXPECT_FALSE(model.beginDrag(a));  // one drag at a time
    model.dragTo({target.x - 100, target.y});
    model.dragTo(target);
    model.cancelDrag();
    EXPECT_EQ(delegate->calls, (Calls{"drag A 1<-0", "drag A 2<-1", "drag A 3<-2", "drag A 0<-3"}));
    EXPECT_NEAR(a->coordinate().latitude, 60.17, 1e-12);  // cancelling does not move

    delegate->clear();
    ASSERT_TRUE(model.beginDrag(a));
    model.dragTo(target);
    model.endDrag();
    EXPECT_EQ(delegate->calls, (Calls{"drag A 1<-0", "drag A 2<-1", "drag A 4<-2", "drag A 0<-4"}));
    ASSERT_EQ(latitudeAtEnding.size(), 1u);
    EXPECT_NEAR(latitudeAtEnding[0], 60.5, 1e-9);  // moved before "ending"
    EXPECT_EQ(model.annotationsInMapRect(MKMapRectMake(target.x - 1, target.y - 1, 2, 2)).size(), 1u);

    // Not draggable or not selected: no drag.
    model.viewForAnnotation(a.get())->setDraggable(false);
    EXPECT_FALSE(model.beginDrag(a));
    model.viewForAnnotation(a.get())->setDraggable(true);
    model.deselectAnnotation(a);
    EXPECT_FALSE(model.beginDrag(a));

    // Removing the annotation mid-drag cancels the drag before the deselection.
    model.selectAnnotation(a);
    ASSERT_TRUE(model.beginDrag(a));
    model.dragTo(target);
    delegate->clear();
    model.removeAnnotation(a);
    EXPECT_EQ(delegate->calls, (Calls{"drag A 3<-2", "drag A 0<-3", "didDeselect A"}));
}

}  // namespace
