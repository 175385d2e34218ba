#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLRequest.hpp"

namespace platform {

class DispatchQueue;
namespace net_detail {
struct SessionCore;
struct Transfer;
}  // namespace net_detail

// One load made by a URLSession. Tasks are created suspended; resume() starts
// them. The completion runs exactly once on the session's delegate queue: with
// the result, with an error, or with -999 after cancel() (also for a task that
// was never resumed or whose session was invalidated).
class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
  public:
    // The platform's raw values.
    enum class State : int { running = 0, suspended = 1, canceling = 2, completed = 3 };
    enum class Kind { data, upload, download };

    // Data and upload tasks: the body (absent on error), the response (absent
    // on error) and the error (absent on success; HTTP statuses are not errors).
    using DataCompletion =
        std::function<void(std::optional<std::vector<uint8_t>> data, std::optional<HTTPURLResponse> response,
                           std::optional<Error> error)>;
    // Download tasks: the path of a temporary file holding the body; the file is
    // removed once the completion returns (move it away to keep it).
    using DownloadCompletion =
        std::function<void(std::optional<std::string> location, std::optional<HTTPURLResponse> response,
                           std::optional<Error> error)>;

    ~URLSessionTask();
    URLSessionTask(const URLSessionTask&) = delete;
    URLSessionTask& operator=(const URLSessionTask&) = delete;

    uint64_t taskIdentifier() const { return identifier_; }
    const URLRequest& originalRequest() const { return request_; }
    Kind kind() const { return kind_; }
    // Readable from any thread.
    State state() const { return state_.load(std::memory_order_acquire); }

    void resume();
    void cancel();

  private:
    friend struct net_detail::SessionCore;
    friend class URLSession;
    URLSessionTask(uint64_t identifier, Kind kind, URLRequest request,
                   std::weak_ptr<net_detail::SessionCore> core, std::shared_ptr<DispatchQueue> delegateQueue);

    // Runs the completion on the delegate queue with an error and no result.
    void deliverError(Error error);

    const uint64_t identifier_;
    const Kind kind_;
    const URLRequest request_;
    std::weak_ptr<net_detail::SessionCore> core_;
    std::shared_ptr<DispatchQueue> delegateQueue_;
    std::atomic<State> state_{State::suspended};
    // Moved out exactly once, by whoever delivers the completion.
    DataCompletion dataCompletion_;
    DownloadCompletion downloadCompletion_;
    // Owned by the session's I/O thread while the task runs.
    std::unique_ptr<net_detail::Transfer> transfer_;
};

}  // namespace platform
