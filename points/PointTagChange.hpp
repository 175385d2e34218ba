#pragma once

#include <memory>

namespace tervolo::points {

class QuovaPointTag;

// One change of the tag store's list, as its observers receive it: the tag,
// already saved, and what happened to it.
struct PointTagChange {
    enum class Reason {
        added,    // saved and appended by addTag (the default tags included)
        deleted,  // stamped hidden and deleted, saved, taken out of the list
    };

    std::shared_ptr<QuovaPointTag> tag;
    Reason reason;
};

}  // namespace tervolo::points
