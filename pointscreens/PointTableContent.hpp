#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ui/IndexPath.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"

namespace tervolo::pointscreens {

// The search field's text taken apart: the "#" words name tags, the other words
// (empty ones included) form one substring to look for.
struct PointTableFilter {
    std::vector<std::string> tagNames;
    std::optional<std::string> searchText;

    // Splits at U+0020 only (other white space belongs to a word); a word is a
    // hashtag when its first grapheme is "#" and it is longer than that; a lone
    // "#" is dropped. The text words are joined again with one blank each, so
    // repeated, leading and trailing blanks survive. No filter, or the empty
    // text, gives no tag names and no search text.
    static PointTableFilter parse(const std::optional<std::string>& filter);
};

// The point list's content: section titles in display order and the points of
// each section, recomputed in full from the point store by
// cachePointStoreWithFilter and read by the table between two recomputes.
// Pure: it touches no widget, so it is tested and measured on its own. Main
// thread only (it reads the stores).
class PointTableContent {
  public:
    using PointList = std::vector<std::shared_ptr<points::QuovaMapPoint>>;
    using TagList = std::vector<std::shared_ptr<points::QuovaPointTag>>;

    PointTableContent() = default;
    // Moving keeps the map's nodes, which the section index points into; a copy would not.
    PointTableContent(PointTableContent&&) = default;
    PointTableContent& operator=(PointTableContent&&) = default;
    PointTableContent(const PointTableContent&) = delete;
    PointTableContent& operator=(const PointTableContent&) = delete;

    // The index bar's title of the deleted section.
    static constexpr const char* kDeletedIndexTitle = "\U0001F5D1";

    // The localised "Deleted Points", looked up once and kept for the run.
    static const std::string& deletedPointsSectionTitle();

    // The store's sort order for the sort control's selected segment (none:
    // the screen has no control): 0 by title, 2 by last change, anything else
    // by distance; without a control by title.
    static points::QuovaMapPointStore::SortOrder sortOrderForSegment(std::optional<int> selectedSegment);

    // Empties the content and fills it anew from the store's queries with
    // `filter` (the raw search text) in the order of `selectedSegment`. Tag
    // names are resolved against `tags` (none: the tag store has no list).
    // Each point is listed at most once, however many of the found tags it
    // carries, so that every row stands for exactly one point.
    void cachePointStoreWithFilter(const std::optional<std::string>& filter,
                                   std::optional<int> selectedSegment,
                                   const points::QuovaMapPointStore& store,
                                   const std::optional<TagList>& tags);
    // The same with the shared point and tag stores.
    void cachePointStoreWithFilter(const std::optional<std::string>& filter,
                                   std::optional<int> selectedSegment);

    const std::vector<std::string>& sectionsHeaders() const { return sectionsHeaders_; }
    const std::map<std::string, PointList>& sectionValues() const { return sectionValues_; }

    int numberOfSections() const { return static_cast<int>(sectionsHeaders_.size()); }
    // 0 for a section that does not exist.
    int numberOfRows(int section) const;
    // The section's title; empty for a section that does not exist.
    std::string titleForHeader(int section) const;
    // Index bar titles: in the alphabetical order (segment 0 of an existing
    // control) one per section, the deleted one as the wastebasket; otherwise
    // the empty text for the valid section and the wastebasket for the deleted
    // one (one empty title when there is no section at all).
    std::vector<std::string> sectionIndexTitles(std::optional<int> selectedSegment) const;

    // The row's point; null past the end of a section or for an unknown section.
    std::shared_ptr<points::QuovaMapPoint> pointAtIndexPath(platform::IndexPath indexPath) const;
    // The first row holding this very point object.
    std::optional<platform::IndexPath> indexPathOfPoint(
        const std::shared_ptr<points::QuovaMapPoint>& point) const;
    // Points in all sections.
    size_t pointCount() const;

    // The section key of a title: its first grapheme cluster in NFC, upper-cased
    // with the full mapping ("ß…" gives "SS", "e\u0301…" gives "É"); empty for the
    // empty text.
    static std::string sectionKey(const std::string& title);

  private:
    void indexSections();
    const std::string& memoisedSectionKey(const std::string& title);

    std::vector<std::string> sectionsHeaders_;
    std::map<std::string, PointList> sectionValues_;
    // sectionValues_'s array of each section, by section index: the table asks for rows by index
    // for every cell it shows, and a title lookup in the map each time shows in scrolling.
    std::vector<const PointList*> sectionLists_;
    // Section keys by title, kept across recomputes: every keystroke and
    // location fix recomputes all sections, and the titles rarely change.
    std::unordered_map<std::string, std::string> keyMemo_;
};

}  // namespace tervolo::pointscreens
