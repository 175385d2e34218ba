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

void MKAnnotationView::addGestureRecognizer(std::shared_ptr<MKGestureRecognizer> recognizer) {
    if (!recognizer) return;
    if (std::find(recognizers_.begin(), recognizers_.end(), recognizer) != recognizers_.end()) return;
    recognizers_.push_back(std::move(recognizer));
}

void MKAnnotationView::removeGestureRecognizer(const std::shared_ptr<MKGestureRecognizer>& recognizer) {
    recognizers_.erase(std::remove(recognizers_.begin(), recognizers_.end(), recognizer), recognizers_.end());
}

}  // namespace platform
