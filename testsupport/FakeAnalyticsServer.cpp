#include "testsupport/FakeAnalyticsServer.hpp"

namespace tervolo::testsupport {

FakeAnalyticsServer::FakeAnalyticsServer(LoopbackHTTPServer::Transport transport)
    : default_(success()), http_(transport) {
    http_.route("*", "/i", [this](const RecordedRequest&) { return next(); });
}

CannedReply FakeAnalyticsServer::success() {
    return CannedReply::json(R"({"result":"Success"})");
}

CannedReply FakeAnalyticsServer::rejection(int status) {
    return CannedReply::json(R"({"result":"Failure"})", status);
}

void FakeAnalyticsServer::script(std::vector<CannedReply> replies) {
    std::lock_guard lock(mutex_);
    for (auto& reply : replies) script_.push_back(std::move(reply));
}

void FakeAnalyticsServer::setDefaultReply(CannedReply reply) {
    std::lock_guard lock(mutex_);
    default_ = std::move(reply);
}

CannedReply FakeAnalyticsServer::next() {
    std::lock_guard lock(mutex_);
    if (script_.empty()) {
        return default_;
    }
    CannedReply reply = std::move(script_.front());
    script_.pop_front();
    return reply;
}

std::vector<std::string> FakeAnalyticsServer::queries() const {
    std::vector<std::string> out;
    for (const auto& request : http_.requests()) {
        if (request.path != "/i") continue;
        const auto type = request.header("Content-Type");
        const bool multipart = type && type->rfind("multipart/", 0) == 0;
        out.push_back(request.method == "POST" && !multipart ? request.body : request.query);
    }
    return out;
}

std::vector<std::string> FakeAnalyticsServer::values(const std::string& key) const {
    std::vector<std::string> out;
    for (const auto& query : queries()) {
        size_t start = 0;
        while (start <= query.size()) {
            size_t end = query.find('&', start);
            if (end == std::string::npos) end = query.size();
            const std::string item = query.substr(start, end - start);
            if (item.rfind(key + "=", 0) == 0) {
                out.push_back(percentDecoded(item.substr(key.size() + 1)));
                break;
            }
            start = end + 1;
        }
    }
    return out;
}

}  // namespace tervolo::testsupport
