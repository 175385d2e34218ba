#include "platform/mapkit/MKMapViewModel.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/OSLog.hpp"

namespace platform {

namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
constexpr size_t kReuseQueueLimit = 256;

struct MapLog {
    std::shared_ptr<OSLog> log = OSLog::make("org.tervolo.TervoloNG", "mapkit");
};

const std::shared_ptr<OSLog>& mapLog() {
    return SharedInstance<MapLog>::get().log;
}

double normalizedHeading(double heading) {
    if (!std::isfinite(heading)) return 0;
    double value = std::fmod(heading, 360.0);
    if (value < 0) value += 360.0;
    return value >= 360.0 ? 0.0 : value;
}

}  // namespace

// Hands the map's own location manager's fixes to the model; unlinked when the model goes.
class MKMapViewModel::UserLocationFeed : public CLLocationManagerDelegate {
  public:
    explicit UserLocationFeed(MKMapViewModel* model) : model_(model) {}
    void unlink() { model_ = nullptr; }
    void locationManagerDidUpdateLocations(CLLocationManager&,
                                           const std::vector<CLLocation>& locations) override {
        if (model_ != nullptr && !locations.empty()) model_->updateUserLocation(locations.back());
    }

  private:
    MKMapViewModel* model_;
};

MKMapViewModel::MKMapViewModel() : alive_(std::make_shared<MKMapViewModel*>(this)) {
    zoomScale_ = minimumZoomScale();
    publishSnapshot();
}

MKMapViewModel::~MKMapViewModel() {
    *alive_ = nullptr;
    if (userLocationFeed_) userLocationFeed_->unlink();
    if (locationManager_) locationManager_->stopUpdatingLocation();
    detachRenderers();
}

void MKMapViewModel::detachRenderers() {
    for (auto& [key, entry] : overlayEntries_) {
        if (entry.renderer) entry.renderer->setHost(nullptr);
    }
}

// ---- Camera

void MKMapViewModel::setBoundsSize(Size size) {
    bounds_ = {std::isfinite(size.width) ? std::max(size.width, 1.0) : 1.0,
               std::isfinite(size.height) ? std::max(size.height, 1.0) : 1.0};
    applyCamera(center_, zoomScale_, heading_);
    publishSnapshot();
}

double MKMapViewModel::minimumZoomScale() const {
    // The world's height fills the view; east-west the map repeats.
    return std::min(bounds_.height / kMKMapWorldSide, kMaximumZoomScale);
}

void MKMapViewModel::applyCamera(MKMapPoint center, double zoomScale, double heading) {
    if (!std::isfinite(zoomScale) || zoomScale <= 0)
        zoomScale = zoomScale_ > 0 ? zoomScale_ : minimumZoomScale();
    zoomScale_ = std::clamp(zoomScale, minimumZoomScale(), kMaximumZoomScale);
    heading_ = normalizedHeading(heading);
    double x = std::isfinite(center.x) ? center.x : center_.x;
    double y = std::isfinite(center.y) ? center.y : center_.y;
    x = MKMapPointWrapX(x);
    // The view's own height in map points (turned views keep their unturned height north-south, which
    // is what keeps the world's edge out of sight when the heading is 0).
    const double halfHeight = bounds_.height / zoomScale_ / 2;
    if (halfHeight * 2 >= kMKMapWorldSide) {
        y = kMKMapWorldSide / 2;
    } else {
        y = std::clamp(y, halfHeight, kMKMapWorldSide - halfHeight);
    }
    center_ = {x, y};
    updateCompass();
}

MKMapRect MKMapViewModel::visibleMapRect() const {
    double width = bounds_.width / zoomScale_;
    double height = bounds_.height / zoomScale_;
    if (heading_ != 0) {
        // The axis-aligned rect around the turned view.
        const double c = std::abs(std::cos(heading_ * kRadiansPerDegree));
        const double s = std::abs(std::sin(heading_ * kRadiansPerDegree));
        const double turnedWidth = width * c + height * s;
        const double turnedHeight = width * s + height * c;
        width = turnedWidth;
        height = turnedHeight;
    }
    return MKMapRectMake(center_.x - width / 2, center_.y - height / 2, width, height);
}

void MKMapViewModel::publishSnapshot() {
    const MKMapRect rect = visibleMapRect();
    std::lock_guard lock(snapshotMutex_);
    snapshot_ = rect;
}

MKMapRect MKMapViewModel::visibleMapRectSnapshot() const {
    std::lock_guard lock(snapshotMutex_);
    return snapshot_;
}

