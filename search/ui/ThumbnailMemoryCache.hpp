#pragma once

#include <QImage>

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

namespace tervolo::search {

// Thumbnails by image address, each counted at the byte size of the data it
// was decoded from. When the total passes the cost limit the least recently
// used entries go first, so a few large images cannot hold the memory of
// many small ones. Main thread only.
class ThumbnailMemoryCache {
  public:
    static constexpr int64_t kDefaultTotalCostLimit = 32 * 1024 * 1024;  // bytes

    explicit ThumbnailMemoryCache(int64_t totalCostLimit = kDefaultTotalCostLimit) : limit_(totalCostLimit) {}

    // The image, which becomes the most recently used; none on a miss.
    std::optional<QImage> object(const std::string& key);
    // Stores (or replaces) an entry of `cost` bytes, then evicts down to the
    // limit. An entry larger than the limit is not kept.
    void setObject(const std::string& key, QImage image, int64_t cost);
    int64_t totalCost() const { return total_; }
    int64_t totalCostLimit() const { return limit_; }
    size_t count() const { return entries_.size(); }

  private:
    struct Entry {
        std::string key;
        QImage image;
        int64_t cost;
    };
    void remove(std::list<Entry>::iterator it);

    int64_t limit_;
    int64_t total_ = 0;
    std::list<Entry> entries_;  // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

}  // namespace tervolo::search
