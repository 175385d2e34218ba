#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/net/URLRequest.hpp"
#include "platform/net/URLSessionConfiguration.hpp"
#include "platform/net/URLSessionTask.hpp"

namespace tervolo::search {

// One request of the search client; created suspended.
class SearchSessionTask {
  public:
    virtual ~SearchSessionTask() = default;
    virtual void resume() = 0;
    // The completion still runs once, with -999 unless the reply was already on its way.
    virtual void cancel() = 0;
};

// Where the search client's requests go: a URL session in the program, a
// scripted fake in tests. Each completion runs exactly once, one at a time,
// on the session's own serial queue (never the main queue), with the body,
// the response and the error as a URL session delivers them (an HTTP status
// is never an error).
class SearchSession {
  public:
    using Completion = platform::URLSessionTask::DataCompletion;
    virtual ~SearchSession() = default;
    // POST (unless the request names another method) of `body`.
    virtual std::shared_ptr<SearchSessionTask> uploadTask(platform::URLRequest request,
                                                          std::vector<uint8_t> body,
                                                          Completion completion) = 0;
    virtual std::shared_ptr<SearchSessionTask> dataTask(platform::URLRequest request,
                                                        Completion completion) = 0;
};

// A session over platform::URLSession with `configuration`.
std::shared_ptr<SearchSession> makeURLSearchSession(platform::URLSessionConfiguration configuration);

}  // namespace tervolo::search