void MKMapViewModel::programmaticChange(bool animated, const std::function<void()>& apply) {
    refreshBounds();
    deliverPendingDidChange();
    const CameraState from = cameraState();
    if (auto delegate = delegate_.lock()) delegate->regionWillChangeAnimated(*this, animated);
    apply();
    publishSnapshot();
    cameraDidChange(from, animated);
    scheduleDidChange(animated);
}

void MKMapViewModel::deliverPendingDidChange() {
    if (!pendingDid_.pending) return;
    pendingDid_.pending = false;
    ++pendingDid_.token;
    if (auto delegate = delegate_.lock()) delegate->regionDidChangeAnimated(*this, pendingDid_.animated);
}

void MKMapViewModel::scheduleDidChange(bool animated) {
    pendingDid_.pending = true;
    pendingDid_.animated = animated;
    const uint64_t token = ++pendingDid_.token;
    std::weak_ptr<MKMapViewModel*> alive = alive_;
    auto deliver = [alive, token] {
        const auto self = alive.lock();
        if (!self || *self == nullptr) return;
        MKMapViewModel& model = **self;
        if (!model.pendingDid_.pending || model.pendingDid_.token != token) return;
        model.deliverPendingDidChange();
    };
    if (animated) {
        DispatchQueue::main()->asyncAfter(kAnimationDuration, deliver);
    } else {
        DispatchQueue::main()->async(deliver);
    }
}

void MKMapViewModel::setVisibleMapRect(const MKMapRect& rect, bool animated) {
    if (MKMapRectIsEmpty(rect) || !std::isfinite(rect.size.width) || !std::isfinite(rect.size.height)) return;
    programmaticChange(animated, [&] {
        const double scale = std::min(bounds_.width / rect.size.width, bounds_.height / rect.size.height);
        applyCamera({MKMapRectGetMidX(rect), MKMapRectGetMidY(rect)}, scale, heading_);
    });
}

MKCoordinateRegion MKMapViewModel::region() const {
    return MKCoordinateRegionForMapRect(visibleMapRect());
}

void MKMapViewModel::setRegion(const MKCoordinateRegion& region, bool animated) {
    if (!CLLocationCoordinate2DIsValid(region.center)) return;
    setVisibleMapRect(MKMapRectForCoordinateRegion(region), animated);
}

CLLocationCoordinate2D MKMapViewModel::centerCoordinate() const {
    return MKCoordinateForMapPoint(center_);
}

void MKMapViewModel::setCenterCoordinate(CLLocationCoordinate2D coordinate, bool animated) {
    if (!CLLocationCoordinate2DIsValid(coordinate)) return;
    programmaticChange(animated,
                       [&] { applyCamera(MKMapPointForCoordinate(coordinate), zoomScale_, heading_); });
}

MKMapCamera MKMapViewModel::camera() const {
    const CLLocationCoordinate2D center = centerCoordinate();
    const double visibleHeightMeters =
        bounds_.height / zoomScale_ * MKMetersPerMapPointAtLatitude(center.latitude);
    return {center, visibleHeightMeters * kCameraDistanceFactor, heading_, 0};
}

void MKMapViewModel::setCamera(const MKMapCamera& camera, bool animated) {
    if (!CLLocationCoordinate2DIsValid(camera.centerCoordinate)) return;
    programmaticChange(animated, [&] {
        double scale = zoomScale_;
        if (std::isfinite(camera.centerCoordinateDistance) && camera.centerCoordinateDistance > 0) {
            scale = bounds_.height * MKMetersPerMapPointAtLatitude(camera.centerCoordinate.latitude) *
                    kCameraDistanceFactor / camera.centerCoordinateDistance;
        }
        applyCamera(MKMapPointForCoordinate(camera.centerCoordinate), scale, camera.heading);
    });
}

// ---- Conversions

MKMapPoint MKMapViewModel::mapPointForViewPoint(Point viewPoint) const {
    double dx = viewPoint.x - bounds_.width / 2;
    double dy = viewPoint.y - bounds_.height / 2;
    if (heading_ != 0) {
        // The view is turned by the heading clockwise from north; undo that turn.
        const double c = std::cos(heading_ * kRadiansPerDegree);
        const double s = std::sin(heading_ * kRadiansPerDegree);
        const double x = dx * c - dy * s;
        const double y = dx * s + dy * c;
        dx = x;
        dy = y;
    }
    return {center_.x + dx / zoomScale_, center_.y + dy / zoomScale_};
}

