#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/net/URLRequest.hpp"
#include "platform/net/URLSessionConfiguration.hpp"
#include "platform/net/URLSessionTask.hpp"

namespace platform {

class DispatchQueue;

// Loads http and https URLs over libcurl. Each session has one curl multi
// handle driven by one I/O thread, and one serial delegate queue on which all
// its completions run, one at a time. Different sessions run in parallel.
//
// Always: TLS verification on, no cookies, no cache, no "Expect: 100-continue",
// a "TervoloNG/<version>" User-Agent unless the request sets one, compressed
// replies accepted and decoded.
class URLSession {
  public:
    // `delegateQueue` null: the session makes its own serial queue.
    static std::shared_ptr<URLSession> make(URLSessionConfiguration configuration,
                                            std::shared_ptr<DispatchQueue> delegateQueue = nullptr);
    // The process-wide session of the default configuration; never destroyed.
    static URLSession& shared();

    // Cancels every unfinished task (each completes with -999) and stops the I/O thread.
    ~URLSession();
    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    std::shared_ptr<URLSessionTask> dataTask(URLRequest request, URLSessionTask::DataCompletion completion);
    std::shared_ptr<URLSessionTask> dataTask(const std::string& url,
                                             URLSessionTask::DataCompletion completion);
    // POST (unless the request names another method) of `body`.
    std::shared_ptr<URLSessionTask> uploadTask(URLRequest request, std::vector<uint8_t> body,
                                               URLSessionTask::DataCompletion completion);
    std::shared_ptr<URLSessionTask> downloadTask(URLRequest request,
                                                 URLSessionTask::DownloadCompletion completion);

    const URLSessionConfiguration& configuration() const;
    const std::shared_ptr<DispatchQueue>& delegateQueue() const;
    // "TervoloNG/<version>".
    static std::string userAgent();

    // Cancels every task made by this session that has not completed, then
    // stops the I/O thread; tasks resumed afterwards complete with -999.
    void invalidateAndCancel();

  private:
    explicit URLSession(std::shared_ptr<net_detail::SessionCore> core);
    std::shared_ptr<URLSessionTask> makeTask(URLSessionTask::Kind kind, URLRequest request);

    std::shared_ptr<net_detail::SessionCore> core_;
};

}  // namespace platform
