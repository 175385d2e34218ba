#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "logging/CompactMap.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLLogFormatter.hpp"
#include "logging/QLLogger.hpp"
#include "logging/Reactive.hpp"

namespace tervolo::logging {

// The registry's stream of records as a publisher: every record the registry
// accepts at the publisher's level reaches the subscriber, on the logger queue
// the registry assigned to the subscription (not on the thread that logged).
// Each subscription is a logger of its own, added to the registry while it lives.
//
// Demand is not counted: a subscriber receives every record whatever it asked
// for, and the demand it returns is ignored.
class MessagePublisher : public reactive::Publisher<QLLogMessagePtr> {
  public:
    class Subscription;

    MessagePublisher(std::shared_ptr<QLLog> log, QLLogLevel with);

    // Makes a Subscription, adds it to the registry as a logger with this
    // publisher's level, and hands it to the subscriber.
    void receive(std::shared_ptr<reactive::Subscriber<QLLogMessagePtr>> subscriber) const override;

    const std::shared_ptr<QLLog>& log() const { return log_; }
    QLLogLevel logLevel() const { return logLevel_; }

  private:
    std::shared_ptr<QLLog> log_;
    QLLogLevel logLevel_;
};

// One subscriber's link to the registry; made only by MessagePublisher::receive.
//
// cancel() asks the registry to remove the subscription (asynchronously) and
// empties the subscriber slot. The slot is read by delivery and written by
// cancel under one lock, held while the subscriber receives a record: once
// cancel() has returned no record reaches the subscriber any more, also while
// the registry has not yet removed the subscription. cancel() from inside the
// subscriber's own receive (the same thread) does not wait for itself.
class MessagePublisher::Subscription final
    : public QLLogger,
      public reactive::Subscription,
      public std::enable_shared_from_this<MessagePublisher::Subscription> {
  public:
    // Does nothing: demand is not counted.
    void request(reactive::Demand demand) override;
    void cancel() override;

    // Passes the record to the subscriber, when there still is one.
    void logMessage(const QLLogMessagePtr& logMessage) override;
    // Stored and returned, never applied.
    std::shared_ptr<QLLogFormatter> logFormatter() override;
    void setLogFormatter(std::shared_ptr<QLLogFormatter> logFormatter) override;

  private:
    friend class MessagePublisher;
    Subscription(const std::shared_ptr<QLLog>& log,
                 std::shared_ptr<reactive::Subscriber<QLLogMessagePtr>> subscriber);

    // Recursive: a subscriber may cancel from inside its own receive.
    std::recursive_mutex subscriberMutex_;
    std::shared_ptr<reactive::Subscriber<QLLogMessagePtr>> subscriber_;
    const std::weak_ptr<QLLog> log_;
    std::mutex formatterMutex_;
    std::shared_ptr<QLLogFormatter> logFormatter_;
};

// QLLog's messagePublisher(with:): a publisher of `log`'s records at `with`.
MessagePublisher messagePublisher(std::shared_ptr<QLLog> log, QLLogLevel with);
// The same for the shared registry.
MessagePublisher messagePublisher(QLLogLevel with);
// The shared registry as a shared pointer that never expires.
const std::shared_ptr<QLLog>& sharedLog();

// The records of `publisher` as the text `with` makes of them; a record the
// formatter drops (empty result) is not passed on. The formatter is called on
// the thread that delivers the record.
template <typename Upstream>
requires std::is_same_v<typename Upstream::Output, QLLogMessagePtr>
    reactive::CompactMap<Upstream, std::string> formatted(Upstream publisher,
                                                          std::shared_ptr<QLLogFormatter> with) {
    return reactive::CompactMap<Upstream, std::string>(
        std::move(publisher),
        [formatter = std::move(with)](const QLLogMessagePtr& message) -> std::optional<std::string> {
            if (!message || !formatter) return std::nullopt;
            return formatter->formatLogMessage(*message);
        });
}

}  // namespace tervolo::logging