MKGraphicsContext::Point MKMapViewModel::viewPointForMapPoint(MKMapPoint point) const {
    double dx = point.x - center_.x;
    // The world copy nearest the centre.
    dx -= std::round(dx / kMKMapWorldSide) * kMKMapWorldSide;
    double dy = point.y - center_.y;
    dx *= zoomScale_;
    dy *= zoomScale_;
    if (heading_ != 0) {
        const double c = std::cos(heading_ * kRadiansPerDegree);
        const double s = std::sin(heading_ * kRadiansPerDegree);
        const double x = dx * c + dy * s;
        const double y = -dx * s + dy * c;
        dx = x;
        dy = y;
    }
    return {bounds_.width / 2 + dx, bounds_.height / 2 + dy};
}

CLLocationCoordinate2D MKMapViewModel::convertPoint(Point viewPoint) const {
    const MKMapPoint point = mapPointForViewPoint(viewPoint);
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || point.y < 0 || point.y > kMKMapWorldSide) {
        return kCLLocationCoordinate2DInvalid;
    }
    return MKCoordinateForMapPoint({MKMapPointWrapX(point.x), point.y});
}

MKGraphicsContext::Point MKMapViewModel::convertCoordinate(CLLocationCoordinate2D coordinate) const {
    return viewPointForMapPoint(MKMapPointForCoordinate(coordinate));
}

void MKMapViewModel::setMapType(MKMapType type) {
    if (type == mapType_) return;
    mapType_ = type;
    contentDidChange();
}

// ---- User gestures

void MKMapViewModel::beginUserGesture() {
    if (gestureActive_) return;
    deliverPendingDidChange();
    gestureActive_ = true;
    if (auto delegate = delegate_.lock()) delegate->regionWillChangeAnimated(*this, false);
}

void MKMapViewModel::panBy(double dx, double dy) {
    const CameraState from = cameraState();
    const MKMapPoint anchor = mapPointForViewPoint({bounds_.width / 2 - dx, bounds_.height / 2 - dy});
    applyCamera(anchor, zoomScale_, heading_);
    publishSnapshot();
    cameraDidChange(from, false);
}

void MKMapViewModel::zoomBy(double factor, Point anchor) {
    if (!std::isfinite(factor) || factor <= 0) return;
    const CameraState from = cameraState();
    const MKMapPoint under = mapPointForViewPoint(anchor);
    const double scale = std::clamp(zoomScale_ * factor, minimumZoomScale(), kMaximumZoomScale);
    zoomScale_ = scale;
    // Keep `under` beneath the anchor: the centre is the anchor's offset from the middle, unturned and
    // divided by the new scale, away from it.
    const MKMapPoint middle = mapPointForViewPoint({bounds_.width / 2, bounds_.height / 2});
    const MKMapPoint afterAnchor = mapPointForViewPoint(anchor);
    applyCamera({middle.x + (under.x - afterAnchor.x), middle.y + (under.y - afterAnchor.y)}, scale,
                heading_);
    publishSnapshot();
    cameraDidChange(from, false);
}

void MKMapViewModel::rotateTo(double heading) {
    const CameraState from = cameraState();
    applyCamera(center_, zoomScale_, heading);
    publishSnapshot();
    cameraDidChange(from, false);
}

void MKMapViewModel::endUserGesture() {
    if (!gestureActive_) return;
    gestureActive_ = false;
    if (auto delegate = delegate_.lock()) delegate->regionDidChangeAnimated(*this, false);
}

void MKMapViewModel::updateCompass() {
    const bool visible = heading_ != 0;
    if (visible == compassVisible_) return;
    compassVisible_ = visible;
    compassVisibilityDidChange(visible);
}

// ---- Annotations

void MKMapViewModel::addAnnotation(const std::shared_ptr<MKAnnotation>& annotation) {
    if (insertAnnotation(annotation, true)) contentDidChange();
}

void MKMapViewModel::addAnnotations(const std::vector<std::shared_ptr<MKAnnotation>>& annotations) {
    // A start can bring thousands: the table grows once and the view hears of the change once.
    annotations_.reserve(annotations_.size() + annotations.size());
    bool added = false;
    for (const auto& annotation : annotations) added = insertAnnotation(annotation, true) || added;
    if (added) contentDidChange();
}

bool MKMapViewModel::insertAnnotation(const std::shared_ptr<MKAnnotation>& annotation, bool refuseInvalid) {
    if (!annotation || annotations_.count(annotation.get()) != 0) return false;
    const CLLocationCoordinate2D coordinate = annotation->coordinate();
    if (refuseInvalid && !CLLocationCoordinate2DIsValid(coordinate)) {
        // The platform would place such a pin somewhere meaningless; leave it off the map instead.
        mapLog()->write(OSLogType::Error,
                        "addAnnotation: refused an annotation with the invalid coordinate (" +
                            std::to_string(coordinate.latitude) + ", " +
                            std::to_string(coordinate.longitude) + ")");
        return false;
    }
    AnnotationEntry entry{annotation, MKMapPointForCoordinate(coordinate), nextOrder_++, nullptr};
    // Entries keep their address in the map's nodes: the index carries it to the painter.
    const auto placed = annotations_.emplace(annotation.get(), std::move(entry)).first;
    index_.insert(annotation.get(), placed->second.point, &placed->second);
    return true;
}

