#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/location/CLLocationManager.hpp"
#include "platform/mapkit/MKAnnotationIndex.hpp"
#include "platform/mapkit/MKAnnotationView.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "platform/mapkit/MKMapCamera.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "platform/mapkit/MKOverlayRenderer.hpp"
#include "platform/mapkit/MKUserLocation.hpp"

namespace platform {

// The platform's map types with their raw values. None has imagery here: the map view draws its own
// world map for every one of them (darker for the satellite kinds).
enum class MKMapType {
    Standard = 0,
    Satellite = 1,
    Hybrid = 2,
    SatelliteFlyover = 3,
    HybridFlyover = 4,
    MutedStandard = 5
};

// Where an overlay lies among the map's own drawing: above the roads or above the labels.
enum class MKOverlayLevel { AboveRoads = 0, AboveLabels = 1 };

// The map view without its pixels: camera, conversions between view points and coordinates,
// annotations with their views, selection, dragging, overlays with their renderers and the delegate's
// calls in the platform's order. Main thread only, except visibleMapRectSnapshot() and the renderer
// host calls. The widget derives from it and overrides the hooks at the end to repaint and animate.
//
// Camera: the view shows `zoomScale` view points per map point around a centre map point, turned by
// `heading`. The camera's distance is the visible height in metres at the centre's latitude times
// kCameraDistanceFactor, so at a fixed view size the visible width in map points is proportional to the
// distance. The zoom scale stays between minimumZoomScale() (the world's height fills the view) and
// maximumZoomScale() (zoom level 21); the centre stays where the view does not leave the world north or
// south; east-west the map wraps.
class MKMapViewModel : public MKOverlayRendererHost {
  public:
    struct Size {
        double width = 0;
        double height = 0;
    };
    using Point = MKGraphicsContext::Point;

    static constexpr double kAnimationDuration = 0.35;  // seconds of a programmatic animated move
    // 1 / (2 tan 15°): the distance from which a 30° field of view sees the visible height.
    static constexpr double kCameraDistanceFactor = 1.8660254037844386;

    MKMapViewModel();
    ~MKMapViewModel() override;
    MKMapViewModel(const MKMapViewModel&) = delete;
    MKMapViewModel& operator=(const MKMapViewModel&) = delete;

