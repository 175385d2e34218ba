#include "platform/mapkit/MKMapViewModel.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/dispatch/DispatchQueue.hpp"

namespace platform {

namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

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