void MKMapViewModel::removeAnnotation(const std::shared_ptr<MKAnnotation>& annotation) {
    if (!annotation || annotations_.count(annotation.get()) == 0) return;
    if (drag_.annotation == annotation) cancelDrag();
    if (selected_ == annotation) deselectAnnotation(annotation, false);
    eraseAnnotation(annotation.get());
    contentDidChange();
}

void MKMapViewModel::removeAnnotations(const std::vector<std::shared_ptr<MKAnnotation>>& annotations) {
    for (const auto& annotation : annotations) removeAnnotation(annotation);
}

void MKMapViewModel::eraseAnnotation(const MKAnnotation* annotation) {
    const auto found = annotations_.find(annotation);
    if (found == annotations_.end()) return;
    recycleView(found->second);
    index_.remove(annotation, found->second.point);
    annotations_.erase(found);
}

std::vector<std::shared_ptr<MKAnnotation>> MKMapViewModel::annotations() const {
    std::vector<const AnnotationEntry*> entries;
    entries.reserve(annotations_.size());
    for (const auto& [key, entry] : annotations_) entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(),
              [](const auto* a, const auto* b) { return a->order < b->order; });
    std::vector<std::shared_ptr<MKAnnotation>> result;
    result.reserve(entries.size());
    for (const auto* entry : entries) result.push_back(entry->annotation);
    return result;
}

std::shared_ptr<MKAnnotation> MKMapViewModel::annotationForPointer(const MKAnnotation* annotation) const {
    const auto found = annotations_.find(annotation);
    return found == annotations_.end() ? nullptr : found->second.annotation;
}

void MKMapViewModel::annotationChanged(const std::shared_ptr<MKAnnotation>& annotation) {
    if (!annotation) return;
    const auto found = annotations_.find(annotation.get());
    if (found == annotations_.end()) return;
    const CLLocationCoordinate2D coordinate = annotation->coordinate();
    if (CLLocationCoordinate2DIsValid(coordinate)) {
        const MKMapPoint point = MKMapPointForCoordinate(coordinate);
        if (!(point == found->second.point)) {
            index_.remove(annotation.get(), found->second.point);
            found->second.point = point;
            index_.insert(annotation.get(), point, &found->second);
        }
    } else if (annotation != userLocation_) {
        mapLog()->write(OSLogType::Error,
                        "annotationChanged: kept the last valid position of an annotation whose "
                        "coordinate became invalid");
    }
    annotationDidChange(*annotation);
}

namespace {

// Splits a rect that reaches across either edge of the world into its parts inside the world and
// calls `visitPart(part, shift)`, the shift being what moves a point of the part to where the rect
// sees it.
template <typename VisitPart>
void forEachWorldPart(const MKMapRect& rect, VisitPart&& visitPart) {
    if (MKMapRectIsEmpty(rect)) return;
    if (rect.size.width >= kMKMapWorldSide) {
        visitPart(MKMapRectMake(0, rect.origin.y, kMKMapWorldSide, rect.size.height), 0.0);
        return;
    }
    const double start = MKMapPointWrapX(rect.origin.x);
    const double shift = rect.origin.x - start;
    const double end = start + rect.size.width;
    visitPart(MKMapRectMake(start, rect.origin.y, std::min(end, kMKMapWorldSide) - start, rect.size.height),
              shift);
    if (end > kMKMapWorldSide) {
        visitPart(MKMapRectMake(0, rect.origin.y, end - kMKMapWorldSide, rect.size.height),
                  shift + kMKMapWorldSide);
    }
}

}  // namespace

void MKMapViewModel::forEachAnnotationInMapRect(
    const MKMapRect& rect, const std::function<void(const MKAnnotation&, MKMapPoint)>& visit) const {
    forEachWorldPart(rect, [&](const MKMapRect& part, double shift) {
        index_.visitRect(part, [&](const MKAnnotation* annotation, MKMapPoint point) {
            visit(*annotation, {point.x + shift, point.y});
        });
    });
}

