#include "tiles/TileDownloadSession.hpp"

#include "platform/net/URLSession.hpp"

namespace tervolo::tiles {

namespace {

class URLTileTask final : public TileDownloadTask {
  public:
    explicit URLTileTask(std::shared_ptr<platform::URLSessionTask> task) : task_(std::move(task)) {}
    void resume() override { task_->resume(); }
    void cancel() override { task_->cancel(); }
    bool isSuspended() const override { return task_->state() == platform::URLSessionTask::State::suspended; }

  private:
    std::shared_ptr<platform::URLSessionTask> task_;
};

class URLTileSession final : public TileDownloadSession {
  public:
    explicit URLTileSession(std::shared_ptr<platform::URLSession> session) : session_(std::move(session)) {}
    ~URLTileSession() override { session_->invalidateAndCancel(); }

    std::shared_ptr<TileDownloadTask> dataTask(const std::string& url, Completion completion) override {
        const bool http = url.starts_with("http://") || url.starts_with("https://");
        const size_t hostStart = url.find("://") + 3;
        if (!http || hostStart >= url.size() || url[hostStart] == '/') return nullptr;
        auto task = session_->dataTask(
            url, [completion = std::move(completion)](std::optional<std::vector<uint8_t>> data,
                                                      std::optional<platform::HTTPURLResponse> response,
                                                      std::optional<platform::Error> error) {
                completion(TileDownloadReply{std::move(data), std::move(response), std::move(error)});
            });
        return task ? std::make_shared<URLTileTask>(std::move(task)) : nullptr;
    }

  private:
    std::shared_ptr<platform::URLSession> session_;
};

}  // namespace

std::shared_ptr<TileDownloadSession> makeURLTileSession(
    const platform::URLSessionConfiguration& configuration) {
    return std::make_shared<URLTileSession>(platform::URLSession::make(configuration));
}

}  // namespace tervolo::tiles
