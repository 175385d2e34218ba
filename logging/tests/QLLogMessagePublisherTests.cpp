#include "LogFileTestSupport.hpp"
#include "logging/QLLogMessagePublisher.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tervolo::logging {
namespace {

using reactive::Demand;

// Keeps its subscription and every value; asks for `initialDemand` on
// subscription and can cancel from inside a receive.
template <typename Input>
class RecordingSubscriber : public reactive::Subscriber<Input> {
  public:
    explicit RecordingSubscriber(Demand initialDemand = Demand::none()) : initialDemand_(initialDemand) {}

    void receive(std::shared_ptr<reactive::Subscription> subscription) override {
        {
            std::lock_guard lock(mutex_);
            subscription_ = subscription;
        }
        subscription->request(initialDemand_);
    }
    Demand receive(const Input& input) override {
        std::shared_ptr<reactive::Subscription> toCancel;
        {
            std::lock_guard lock(mutex_);
            values_.push_back(input);
            if (cancelAfter_ != 0 && values_.size() == cancelAfter_) toCancel = subscription_;
        }
        if (toCancel) toCancel->cancel();
        return Demand::none();
    }

    std::shared_ptr<reactive::Subscription> subscription() const {
        std::lock_guard lock(mutex_);
        return subscription_;
    }
    std::vector<Input> values() const {
        std::lock_guard lock(mutex_);
        return values_;
    }
    size_t count() const {
        std::lock_guard lock(mutex_);
        return values_.size();
    }
    void cancelAfter(size_t count) {
        std::lock_guard lock(mutex_);
        cancelAfter_ = count;
    }