void MKMapViewModel::forEachAnnotationAndViewInMapRect(
    const MKMapRect& rect,
    const std::function<void(const MKAnnotation&, MKMapPoint, const MKAnnotationView*)>& visit) const {
    forEachWorldPart(rect, [&](const MKMapRect& part, double shift) {
        index_.visitItems(part, [&](const MKAnnotation* annotation, MKMapPoint point, const void* cookie) {
            const auto* entry = static_cast<const AnnotationEntry*>(cookie);
            visit(*annotation, {point.x + shift, point.y}, entry->view.get());
        });
    });
}

std::vector<std::shared_ptr<MKAnnotation>> MKMapViewModel::annotationsInMapRect(const MKMapRect& rect) const {
    std::vector<std::shared_ptr<MKAnnotation>> result;
    forEachAnnotationInMapRect(rect, [&](const MKAnnotation& annotation, MKMapPoint) {
        result.push_back(annotations_.at(&annotation).annotation);
    });
    return result;
}

// ---- Annotation views

std::shared_ptr<MKAnnotationView> MKMapViewModel::viewForAnnotation(const MKAnnotation* annotation) const {
    const auto found = annotations_.find(annotation);
    return found == annotations_.end() ? nullptr : found->second.view;
}

std::shared_ptr<MKAnnotationView> MKMapViewModel::dequeueReusableAnnotationView(
    const std::string& reuseIdentifier) {
    const auto found = reuseQueues_.find(reuseIdentifier);
    if (found == reuseQueues_.end() || found->second.empty()) return nullptr;
    auto view = std::move(found->second.back());
    found->second.pop_back();
    return view;
}

std::shared_ptr<MKAnnotationView> MKMapViewModel::makeView(AnnotationEntry& entry) {
    std::shared_ptr<MKAnnotationView> view;
    if (auto delegate = delegate_.lock()) view = delegate->viewForAnnotation(*this, entry.annotation);
    if (!view) {
        if (entry.annotation == userLocation_) {
            view = std::make_shared<MKUserLocationView>(entry.annotation, "MKUserLocationView");
        } else {
            view = std::make_shared<MKPinAnnotationView>(entry.annotation, "MKPinAnnotationView");
        }
        view->setCanShowCallout(!entry.annotation->title().empty());
    }
    view->setAnnotation(entry.annotation);
    entry.view = view;
    withViews_.insert(entry.annotation.get());
    return view;
}

void MKMapViewModel::recycleView(AnnotationEntry& entry) {
    if (!entry.view) return;
    auto view = std::move(entry.view);
    entry.view.reset();
    withViews_.erase(entry.annotation.get());
    view->prepareForReuse();
    auto& queue = reuseQueues_[view->reuseIdentifier()];
    if (queue.size() < kReuseQueueLimit) queue.push_back(std::move(view));
}

void MKMapViewModel::updateAnnotationViews(double marginPoints) {
    const double margin = std::max(marginPoints, 0.0) / zoomScale_;
    const MKMapRect area = MKMapRectInset(visibleMapRect(), -margin, -margin);
    // Thousands of annotations can lie in the area: each is stamped with this pass through the entry
    // the index carries, not collected into a set, and the new ones keep their order for the sort.
    const uint64_t pass = ++viewPass_;
    std::vector<std::pair<uint64_t, const MKAnnotation*>> needViews;
    forEachWorldPart(area, [&](const MKMapRect& part, double) {
        index_.visitItems(part, [&](const MKAnnotation* annotation, MKMapPoint, const void* cookie) {
            // The cookie is the map's own (non-const) entry.
            auto* entry = const_cast<AnnotationEntry*>(static_cast<const AnnotationEntry*>(cookie));
            if (entry->seenInPass == pass) return;
            entry->seenInPass = pass;
            if (!entry->view) needViews.emplace_back(entry->order, annotation);
        });
    });
    // Out of sight and neither selected nor dragged: back to the reuse queue first, so that the views
    // made below can be dequeued from it.
    std::vector<AnnotationEntry*> leaving;
    for (const MKAnnotation* annotation : withViews_) {
        AnnotationEntry& entry = annotations_.at(annotation);
        if (entry.seenInPass == pass) continue;
        if (selected_.get() == annotation || drag_.annotation.get() == annotation) continue;
        leaving.push_back(&entry);
    }
    for (AnnotationEntry* entry : leaving) recycleView(*entry);
    // New views in the order the annotations were added, like the platform's batch.
    std::sort(needViews.begin(), needViews.end());
    std::vector<std::shared_ptr<MKAnnotationView>> added;
    for (const auto& [order, annotation] : needViews) {
        // The delegate may have removed annotations while making the views before.
        const auto found = annotations_.find(annotation);
        if (found == annotations_.end() || found->second.view) continue;
        added.push_back(makeView(found->second));
    }
    if (!added.empty()) {
        if (auto delegate = delegate_.lock()) delegate->didAddAnnotationViews(*this, added);
    }
}

