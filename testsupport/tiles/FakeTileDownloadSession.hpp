#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tiles/TileDownloadSession.hpp"

namespace tervolo::testsupport {

// A scripted tile download session: tasks are recorded, never sent; the test
// answers them with finish(). cancel() only marks a task (answer it with
// finishCancelled(), as a session delivers -999 later). Thread-safe.
class FakeTileDownloadSession : public tervolo::tiles::TileDownloadSession {
  public:
    struct Task : tervolo::tiles::TileDownloadTask {
        std::string url;
        Completion completion;
        bool resumed = false;
        bool cancelled = false;
        bool finished = false;
        bool refuseResume = false;
        void resume() override;
        void cancel() override;
        bool isSuspended() const override;
        mutable std::mutex mutex;
    };

    std::shared_ptr<tervolo::tiles::TileDownloadTask> dataTask(const std::string& url,
                                                               Completion completion) override;
    std::vector<std::shared_ptr<Task>> tasks();
    // Answers a task once (later calls do nothing).
    static void finish(const std::shared_ptr<Task>& task, tervolo::tiles::TileDownloadReply reply);
    static void finishCancelled(const std::shared_ptr<Task>& task);
    // Tasks made from now on stay suspended when resumed.
    void setRefuseResume(bool refuse) { refuseResume_ = refuse; }

  private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<Task>> tasks_;
    bool refuseResume_ = false;
};

// One fake session per host prefix, made through a tile session factory.
class FakeTileSessions {
  public:
    FakeTileSessions() = default;
    // Answers every unanswered task with -999, as an invalidated session does,
    // so no completion keeps its manager alive.
    ~FakeTileSessions();
    void finishAllCancelled();
    tervolo::tiles::TileSessionFactory factory();
    std::shared_ptr<FakeTileDownloadSession> session(const std::string& prefix);
    // Every task of every session, in creation order per session.
    std::vector<std::shared_ptr<FakeTileDownloadSession::Task>> allTasks();
    // Tasks resumed and not yet answered.
    std::vector<std::shared_ptr<FakeTileDownloadSession::Task>> runningTasks();

  private:
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<FakeTileDownloadSession>> sessions_;
};

// Replies for tests: an HTTP reply of `status` for `url` with `body`, and an error reply.
tervolo::tiles::TileDownloadReply httpReply(const std::string& url, int64_t status, const std::string& body,
                                            platform::HTTPHeaderFields headers = {});
tervolo::tiles::TileDownloadReply errorReply(const std::string& url, int64_t code);

}  // namespace tervolo::testsupport
