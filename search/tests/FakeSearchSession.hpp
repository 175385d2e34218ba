#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "search/SearchSession.hpp"

namespace tervolo::search::testing {

// What a fake request delivers: body, response and error, as a URL session does.
struct FakeReply {
    std::optional<std::vector<uint8_t>> data;
    std::optional<platform::HTTPURLResponse> response;
    std::optional<platform::Error> error;

    // An HTTP reply of `status` with `body`.
    static FakeReply http(const std::string& body, int64_t status = 200);
    // A transport error of the URL error domain (-999, -1004, -1200 ...).
    static FakeReply failure(int64_t code);
};

// A scripted search session on virtual time. Requests are recorded with the
// virtual time they were made at; a resumed request is answered by the
// responder (when it gives a reply) after `latency` seconds of virtual time,
// or by the test through answer(). cancel() delivers -999 at once unless a
// reply was delivered already. Completions run on the fake's own serial
// queue, never on the main queue, as a real session's do. Thread-safe.
class FakeSearchSession : public SearchSession, public std::enable_shared_from_this<FakeSearchSession> {
  public:
    struct Task : SearchSessionTask, std::enable_shared_from_this<Task> {
        platform::URLRequest request;
        std::string body;
        double createdAt = 0;  // monotonic seconds
        void resume() override;
        void cancel() override;
        bool isCancelled() const;
        bool isFinished() const;

      private:
        friend class FakeSearchSession;
        std::weak_ptr<FakeSearchSession> session_;
        Completion completion_;
        bool resumed_ = false;
        bool cancelled_ = false;
        bool finished_ = false;
        mutable std::mutex mutex_;
    };
    using Responder = std::function<std::optional<FakeReply>(const Task& task)>;

    static std::shared_ptr<FakeSearchSession> make();
    // Every completion still owed is delivered as -999, as an invalidated session does.
    ~FakeSearchSession() override;

    std::shared_ptr<SearchSessionTask> uploadTask(platform::URLRequest request, std::vector<uint8_t> body,
                                                  Completion completion) override;
    std::shared_ptr<SearchSessionTask> dataTask(platform::URLRequest request, Completion completion) override;

    void setResponder(Responder responder, double latency);
    // While on, cancel() only marks a task: its reply was on its way already,
    // and the test delivers it with answer().
    void holdCancellations(bool hold);
    // Delivers `reply` now on the session queue (once per task; later answers do nothing).
    void answer(const std::shared_ptr<Task>& task, FakeReply reply);

    std::vector<std::shared_ptr<Task>> tasks() const;
    std::vector<std::shared_ptr<Task>> requests(const std::string& method) const;
    // The latest request of `method` that has not been answered.
    std::shared_ptr<Task> pending(const std::string& method) const;
    const std::shared_ptr<platform::DispatchQueue>& queue() const { return queue_; }

  private:
    FakeSearchSession();
    std::shared_ptr<Task> makeTask(platform::URLRequest request, std::string body, Completion completion);
    void resumed(const std::shared_ptr<Task>& task);
    void deliver(const std::shared_ptr<Task>& task, FakeReply reply);

    std::shared_ptr<platform::DispatchQueue> queue_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Task>> tasks_;
    Responder responder_;
    double latency_ = 0;
    bool holdCancellations_ = false;
};

}  // namespace tervolo::search::testing
