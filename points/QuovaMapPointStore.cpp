#include "points/QuovaMapPointStore.hpp"

#include <optional>
#include <unordered_map>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/FileManager.hpp"
#include "points/RecordFile.hpp"

namespace tervolo::points {

namespace {

// The store a test reset put in place of the shared one, if any.
std::optional<platform::SharedInstance<QuovaMapPointStore>::Replacement>& testReplacement() {
    static auto* replacement = new std::optional<platform::SharedInstance<QuovaMapPointStore>::Replacement>;
    return *replacement;
}

std::string bundleIdentifier() {
    return platform::Bundle::main().infoString("CFBundleIdentifier").value_or("");
}

// Several files holding one identifier (a copy made by hand, a restored
// backup) all load, as they always did; but every one of them saves to the same
// file, so the later save silently replaces the other. Say so once per
// identifier at load; no file is ever deleted.
void warnAboutDuplicateIdentifiers(const std::vector<std::shared_ptr<QuovaMapPoint>>& points,
                                   const std::vector<std::string>& names) {
    std::unordered_map<std::string, std::vector<std::size_t>> byIdentifier;
    std::vector<std::string> order;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!points[i]->uuid() || points[i]->uuid()->empty()) continue;
        auto& indices = byIdentifier[*points[i]->uuid()];
        if (indices.empty()) order.push_back(*points[i]->uuid());
        indices.push_back(i);
    }
    for (const auto& identifier : order) {
        const auto& indices = byIdentifier[identifier];
        if (indices.size() < 2) continue;
        std::string files;
        for (std::size_t index : indices) {
            if (!files.empty()) files += ", ";
            files += names[index];
        }
        QLLogWarn("QuovaMapPointStore: " + std::to_string(indices.size()) + " files hold the identifier " +
                  identifier + " (" + files + "); all are kept, and saving any of them writes " + identifier +
                  QuovaMapPoint::kFileExtension);
    }
}

}  // namespace

QuovaMapPointStore& QuovaMapPointStore::shared() {
    QuovaMapPointStore& store = platform::SharedInstance<QuovaMapPointStore>::get();
    // Loaded on the first caller's thread; callers racing to it wait for the load.
    std::call_once(store.loaded_, [&store] {
        store.dispatchQueue_ = platform::DispatchQueue::serial(bundleIdentifier() + ".QuovaMapPointStore",
                                                               platform::QoS::Unspecified);
        store.loadPointsFromLocalStore();
        store.encodingSession_ = EncodingSessionConfiguration{};
    });
    return store;
}

void QuovaMapPointStore::resetSharedForTesting() {
    // The fresh store reads the folder in force at its first use. Retired
    // stores stay alive (never destroyed) for the rest of the run, so nothing
    // that still refers to one meets a destroyed object.
    static auto* retired = new std::vector<QuovaMapPointStore*>;
    auto* fresh = new QuovaMapPointStore();
    retired->push_back(fresh);
    auto& replacement = testReplacement();
    replacement.reset();
    replacement.emplace(*fresh);
}

QuovaMapPointStore::QuovaMapPointStore() = default;

void QuovaMapPointStore::loadPointsFromLocalStore() {
    QLLogInfo("loadPointsFromLocalStore()");
    const std::string folder = QuovaMapPoint::documentDirectory();
    std::vector<std::shared_ptr<QuovaMapPoint>> loaded;
    std::vector<std::string> loadedNames;
    recordfile::removeAbandonedSaves(folder);
    auto names = platform::FileManager::defaultManager().contentsOfDirectory(folder);
    if (!names.ok()) {
        QLLogInfo("Can't read points directory.");
    } else {
        // Every entry is tried, whatever its extension or kind: the safe read
        // in initWithFilePath skips sub-folders, FIFOs, devices and oversized
        // files as unreadable.
        for (const auto& name : names.value()) {
            // Younger than a minute (left alone above): perhaps another
            // instance's save still running.
            if (platform::FileManager::isTemporaryFileName(name)) {
                QLLogInfo("QuovaMapPointStore: skipping unfinished save " + logging::debugQuoted(name));
                continue;
            }
            if (auto point = QuovaMapPoint::initWithFilePath(folder + name)) {
                loaded.push_back(std::move(point));
                loadedNames.push_back(name);
            }
        }
    }
    warnAboutDuplicateIdentifiers(loaded, loadedNames);
    points_ = std::move(loaded);
    addPointsToCoreSpotlight(points_);
}

void QuovaMapPointStore::setNeedsSync() {
    QLLogInfo("QuovaMapPointStore: needs sync flag set.");
    needsSync_ = true;
}

}  // namespace tervolo::points
