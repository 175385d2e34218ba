#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/text/Color.hpp"
#include "points/ChangeObservers.hpp"
#include "points/PointTagChange.hpp"
#include "points/QuovaPointTag.hpp"

namespace tervolo::points {

// The program's one tag store: the valid tags (neither deleted nor hidden) in
// memory, loaded from the tags folder on first use. Created, read and changed
// on the main thread only; it holds no lock.
class QuovaPointTagStore {
  public:
    // One entry of the colour palette: the colour's localized name and its
    // decimal colour text.
    struct PaletteEntry {
        std::string title;
        std::string rgb;
    };

    // Made on first use (tags none, needsSync false), then loaded. Never
    // destroyed.
    static QuovaPointTagStore& shared();
    // Tests: the next shared() makes and loads a fresh store; the old one is
    // left alive on purpose.
    static void resetSharedForTesting();

    // Replaces `tags` with the valid tags of the tags folder, in listing order.
    void loadFromLocalStore();
    // `tags` itself (none only before the first load), after an info line.
    const std::optional<std::vector<std::shared_ptr<QuovaPointTag>>>& allTags() const;
    // The first tag whose title equals `title` under full Unicode lower-case
    // mapping, or null.
    std::shared_ptr<QuovaPointTag> tagWithTitle(const std::string& title) const;
    // Typed observation of every change of the list: addTag (added, the
    // default tags included) and deleteTag (deleted). Observers run on the
    // operation's thread before it returns and see the tag saved. Dropping the
    // token ends the observation.
    using ChangeToken = ChangeObservers<PointTagChange>::Token;
    [[nodiscard]] std::unique_ptr<ChangeToken> observeChanges(
        std::function<void(const PointTagChange&)> observer);

    // The three operations below run on the main thread only (debug builds
    // check).

    // Makes, saves and adds the six default tags, with their decimal colours.
    // The caller calls it only when the loaded list is empty.
    void buildDefaultTags();
    // Gives the tag a random palette colour (six hex digits) when it has none,
    // saves it and appends it. When the save writes nothing the tag is not
    // appended (it keeps the colour given) and the error is answered.
    std::optional<platform::Error> addTag(const std::shared_ptr<QuovaPointTag>& tag);
    // Marks the tag hidden and deleted, saves it (the file stays) and removes
    // that very object from `tags`. When the save writes nothing the tag keeps
    // its dates and its place, and the error is answered.
    std::optional<platform::Error> deleteTag(const std::shared_ptr<QuovaPointTag>& tag);
    void setNeedsSync();
    // The colour of a uniformly chosen palette entry.
    platform::Color randomPaletteColor() const;

    // The six palette entries: orange, red, green, blue, purple, black.
    static const std::vector<PaletteEntry>& tagColorPalette();

    // The valid tags in load order, then the ones added since; none only
    // before loading.
    const std::optional<std::vector<std::shared_ptr<QuovaPointTag>>>& tags() const { return tags_; }
    // Tests: puts `tags` in place of the list as it stands (none included).
    void replaceTagsForTesting(std::optional<std::vector<std::shared_ptr<QuovaPointTag>>> tags) {
        tags_ = std::move(tags);
    }
    bool needsSync() const { return needsSync_; }

    QuovaPointTagStore(const QuovaPointTagStore&) = delete;
    QuovaPointTagStore& operator=(const QuovaPointTagStore&) = delete;

  private:
    friend class platform::SharedInstance<QuovaPointTagStore>;
    QuovaPointTagStore() = default;

    std::once_flag loaded_;
    std::optional<std::vector<std::shared_ptr<QuovaPointTag>>> tags_;
    ChangeObservers<PointTagChange> changeObservers_;
    bool needsSync_ = false;
};

}  // namespace tervolo::points