    void setDelegate(std::weak_ptr<MKMapViewDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<MKMapViewDelegate> delegate() const { return delegate_.lock(); }

    // The view's size in points; the centre and the zoom scale stay.
    Size boundsSize() const { return bounds_; }
    void setBoundsSize(Size size);

    // ---- Camera
    MKMapRect visibleMapRect() const;
    void setVisibleMapRect(const MKMapRect& rect, bool animated = false);
    // The visible rect as last published, readable from any thread (the tile engine's workers).
    MKMapRect visibleMapRectSnapshot() const;
    MKCoordinateRegion region() const;
    void setRegion(const MKCoordinateRegion& region, bool animated = false);
    CLLocationCoordinate2D centerCoordinate() const;
    void setCenterCoordinate(CLLocationCoordinate2D coordinate, bool animated = false);
    MKMapCamera camera() const;
    void setCamera(const MKMapCamera& camera, bool animated = false);
    MKZoomScale zoomScale() const { return zoomScale_; }
    double heading() const { return heading_; }
    MKMapPoint centerMapPoint() const { return center_; }
    double minimumZoomScale() const;
    double maximumZoomScale() const { return kMaximumZoomScale; }

    // ---- Conversions (view points: origin top-left, y down)
    // The coordinate under a view point; kCLLocationCoordinate2DInvalid off the world (north or south).
    CLLocationCoordinate2D convertPoint(Point viewPoint) const;
    // The view point of a coordinate, on the world copy nearest the centre.
    Point convertCoordinate(CLLocationCoordinate2D coordinate) const;
    // The map point under a view point, not wrapped (east of the antimeridian x exceeds the world).
    MKMapPoint mapPointForViewPoint(Point viewPoint) const;
    Point viewPointForMapPoint(MKMapPoint point) const;

    MKMapType mapType() const { return mapType_; }
    void setMapType(MKMapType type);

    // ---- User gestures (the widget drives these): one will/did pair per gesture.
    void beginUserGesture();
    bool isUserGestureActive() const { return gestureActive_; }
    void panBy(double dx, double dy);          // view points the content moves
    void zoomBy(double factor, Point anchor);  // the map point under `anchor` stays put
    void rotateTo(double heading);
    void endUserGesture();

    // ---- Annotations
    void addAnnotation(const std::shared_ptr<MKAnnotation>& annotation);
    void addAnnotations(const std::vector<std::shared_ptr<MKAnnotation>>& annotations);
    void removeAnnotation(const std::shared_ptr<MKAnnotation>& annotation);
    void removeAnnotations(const std::vector<std::shared_ptr<MKAnnotation>>& annotations);
    // In the order they were added.
    std::vector<std::shared_ptr<MKAnnotation>> annotations() const;
    size_t annotationCount() const { return annotations_.size(); }
    bool containsAnnotation(const MKAnnotation* annotation) const {
        return annotations_.count(annotation) != 0;
    }
    // The shared annotation behind a plain pointer (hit tests), none when it is not on the map.
    std::shared_ptr<MKAnnotation> annotationForPointer(const MKAnnotation* annotation) const;
    // Re-reads the annotation's coordinate, title and subtitle (an open callout shows the new texts).
    void annotationChanged(const std::shared_ptr<MKAnnotation>& annotation);
    // The annotations inside `rect`, across the antimeridian too.
    std::vector<std::shared_ptr<MKAnnotation>> annotationsInMapRect(const MKMapRect& rect) const;
    // Visits the same without copying (the painter's path); the map point is the one the map shows.
    void forEachAnnotationInMapRect(const MKMapRect& rect,
                                    const std::function<void(const MKAnnotation&, MKMapPoint)>& visit) const;
    // The same with each annotation's view (null while it has none), without a look-up per annotation.
    void forEachAnnotationAndViewInMapRect(
        const MKMapRect& rect,
        const std::function<void(const MKAnnotation&, MKMapPoint, const MKAnnotationView*)>& visit) const;
    // Counts every change of what those visits find: an annotation added, removed or moved, a view
    // given or taken back. Equal counts, the same annotations at the same points with the same views.
    uint64_t annotationsGeneration() const { return annotationsGeneration_; }

    // ---- Annotation views
    // The annotation's view while it has one (shown, selected or dragged), else none.
    std::shared_ptr<MKAnnotationView> viewForAnnotation(const MKAnnotation* annotation) const;
    std::shared_ptr<MKAnnotationView> dequeueReusableAnnotationView(const std::string& reuseIdentifier);
    // The layout pass: gives a view to every annotation within the visible rect (asking the delegate,
    // then one didAddAnnotationViews with the new ones) and puts the views of annotations out of sight
    // back into their reuse queues. `marginPoints` widens the visible rect by that many view points.
    void updateAnnotationViews(double marginPoints = 64);

    // ---- Selection (single)
    void selectAnnotation(const std::shared_ptr<MKAnnotation>& annotation, bool animated = false);
    void deselectAnnotation(const std::shared_ptr<MKAnnotation>& annotation, bool animated = false);
    std::vector<std::shared_ptr<MKAnnotation>> selectedAnnotations() const;
    void calloutAccessoryTapped(const std::shared_ptr<MKAnnotationView>& view,
                                const std::shared_ptr<MKCalloutAccessoryView>& control);

    // ---- Dragging: starting → dragging → ending | canceling → none
    // Starts when the annotation is selected and its view draggable.
    bool beginDrag(const std::shared_ptr<MKAnnotation>& annotation);
    void dragTo(MKMapPoint point);
    void endDrag();
    void cancelDrag();
    // The annotation being dragged and where it is shown meanwhile.
    std::shared_ptr<MKAnnotation> draggedAnnotation() const { return drag_.annotation; }
    MKMapPoint dragPoint() const { return drag_.point; }

    // ---- Overlays
    void addOverlay(const std::shared_ptr<MKOverlay>& overlay);  // on top of AboveLabels
    void addOverlay(const std::shared_ptr<MKOverlay>& overlay, MKOverlayLevel level);
    void addOverlays(const std::vector<std::shared_ptr<MKOverlay>>& overlays);
    // `index` is clamped to the level's count (so an index past the end lands on top).
    void insertOverlay(const std::shared_ptr<MKOverlay>& overlay, size_t index, MKOverlayLevel level);
    void insertOverlay(const std::shared_ptr<MKOverlay>& overlay, size_t index);  // AboveLabels
    // Directly above / below `sibling`, on its level; a sibling not on the map: like addOverlay.
    void insertOverlayAbove(const std::shared_ptr<MKOverlay>& overlay,
                            const std::shared_ptr<MKOverlay>& sibling);
    void insertOverlayBelow(const std::shared_ptr<MKOverlay>& overlay,
                            const std::shared_ptr<MKOverlay>& sibling);
    void removeOverlay(const std::shared_ptr<MKOverlay>& overlay);
    void removeOverlays(const std::vector<std::shared_ptr<MKOverlay>>& overlays);
    // Draw order: AboveRoads bottom to top, then AboveLabels bottom to top.
    std::vector<std::shared_ptr<MKOverlay>> overlays() const;
    const std::vector<std::shared_ptr<MKOverlay>>& overlaysInLevel(MKOverlayLevel level) const;
    bool containsOverlay(const MKOverlay* overlay) const { return overlayEntries_.count(overlay) != 0; }
    // The first overlay in draw order whose lookupKey() is `key`; none for the empty key. Kept in an
    // index beside the overlay lists, so a look-up costs the number of overlays under that key, not a
    // walk over every overlay (a map may carry ten thousand circles).
    std::shared_ptr<MKOverlay> firstOverlayWithLookupKey(const std::string& key) const;
    // The overlay's renderer: the delegate is asked the first time after each add, and its answer kept.
    std::shared_ptr<MKOverlayRenderer> rendererForOverlay(const std::shared_ptr<MKOverlay>& overlay);
    // The renderer if one was made already (any thread may not call this; main thread only).
    std::shared_ptr<MKOverlayRenderer> existingRendererForOverlay(const MKOverlay* overlay) const;

    // ---- The user's location
    // While on, the map follows the user's position itself through a location manager of its own (the
    // installed position source) and shows it; fixes may also be handed in with updateUserLocation.
    bool showsUserLocation() const { return showsUserLocation_; }
    void setShowsUserLocation(bool shows);
    const std::shared_ptr<MKUserLocation>& userLocation() const { return userLocation_; }
    // A new fix from the position source; reaches the delegate only while the location is shown.
    void updateUserLocation(const CLLocation& location);
    bool isUserLocationVisible() const;

    // True while the compass shows (heading ≠ 0).
    bool isCompassVisible() const { return compassVisible_; }

    // MKOverlayRendererHost: the model alone keeps no pixels.
    void overlayRendererNeedsDisplay(const MKOverlayRenderer& renderer, const MKMapRect& rect,
                                     MKZoomScale zoomScale) override;

  protected:
    // Hooks for the widget (main thread). Defaults do nothing.
    virtual void contentDidChange() {}  // annotations, selection, texts or map type changed
    // One annotation's coordinate or texts changed (annotationChanged): by default like any change of
    // content. A widget may leave alone what draws the same as before (the user's dot, a fix later).
    virtual void annotationDidChange(const MKAnnotation& annotation) {
        (void)annotation;
        contentDidChange();
    }
    // The camera moved; `animated` programmatic moves may be animated from `from` (the old values).
    struct CameraState {
        MKMapPoint center;
        MKZoomScale zoomScale = 1;
        double heading = 0;
    };
    virtual void cameraDidChange(const CameraState& from, bool animated) { (void)from, (void)animated; }
    virtual void overlaysDidChange() {}
    virtual void overlayRendererWillBeRemoved(const std::shared_ptr<MKOverlayRenderer>&) {}
    virtual void compassVisibilityDidChange(bool visible) { (void)visible; }
    // Called before a programmatic camera change: a widget resized while hidden (no resize event yet)
    // brings the bounds up to date here, so the change fits the size the view will have.
    virtual void refreshBounds() {}
    // Unlinks every renderer from this host; the widget calls it before its own parts go.
    void detachRenderers();
    CameraState cameraState() const { return {center_, zoomScale_, heading_}; }

  private:
    // At the sibling's position plus `offset` on its level (0 below it, 1 above it).
    void insertOverlayBeside(const std::shared_ptr<MKOverlay>& overlay,
                             const std::shared_ptr<MKOverlay>& sibling, size_t offset);

    struct AnnotationEntry {
        std::shared_ptr<MKAnnotation> annotation;
        MKMapPoint point;  // where the index holds it
        uint64_t order = 0;
        std::shared_ptr<MKAnnotationView> view;
        uint64_t seenInPass = 0;  // the last updateAnnotationViews pass that found it in the area
    };
    struct OverlayEntry {
        std::shared_ptr<MKOverlay> overlay;
        MKOverlayLevel level = MKOverlayLevel::AboveLabels;
        std::shared_ptr<MKOverlayRenderer> renderer;
        bool rendererAsked = false;
        std::string lookupKey;  // as read when the overlay was added
    };
    struct DragState {
        std::shared_ptr<MKAnnotation> annotation;
        MKMapPoint point;
    };
    static constexpr double kMaximumZoomScale = 2.0;  // zoom level 21

    void applyCamera(MKMapPoint center, double zoomScale, double heading);
    void programmaticChange(bool animated, const std::function<void()>& apply);
    void deliverPendingDidChange();
    void scheduleDidChange(bool animated);
    void publishSnapshot();
    // False when the annotation was refused or is on the map already; the caller reports the change.
    bool insertAnnotation(const std::shared_ptr<MKAnnotation>& annotation, bool refuseInvalid);
    void eraseAnnotation(const MKAnnotation* annotation);
    std::shared_ptr<MKAnnotationView> makeView(AnnotationEntry& entry);
    void recycleView(AnnotationEntry& entry);
    void setDragState(const std::shared_ptr<MKAnnotationView>& view, MKAnnotationViewDragState state);
    void insertOverlayEntry(const std::shared_ptr<MKOverlay>& overlay, size_t index, MKOverlayLevel level);
    void eraseOverlayEntry(const MKOverlay* overlay);
    void syncUserLocationAnnotation();
    void updateCompass();

    std::weak_ptr<MKMapViewDelegate> delegate_;
    Size bounds_{256, 256};
    MKMapPoint center_{kMKMapWorldSide / 2, kMKMapWorldSide / 2};
    double zoomScale_ = 0;
    double heading_ = 0;
    MKMapType mapType_ = MKMapType::Standard;
    bool gestureActive_ = false;
    struct PendingDidChange {
        bool pending = false;
        bool animated = false;
        uint64_t token = 0;
    } pendingDid_;
    // Blocks queued for later hold this weakly and do nothing once the model is gone.
    std::shared_ptr<MKMapViewModel*> alive_;

    mutable std::mutex snapshotMutex_;
    MKMapRect snapshot_ = MKMapRectWorld;

    std::unordered_map<const MKAnnotation*, AnnotationEntry> annotations_;
    uint64_t nextOrder_ = 0;
    MKAnnotationIndex index_;
    uint64_t annotationsGeneration_ = 0;
    std::unordered_set<const MKAnnotation*> withViews_;
    uint64_t viewPass_ = 0;
    std::unordered_map<std::string, std::vector<std::shared_ptr<MKAnnotationView>>> reuseQueues_;
    std::shared_ptr<MKAnnotation> selected_;
    DragState drag_;

    std::vector<std::shared_ptr<MKOverlay>> levels_[2];
    std::unordered_map<const MKOverlay*, OverlayEntry> overlayEntries_;
    // Overlays with a lookup key, by key, in no particular order.
    std::unordered_map<std::string, std::vector<const MKOverlay*>> overlaysByLookupKey_;

    std::shared_ptr<MKUserLocation> userLocation_ = std::make_shared<MKUserLocation>();
    class UserLocationFeed;
    std::shared_ptr<UserLocationFeed> userLocationFeed_;
    std::shared_ptr<CLLocationManager> locationManager_;
    bool showsUserLocation_ = false;
    bool compassVisible_ = false;
};

}  // namespace platform
