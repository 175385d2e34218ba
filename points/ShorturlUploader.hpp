#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tervolo::points {

class QuovaMapPoint;

// What the point store's short-link half hands an upload to. The backend
// provides the real one (the request body, the map screen's style and zoom,
// the POST to the API server); the store keeps the bookkeeping: one upload per
// point identifier, the running-upload table the share item waits on, and the
// cache of returned links.
class ShorturlUploader {
  public:
    // Called once when the upload ends, on any thread: the short link the
    // server returned, or none when the upload failed or the reply did not
    // decode.
    using Completion = std::function<void(std::optional<std::string> shorturl)>;

    virtual ~ShorturlUploader() = default;

    // Starts the upload of `point`, which has an identifier, a title and a
    // valid coordinate. Runs on the thread that asked for the upload (the
    // main thread), so it may read the point's fields. Returns a handle of the
    // running task, or null when nothing was started (the body cannot be
    // encoded, no session): then `completion` is never called. `completion`
    // may run before startUpload returns.
    virtual std::shared_ptr<void> startUpload(const QuovaMapPoint& point, Completion completion) = 0;
};

}  // namespace tervolo::points
