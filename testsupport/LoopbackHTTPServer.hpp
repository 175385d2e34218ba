#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tervolo::testsupport {

// One request as the server read it off the wire.
struct RecordedRequest {
    std::string method;
    std::string target;  // path and query as sent ("/a/b?x=1")
    std::string path;    // target without the query
    std::string query;   // text after '?', empty when none
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order, names as sent
    std::string body;
    int connection = 0;  // 1-based number of the connection it came on

    // First header of that name (case-insensitive), nothing when absent.
    std::optional<std::string> header(const std::string& name) const;
    // Every header of that name, in order.
    std::vector<std::string> headerValues(const std::string& name) const;
};

// What the server does with a request matched by method and path.
struct CannedReply {
    enum class Mode {
        normal,             // status line, headers, body with Content-Length
        chunkedTrickle,     // chunked body, trickleChunkSize bytes every trickleInterval
        resetBeforeReply,   // read the request, then reset the connection (RST)
        closeWithoutReply,  // read the request, then close cleanly without a byte
        resetAfterHeaders,  // send headers announcing the body, part of it, then RST
        closeMidBody,       // send headers announcing the body, half of it, then close cleanly (FIN)
        silent,             // read the request and never answer (until the server stops)
    };

    int status = 200;
    std::string reason;  // empty: a standard phrase for the status
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    double delayBeforeHeaders = 0;  // seconds of silence before the status line
    Mode mode = Mode::normal;
    size_t trickleChunkSize = 1;
    double trickleInterval = 0.05;  // seconds between chunks

    static CannedReply text(std::string body, int status = 200);
    static CannedReply json(std::string body, int status = 200);
    static CannedReply redirect(const std::string& location, int status = 302);
    static CannedReply ofMode(Mode mode);
    CannedReply& withDelay(double seconds) {
        delayBeforeHeaders = seconds;
        return *this;
    }
    CannedReply& withHeader(std::string name, std::string value) {
        headers.emplace_back(std::move(name), std::move(value));
        return *this;
    }
};

// A scriptable HTTP/1.1 server on 127.0.0.1 with a random port, for tests that
// must see what a client really sends. Replies are canned per method and path
// (a query does not take part in the match); unmatched requests get 404. Every
// request is logged with its headers and body. Connections are kept alive, one
// thread each, so connection counts seen by the server are real.
//
// The TLS variant serves https with a self-signed certificate for 127.0.0.1 and
// "localhost", generated when the server starts (no files, no network needed);
// certificatePEMPath() and certificateDERPath() name it for trust and pinning.
class LoopbackHTTPServer {
  public:
    enum class Transport { plain, tls };
    using Handler = std::function<CannedReply(const RecordedRequest&)>;

    explicit LoopbackHTTPServer(Transport transport = Transport::plain);
    ~LoopbackHTTPServer();
    LoopbackHTTPServer(const LoopbackHTTPServer&) = delete;
    LoopbackHTTPServer& operator=(const LoopbackHTTPServer&) = delete;

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" (https for the TLS variant) followed by `path`.
    std::string url(const std::string& path = "") const;

    // Reply for `method` ("GET", "POST", ... or "*" for any) and exact `path`.
    void route(const std::string& method, const std::string& path, CannedReply reply);
    void route(const std::string& method, const std::string& path, Handler handler);
    void setFallback(CannedReply reply);
    // Answers every request no route matches (a server of many paths, such as
    // a tile server); called on the connection's own thread.
    void setFallback(Handler handler);

    std::vector<RecordedRequest> requests() const;
    size_t requestCount() const;
    // Blocks until at least `count` requests arrived or `timeoutSeconds` passed.
    bool waitForRequests(size_t count, double timeoutSeconds = 10) const;

    int connectionsAccepted() const;
    // Most connections open at one time, and most requests being answered at
    // one time (read but not yet fully replied to).
    int maxOpenConnections() const;
    int maxRequestsInFlight() const;

    // Empty for the plain variant.
    const std::string& certificatePEMPath() const { return certPEMPath_; }
    const std::string& certificateDERPath() const { return certDERPath_; }

    // Stops accepting, ends every delay and trickle, closes every connection
    // and joins the threads. Idempotent; the destructor calls it.
    void stop();

  private:
    struct Connection;
    struct Tls;

    void acceptLoop();
    void serve(std::shared_ptr<Connection> connection, int number);
    bool answer(Connection& connection, const RecordedRequest& request, const CannedReply& reply);
    CannedReply replyFor(const RecordedRequest& request);
    // Waits `seconds` unless the server stops first; false when stopped.
    bool pause(double seconds);

    Transport transport_;
    int listenFD_ = -1;
    int wakePipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::unique_ptr<Tls> tls_;
    std::string certPEMPath_;
    std::string certDERPath_;
    std::string tempDir_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::map<std::pair<std::string, std::string>, Handler> routes_;
    CannedReply fallback_;
    Handler fallbackHandler_;
    std::vector<RecordedRequest> log_;
    std::vector<std::shared_ptr<Connection>> open_;
    std::vector<std::thread> threads_;
    int accepted_ = 0;
    int openCount_ = 0;
    int maxOpen_ = 0;
    int inFlight_ = 0;
    int maxInFlight_ = 0;
    std::thread acceptThread_;
};

// `text` with its %XX escapes decoded (a malformed escape stays as it is);
// with `plusIsBlank`, "+" is a blank, as in a form-encoded query.
std::string percentDecoded(const std::string& text, bool plusIsBlank = false);

}  // namespace tervolo::testsupport
