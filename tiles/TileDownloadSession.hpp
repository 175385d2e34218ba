#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSessionConfiguration.hpp"

namespace tervolo::tiles {

// One tile download as the cache manager sees it; created suspended.
class TileDownloadTask {
  public:
    virtual ~TileDownloadTask() = default;
    virtual void resume() = 0;
    virtual void cancel() = 0;
    virtual bool isSuspended() const = 0;
};

// What a download delivered: the body, the HTTP response and the error, as a
// URL session hands them over (a status code is never an error; a reply with
// neither response nor error is not an HTTP reply).
struct TileDownloadReply {
    std::optional<std::vector<uint8_t>> data;
    std::optional<platform::HTTPURLResponse> response;
    std::optional<platform::Error> error;
};

// Where the cache manager's tasks come from: a URL session in the program, a
// scripted fake in tests. Completions run exactly once, one at a time per
// session, on the session's own queue.
class TileDownloadSession {
  public:
    using Completion = std::function<void(TileDownloadReply reply)>;
    virtual ~TileDownloadSession() = default;
    // Nothing when no task can be made for the URL.
    virtual std::shared_ptr<TileDownloadTask> dataTask(const std::string& url, Completion completion) = 0;
};

// Makes the session of one host prefix ("default" without prefixes).
using TileSessionFactory = std::function<std::shared_ptr<TileDownloadSession>(
    const std::string& prefix, const platform::URLSessionConfiguration& configuration)>;

// A session over platform::URLSession; only http and https URLs with a host make tasks.
std::shared_ptr<TileDownloadSession> makeURLTileSession(
    const platform::URLSessionConfiguration& configuration);

}  // namespace tervolo::tiles
