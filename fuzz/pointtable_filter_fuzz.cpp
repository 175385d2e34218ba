// The point list's search text, as a user types it: parsed into tag names and
// a search text, then the list's content recomputed from a small store of
// points and tags in each of the three orders. Checks the content's
// invariants: distinct section titles, each one with a non-empty array, and
// every point listed at most once.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "pointscreens/PointTableContent.hpp"

namespace {

using tervolo::pointscreens::PointTableContent;

const std::optional<PointTableContent::TagList>& fixture() {
    static const std::optional<PointTableContent::TagList> tags = [] {
        static char folder[] = "/tmp/pointtable_fuzzXXXXXX";
        if (mkdtemp(folder) != nullptr) setenv("XDG_DATA_HOME", folder, 1);
        PointTableContent::TagList made;
        for (const char* title : {"bar", "Café", "Cafe\xCC\x81", "park", "ß", "東京", "#", ""})
            made.push_back(tervolo::points::QuovaPointTag::make(title));
        std::vector<std::shared_ptr<tervolo::points::QuovaMapPoint>> points;
        const char* const titles[] = {"apple",
                                      "Banana",
                                      "e\xCC\x81"
                                      "cole",
                                      "ßtraße",
                                      "",
                                      "#bar",
                                      "a  b",
                                      "שוק",
                                      "东京",
                                      "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"};
        for (size_t i = 0; i < std::size(titles); ++i) {
            auto point = tervolo::points::QuovaMapPoint::make(titles[i]);
            if (i % 4 == 3) point->setTitle(std::nullopt);
            point->setSubtitle(std::string("street ") + titles[(i + 3) % std::size(titles)]);
            std::vector<std::string> ids{made[i % made.size()]->uuid()};
            if (i % 3 == 0) ids.push_back(made[(i + 1) % made.size()]->uuid());
            point->setTags(ids);
            if (i % 5 == 4) point->setTags(std::nullopt);
            if (i % 3 == 2) point->setDeletedAt(platform::Date{1000.0});
            points.push_back(point);
        }
        tervolo::points::QuovaMapPointStore::shared().replacePointsForTesting(std::move(points));
        return made;
    }();
    return tags;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto& tags = fixture();
    if (size == 0) return 0;
    const int segment = data[0] % 3;
    const std::string filter(reinterpret_cast<const char*>(data + 1), size - 1);
    (void)tervolo::pointscreens::PointTableFilter::parse(filter);
    PointTableContent content;
    content.cachePointStoreWithFilter(filter, segment, tervolo::points::QuovaMapPointStore::shared(), tags);
    std::set<std::string> titles;
    std::set<const void*> seen;
    for (int s = 0; s < content.numberOfSections(); ++s) {
        if (!titles.insert(content.titleForHeader(s)).second) abort();
        if (content.numberOfRows(s) == 0) abort();
        for (int r = 0; r < content.numberOfRows(s); ++r) {
            auto point = content.pointAtIndexPath({s, r});
            if (!point || !seen.insert(point.get()).second) abort();
        }
    }
    (void)content.sectionIndexTitles(segment);
    return 0;
}