// ---- Selection

void MKMapViewModel::selectAnnotation(const std::shared_ptr<MKAnnotation>& annotation, bool animated) {
    if (!annotation) return;
    const auto found = annotations_.find(annotation.get());
    if (found == annotations_.end() || selected_ == annotation) return;
    if (selected_) deselectAnnotation(selected_, animated);
    // Selecting right after adding works: the view is made on demand.
    std::shared_ptr<MKAnnotationView> view = found->second.view;
    if (!view) {
        view = makeView(found->second);
        if (auto delegate = delegate_.lock()) delegate->didAddAnnotationViews(*this, {view});
    }
    // The delegate may have removed the annotation meanwhile.
    if (annotations_.count(annotation.get()) == 0) return;
    selected_ = annotation;
    view->selected_ = true;
    contentDidChange();
    if (auto delegate = delegate_.lock()) delegate->didSelectAnnotationView(*this, view);
}

void MKMapViewModel::deselectAnnotation(const std::shared_ptr<MKAnnotation>& given, bool) {
    // A copy: callers pass selected_ itself, which is reset below.
    const std::shared_ptr<MKAnnotation> annotation = given;
    if (!annotation || selected_ != annotation) return;
    if (drag_.annotation == annotation) cancelDrag();
    selected_.reset();
    std::shared_ptr<MKAnnotationView> view = viewForAnnotation(annotation.get());
    contentDidChange();
    if (!view) return;
    view->selected_ = false;
    if (auto delegate = delegate_.lock()) delegate->didDeselectAnnotationView(*this, view);
}

std::vector<std::shared_ptr<MKAnnotation>> MKMapViewModel::selectedAnnotations() const {
    if (!selected_) return {};
    return {selected_};
}

void MKMapViewModel::calloutAccessoryTapped(const std::shared_ptr<MKAnnotationView>& view,
                                            const std::shared_ptr<MKCalloutAccessoryView>& control) {
    if (!view || !control || !control->isControl()) return;
    if (auto delegate = delegate_.lock())
        delegate->annotationViewCalloutAccessoryControlTapped(*this, view, control);
}

// ---- Dragging

void MKMapViewModel::setDragState(const std::shared_ptr<MKAnnotationView>& view,
                                  MKAnnotationViewDragState state) {
    const MKAnnotationViewDragState old = view->dragState_;
    view->dragState_ = state;
    if (auto delegate = delegate_.lock()) delegate->annotationViewDidChangeDragState(*this, view, state, old);
}

bool MKMapViewModel::beginDrag(const std::shared_ptr<MKAnnotation>& annotation) {
    if (!annotation || drag_.annotation || selected_ != annotation) return false;
    const auto found = annotations_.find(annotation.get());
    if (found == annotations_.end()) return false;
    const auto view = found->second.view;
    if (!view || !view->isDraggable() || view->dragState() != MKAnnotationViewDragState::None) return false;
    drag_ = {annotation, found->second.point};
    setDragState(view, MKAnnotationViewDragState::Starting);
    return true;
}

void MKMapViewModel::dragTo(MKMapPoint point) {
    if (!drag_.annotation) return;
    const auto view = viewForAnnotation(drag_.annotation.get());
    if (!view) return;
    drag_.point = {point.x, std::clamp(point.y, 0.0, kMKMapWorldSide)};
    if (view->dragState() == MKAnnotationViewDragState::Starting)
        setDragState(view, MKAnnotationViewDragState::Dragging);
    contentDidChange();
}

void MKMapViewModel::endDrag() {
    if (!drag_.annotation) return;
    const auto view = viewForAnnotation(drag_.annotation.get());
    if (!view || view->dragState() != MKAnnotationViewDragState::Dragging) {
        cancelDrag();
        return;
    }
    const auto annotation = drag_.annotation;
    const MKMapPoint point{MKMapPointWrapX(drag_.point.x), drag_.point.y};
    drag_ = {};
    // The annotation has its new place before the delegate hears "ending".
    annotation->setCoordinate(MKCoordinateForMapPoint(point));
    annotationChanged(annotation);
    setDragState(view, MKAnnotationViewDragState::Ending);
    setDragState(view, MKAnnotationViewDragState::None);
}

void MKMapViewModel::cancelDrag() {
    if (!drag_.annotation) return;
    const auto view = viewForAnnotation(drag_.annotation.get());
    drag_ = {};
    contentDidChange();
    if (!view) return;
    setDragState(view, MKAnnotationViewDragState::Canceling);
    setDragState(view, MKAnnotationViewDragState::None);
}

