#include "search/ui/SearchThumbnailLoader.hpp"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QUrl>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/net/URLSessionConfiguration.hpp"
#include "platform/net/URLSessionTask.hpp"

namespace tervolo::search {

std::optional<QImage> SearchThumbnailLoader::decodeThumbnail(const std::vector<uint8_t>& data) {
    if (data.empty() || data.size() > static_cast<size_t>(SearchThumbnailLoader::kMaximumImageBytes)) {
        return std::nullopt;
    }
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()),
                                               static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // A small file can announce a huge picture; the limit refuses it before
    // the pixels are allocated.
    reader.setAllocationLimit(SearchThumbnailLoader::kDecodeAllocationLimitMiB);
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    return image;
}

std::shared_ptr<SearchThumbnailLoader> SearchThumbnailLoader::make() {
    return std::shared_ptr<SearchThumbnailLoader>(new SearchThumbnailLoader());
}

SearchThumbnailLoader::~SearchThumbnailLoader() = default;

bool SearchThumbnailLoader::isDownloadableAddress(const std::string& address) {
    const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

size_t SearchThumbnailLoader::waitingCount(const std::string& address) const {
    auto found = loadingResponses_.find(address);
    return found == loadingResponses_.end() ? 0 : found->second.size();
}

void SearchThumbnailLoader::loadPreviewImage(const points::QuovaPlacemark& place,
                                             ImageCompletion completion) {
    if (!place.imageUrl || !isDownloadableAddress(*place.imageUrl)) return;
    const std::string address = *place.imageUrl;

    if (auto cached = imageCache_.object(address)) {
        QLLogInfo("cache HIT for image for place " + logging::debugQuoted(place.title));
        platform::DispatchQueue::main()->async([completion = std::move(completion), place,
                                                image = std::move(*cached)] { completion(place, image); });
        return;
    }
    auto& waiting = loadingResponses_[address];
    if (!waiting.empty()) {
        waiting.push_back(std::move(completion));
        return;
    }
    waiting = {std::move(completion)};
    QLLogInfo("cache MISS for image for place " + logging::debugQuoted(place.title) + " - starting download");
    if (!imageDownloadSession_) {
        auto configuration = platform::URLSessionConfiguration::defaultConfiguration();
        configuration.maximumResponseBytes = kMaximumImageBytes;
        imageDownloadSession_ = platform::URLSession::make(configuration);
    }
    std::weak_ptr<SearchThumbnailLoader> weakSelf = weak_from_this();
    auto task = imageDownloadSession_->dataTask(address, [weakSelf, address, place](
                                                             std::optional<std::vector<uint8_t>> data,
                                                             std::optional<platform::HTTPURLResponse>,
                                                             std::optional<platform::Error> error) {
        const bool failed = error.has_value();
        platform::DispatchQueue::main()->async([weakSelf, address, place, data = std::move(data), failed] {
            if (auto self = weakSelf.lock()) self->finishDownload(address, place, data, failed);
        });
    });
    task->resume();
}

void SearchThumbnailLoader::finishDownload(const std::string& address, const points::QuovaPlacemark& place,
                                           std::optional<std::vector<uint8_t>> data, bool failed) {
    std::vector<ImageCompletion> waiting;
    if (auto found = loadingResponses_.find(address); found != loadingResponses_.end()) {
        waiting = std::move(found->second);
        found->second.clear();
    }
    std::optional<QImage> image;
    if (data && !failed && !waiting.empty()) image = decodeThumbnail(*data);
    if (!image) {
        QLLogInfo("download FAILED for image for place " + logging::debugQuoted(place.title));
        if (!waiting.empty()) waiting.front()(place, std::nullopt);
        return;
    }
    QLLogInfo("download SUCCESS for image for place " + logging::debugQuoted(place.title));
    imageCache_.setObject(address, *image, static_cast<int64_t>(data->size()));
    for (auto& completion : waiting) completion(place, *image);
}

}  // namespace tervolo::search
