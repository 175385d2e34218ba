#include "search/SearchSession.hpp"

#include "platform/net/URLSession.hpp"

namespace tervolo::search {

namespace {

class URLSearchSessionTask : public SearchSessionTask {
  public:
    explicit URLSearchSessionTask(std::shared_ptr<platform::URLSessionTask> task) : task_(std::move(task)) {}
    void resume() override { task_->resume(); }
    void cancel() override { task_->cancel(); }

  private:
    std::shared_ptr<platform::URLSessionTask> task_;
};

class URLSearchSession : public SearchSession {
  public:
    explicit URLSearchSession(platform::URLSessionConfiguration configuration)
        : session_(platform::URLSession::make(std::move(configuration))) {}

    std::shared_ptr<SearchSessionTask> uploadTask(platform::URLRequest request, std::vector<uint8_t> body,
                                                  Completion completion) override {
        return std::make_shared<URLSearchSessionTask>(
            session_->uploadTask(std::move(request), std::move(body), std::move(completion)));
    }
    std::shared_ptr<SearchSessionTask> dataTask(platform::URLRequest request,
                                                Completion completion) override {
        return std::make_shared<URLSearchSessionTask>(
            session_->dataTask(std::move(request), std::move(completion)));
    }

  private:
    std::shared_ptr<platform::URLSession> session_;
};

}  // namespace

std::shared_ptr<SearchSession> makeURLSearchSession(platform::URLSessionConfiguration configuration) {
    return std::make_shared<URLSearchSession>(std::move(configuration));
}

}  // namespace tervolo::search
