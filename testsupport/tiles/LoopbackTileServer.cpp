#include "testsupport/tiles/LoopbackTileServer.hpp"

#include <algorithm>
#include <chrono>

#include <QBuffer>
#include <QImage>

namespace tervolo::testsupport {

namespace {
// z, x and y of ".../<z>/<x>/<y>.png"; false for any other path.
bool parseTilePath(const std::string& path, int& z, int& x, int& y) {
    if (!path.ends_with(".png")) return false;
    const std::string body = path.substr(0, path.size() - 4);
    const size_t s3 = body.rfind('/');
    if (s3 == std::string::npos || s3 == 0) return false;
    const size_t s2 = body.rfind('/', s3 - 1);
    if (s2 == std::string::npos || s2 == 0) return false;
    const size_t s1 = body.rfind('/', s2 - 1);
    if (s1 == std::string::npos) return false;
    try {
        z = std::stoi(body.substr(s1 + 1, s2 - s1 - 1));
        x = std::stoi(body.substr(s2 + 1, s3 - s2 - 1));
        y = std::stoi(body.substr(s3 + 1));
    } catch (...) {
        return false;
    }
    return true;
}
}  // namespace

LoopbackTileServer::LoopbackTileServer() {
    http_.setFallback([this](const RecordedRequest& request) { return answer(request); });
}

LoopbackTileServer::~LoopbackTileServer() {
    stop();
}

void LoopbackTileServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    http_.stop();
}

std::string LoopbackTileServer::pattern(const std::string& source) const {
    return "http://tiles.test:" + std::to_string(port()) + "/tiles/" + source + "/%1$@/%2$@/%3$@.png";
}

std::function<std::optional<std::string>(const std::string&)> LoopbackTileServer::resolveHook() {
    return [](const std::string& host) -> std::optional<std::string> {
        if (host == "tiles.test" || host.ends_with(".tiles.test")) return std::string("127.0.0.1");
        return std::nullopt;
    };
}

void LoopbackTileServer::setLatency(double seconds) {
    std::lock_guard lock(mutex_);
    latency_ = seconds;
}

void LoopbackTileServer::script(const std::string& path, CannedReply reply) {
    http_.route("GET", path, std::move(reply));
}

void LoopbackTileServer::scriptAll(CannedReply reply) {
    std::lock_guard lock(mutex_);
    all_ = std::move(reply);
}

void LoopbackTileServer::clearScriptAll() {
    std::lock_guard lock(mutex_);
    all_.reset();
}

QColor LoopbackTileServer::tileColor(int z, int x, int y) {
    // Never pure red, so the north row stands out from every fill.
    return QColor((x * 37 + z * 11) % 200 + 20, (y * 53 + z * 7) % 200 + 40, (z * 29 + x + y) % 200 + 30);
}

std::string LoopbackTileServer::tilePNG(int z, int x, int y, int size) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(tileColor(z, x, y));
    // The north row, as thick as one row of a 256-pixel tile.
    for (int row = 0; row < std::max(1, size / 256); ++row) {
        for (int column = 0; column < size; ++column) image.setPixelColor(column, row, QColor(255, 0, 0));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

CannedReply LoopbackTileServer::answer(const RecordedRequest& request) {
    const std::string host = request.header("Host").value_or("");
    const std::string hostName = host.substr(0, host.find(':'));
    double latency = 0;
    std::optional<CannedReply> all;
    {
        std::lock_guard lock(mutex_);
        latency = latency_;
        all = all_;
        peak_ = std::max(peak_, ++inFlight_);
        hostPeak_[hostName] = std::max(hostPeak_[hostName], ++hostInFlight_[hostName]);
        pathPeak_ = std::max(pathPeak_, ++pathInFlight_[request.path]);
    }
    CannedReply reply = CannedReply::text("not a tile", 404);
    int z = 0, x = 0, y = 0;
    if (all) {
        reply = *all;
    } else if (parseTilePath(request.path, z, x, y)) {
        reply = CannedReply::text(tilePNG(z, x, y));
        reply.headers = {{"Content-Type", "image/png"}};
    }
    {
        // The latency is spent here, so that the in-flight counts see it.
        std::unique_lock lock(mutex_);
        stopped_.wait_for(lock, std::chrono::duration<double>(latency), [this] { return stopping_; });
        --inFlight_;
        --hostInFlight_[hostName];
        --pathInFlight_[request.path];
    }
    return reply;
}

size_t LoopbackTileServer::requestCount(const std::string& path) const {
    size_t count = 0;
    for (const auto& request : http_.requests()) count += request.path == path ? 1 : 0;
    return count;
}

std::map<std::string, size_t> LoopbackTileServer::requestsByHost() const {
    std::map<std::string, size_t> hosts;
    for (const auto& request : http_.requests()) {
        const std::string host = request.header("Host").value_or("");
        ++hosts[host.substr(0, host.find(':'))];
    }
    return hosts;
}

int LoopbackTileServer::peakInFlight() const {
    std::lock_guard lock(mutex_);
    return peak_;
}

int LoopbackTileServer::peakInFlightForHost(const std::string& host) const {
    std::lock_guard lock(mutex_);
    auto it = hostPeak_.find(host);
    return it == hostPeak_.end() ? 0 : it->second;
}

void LoopbackTileServer::resetPeaks() {
    std::lock_guard lock(mutex_);
    peak_ = inFlight_;
    hostPeak_ = hostInFlight_;
    pathPeak_ = 0;
    for (const auto& [path, count] : pathInFlight_) pathPeak_ = std::max(pathPeak_, count);
}

int LoopbackTileServer::peakInFlightForOnePath() const {
    std::lock_guard lock(mutex_);
    return pathPeak_;
}

}  // namespace tervolo::testsupport
