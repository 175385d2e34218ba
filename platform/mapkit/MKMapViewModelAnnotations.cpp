// The map model's annotations: adding and removing them, the views of those
// in or near the visible area (made, reused and recycled), selection and
// dragging.

#include <algorithm>
#include <cmath>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"

namespace platform {

namespace {

constexpr size_t kReuseQueueLimit = 256;

struct MapLog {
    std::shared_ptr<OSLog> log = OSLog::make("org.tervolo.TervoloNG", "mapkit");
};

const std::shared_ptr<OSLog>& mapLog() {
    return SharedInstance<MapLog>::get().log;
}

}  // namespace

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
    ++annotationsGeneration_;
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
    ++annotationsGeneration_;
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
            ++annotationsGeneration_;
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
    ++annotationsGeneration_;
    return view;
}

void MKMapViewModel::recycleView(AnnotationEntry& entry) {
    if (!entry.view) return;
    auto view = std::move(entry.view);
    entry.view.reset();
    withViews_.erase(entry.annotation.get());
    ++annotationsGeneration_;
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

}  // namespace platform
