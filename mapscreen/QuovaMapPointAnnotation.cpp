#include "mapscreen/QuovaMapPointAnnotation.hpp"

#include <functional>
#include <mutex>
#include <unordered_map>

#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::mapscreen {

namespace {

// Point → its live annotation. The entry is weak so the register keeps
// nothing alive; the annotation removes its own entry when it goes. A point's
// address cannot be reused while its entry lives, because the annotation
// holds the point.
class AnnotationRegister {
  public:
    std::shared_ptr<QuovaMapPointAnnotation> annotationFor(
        const std::shared_ptr<points::QuovaMapPoint>& point,
        const std::function<std::shared_ptr<QuovaMapPointAnnotation>()>& make) {
        std::lock_guard lock(mutex_);
        auto& entry = entries_[point.get()];
        if (auto existing = entry.annotation.lock()) return existing;
        auto made = make();
        entry = {made, made.get()};
        return made;
    }

    void forget(const points::QuovaMapPoint* point, const QuovaMapPointAnnotation* annotation) {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(point);
        // Only the entry of this annotation: a newer one for the same point stays.
        if (found != entries_.end() && found->second.owner == annotation) entries_.erase(found);
    }

  private:
    struct Entry {
        std::weak_ptr<QuovaMapPointAnnotation> annotation;
        const QuovaMapPointAnnotation* owner = nullptr;
    };
    std::mutex mutex_;
    std::unordered_map<const points::QuovaMapPoint*, Entry> entries_;
};

AnnotationRegister& annotationRegister() {
    return platform::SharedInstance<AnnotationRegister>::get();
}

}  // namespace

QuovaMapPointAnnotation::QuovaMapPointAnnotation(Token, std::shared_ptr<points::QuovaMapPoint> point)
    : point_(std::move(point)) {}

QuovaMapPointAnnotation::~QuovaMapPointAnnotation() {
    annotationRegister().forget(point_.get(), this);
}

std::shared_ptr<QuovaMapPointAnnotation> QuovaMapPointAnnotation::forPoint(
    const std::shared_ptr<points::QuovaMapPoint>& point) {
    if (!point) return nullptr;
    return annotationRegister().annotationFor(
        point, [&] { return std::make_shared<QuovaMapPointAnnotation>(Token{}, point); });
}

std::shared_ptr<points::QuovaMapPoint> QuovaMapPointAnnotation::pointFor(
    const std::shared_ptr<platform::MKAnnotation>& annotation) {
    const auto* own = dynamic_cast<const QuovaMapPointAnnotation*>(annotation.get());
    return own ? own->point_ : nullptr;
}

platform::CLLocationCoordinate2D QuovaMapPointAnnotation::coordinate() const {
    return point_->coordinate();
}

std::string QuovaMapPointAnnotation::title() const {
    return point_->title().value_or("");
}

std::string QuovaMapPointAnnotation::subtitle() const {
    return point_->subtitle().value_or("");
}

void QuovaMapPointAnnotation::setCoordinate(platform::CLLocationCoordinate2D coordinate) {
    point_->setCoordinate(coordinate);
}

}  // namespace tervolo::mapscreen
