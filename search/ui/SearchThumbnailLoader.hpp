#pragma once

#include <QImage>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "points/QuovaPlacemark.hpp"
#include "search/ui/ThumbnailMemoryCache.hpp"

namespace platform {
class URLSession;
}

namespace tervolo::search {

// The thumbnails of search results: at most one download per image address
// at a time, with everyone asking meanwhile waiting for it, and a memory
// cache of what arrived. Results come to the completion on the main queue,
// also from the cache, never inside the call.
//
// Only http and https addresses are fetched, replies of at most 2 MiB, and
// an image is decoded under an allocation limit of 64 MiB, so a backend
// cannot make the program read local files or exhaust its memory. Main thread
// only; downloads finish on the session's queue and are handed to the main
// queue before anything is touched.
class SearchThumbnailLoader : public std::enable_shared_from_this<SearchThumbnailLoader> {
  public:
    using ImageCompletion = std::function<void(const points::QuovaPlacemark&, std::optional<QImage>)>;

    static constexpr int64_t kMaximumImageBytes = 2 * 1024 * 1024;
    static constexpr int kDecodeAllocationLimitMiB = 64;

    static std::shared_ptr<SearchThumbnailLoader> make();
    ~SearchThumbnailLoader();

    // Delivers the thumbnail of `place` to `completion`. Nothing happens (the
    // completion is never called) for a result without an image address or
    // with one that is not an http or https URL. A cache hit is delivered on
    // the main queue; otherwise a download starts, or the completion waits
    // for the one running. On success every waiter gets the result that
    // started the download and the image, in the order they asked; on failure
    // only the starter is called, without an image, and the others are dropped.
    void loadPreviewImage(const points::QuovaPlacemark& place, ImageCompletion completion);

    ThumbnailMemoryCache& imageCache() { return imageCache_; }
    // Waiters of the download running for `address` (0 when none runs).
    size_t waitingCount(const std::string& address) const;
    // Whether `address` may be downloaded: an http or https URL with a host.
    static bool isDownloadableAddress(const std::string& address);
    // The image in downloaded `data` (any format Qt reads), decoded under the
    // allocation limit; none for data over 2 MiB, empty or not an image.
    static std::optional<QImage> decodeThumbnail(const std::vector<uint8_t>& data);

  private:
    SearchThumbnailLoader() = default;
    void finishDownload(const std::string& address, const points::QuovaPlacemark& place,
                        std::optional<std::vector<uint8_t>> data, bool failed);

    ThumbnailMemoryCache imageCache_;
    std::shared_ptr<platform::URLSession> imageDownloadSession_;
    std::map<std::string, std::vector<ImageCompletion>> loadingResponses_;
};

}  // namespace tervolo::search
