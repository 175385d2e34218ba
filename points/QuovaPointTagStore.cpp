#include "points/QuovaPointTagStore.hpp"

#include <algorithm>
#include <mutex>
#include <optional>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/text/Random.hpp"
#include "platform/text/Unicode.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/MainThread.hpp"
#include "points/QuovaStringRepresentation.hpp"
#include "points/RecordFile.hpp"

namespace tervolo::points {

namespace {

// The store a test reset put in place of the shared one, if any.
std::optional<platform::SharedInstance<QuovaPointTagStore>::Replacement>& testReplacement() {
    static auto* replacement = new std::optional<platform::SharedInstance<QuovaPointTagStore>::Replacement>;
    return *replacement;
}

struct DefaultTag {
    const char* title;  // localization key
    const char* rgb;
};

constexpr DefaultTag kDefaultTags[] = {
    {"Bar", "246,170,0"},      {"Cinema", "255,75,0"}, {"Favorite", "0,176,107"},
    {"MustSee", "25,113,255"}, {"Park", "153,0,153"},  {"Restaurant", "0,0,0"},
};

}  // namespace

QuovaPointTagStore& QuovaPointTagStore::shared() {
    QuovaPointTagStore& store = platform::SharedInstance<QuovaPointTagStore>::get();
    std::call_once(store.loaded_, [&store] { store.loadFromLocalStore(); });
    return store;
}

void QuovaPointTagStore::resetSharedForTesting() {
    // Loaded at its first use; retired stores stay alive for the rest of the run.
    static auto* retired = new std::vector<QuovaPointTagStore*>;
    auto* fresh = new QuovaPointTagStore();
    retired->push_back(fresh);
    auto& replacement = testReplacement();
    replacement.reset();
    replacement.emplace(*fresh);
}

const std::vector<QuovaPointTagStore::PaletteEntry>& QuovaPointTagStore::tagColorPalette() {
    static const auto* palette = [] {
        auto& bundle = platform::Bundle::main();
        return new std::vector<PaletteEntry>{
            {bundle.localizedString("orange"), "246,170,0"}, {bundle.localizedString("red"), "255,75,0"},
            {bundle.localizedString("green"), "0,176,107"},  {bundle.localizedString("blue"), "25,113,255"},
            {bundle.localizedString("purple"), "153,0,153"}, {bundle.localizedString("black"), "0,0,0"},
        };
    }();
    return *palette;
}

void QuovaPointTagStore::loadFromLocalStore() {
    QLLogInfo("loadFromLocalStore()");
    const std::string folder = QuovaPointTag::documentDirectory();
    recordfile::removeAbandonedSaves(folder);
    auto names = platform::FileManager::defaultManager().contentsOfDirectory(folder);
    if (!names.ok()) {
        QLLogInfo("Can't read tags directory.");
        tags_ = std::vector<std::shared_ptr<QuovaPointTag>>{};
        return;
    }
    std::vector<std::shared_ptr<QuovaPointTag>> loaded;
    for (const auto& name : names.value()) {
        QLLogInfo("Found " + logging::debugQuoted(name));
        // A save that never completed, younger than a minute (perhaps
        // another instance's, still running).
        if (platform::FileManager::isTemporaryFileName(name)) continue;
        // The safe read skips anything that is not a small regular file.
        auto tag = QuovaPointTag::initWithFilePath(folder + name);
        if (!tag || tag->deletedAt() || tag->hiddenAt()) continue;
        loaded.push_back(std::move(tag));
    }
    tags_ = std::move(loaded);
}

const std::optional<std::vector<std::shared_ptr<QuovaPointTag>>>& QuovaPointTagStore::allTags() const {
    QLLogInfo("QuovaPointTagStore: returning all tags");
    return tags_;
}

std::shared_ptr<QuovaPointTag> QuovaPointTagStore::tagWithTitle(const std::string& title) const {
    if (!tags_) return nullptr;
    // Canonically equivalent titles are one tag: a title typed precomposed
    // ("Café") and one pasted decomposed ("Cafe\u0301") must not become two
    // tags. Lower-casing only, no folding: "Straße" and "STRASSE" stay apart.
    const std::string wanted = platform::text::nfc(platform::text::lowercased(title));
    for (const auto& tag : *tags_) {
        if (platform::text::nfc(platform::text::lowercased(tag->title())) == wanted) return tag;
    }
    return nullptr;
}

std::unique_ptr<QuovaPointTagStore::ChangeToken> QuovaPointTagStore::observeChanges(
    std::function<void(const PointTagChange&)> observer) {
    return changeObservers_.observe(std::move(observer));
}

void QuovaPointTagStore::buildDefaultTags() {
    assertMainThread("QuovaPointTagStore", "buildDefaultTags");
    auto& bundle = platform::Bundle::main();
    for (const auto& entry : kDefaultTags) {
        auto tag = QuovaPointTag::make(bundle.localizedString(entry.title));
        auto color = colorFromStoredString(entry.rgb);
        if (!color) continue;
        QLLogDebug("Created UIColor " + color->description());
        tag->setColorString(entry.rgb);
        addTag(tag);
    }
}

std::optional<platform::Error> QuovaPointTagStore::addTag(const std::shared_ptr<QuovaPointTag>& tag) {
    assertMainThread("QuovaPointTagStore", "addTag");
    QLLogInfo("QuovaPointTagStore: add tag " + logging::debugQuoted(tag->title()) + ".");
    if (!tag->colorString()) {
        auto hex = quovaHexStringRepresentation(randomPaletteColor(), false);
        if (!hex) hex = quovaHexStringRepresentation(defaultPointColor(), false);
        QLLogDebug("tag " + logging::debugQuoted(tag->title()) + ": color not set yet, using random color " +
                   hex.value_or(""));
        tag->setColorString(hex);
    }
    // A tag that is not on disk is not in the list: points would refer to an
    // identifier that no tag answers at the next start.
    if (auto error = tag->save()) return error;
    setNeedsSync();
    if (tags_) tags_->push_back(tag);
    changeObservers_.notify({tag, PointTagChange::Reason::added});
    return std::nullopt;
}

std::optional<platform::Error> QuovaPointTagStore::deleteTag(const std::shared_ptr<QuovaPointTag>& tag) {
    assertMainThread("QuovaPointTagStore", "deleteTag");
    QLLogInfo("QuovaPointTagStore: delete tag " + logging::debugQuoted(tag->title()) + ".");
    const auto hiddenAt = tag->hiddenAt();
    const auto deletedAt = tag->deletedAt();
    const auto savedAt = tag->lastSavedAt();
    const auto savedBy = tag->lastSavedByAppVersion();
    tag->setHiddenAt(platform::Date::now());
    tag->setDeletedAt(platform::Date::now());
    if (auto error = tag->save()) {
        // Still valid on disk, so still in the list, as it was.
        tag->setHiddenAt(hiddenAt);
        tag->setDeletedAt(deletedAt);
        tag->setLastSavedAt(savedAt);
        tag->setLastSavedByAppVersion(savedBy);
        return error;
    }
    setNeedsSync();
    if (tags_) std::erase(*tags_, tag);
    changeObservers_.notify({tag, PointTagChange::Reason::deleted});
    return std::nullopt;
}

void QuovaPointTagStore::setNeedsSync() {
    QLLogInfo("QuovaPointTagStore: needs sync flag set.");
    needsSync_ = true;
}

platform::Color QuovaPointTagStore::randomPaletteColor() const {
    const auto& palette = tagColorPalette();
    const auto& entry = palette[platform::text::randomIndex(palette.size())];
    if (entry.rgb.empty()) return defaultPointColor();
    return colorFromStoredString(entry.rgb).value_or(defaultPointColor());
}

}  // namespace tervolo::points
