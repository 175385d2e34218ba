#include "testsupport/tiles/FakeTileDownloadSession.hpp"

#include "platform/net/URLError.hpp"

namespace tervolo::testsupport {

void FakeTileDownloadSession::Task::resume() {
    std::lock_guard lock(mutex);
    if (!refuseResume && !cancelled) resumed = true;
}

void FakeTileDownloadSession::Task::cancel() {
    std::lock_guard lock(mutex);
    cancelled = true;
}

bool FakeTileDownloadSession::Task::isSuspended() const {
    std::lock_guard lock(mutex);
    return !resumed && !cancelled;
}

std::shared_ptr<tervolo::tiles::TileDownloadTask> FakeTileDownloadSession::dataTask(const std::string& url,
                                                                                    Completion completion) {
    if (url.find("://") == std::string::npos) return nullptr;
    auto task = std::make_shared<Task>();
    task->url = url;
    task->completion = std::move(completion);
    std::lock_guard lock(mutex_);
    task->refuseResume = refuseResume_;
    tasks_.push_back(task);
    return task;
}

std::vector<std::shared_ptr<FakeTileDownloadSession::Task>> FakeTileDownloadSession::tasks() {
    std::lock_guard lock(mutex_);
    return tasks_;
}

void FakeTileDownloadSession::finish(const std::shared_ptr<Task>& task,
                                     tervolo::tiles::TileDownloadReply reply) {
    Completion completion;
    {
        std::lock_guard lock(task->mutex);
        if (task->finished) return;
        task->finished = true;
        completion = std::move(task->completion);
    }
    completion(std::move(reply));
}

void FakeTileDownloadSession::finishCancelled(const std::shared_ptr<Task>& task) {
    finish(task, errorReply(task->url, platform::URLError::cancelled));
}

FakeTileSessions::~FakeTileSessions() {
    finishAllCancelled();
}

void FakeTileSessions::finishAllCancelled() {
    for (auto& task : allTasks()) FakeTileDownloadSession::finishCancelled(task);
}

tervolo::tiles::TileSessionFactory FakeTileSessions::factory() {
    return [this](const std::string& prefix, const platform::URLSessionConfiguration&) {
        return session(prefix);
    };
}

std::shared_ptr<FakeTileDownloadSession> FakeTileSessions::session(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    auto& slot = sessions_[prefix];
    if (!slot) slot = std::make_shared<FakeTileDownloadSession>();
    return slot;
}

std::vector<std::shared_ptr<FakeTileDownloadSession::Task>> FakeTileSessions::allTasks() {
    std::vector<std::shared_ptr<FakeTileDownloadSession::Task>> all;
    std::lock_guard lock(mutex_);
    for (auto& [prefix, session] : sessions_) {
        for (auto& task : session->tasks()) all.push_back(task);
    }
    return all;
}

std::vector<std::shared_ptr<FakeTileDownloadSession::Task>> FakeTileSessions::runningTasks() {
    std::vector<std::shared_ptr<FakeTileDownloadSession::Task>> running;
    for (auto& task : allTasks()) {
        std::lock_guard lock(task->mutex);
        if (task->resumed && !task->finished) running.push_back(task);
    }
    return running;
}

tervolo::tiles::TileDownloadReply httpReply(const std::string& url, int64_t status, const std::string& body,
                                            platform::HTTPHeaderFields headers) {
    return {std::vector<uint8_t>(body.begin(), body.end()),
            platform::HTTPURLResponse(url, status, std::move(headers)), std::nullopt};
}

tervolo::tiles::TileDownloadReply errorReply(const std::string& url, int64_t code) {
    return {std::nullopt, std::nullopt, platform::URLError::make(code, url)};
}

}  // namespace tervolo::testsupport
