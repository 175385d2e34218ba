#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/mapkit/MKGeometry.hpp"

namespace platform {

class MKAnnotation;

// Where the map's annotations lie, for culling: a region quadtree over the world's map points with
// small buckets in its leaves. Insert and remove cost O(depth); a rect query visits O(log n) nodes
// along its border plus the k items it reports (nodes wholly inside the rect report without tests).
// Points are kept inside the world; identical points share a bucket that stops splitting at the
// deepest level. Not thread-safe: the map uses it on the main thread.
class MKAnnotationIndex {
  public:
    MKAnnotationIndex();

    // `cookie` rides along and comes back with the annotation in visitItems (the map keeps its own
    // record of the annotation there, so a frame needs no look-up per marker).
    void insert(const MKAnnotation* annotation, MKMapPoint point, const void* cookie = nullptr);
    // `point` must be the one the annotation was inserted with; false when it is not there.
    bool remove(const MKAnnotation* annotation, MKMapPoint point);
    void clear();
    size_t size() const { return size_; }

    // Calls `visit` for every annotation inside `rect` (half-open like MKMapRectContainsPoint). The
    // rect is taken as given: callers split rects that wrap across the antimeridian.
    void query(const MKMapRect& rect,
               const std::function<void(const MKAnnotation*, MKMapPoint)>& visit) const {
        visitRect(rect, visit);
    }
    // The same with the visitor inlined (the painter's hot path).
    template <typename Visit>
    void visitRect(const MKMapRect& rect, Visit&& visit) const {
        visitItems(rect, [&](const MKAnnotation* annotation, MKMapPoint point, const void*) {
            visit(annotation, point);
        });
    }
    // Visits (annotation, point, cookie).
    template <typename Visit>
    void visitItems(const MKMapRect& rect, Visit&& visit) const {
        if (MKMapRectIsEmpty(rect) || size_ == 0) return;
        if (MKMapRectContainsRect(rect, MKMapRectWorld)) {
            reportAll(0, visit);
            return;
        }
        queryNode(0, MKMapRectWorld, rect, visit);
    }
    std::vector<const MKAnnotation*> annotationsInRect(const MKMapRect& rect) const;

  private:
    struct Item {
        const MKAnnotation* annotation;
        MKMapPoint point;
        const void* cookie;
    };
    struct Node {
        int32_t firstChild = -1;  // four consecutive nodes: NW, NE, SW, SE
        std::vector<Item> items;
    };
    static constexpr size_t kBucketSize = 48;
    static constexpr int kMaxDepth = 26;

    static MKMapPoint clampToWorld(MKMapPoint point) {
        // Just inside the max edges, so that the point falls into a quadrant.
        constexpr double kLast = kMKMapWorldSide - 1.0 / 64;
        return {point.x < 0 ? 0 : (point.x > kLast ? kLast : point.x),
                point.y < 0 ? 0 : (point.y > kLast ? kLast : point.y)};
    }
    static MKMapRect childRect(const MKMapRect& bounds, int index) {
        const double halfWidth = bounds.size.width / 2;
        const double halfHeight = bounds.size.height / 2;
        return MKMapRectMake(bounds.origin.x + ((index & 1) != 0 ? halfWidth : 0),
                             bounds.origin.y + ((index & 2) != 0 ? halfHeight : 0), halfWidth, halfHeight);
    }
    void split(int32_t node, const MKMapRect& bounds);
    template <typename Visit>
    void reportAll(int32_t node, Visit& visit) const {
        const Node& current = nodes_[node];
        if (current.firstChild < 0) {
            for (const Item& item : current.items) visit(item.annotation, item.point, item.cookie);
            return;
        }
        for (int index = 0; index < 4; ++index) reportAll(current.firstChild + index, visit);
    }
    template <typename Visit>
    void queryNode(int32_t node, const MKMapRect& bounds, const MKMapRect& rect, Visit& visit) const {
        const Node& current = nodes_[node];
        if (current.firstChild < 0) {
            const double minX = rect.origin.x, minY = rect.origin.y;
            const double maxX = minX + rect.size.width, maxY = minY + rect.size.height;
            for (const Item& item : current.items) {
                const MKMapPoint p = clampToWorld(item.point);
                if (p.x >= minX && p.x < maxX && p.y >= minY && p.y < maxY)
                    visit(item.annotation, item.point, item.cookie);
            }
            return;
        }
        for (int index = 0; index < 4; ++index) {
            const MKMapRect child = childRect(bounds, index);
            if (!MKMapRectIntersectsRect(child, rect)) continue;
            if (MKMapRectContainsRect(rect, child)) {
                reportAll(current.firstChild + index, visit);
            } else {
                queryNode(current.firstChild + index, child, rect, visit);
            }
        }
    }

    std::vector<Node> nodes_;
    size_t size_ = 0;
};

}  // namespace platform