// ---- Overlays

void MKMapViewModel::addOverlay(const std::shared_ptr<MKOverlay>& overlay) {
    addOverlay(overlay, MKOverlayLevel::AboveLabels);
}

void MKMapViewModel::addOverlay(const std::shared_ptr<MKOverlay>& overlay, MKOverlayLevel level) {
    insertOverlay(overlay, levels_[static_cast<int>(level)].size(), level);
}

void MKMapViewModel::addOverlays(const std::vector<std::shared_ptr<MKOverlay>>& overlays) {
    for (const auto& overlay : overlays) insertOverlayEntry(overlay, SIZE_MAX, MKOverlayLevel::AboveLabels);
    overlaysDidChange();
}

void MKMapViewModel::insertOverlay(const std::shared_ptr<MKOverlay>& overlay, size_t index,
                                   MKOverlayLevel level) {
    if (!overlay || containsOverlay(overlay.get())) return;
    insertOverlayEntry(overlay, index, level);
    overlaysDidChange();
}

void MKMapViewModel::insertOverlay(const std::shared_ptr<MKOverlay>& overlay, size_t index) {
    insertOverlay(overlay, index, MKOverlayLevel::AboveLabels);
}

void MKMapViewModel::insertOverlayEntry(const std::shared_ptr<MKOverlay>& overlay, size_t index,
                                        MKOverlayLevel level) {
    if (!overlay || containsOverlay(overlay.get())) return;
    auto& list = levels_[static_cast<int>(level) == 0 ? 0 : 1];
    index = std::min(index, list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), overlay);
    std::string key = overlay->lookupKey();
    if (!key.empty()) overlaysByLookupKey_[key].push_back(overlay.get());
    overlayEntries_.emplace(overlay.get(), OverlayEntry{overlay, level, nullptr, false, std::move(key)});
}

void MKMapViewModel::insertOverlayAbove(const std::shared_ptr<MKOverlay>& overlay,
                                        const std::shared_ptr<MKOverlay>& sibling) {
    insertOverlayBeside(overlay, sibling, 1);
}

void MKMapViewModel::insertOverlayBelow(const std::shared_ptr<MKOverlay>& overlay,
                                        const std::shared_ptr<MKOverlay>& sibling) {
    insertOverlayBeside(overlay, sibling, 0);
}

void MKMapViewModel::insertOverlayBeside(const std::shared_ptr<MKOverlay>& overlay,
                                         const std::shared_ptr<MKOverlay>& sibling, size_t offset) {
    if (!overlay || containsOverlay(overlay.get())) return;
    const auto found = sibling ? overlayEntries_.find(sibling.get()) : overlayEntries_.end();
    if (found == overlayEntries_.end()) {
        addOverlay(overlay);
        return;
    }
    const MKOverlayLevel level = found->second.level;
    const auto& list = levels_[static_cast<int>(level)];
    const auto position = std::find(list.begin(), list.end(), sibling) - list.begin();
    insertOverlay(overlay, static_cast<size_t>(position) + offset, level);
}

void MKMapViewModel::eraseOverlayEntry(const MKOverlay* overlay) {
    const auto found = overlayEntries_.find(overlay);
    if (found == overlayEntries_.end()) return;
    if (found->second.renderer) {
        found->second.renderer->setHost(nullptr);
        overlayRendererWillBeRemoved(found->second.renderer);
    }
    if (!found->second.lookupKey.empty()) {
        const auto keyed = overlaysByLookupKey_.find(found->second.lookupKey);
        if (keyed != overlaysByLookupKey_.end()) {
            auto& members = keyed->second;
            members.erase(std::remove(members.begin(), members.end(), overlay), members.end());
            if (members.empty()) overlaysByLookupKey_.erase(keyed);
        }
    }
    overlayEntries_.erase(found);
}

void MKMapViewModel::removeOverlay(const std::shared_ptr<MKOverlay>& overlay) {
    if (!overlay || !containsOverlay(overlay.get())) return;
    auto& list = levels_[static_cast<int>(overlayEntries_.at(overlay.get()).level)];
    list.erase(std::find(list.begin(), list.end(), overlay));
    eraseOverlayEntry(overlay.get());
    overlaysDidChange();
}

void MKMapViewModel::removeOverlays(const std::vector<std::shared_ptr<MKOverlay>>& overlays) {
    // One pass over each level, so removing every overlay costs O(n) and not O(n²).
    std::unordered_set<const MKOverlay*> doomed;
    for (const auto& overlay : overlays) {
        if (overlay && containsOverlay(overlay.get())) doomed.insert(overlay.get());
    }
    if (doomed.empty()) return;
    for (auto& list : levels_) {
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const auto& o) { return doomed.count(o.get()) != 0; }),
                   list.end());
    }
    for (const MKOverlay* overlay : doomed) eraseOverlayEntry(overlay);
    overlaysDidChange();
}

