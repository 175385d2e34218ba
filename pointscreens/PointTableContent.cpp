#include "pointscreens/PointTableContent.hpp"

#include <algorithm>

#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/text/Unicode.hpp"
#include "points/QuovaPointTagStore.hpp"

namespace tervolo::pointscreens {
namespace {

using SortOrder = points::QuovaMapPointStore::SortOrder;

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Full lower-casing in NFC, so that canonically equivalent names compare equal
// as bytes. ASCII text needs neither ICU step.
std::string lowerNFC(std::string_view text) {
    if (isASCII(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    return platform::text::nfc(platform::text::lowercased(text));
}

// The names as an array literal: ["bar", "work"], quotes and backslashes escaped.
std::string arrayNotation(const std::vector<std::string>& names) {
    std::string out = "[";
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += ", ";
        out += '"';
        for (char c : names[i]) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
    }
    return out + "]";
}

std::string tagsDescription(const PointTableContent::TagList& tags) {
    std::string out = "[";
    for (size_t i = 0; i < tags.size(); ++i) {
        if (i > 0) out += ", ";
        out += "<QuovaPointTag title: " + tags[i]->title() + ", uuid: " + tags[i]->uuid() + ">";
    }
    return out + "]";
}

}  // namespace

PointTableFilter PointTableFilter::parse(const std::optional<std::string>& filter) {
    PointTableFilter result;
    if (!filter || filter->empty()) return result;
    std::vector<std::string> textWords;
    size_t start = 0;
    const std::string& text = *filter;
    while (true) {
        const size_t blank = text.find(' ', start);
        const std::string word =
            text.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
        if (word.size() > 1 && word[0] == '#') {
            // "#" followed by a combining mark is one grapheme that is not "#": a text word.
            if (platform::text::firstGraphemeCluster(word) == "#")
                result.tagNames.push_back(word.substr(1));
            else
                textWords.push_back(word);
        } else if (word != "#") {
            textWords.push_back(word);
        }
        if (blank == std::string::npos) break;
        start = blank + 1;
    }
    if (!textWords.empty()) {
        std::string joined = textWords[0];
        for (size_t i = 1; i < textWords.size(); ++i) joined += " " + textWords[i];
        result.searchText = std::move(joined);
    }
    return result;
}

const std::string& PointTableContent::deletedPointsSectionTitle() {
    static const std::string title = platform::localizedString("Deleted Points");
    return title;
}

SortOrder PointTableContent::sortOrderForSegment(std::optional<int> selectedSegment) {
    if (!selectedSegment || *selectedSegment == 0) return SortOrder::alphabetically;
    if (*selectedSegment == 2) return SortOrder::byLastChange;
    return SortOrder::byDistance;
}

std::string PointTableContent::sectionKey(const std::string& title) {
    const std::string first = platform::text::firstGraphemeCluster(title);
    if (first.size() == 1) {
        const char c = first[0];
        return std::string(1, c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    return platform::text::nfc(platform::text::uppercased(platform::text::nfc(first)));
}

const std::string& PointTableContent::memoisedSectionKey(const std::string& title) {
    auto found = keyMemo_.find(title);
    if (found != keyMemo_.end()) return found->second;
    // Bounded: titles of deleted or renamed points would otherwise pile up for the whole run.
    if (keyMemo_.size() > 200000) keyMemo_.clear();
    return keyMemo_.emplace(title, sectionKey(title)).first->second;
}

void PointTableContent::cachePointStoreWithFilter(const std::optional<std::string>& filter,
                                                  std::optional<int> selectedSegment) {
    cachePointStoreWithFilter(filter, selectedSegment, points::QuovaMapPointStore::shared(),
                              points::QuovaPointTagStore::shared().tags());
}

void PointTableContent::cachePointStoreWithFilter(const std::optional<std::string>& filter,
                                                  std::optional<int> selectedSegment,
                                                  const points::QuovaMapPointStore& store,
                                                  const std::optional<TagList>& tags) {
    QLLogInfo("cache point store");
    sectionsHeaders_.clear();
    sectionValues_.clear();
    sectionLists_.clear();

    const bool hasFilter = filter && !filter->empty();
    PointTableFilter parsed;
    if (hasFilter) {
        parsed = PointTableFilter::parse(filter);
        QLLogDebug("found hashtag strings " + arrayNotation(parsed.tagNames));
        if (parsed.searchText) QLLogDebug("found search string \"" + *parsed.searchText + "\"");
    }

    // Tag names resolve to the first stored tag (deleted ones too) whose title
    // equals the name, both fully lower-cased, under canonical equivalence,
    // together with every stored tag whose title is canonically equivalent
    // to that one's: the records of one name ("Café" composed on one device,
    // decomposed on another) are one tag to the user.
    TagList foundTags;
    if (tags && !parsed.tagNames.empty()) {
        std::vector<std::string> loweredTitles;
        loweredTitles.reserve(tags->size());
        for (const auto& tag : *tags) loweredTitles.push_back(tag ? lowerNFC(tag->title()) : std::string());
        for (const auto& name : parsed.tagNames) {
            const std::string lowered = lowerNFC(name);
            for (size_t i = 0; i < tags->size(); ++i) {
                if (!(*tags)[i] || loweredTitles[i] != lowered) continue;
                const std::string composed = platform::text::nfc((*tags)[i]->title());
                for (size_t j = i; j < tags->size(); ++j) {
                    const auto& same = (*tags)[j];
                    if (same && loweredTitles[j] == lowered &&
                        platform::text::nfc(same->title()) == composed &&
                        std::find(foundTags.begin(), foundTags.end(), same) == foundTags.end()) {
                        foundTags.push_back(same);
                    }
                }
                break;
            }
        }
    }
    if (foundTags.empty() && parsed.tagNames.empty()) {
        QLLogDebug("found no tags to search for, no hashtag entered -> normal search");
    } else if (foundTags.empty()) {
        QLLogDebug("no tags to search for found, but hashtag entered -> exiting");
        return;
    } else {
        QLLogDebug("found tags: " + tagsDescription(foundTags) + " -> filtering for tag(s)");
    }

    std::optional<std::string> searchText = parsed.searchText;
    if (searchText && searchText->empty()) searchText.reset();

    std::vector<std::string> foundUuids;
    for (const auto& tag : foundTags) foundUuids.push_back(lowerNFC(tag->uuid()));
    // Identifiers are upper-case ASCII UUIDs as a rule: those compare without case mapping or copies.
    const auto carriesFoundTag = [&](const std::string& entry) {
        if (isASCII(entry)) {
            return std::any_of(foundUuids.begin(), foundUuids.end(), [&](const std::string& uuid) {
                return uuid.size() == entry.size() &&
                       std::equal(uuid.begin(), uuid.end(), entry.begin(), [](char lowered, char c) {
                           return lowered == (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
                       });
            });
        }
        const std::string lowered = lowerNFC(entry);
        return std::find(foundUuids.begin(), foundUuids.end(), lowered) != foundUuids.end();
    };
    // Keeps each point once, in order, when it carries at least one found tag. Filtering before the
    // stable sort gives the same list as filtering after it, and sorts only what is kept.
    const auto tagFilter = [&](PointList list) {
        if (foundUuids.empty()) return list;
        PointList kept;
        for (auto& point : list) {
            const auto& pointTags = point->tags();
            if (pointTags && std::any_of(pointTags->begin(), pointTags->end(), carriesFoundTag))
                kept.push_back(std::move(point));
        }
        return kept;
    };

    const SortOrder order = sortOrderForSegment(selectedSegment);
    PointList valid =
        points::QuovaMapPointStore::sortedPoints(tagFilter(store.validPointsWithFilter(searchText)), order);
    PointList deleted =
        points::QuovaMapPointStore::sortedPoints(tagFilter(store.deletedPointsWithFilter(searchText)), order);

    const std::string& deletedTitle = deletedPointsSectionTitle();
    if (valid.empty() && deleted.empty()) return;
    if (!valid.empty()) {
        if (order == SortOrder::alphabetically) {
            // Sections in the order their keys first appear in the sorted list.
            // A point without a title, or with the empty one, has no key and is
            // listed only in the other orders.
            for (auto& point : valid) {
                const auto& title = point->title();
                if (!title || title->empty()) continue;
                const std::string& key = memoisedSectionKey(*title);
                auto [entry, inserted] = sectionValues_.try_emplace(key);
                if (inserted) sectionsHeaders_.push_back(key);
                entry->second.push_back(point);
            }
        } else {
            std::string title =
                std::to_string(valid.size()) + " " + platform::localizedString("Valid Points");
            sectionsHeaders_.push_back(title);
            sectionValues_[title] = std::move(valid);
        }
    }
    if (!deleted.empty()) {
        // A letter key can never equal the deleted title, but a valid section of that name would
        // hide the deleted points; keep the deleted section apart in that case too.
        auto [entry, inserted] = sectionValues_.try_emplace(deletedTitle);
        if (inserted) sectionsHeaders_.push_back(deletedTitle);
        for (auto& point : deleted) entry->second.push_back(std::move(point));
    }
    indexSections();
}

void PointTableContent::indexSections() {
    sectionLists_.clear();
    for (const auto& title : sectionsHeaders_) {
        auto found = sectionValues_.find(title);
        sectionLists_.push_back(found == sectionValues_.end() ? nullptr : &found->second);
    }
}

int PointTableContent::numberOfRows(int section) const {
    if (section < 0 || section >= numberOfSections()) return 0;
    const PointList* list = sectionLists_[static_cast<size_t>(section)];
    return list == nullptr ? 0 : static_cast<int>(list->size());
}

std::string PointTableContent::titleForHeader(int section) const {
    if (section < 0 || section >= numberOfSections()) return {};
    return sectionsHeaders_[static_cast<size_t>(section)];
}

std::vector<std::string> PointTableContent::sectionIndexTitles(std::optional<int> selectedSegment) const {
    const std::string& deletedTitle = deletedPointsSectionTitle();
    if (selectedSegment && *selectedSegment == 0) {
        std::vector<std::string> titles;
        for (const auto& title : sectionsHeaders_)
            titles.push_back(title == deletedTitle ? kDeletedIndexTitle : title);
        return titles;
    }
    if (sectionsHeaders_.size() >= 2) return {"", kDeletedIndexTitle};
    if (sectionsHeaders_.size() == 1) return {sectionsHeaders_[0] == deletedTitle ? kDeletedIndexTitle : ""};
    return {""};
}

std::shared_ptr<points::QuovaMapPoint> PointTableContent::pointAtIndexPath(
    platform::IndexPath indexPath) const {
    if (indexPath.section < 0 || indexPath.section >= numberOfSections() || indexPath.row < 0) return nullptr;
    auto found = sectionValues_.find(sectionsHeaders_[static_cast<size_t>(indexPath.section)]);
    if (found == sectionValues_.end() || static_cast<size_t>(indexPath.row) >= found->second.size())
        return nullptr;
    return found->second[static_cast<size_t>(indexPath.row)];
}

std::optional<platform::IndexPath> PointTableContent::indexPathOfPoint(
    const std::shared_ptr<points::QuovaMapPoint>& point) const {
    QLLogInfo("indexPathOfPoint(_:)");
    for (size_t s = 0; s < sectionsHeaders_.size(); ++s) {
        auto found = sectionValues_.find(sectionsHeaders_[s]);
        if (found == sectionValues_.end()) continue;
        for (size_t r = 0; r < found->second.size(); ++r) {
            if (found->second[r] == point) {
                QLLogInfo("found point at row {} in section {}", r, s);
                return platform::IndexPath{static_cast<int>(s), static_cast<int>(r)};
            }
        }
    }
    return std::nullopt;
}

size_t PointTableContent::pointCount() const {
    size_t count = 0;
    for (const auto& title : sectionsHeaders_) {
        auto found = sectionValues_.find(title);
        if (found != sectionValues_.end()) count += found->second.size();
    }
    return count;
}

}  // namespace tervolo::pointscreens
