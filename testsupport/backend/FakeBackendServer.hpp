#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "testsupport/LoopbackHTTPServer.hpp"

namespace tervolo::testsupport {

// The program's backend on 127.0.0.1 (random port, plain HTTP), answering what
// the program asks of its API server and of its product web server (point
// the program's API and product web hosts at url()):
//
//   POST /apps/api/device                    registers, always device "42"
//   POST /apps/api/location                  uploads a point: remembers it
//                                            under a fresh 8-character key and
//                                            answers "http://<short-link host>/<key>"
//   GET  /apps/api/location/shorturl/<key>   the remembered point as the
//                                            backend's short-link record; 404
//                                            with an error body for unknown keys
//   POST /apps/api/searchLocation/<uuid>     starts a search for the body's
//                                            "searchString"
//   GET  /apps/api/searchLocation/<uuid>     the poll: done, with the places
//                                            added by addSearchPlace whose
//                                            title contains the searched text
//   GET  /tervolo-ng/MacVersion.json         the version document (0.0.1 b0
//                                            unless set: never newer)
//
// Every request is recorded. Thread-safe.
class FakeBackendServer {
  public:
    // One point the backend knows: uploaded by the program or added by the test.
    struct SharedPoint {
        std::string key;
        std::string title;
        double latitude = 0;
        double longitude = 0;
        std::string link;  // "http://<short-link host>/<key>"
        std::string body;  // the upload's JSON body; empty for points the test added
    };

    // `shortLinkHost`: the host name the links carry, as the program is told
    // it ("s.e2e.localhost").
    explicit FakeBackendServer(std::string shortLinkHost);
    FakeBackendServer(const FakeBackendServer&) = delete;
    FakeBackendServer& operator=(const FakeBackendServer&) = delete;

    // "http://127.0.0.1:<port>".
    std::string url() const { return http_.url(); }
    uint16_t port() const { return http_.port(); }
    const std::string& shortLinkHost() const { return shortLinkHost_; }

    // A point somebody else shared: it gets a key and a link, which the lookup answers.
    SharedPoint addSharedPoint(const std::string& title, double latitude, double longitude);
    // A place the backend search finds (by title, case-sensitively contained).
    void addSearchPlace(const std::string& title, double latitude, double longitude);
    // The version document's JSON text.
    void setVersionDocument(std::string json);
    // Headers the version reply carries besides its Content-Type, as given
    // (a test of what the program makes of a server's header text).
    void setVersionHeaders(std::vector<std::pair<std::string, std::string>> headers);

    // Points the program uploaded, in arrival order.
    std::vector<SharedPoint> uploads() const;
    // The requests to `path` (exact) or, when it ends in "/", under it.
    std::vector<RecordedRequest> requestsTo(const std::string& path) const;
    std::vector<RecordedRequest> requests() const { return http_.requests(); }
    size_t requestCount() const { return http_.requestCount(); }

    LoopbackHTTPServer& http() { return http_; }
    void stop() { http_.stop(); }

  private:
    CannedReply answer(const RecordedRequest& request);
    CannedReply upload(const RecordedRequest& request);
    CannedReply lookup(const std::string& key) const;
    CannedReply search(const RecordedRequest& request, const std::string& uuid);
    std::string nextKey();

    std::string shortLinkHost_;
    mutable std::mutex mutex_;
    std::map<std::string, SharedPoint> byKey_;
    std::vector<std::string> uploadOrder_;
    struct Place {
        std::string title;
        double latitude;
        double longitude;
    };
    std::vector<Place> places_;
    std::map<std::string, std::string> searches_;  // uuid → searched text
    std::string versionDocument_;
    std::vector<std::pair<std::string, std::string>> versionHeaders_;
    int keyCounter_ = 0;
    LoopbackHTTPServer http_;  // last: its threads stop before the state above goes
};

}  // namespace tervolo::testsupport
