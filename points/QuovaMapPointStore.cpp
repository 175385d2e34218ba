#include "points/QuovaMapPointStore.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <iterator>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/ProcessorCount.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/FileManager.hpp"
#include "points/RecordFile.hpp"
#include "points/SearchItemMaker.hpp"

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
    // Sorted positions instead of a table of every identifier: ten thousand
    // points with no duplicate cost one sort, not ten thousand allocations.
    std::vector<std::pair<std::string_view, std::size_t>> byIdentifier;
    byIdentifier.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto& uuid = points[i]->uuid();
        if (uuid && !uuid->empty()) byIdentifier.emplace_back(*uuid, i);
    }
    std::sort(byIdentifier.begin(), byIdentifier.end());
    // Each shared identifier with its files in load order, told in the order
    // of its first file.
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t first = 0; first < byIdentifier.size();) {
        std::size_t end = first + 1;
        while (end < byIdentifier.size() && byIdentifier[end].first == byIdentifier[first].first) ++end;
        if (end - first > 1) {
            std::vector<std::size_t>& indices = groups.emplace_back();
            for (std::size_t k = first; k < end; ++k) indices.push_back(byIdentifier[k].second);
        }
        first = end;
    }
    std::sort(groups.begin(), groups.end(),
              [](const auto& a, const auto& b) { return a.front() < b.front(); });
    for (const auto& indices : groups) {
        const std::string& identifier = *points[indices.front()]->uuid();
        std::string files;
        for (std::size_t index : indices) {
            if (!files.empty()) files += ", ";
            files += logging::debugQuoted(names[index]);
        }
        QLLogWarn("QuovaMapPointStore: " + std::to_string(indices.size()) + " files hold the identifier " +
                  logging::debugQuoted(identifier) + " (" + files +
                  "); all are kept, and saving any of them writes " +
                  logging::debugQuoted(identifier + QuovaMapPoint::kFileExtension));
    }
}

// What one run of the folder's names gave: the points in listing order, the
// names they came from, and the search-index items of the indexable ones.
struct LoadedRun {
    std::vector<std::shared_ptr<QuovaMapPoint>> points;
    std::vector<std::string> names;
    std::vector<platform::SearchableItem> items;
};

// Reads and decodes `names` (entries of `folder`) in runs of consecutive
// names, several runs at once on the global queue and on the calling thread.
// Each point is made, decoded and turned into its search item by the one
// thread that reads its file, and no other thread sees it before every run has
// ended; the runs are put together in listing order, so the outcome is that of
// reading the names one after another.
class ParallelLoad : public std::enable_shared_from_this<ParallelLoad> {
  public:
    ParallelLoad(std::string folder, std::vector<std::string> names)
        : folder_(std::move(folder)),
          names_(std::move(names)),
          runCount_((names_.size() + kRunLength - 1) / kRunLength),
          runs_(runCount_) {}

    LoadedRun run() {
        // The caller takes runs too, so the load moves on even when every
        // worker is busy elsewhere; it then waits only for the runs that
        // workers took, never for a worker that has not started yet (such a
        // worker finds nothing left and holds this state until it ends).
        const auto helpers = static_cast<std::size_t>(std::max(0, platform::processorCount() - 1));
        const auto queue = platform::DispatchQueue::global(platform::QoS::UserInitiated);
        for (std::size_t h = 0; h < std::min(helpers, runCount_ > 0 ? runCount_ - 1 : 0); ++h) {
            queue->async([self = shared_from_this()] { self->work(); });
        }
        work();
        {
            std::unique_lock lock(mutex_);
            finished_.wait(lock, [this] { return runsDone_ == runCount_; });
            if (failure_) std::rethrow_exception(failure_);
        }
        return merged();
    }

  private:
    // Runs small enough to spread over the workers, large enough that taking
    // one costs nothing next to reading it.
    static constexpr std::size_t kRunLength = 64;

    void work() {
        for (std::size_t run = nextRun_.fetch_add(1); run < runCount_; run = nextRun_.fetch_add(1)) {
            std::exception_ptr failure;
            try {
                load(run);
            } catch (...) {
                // Beyond a file that does not decode (skipped): thrown again
                // on the caller's thread.
                failure = std::current_exception();
            }
            std::lock_guard lock(mutex_);
            if (failure && !failure_) failure_ = failure;
            if (++runsDone_ == runCount_) finished_.notify_all();
        }
    }

    void load(std::size_t run) {
        LoadedRun& out = runs_[run];
        const std::size_t end = std::min(names_.size(), (run + 1) * kRunLength);
        for (std::size_t i = run * kRunLength; i < end; ++i) {
            auto point = QuovaMapPoint::initWithFilePath(folder_ + names_[i]);
            if (!point) continue;
            if (auto item = maker_.make(*point)) out.items.push_back(std::move(*item));
            out.points.push_back(std::move(point));
            out.names.push_back(names_[i]);
        }
    }

    LoadedRun merged() {
        LoadedRun all;
        std::size_t points = 0;
        std::size_t items = 0;
        for (const auto& run : runs_) {
            points += run.points.size();
            items += run.items.size();
        }
        all.points.reserve(points);
        all.names.reserve(points);
        all.items.reserve(items);
        for (auto& run : runs_) {
            std::move(run.points.begin(), run.points.end(), std::back_inserter(all.points));
            std::move(run.names.begin(), run.names.end(), std::back_inserter(all.names));
            std::move(run.items.begin(), run.items.end(), std::back_inserter(all.items));
        }
        runs_.clear();
        return all;
    }

    const std::string folder_;
    const std::vector<std::string> names_;
    const std::size_t runCount_;
    const SearchItemMaker maker_;  // reads the bundle on the caller's thread
    std::vector<LoadedRun> runs_;  // each written by the thread that took it
    std::atomic<std::size_t> nextRun_{0};
    std::mutex mutex_;
    std::condition_variable finished_;
    std::size_t runsDone_ = 0;    // under mutex_
    std::exception_ptr failure_;  // under mutex_
};

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
    recordfile::removeAbandonedSaves(folder);
    auto names = platform::FileManager::defaultManager().contentsOfDirectory(folder);
    std::vector<std::string> toRead;
    if (!names.ok()) {
        QLLogInfo("Can't read points directory.");
    } else {
        // Every entry is tried, whatever its extension or kind: the safe read
        // in initWithFilePath skips sub-folders, FIFOs, devices and oversized
        // files as unreadable.
        toRead.reserve(names.value().size());
        for (const auto& name : names.value()) {
            // Younger than a minute (left alone above): perhaps another
            // instance's save still running.
            if (platform::FileManager::isTemporaryFileName(name)) {
                QLLogInfo("QuovaMapPointStore: skipping unfinished save " + logging::debugQuoted(name));
                continue;
            }
            toRead.push_back(name);
        }
    }
    LoadedRun loaded = std::make_shared<ParallelLoad>(folder, std::move(toRead))->run();
    warnAboutDuplicateIdentifiers(loaded.points, loaded.names);
    points_ = std::move(loaded.points);
    // The items of exactly the points in the list, in its order: what
    // addPointsToCoreSpotlight(points_) would make, made while decoding.
    indexSearchableItems(std::move(loaded.items));
}

void QuovaMapPointStore::setNeedsSync() {
    QLLogInfo("QuovaMapPointStore: needs sync flag set.");
    needsSync_ = true;
}

}  // namespace tervolo::points
