#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/searchindex/SearchableItem.hpp"
#include "points/QuovaMapPoint.hpp"

namespace tervolo::points {

// Makes the search-index items of points. What every item shares (the
// application's identifier, the localized description, the thumbnail) is read
// once, when the maker is made; make() reads only the point and the maker, so
// several threads may share one maker for points that no other thread touches
// (the store builds the items of the points it is still decoding).
class SearchItemMaker {
  public:
    SearchItemMaker();

    // A point needs a title, an identifier and a valid coordinate to be found.
    static bool isIndexable(const QuovaMapPoint& point);
    // The point's item, or none when it is not indexable.
    std::optional<platform::SearchableItem> make(const QuovaMapPoint& point) const;

  private:
    std::string domainIdentifier_;
    std::string description_;
    platform::SharedBytes thumbnail_;  // one for every item
};

}  // namespace tervolo::points
