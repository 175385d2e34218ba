#include "logging/ASLStore.hpp"

#include <chrono>
#include <cmath>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::logging {

namespace {

bool matches(const ASLMessage& message, const ASLQuery::Condition& condition);

}  // namespace

// atoll's reading, without its undefined overflow (clamped instead).
int64_t ASLStore::numericValue(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (INT64_MAX - digit) / 10) return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

namespace {

bool matches(const ASLMessage& message, const ASLQuery::Condition& condition) {
    const std::string* value = message.get(condition.key);
    if (condition.operation == ASLQuery::Operation::notEqual) return !value || *value != condition.value;
    if (!value) return false;
    const int64_t have = ASLStore::numericValue(*value);
    const int64_t want = ASLStore::numericValue(condition.value);
    switch (condition.operation) {
        case ASLQuery::Operation::numericLessOrEqual:
            return have <= want;
        case ASLQuery::Operation::numericGreater:
            return have > want;
        case ASLQuery::Operation::numericGreaterOrEqual:
            return have >= want;
        case ASLQuery::Operation::notEqual:
            break;
    }
    return false;
}

}  // namespace

const std::string* ASLMessage::get(const std::string& key) const {
    const auto it = values.find(key);
    return it == values.end() ? nullptr : &it->second;
}

// A registration's runs are chained: at most one is queued or running, and a
// post meanwhile only marks it pending.
struct ASLStore::Registration {
    NotifyToken token = 0;
    std::string name;
    std::shared_ptr<platform::DispatchQueue> queue;
    std::function<void(NotifyToken)> handler;
    bool cancelled = false;  // guarded by the store's mutex
    bool scheduled = false;  // a run is queued or running
    bool pending = false;    // a post arrived while scheduled
};

ASLStore& ASLStore::shared() {
    return platform::SharedInstance<ASLStore>::get([] { return new ASLStore(); });
}

ASLStore::ASLStore() = default;

ASLStore::~ASLStore() {
    // Queued runs refer to the store: let them finish first.
    waitForNotifications();
}

std::shared_ptr<ASLClient> ASLStore::open(std::string facility) {
    return std::make_shared<ASLClient>(ASLClient{std::move(facility)});
}

bool ASLStore::set(ASLMessage& message, const std::string& key, const std::string& value) {
    if (key.empty()) return false;
    {
        std::lock_guard lock(mutex_);
        if (failingKey_ && *failingKey_ == key) return false;
    }
    message.values[key] = value;
    return true;
}

bool ASLStore::send(const std::shared_ptr<ASLClient>& client, const ASLMessage& message) {
    if (!client) return false;
    const double now = platform::Clock::current()->wallSeconds();
    double whole = std::floor(now);
    auto nanos = static_cast<int64_t>(std::llround((now - whole) * 1e9));
    if (nanos >= 1000000000) {
        whole += 1;
        nanos -= 1000000000;
    }
    {
        std::lock_guard lock(mutex_);
        ASLMessage stored = message;
        stored.values["ASLMessageID"] = std::to_string(++lastMessageID_);
        stored.values["Time"] = std::to_string(static_cast<int64_t>(whole));
        stored.values["TimeNanoSec"] = std::to_string(nanos);
        if (!stored.get("Facility")) stored.values["Facility"] = client->facility;
        messages_.push_back(std::move(stored));
    }
    notifyPost(kMessageNotification);
    return true;
}

std::vector<ASLMessage> ASLStore::search(const ASLQuery& query) const {
    std::lock_guard lock(mutex_);
    std::vector<ASLMessage> found;
    for (const auto& message : messages_) {
        bool all = true;
        for (const auto& condition : query.conditions) {
            if (!matches(message, condition)) {
                all = false;
                break;
            }
        }
        if (all) found.push_back(message);
    }
    return found;
}

ASLStore::NotifyToken ASLStore::notifyRegisterDispatch(const std::string& name,
                                                       std::shared_ptr<platform::DispatchQueue> queue,
                                                       std::function<void(NotifyToken)> handler) {
    auto registration = std::make_shared<Registration>();
    registration->name = name;
    registration->queue = queue ? std::move(queue) : platform::DispatchQueue::global();
    registration->handler = std::move(handler);
    std::lock_guard lock(mutex_);
    registration->token = ++lastToken_;
    registrations_[registration->token] = registration;
    changed_.notify_all();
    return registration->token;
}

void ASLStore::notifyCancel(NotifyToken token) {
    std::lock_guard lock(mutex_);
    const auto it = registrations_.find(token);
    if (it == registrations_.end()) return;
    it->second->cancelled = true;
    registrations_.erase(it);
    changed_.notify_all();
}

void ASLStore::notifyPost(const std::string& name) {
    std::vector<std::shared_ptr<Registration>> toRun;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [token, registration] : registrations_) {
            if (registration->name != name) continue;
            if (registration->scheduled) {
                registration->pending = true;
            } else {
                registration->scheduled = true;
                ++runsInFlight_;
                toRun.push_back(registration);
            }
        }
    }
    for (const auto& registration : toRun) {
        registration->queue->async([this, registration] { runRegistration(registration); });
    }
}

void ASLStore::runRegistration(const std::shared_ptr<Registration>& registration) {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (registration->cancelled) break;
            registration->pending = false;
        }
        registration->handler(registration->token);
        std::lock_guard lock(mutex_);
        if (!registration->pending || registration->cancelled) break;
    }
    std::lock_guard lock(mutex_);
    registration->scheduled = false;
    registration->pending = false;
    --runsInFlight_;
    changed_.notify_all();
}

size_t ASLStore::registrationCount(const std::string& name) const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const auto& [token, registration] : registrations_) count += registration->name == name ? 1 : 0;
    return count;
}

bool ASLStore::waitForRegistrationCount(const std::string& name, size_t count, double timeoutSeconds) const {
    std::unique_lock lock(mutex_);
    const auto counted = [&] {
        size_t n = 0;
        for (const auto& [token, registration] : registrations_) n += registration->name == name ? 1 : 0;
        return n == count;
    };
    return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), counted);
}

void ASLStore::waitForNotifications() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return runsInFlight_ == 0; });
}

void ASLStore::setFailingKeyForTesting(std::optional<std::string> key) {
    std::lock_guard lock(mutex_);
    failingKey_ = std::move(key);
}

void ASLStore::removeAllMessagesForTesting() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace tervolo::logging
