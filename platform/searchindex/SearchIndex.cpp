#include "platform/searchindex/SearchIndex.hpp"

#include <cstdlib>
#include <mutex>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/searchindex/FileSearchIndex.hpp"

namespace platform {
namespace {

std::mutex defaultMutex;
std::shared_ptr<SearchIndex>& installedDefault() {
    static std::shared_ptr<SearchIndex> index;
    return index;
}

}  // namespace

SearchIndex& SearchIndex::defaultSearchableIndex() {
    {
        std::lock_guard lock(defaultMutex);
        if (installedDefault()) return *installedDefault();
    }
    // Made on first use and never destroyed, so requests still queued at exit
    // never meet a destroyed index.
    return SharedInstance<FileSearchIndex>::get([] {
        static FileSearchIndex* made = new FileSearchIndex(
            FileManager::defaultManager().documentsDirectory() + "/" + FileSearchIndex::kFileName);
        // A clean exit lets the writes already asked for finish: a process
        // that ends in the middle of one leaves its temporary file behind.
        std::atexit([] { made->waitUntilIdle(); });
        return made;
    });
}

void SearchIndex::setDefaultForTesting(std::shared_ptr<SearchIndex> index) {
    std::lock_guard lock(defaultMutex);
    installedDefault() = std::move(index);
}

}  // namespace platform
