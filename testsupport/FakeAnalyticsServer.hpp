#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "testsupport/LoopbackHTTPServer.hpp"

namespace tervolo::testsupport {

// A stand-in for the analytics server on 127.0.0.1 (random port), plain HTTP
// or TLS with a self-signed certificate. Requests to "/i" are answered from a
// script, in order, then with the default reply ({"result":"Success"});
// every request is recorded. Other paths get 404.
//
//   FakeAnalyticsServer server;
//   server.script({FakeAnalyticsServer::rejection(), FakeAnalyticsServer::success()});
//   config.host = server.host();
//   ...
//   server.waitForRequests(2);
//   server.queries();   // what the client sent, in arrival order
class FakeAnalyticsServer {
  public:
    explicit FakeAnalyticsServer(
        LoopbackHTTPServer::Transport transport = LoopbackHTTPServer::Transport::plain);
    FakeAnalyticsServer(const FakeAnalyticsServer&) = delete;
    FakeAnalyticsServer& operator=(const FakeAnalyticsServer&) = delete;

    // "http://127.0.0.1:<port>" or "https://…": the client's host setting.
    std::string host() const { return http_.url(); }

    // Replies for the next requests to "/i", one each, in order.
    void script(std::vector<CannedReply> replies);
    void setDefaultReply(CannedReply reply);

    // 200 {"result":"Success"}.
    static CannedReply success();
    // 200 {"result":"Failure"}: the server took the request but refused it.
    static CannedReply rejection(int status = 200);

    std::vector<RecordedRequest> requests() const { return http_.requests(); }
    // The query of each request to "/i" in arrival order: the URL's query
    // for GET, the body for a form POST.
    std::vector<std::string> queries() const;
    // The decoded value of `key` in each query that has it.
    std::vector<std::string> values(const std::string& key) const;
    size_t requestCount() const { return http_.requestCount(); }
    bool waitForRequests(size_t count, double timeoutSeconds = 10) const {
        return http_.waitForRequests(count, timeoutSeconds);
    }
    int maxRequestsInFlight() const { return http_.maxRequestsInFlight(); }
    const std::string& certificatePEMPath() const { return http_.certificatePEMPath(); }
    const std::string& certificateDERPath() const { return http_.certificateDERPath(); }

    LoopbackHTTPServer& http() { return http_; }
    void stop() { http_.stop(); }

  private:
    CannedReply next();

    mutable std::mutex mutex_;
    std::deque<CannedReply> script_;
    CannedReply default_;
    LoopbackHTTPServer http_;
};

}  // namespace tervolo::testsupport
