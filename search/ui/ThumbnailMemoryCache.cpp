#include "search/ui/ThumbnailMemoryCache.hpp"

#include <algorithm>

namespace tervolo::search {

std::optional<QImage> ThumbnailMemoryCache::object(const std::string& key) {
    auto found = index_.find(key);
    if (found == index_.end()) return std::nullopt;
    entries_.splice(entries_.begin(), entries_, found->second);
    return found->second->image;
}

void ThumbnailMemoryCache::setObject(const std::string& key, QImage image, int64_t cost) {
    cost = std::max<int64_t>(cost, 0);
    if (auto found = index_.find(key); found != index_.end()) remove(found->second);
    if (cost > limit_) return;
    entries_.push_front(Entry{key, std::move(image), cost});
    index_[key] = entries_.begin();
    total_ += cost;
    while (total_ > limit_ && !entries_.empty()) remove(std::prev(entries_.end()));
}

void ThumbnailMemoryCache::remove(std::list<Entry>::iterator it) {
    total_ -= it->cost;
    index_.erase(it->key);
    entries_.erase(it);
}

}  // namespace tervolo::search
