#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "backend/DeviceInformation.hpp"
#include "backend/MapStateSnapshot.hpp"
#include "backend/QMPUploadRecords.hpp"
#include "platform/net/URLSessionConfiguration.hpp"
#include "points/ShorturlUploader.hpp"

namespace platform {
class URLSession;
}

namespace tervolo::backend {

// Uploads a shared point to the API server ("/apps/api/location") and hands
// the returned short link to the point store, which keeps the one-upload-
// per-point bookkeeping and the cache. Any thread; completions run on the
// upload session's queue.
class QuovaShorturlUploader : public points::ShorturlUploader {
  public:
    struct Dependencies {
        std::function<std::string()> apiBaseURL;
        std::function<DeviceInformation()> deviceInformation;
        std::function<std::optional<int64_t>()> deviceID;
        std::function<std::optional<MapStateSnapshot>()> mapState;
        // Request time-out 7 s, replies up to 1 MiB.
        platform::URLSessionConfiguration sessionConfiguration = defaultSessionConfiguration();
    };

    // The application's uploader: the API host, this machine, the shared
    // device manager's identifier and the map screen's published state.
    static std::shared_ptr<QuovaShorturlUploader> makeDefault();
    explicit QuovaShorturlUploader(Dependencies dependencies);

    // Gives the shared point store the application's uploader.
    static void installInPointStore();

    std::shared_ptr<void> startUpload(const points::QuovaMapPoint& point, Completion completion) override;

    // The body for `point` now.
    QMPUploadRequest uploadRequest(const points::QuovaMapPoint& point) const;

    static platform::URLSessionConfiguration defaultSessionConfiguration();

  private:
    Dependencies dependencies_;
    std::shared_ptr<platform::URLSession> encodingSession_;
};

}  // namespace tervolo::backend
