#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <QColor>

#include "platform/net/URLSessionConfiguration.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"

namespace tervolo::testsupport {

// A tile server on 127.0.0.1 (random port) for the tile engine's tests and
// benchmarks. Every GET of ".../<z>/<x>/<y>.png" answers a generated 256-pixel
// PNG filled with tileColor(z, x, y) whose top (north) row (size / 256 rows) is red, after the
// configured latency. Scripts for single paths (status, delay, trickle,
// close, redirect, oversize, non-image 200, 429 with Retry-After) go through
// script(). Requests are counted per Host header and per path, with the peak
// number answered at once: overall, per host and per path.
//
// Host names "<prefix>.tiles.test" reach it through resolveHook().
class LoopbackTileServer {
  public:
    LoopbackTileServer();
    ~LoopbackTileServer();

    uint16_t port() const { return http_.port(); }
    // Stops answering and closes the port (connections are refused from now on). Idempotent.
    void stop();
    // "http://tiles.test:<port>/tiles/<source>/%1$@/%2$@/%3$@.png".
    std::string pattern(const std::string& source = "osm") const;
    // Maps "tiles.test" and every "<prefix>.tiles.test" to 127.0.0.1.
    static std::function<std::optional<std::string>(const std::string&)> resolveHook();

    // Seconds every generated tile waits before it is answered.
    void setLatency(double seconds);
    // A fixed reply for one path (exact, e.g. "/tiles/osm/5/1/1.png").
    void script(const std::string& path, CannedReply reply);
    // A fixed reply for every tile path without a script of its own.
    void scriptAll(CannedReply reply);
    // Generated tiles again for every path without a script of its own.
    void clearScriptAll();

    static QColor tileColor(int z, int x, int y);
    // The PNG the server answers for a tile.
    static std::string tilePNG(int z, int x, int y, int size = 256);

    std::vector<RecordedRequest> requests() const { return http_.requests(); }
    size_t requestCount() const { return http_.requestCount(); }
    size_t requestCount(const std::string& path) const;
    std::map<std::string, size_t> requestsByHost() const;
    int peakInFlight() const;
    int peakInFlightForHost(const std::string& host) const;
    int peakInFlightForOnePath() const;
    // Starts the peaks afresh (from what is in flight now).
    void resetPeaks();

  private:
    CannedReply answer(const RecordedRequest& request);

    LoopbackHTTPServer http_;
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    double latency_ = 0;
    std::optional<CannedReply> all_;
    int inFlight_ = 0;
    int peak_ = 0;
    std::map<std::string, int> hostInFlight_, hostPeak_, pathInFlight_;
    int pathPeak_ = 0;
};

}  // namespace tervolo::testsupport
