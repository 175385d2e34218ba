#include "logging/QLLogMessagePublisher.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::logging {

MessagePublisher::MessagePublisher(std::shared_ptr<QLLog> log, QLLogLevel with)
    : log_(std::move(log)), logLevel_(with) {}

void MessagePublisher::receive(std::shared_ptr<reactive::Subscriber<QLLogMessagePtr>> subscriber) const {
    if (!subscriber) return;
    auto subscription = std::shared_ptr<Subscription>(new Subscription(log_, subscriber));
    if (log_) log_->addLogger(subscription, logLevel_);
    subscriber->receive(std::static_pointer_cast<reactive::Subscription>(subscription));
}

MessagePublisher::Subscription::Subscription(
    const std::shared_ptr<QLLog>& log, std::shared_ptr<reactive::Subscriber<QLLogMessagePtr>> subscriber)
    : subscriber_(std::move(subscriber)), log_(log) {}

void MessagePublisher::Subscription::request(reactive::Demand demand) {
    (void)demand;
}

void MessagePublisher::Subscription::cancel() {
    if (auto log = log_.lock()) log->removeLogger(shared_from_this());
    // Waits for a delivery in progress on another thread; afterwards no record
    // reaches the subscriber. Released outside the lock: the subscriber's
    // destructor may do anything, cancel included.
    std::shared_ptr<reactive::Subscriber<QLLogMessagePtr>> released;
    std::lock_guard lock(subscriberMutex_);
    released = std::move(subscriber_);
}

void MessagePublisher::Subscription::logMessage(const QLLogMessagePtr& logMessage) {
    std::lock_guard lock(subscriberMutex_);
    if (!subscriber_) return;
    // Keeps the subscriber alive through the call even when it cancels inside.
    const auto subscriber = subscriber_;
    (void)subscriber->receive(logMessage);
}

std::shared_ptr<QLLogFormatter> MessagePublisher::Subscription::logFormatter() {
    std::lock_guard lock(formatterMutex_);
    return logFormatter_;
}

void MessagePublisher::Subscription::setLogFormatter(std::shared_ptr<QLLogFormatter> logFormatter) {
    std::lock_guard lock(formatterMutex_);
    logFormatter_ = std::move(logFormatter);
}

const std::shared_ptr<QLLog>& sharedLog() {
    // The shared registry is never destroyed: a pointer that never deletes it
    // and is itself never released, so weak references to it never expire.
    return platform::SharedInstance<std::shared_ptr<QLLog>>::get(
        [] { return new std::shared_ptr<QLLog>(&QLLog::sharedInstance(), [](QLLog*) {}); });
}

MessagePublisher messagePublisher(std::shared_ptr<QLLog> log, QLLogLevel with) {
    return MessagePublisher(std::move(log), with);
}

MessagePublisher messagePublisher(QLLogLevel with) {
    return MessagePublisher(sharedLog(), with);
}

}  // namespace tervolo::logging
