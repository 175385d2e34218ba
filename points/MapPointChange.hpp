#pragma once

#include <memory>

namespace tervolo::points {

class QuovaMapPoint;

// One change of the point store's collection, as its observers receive it:
// the point, already stamped and saved, and what happened to it.
struct MapPointChange {
    enum class Reason {
        added,    // appended to the store by addPoint
        updated,  // saved through the store (its fields or its tags changed)
        deleted,  // "mapPointDeleted": stamped deleted, out of the search index
        hidden,   // "mapPointHidden": stamped hidden, out of the search index
    };

    std::shared_ptr<QuovaMapPoint> point;
    Reason reason;
};

}  // namespace tervolo::points
