#include "search/tests/FakeSearchSession.hpp"

#include "platform/dispatch/Clock.hpp"
#include "platform/net/URLError.hpp"

namespace tervolo::search::testing {

FakeReply FakeReply::http(const std::string& body, int64_t status) {
    return {std::vector<uint8_t>(body.begin(), body.end()),
            platform::HTTPURLResponse("https://api.test/", status, {{"Content-Type", "application/json"}}),
            std::nullopt};
}

FakeReply FakeReply::failure(int64_t code) {
    return {std::nullopt, std::nullopt, platform::URLError::make(code, "https://api.test/")};
}

void FakeSearchSession::Task::resume() {
    std::shared_ptr<FakeSearchSession> session;
    {
        std::lock_guard lock(mutex_);
        if (resumed_ || cancelled_) return;
        resumed_ = true;
        session = session_.lock();
    }
    if (session) session->resumed(shared_from_this());
}

void FakeSearchSession::Task::cancel() {
    std::shared_ptr<FakeSearchSession> session;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_ || finished_) return;
        cancelled_ = true;
        session = session_.lock();
    }
    if (!session) return;
    {
        std::lock_guard lock(session->mutex_);
        if (session->holdCancellations_) return;
    }
    session->answer(shared_from_this(), FakeReply::failure(platform::URLError::cancelled));
}

bool FakeSearchSession::Task::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool FakeSearchSession::Task::isFinished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

std::shared_ptr<FakeSearchSession> FakeSearchSession::make() {
    return std::shared_ptr<FakeSearchSession>(new FakeSearchSession());
}

FakeSearchSession::FakeSearchSession() : queue_(platform::DispatchQueue::serial("test.fakeSearchSession")) {}

FakeSearchSession::~FakeSearchSession() {
    for (const auto& task : tasks_) {
        Completion completion;
        {
            std::lock_guard lock(task->mutex_);
            if (task->finished_) continue;
            task->finished_ = true;
            completion = std::move(task->completion_);
        }
        if (completion)
            completion(std::nullopt, std::nullopt,
                       platform::URLError::make(platform::URLError::cancelled, ""));
    }
}

std::shared_ptr<SearchSessionTask> FakeSearchSession::uploadTask(platform::URLRequest request,
                                                                 std::vector<uint8_t> body,
                                                                 Completion completion) {
    if (request.httpMethod == "GET") request.httpMethod = "POST";
    return makeTask(std::move(request), std::string(body.begin(), body.end()), std::move(completion));
}

std::shared_ptr<SearchSessionTask> FakeSearchSession::dataTask(platform::URLRequest request,
                                                               Completion completion) {
    return makeTask(std::move(request), "", std::move(completion));
}

std::shared_ptr<FakeSearchSession::Task> FakeSearchSession::makeTask(platform::URLRequest request,
                                                                     std::string body,
                                                                     Completion completion) {
    auto task = std::make_shared<Task>();
    task->request = std::move(request);
    task->body = std::move(body);
    task->createdAt = platform::Clock::current()->monotonicSeconds();
    task->session_ = weak_from_this();
    task->completion_ = std::move(completion);
    std::lock_guard lock(mutex_);
    tasks_.push_back(task);
    return task;
}

void FakeSearchSession::setResponder(Responder responder, double latency) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
    latency_ = latency;
}

void FakeSearchSession::holdCancellations(bool hold) {
    std::lock_guard lock(mutex_);
    holdCancellations_ = hold;
}

void FakeSearchSession::resumed(const std::shared_ptr<Task>& task) {
    Responder responder;
    double latency;
    {
        std::lock_guard lock(mutex_);
        responder = responder_;
        latency = latency_;
    }
    if (!responder) return;
    auto reply = responder(*task);
    if (!reply) return;
    std::weak_ptr<FakeSearchSession> weak = weak_from_this();
    auto deliverLater = [weak, task, reply = std::move(*reply)]() mutable {
        if (auto self = weak.lock()) self->deliver(task, std::move(reply));
    };
    if (latency > 0) {
        queue_->asyncAfter(latency, std::move(deliverLater));
    } else {
        queue_->async(std::move(deliverLater));
    }
}

void FakeSearchSession::answer(const std::shared_ptr<Task>& task, FakeReply reply) {
    queue_->async([task, reply = std::move(reply), weak = weak_from_this()]() mutable {
        if (auto self = weak.lock()) self->deliver(task, std::move(reply));
    });
}

void FakeSearchSession::deliver(const std::shared_ptr<Task>& task, FakeReply reply) {
    Completion completion;
    {
        std::lock_guard lock(task->mutex_);
        if (task->finished_) return;
        task->finished_ = true;
        completion = std::move(task->completion_);
    }
    completion(std::move(reply.data), std::move(reply.response), std::move(reply.error));
}

std::vector<std::shared_ptr<FakeSearchSession::Task>> FakeSearchSession::tasks() const {
    std::lock_guard lock(mutex_);
    return tasks_;
}

std::vector<std::shared_ptr<FakeSearchSession::Task>> FakeSearchSession::requests(
    const std::string& method) const {
    std::vector<std::shared_ptr<Task>> matching;
    for (const auto& task : tasks()) {
        if (task->request.httpMethod == method) matching.push_back(task);
    }
    return matching;
}

std::shared_ptr<FakeSearchSession::Task> FakeSearchSession::pending(const std::string& method) const {
    auto all = requests(method);
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (!(*it)->isFinished()) return *it;
    }
    return nullptr;
}

}  // namespace tervolo::search::testing
