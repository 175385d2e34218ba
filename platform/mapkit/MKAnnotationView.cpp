#include "platform/mapkit/MKAnnotationView.hpp"

#include <algorithm>

namespace platform {

MKAnnotationView::MKAnnotationView(std::shared_ptr<MKAnnotation> annotation, std::string reuseIdentifier)
    : annotation_(std::move(annotation)), reuseIdentifier_(std::move(reuseIdentifier)) {}

void MKAnnotationView::prepareForReuse() {
    annotation_.reset();
    selected_ = false;
    dragState_ = MKAnnotationViewDragState::None;
}

bool MKAnnotationView::pointInside(Point point) const {
    return point.x >= 0 && point.y >= 0 && point.x < frame_.width && point.y < frame_.height;
}

MKHitTestResult MKAnnotationView::hitTest(Point point) const {
    MKHitTestResult result;
    if (pointInside(point)) result.view = this;
    return result;
}

std::optional<MKAnnotationView::Point> MKAnnotationView::convertPoint(
    Point point, const MKCalloutAccessoryView& accessory) const {
    const auto target = accessory.frameInMapView();
    if (!target) return std::nullopt;
    return Point{point.x + frame_.x - target->x, point.y + frame_.y - target->y};
}

void MKAnnotationView::addGestureRecognizer(std::shared_ptr<MKGestureRecognizer> recognizer) {
    if (!recognizer) return;
    if (std::find(recognizers_.begin(), recognizers_.end(), recognizer) != recognizers_.end()) return;
    recognizers_.push_back(std::move(recognizer));
}

void MKAnnotationView::removeGestureRecognizer(const std::shared_ptr<MKGestureRecognizer>& recognizer) {
    recognizers_.erase(std::remove(recognizers_.begin(), recognizers_.end(), recognizer), recognizers_.end());
}

}  // namespace platform
