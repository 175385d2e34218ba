#include "platform/mapkit/MKAnnotationIndex.hpp"

#include <algorithm>

namespace platform {

namespace {

// The quadrant of `bounds` that holds `point`, 0…3 in NW, NE, SW, SE order, and its bounds.
int quadrant(const MKMapRect& bounds, MKMapPoint point, MKMapRect* childBounds) {
    const double halfWidth = bounds.size.width / 2;
    const double halfHeight = bounds.size.height / 2;
    const bool east = point.x >= bounds.origin.x + halfWidth;
    const bool south = point.y >= bounds.origin.y + halfHeight;
    *childBounds = MKMapRectMake(bounds.origin.x + (east ? halfWidth : 0),
                                 bounds.origin.y + (south ? halfHeight : 0), halfWidth, halfHeight);
    return (south ? 2 : 0) + (east ? 1 : 0);
}

}  // namespace

MKAnnotationIndex::MKAnnotationIndex() {
    nodes_.emplace_back();
}

void MKAnnotationIndex::insert(const MKAnnotation* annotation, MKMapPoint point, const void* cookie) {
    const MKMapPoint clamped = clampToWorld(point);
    int32_t node = 0;
    MKMapRect bounds = MKMapRectWorld;
    int depth = 0;
    while (nodes_[node].firstChild >= 0) {
        MKMapRect child;
        const int index = quadrant(bounds, clamped, &child);
        node = nodes_[node].firstChild + index;
        bounds = child;
        ++depth;
    }
    // The stored point is the caller's own, so a later remove with the same point finds it.
    nodes_[node].items.push_back({annotation, point, cookie});
    ++size_;
    if (nodes_[node].items.size() > kBucketSize && depth < kMaxDepth) split(node, bounds);
}

void MKAnnotationIndex::split(int32_t node, const MKMapRect& bounds) {
    const auto firstChild = static_cast<int32_t>(nodes_.size());
    nodes_.resize(nodes_.size() + 4);
    nodes_[node].firstChild = firstChild;
    std::vector<Item> items;
    items.swap(nodes_[node].items);
    for (const Item& item : items) {
        MKMapRect child;
        const int index = quadrant(bounds, clampToWorld(item.point), &child);
        nodes_[firstChild + index].items.push_back(item);
    }
    // All items in one quadrant (a cluster): that child splits further when its turn comes.
}

bool MKAnnotationIndex::remove(const MKAnnotation* annotation, MKMapPoint point) {
    const MKMapPoint clamped = clampToWorld(point);
    int32_t node = 0;
    MKMapRect bounds = MKMapRectWorld;
    while (nodes_[node].firstChild >= 0) {
        MKMapRect child;
        const int index = quadrant(bounds, clamped, &child);
        node = nodes_[node].firstChild + index;
        bounds = child;
    }
    auto& items = nodes_[node].items;
    const auto found = std::find_if(items.begin(), items.end(),
                                    [&](const Item& item) { return item.annotation == annotation; });
    if (found == items.end()) return false;
    *found = items.back();
    items.pop_back();
    --size_;
    return true;
}

void MKAnnotationIndex::clear() {
    nodes_.clear();
    nodes_.emplace_back();
    size_ = 0;
}

std::vector<const MKAnnotation*> MKAnnotationIndex::annotationsInRect(const MKMapRect& rect) const {
    std::vector<const MKAnnotation*> found;
    query(rect, [&](const MKAnnotation* annotation, MKMapPoint) { found.push_back(annotation); });
    return found;
}

}  // namespace platform