  private:
    mutable std::mutex mutex_;
    Demand initialDemand_;
    std::shared_ptr<reactive::Subscription> subscription_;
    std::vector<Input> values_;
    size_t cancelAfter_ = 0;
};

using MessageSubscriber = RecordingSubscriber<QLLogMessagePtr>;

std::vector<std::string> texts(const std::vector<QLLogMessagePtr>& records) {
    std::vector<std::string> result;
    for (const auto& r : records) result.push_back(r->message());
    return result;
}

bool lists(QLLog& registry, const std::shared_ptr<reactive::Subscription>& subscription) {
    const auto loggers = registry.allLoggers();
    return std::any_of(loggers.begin(), loggers.end(), [&](const auto& logger) {
        return dynamic_cast<reactive::Subscription*>(logger.get()) == subscription.get();
    });
}

TEST(MessagePublisherTest, DeliversEveryRecordAtItsLevelWhateverTheDemand) {
    auto registry = std::make_shared<QLLog>();
    auto errors = std::make_shared<MessageSubscriber>(Demand::none());
    auto everything = std::make_shared<MessageSubscriber>(Demand::max(1));
    messagePublisher(registry, QLLogLevel{1}).receive(errors);
    messagePublisher(registry, QLLogLevel::all).receive(everything);
    ASSERT_TRUE(errors->subscription());
    EXPECT_TRUE(lists(*registry, errors->subscription()));

    registry->log(false, testing::makeRecord(QLLogFlag::error, "e"));
    registry->log(true, testing::makeRecord(QLLogFlag::warning, "w"));
    registry->log(false, testing::makeRecord(QLLogFlag::info, "i"));
    registry->log(true, testing::makeRecord(QLLogFlag::error, "e2"));
    registry->flushLog();

    EXPECT_EQ(texts(errors->values()), (std::vector<std::string>{"e", "e2"}));
    EXPECT_EQ(texts(everything->values()), (std::vector<std::string>{"e", "w", "i", "e2"}));
    errors->subscription()->cancel();
    everything->subscription()->cancel();
}

TEST(MessagePublisherTest, NothingArrivesAfterCancel) {
    auto registry = std::make_shared<QLLog>();
    auto outside = std::make_shared<MessageSubscriber>();
    auto inside = std::make_shared<MessageSubscriber>();
    inside->cancelAfter(2);  // cancels from inside its own receive
    messagePublisher(registry, QLLogLevel::all).receive(outside);
    messagePublisher(registry, QLLogLevel::all).receive(inside);

    registry->log(false, testing::makeRecord(QLLogFlag::info, "1"));
    outside->subscription()->cancel();
    outside->subscription()->cancel();  // a second cancel is harmless
    for (const char* text : {"2", "3", "4"}) registry->log(false, testing::makeRecord(QLLogFlag::info, text));
    registry->flushLog();

    EXPECT_EQ(texts(outside->values()), std::vector<std::string>{"1"});
    EXPECT_EQ(texts(inside->values()), (std::vector<std::string>{"1", "2"}));
    EXPECT_FALSE(lists(*registry, outside->subscription()));
    EXPECT_FALSE(lists(*registry, inside->subscription()));
    EXPECT_TRUE(registry->allLoggers().empty());
}

TEST(MessagePublisherTest, CancelRacingWithDeliveryNeverDeliversAfterItReturns) {
    auto registry = std::make_shared<QLLog>();
    for (int round = 0; round < 20; ++round) {
        auto subscriber = std::make_shared<MessageSubscriber>();
        messagePublisher(registry, QLLogLevel::all).receive(subscriber);
        std::atomic<bool> stop{false};
        std::thread producer([&] {
            for (int i = 0; !stop.load(); ++i)
                registry->log(true, testing::makeRecord(QLLogFlag::info, std::to_string(i)));
        });
        while (subscriber->count() < 50) std::this_thread::yield();
        subscriber->subscription()->cancel();
        const size_t atCancel = subscriber->count();
        stop.store(true);
        producer.join();
        registry->flushLog();
        EXPECT_EQ(subscriber->count(), atCancel);
    }
    EXPECT_TRUE(registry->allLoggers().empty());
}

class DropDebugFormatter : public QLLogFormatter {
  public:
    std::optional<std::string> formatLogMessage(const QLLogMessage& message) override {
        if (message.flag() == QLLogFlag::debug) return std::nullopt;
        return fmt::format("[{}] {}", rawValue(message.flag()), message.message());
    }
};

TEST(MessagePublisherTest, FormattedPassesOnTheTextsTheFormatterKeeps) {
    auto registry = std::make_shared<QLLog>();
    auto subscriber = std::make_shared<RecordingSubscriber<std::string>>();
    const auto publisher =
        formatted(messagePublisher(registry, QLLogLevel::all), std::make_shared<DropDebugFormatter>());
    publisher.receive(subscriber);
    ASSERT_TRUE(subscriber->subscription());  // the source's own subscription

    registry->log(false, testing::makeRecord(QLLogFlag::error, "kept"));
    registry->log(false, testing::makeRecord(QLLogFlag::debug, "dropped"));
    registry->log(false, testing::makeRecord(QLLogFlag::info, "also kept"));
    subscriber->subscription()->cancel();
    registry->log(false, testing::makeRecord(QLLogFlag::info, "after cancel"));
    registry->flushLog();

    EXPECT_EQ(subscriber->values(), (std::vector<std::string>{"[1] kept", "[4] also kept"}));
}

TEST(MessagePublisherTest, CancelAfterTheRegistryIsGoneOnlyEmptiesTheSubscriber) {
    auto registry = std::make_shared<QLLog>();
    auto subscriber = std::make_shared<MessageSubscriber>();
    messagePublisher(registry, QLLogLevel::all).receive(subscriber);
    registry->log(false, testing::makeRecord(QLLogFlag::info, "before"));
    registry.reset();
    subscriber->subscription()->cancel();
    EXPECT_EQ(texts(subscriber->values()), std::vector<std::string>{"before"});

    // The subscription keeps its formatter without applying it.
    auto formatter = std::make_shared<DropDebugFormatter>();
    auto* logger = dynamic_cast<QLLogger*>(subscriber->subscription().get());
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->logFormatter(), nullptr);
    logger->setLogFormatter(formatter);
    EXPECT_EQ(logger->logFormatter(), formatter);
}

TEST(MessagePublisherTest, SharedRegistryPublisher) {
    const auto publisher = messagePublisher(QLLogLevel{1});
    EXPECT_EQ(publisher.log().get(), &QLLog::sharedInstance());
    EXPECT_EQ(publisher.logLevel(), QLLogLevel{1});
    auto subscriber = std::make_shared<MessageSubscriber>();
    publisher.receive(subscriber);
    QLLog::sharedInstance().log(false, testing::makeRecord(QLLogFlag::error, "shared"));
    subscriber->subscription()->cancel();
    QLLog::sharedInstance().flushLog();
    EXPECT_EQ(texts(subscriber->values()), std::vector<std::string>{"shared"});
    EXPECT_FALSE(lists(QLLog::sharedInstance(), subscriber->subscription()));
}

}  // namespace
}  // namespace tervolo::logging