std::vector<std::shared_ptr<MKOverlay>> MKMapViewModel::overlays() const {
    std::vector<std::shared_ptr<MKOverlay>> all = levels_[0];
    all.insert(all.end(), levels_[1].begin(), levels_[1].end());
    return all;
}

std::shared_ptr<MKOverlay> MKMapViewModel::firstOverlayWithLookupKey(const std::string& key) const {
    if (key.empty()) return nullptr;
    const auto keyed = overlaysByLookupKey_.find(key);
    if (keyed == overlaysByLookupKey_.end() || keyed->second.empty()) return nullptr;
    const auto& members = keyed->second;
    if (members.size() == 1) return overlayEntries_.at(members.front()).overlay;
    // Several under one key (a replacement goes on before the old one comes off): which comes first
    // is the draw order's to say; this walk happens only then.
    for (const auto& list : levels_) {
        for (const auto& overlay : list) {
            if (std::find(members.begin(), members.end(), overlay.get()) != members.end()) return overlay;
        }
    }
    return nullptr;
}

const std::vector<std::shared_ptr<MKOverlay>>& MKMapViewModel::overlaysInLevel(MKOverlayLevel level) const {
    return levels_[static_cast<int>(level) == 0 ? 0 : 1];
}

std::shared_ptr<MKOverlayRenderer> MKMapViewModel::rendererForOverlay(
    const std::shared_ptr<MKOverlay>& overlay) {
    if (!overlay) return nullptr;
    const auto found = overlayEntries_.find(overlay.get());
    if (found == overlayEntries_.end()) return nullptr;
    if (!found->second.rendererAsked) {
        found->second.rendererAsked = true;
        std::shared_ptr<MKOverlayRenderer> renderer;
        if (auto delegate = delegate_.lock()) renderer = delegate->rendererForOverlay(*this, overlay);
        // The delegate may have removed the overlay while answering.
        const auto again = overlayEntries_.find(overlay.get());
        if (again == overlayEntries_.end()) return nullptr;
        if (renderer) renderer->setHost(this);
        again->second.renderer = renderer;
        return renderer;
    }
    return found->second.renderer;
}

std::shared_ptr<MKOverlayRenderer> MKMapViewModel::existingRendererForOverlay(
    const MKOverlay* overlay) const {
    const auto found = overlayEntries_.find(overlay);
    return found == overlayEntries_.end() ? nullptr : found->second.renderer;
}

void MKMapViewModel::overlayRendererNeedsDisplay(const MKOverlayRenderer&, const MKMapRect&, MKZoomScale) {}

// ---- The user's location

void MKMapViewModel::setShowsUserLocation(bool shows) {
    if (shows == showsUserLocation_) return;
    showsUserLocation_ = shows;
    if (shows) {
        if (!locationManager_) {
            userLocationFeed_ = std::make_shared<UserLocationFeed>(this);
            locationManager_ = CLLocationManager::make();
            locationManager_->setDelegate(userLocationFeed_);
        }
        locationManager_->startUpdatingLocation();
    } else if (locationManager_) {
        locationManager_->stopUpdatingLocation();
    }
    syncUserLocationAnnotation();
}

bool MKMapViewModel::isUserLocationVisible() const {
    if (!containsAnnotation(userLocation_.get())) return false;
    return MKMapRectContainsPoint(visibleMapRect(), MKMapPointForCoordinate(userLocation_->coordinate()));
}

void MKMapViewModel::syncUserLocationAnnotation() {
    const bool wanted = showsUserLocation_ && userLocation_->location().has_value();
    userLocation_->updating_ = wanted;
    const bool present = containsAnnotation(userLocation_.get());
    if (wanted && !present) {
        if (insertAnnotation(userLocation_, false)) contentDidChange();
    } else if (!wanted && present) {
        removeAnnotation(userLocation_);
    } else if (present) {
        annotationChanged(userLocation_);
    }
}

void MKMapViewModel::updateUserLocation(const CLLocation& location) {
    if (!CLLocationCoordinate2DIsValid(location.coordinate())) return;
    userLocation_->setLocation(location);
    syncUserLocationAnnotation();
    if (!showsUserLocation_) return;
    if (auto delegate = delegate_.lock()) delegate->didUpdateUserLocation(*this, userLocation_);
}

}  // namespace platform
