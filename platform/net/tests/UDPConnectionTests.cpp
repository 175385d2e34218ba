#include <condition_variable>
#include <mutex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/net/UDPConnection.hpp"
#include "testsupport/UDPListener.hpp"

using namespace platform;
using State = UDPConnection::State;

namespace {

std::vector<uint8_t> datagram(const std::string& text) {
    return {text.begin(), text.end()};
}

// Everything a connection reports, in order, from whichever thread.
struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> log;
    std::vector<std::optional<Error>> sendResults;

    void add(std::string entry) {
        std::lock_guard lock(mutex);
        log.push_back(std::move(entry));
        changed.notify_all();
    }
    void attach(UDPConnection& connection) {
        connection.setStateUpdateHandler([this](State state, std::optional<Error> error) {
            static const char* names[] = {"setup", "waiting", "preparing", "ready", "failed", "cancelled"};
            add(std::string(names[static_cast<int>(state)]) + (error ? " error" : ""));
        });
        connection.setViabilityUpdateHandler([this](bool viable) { add(viable ? "viable" : "not viable"); });
        connection.setBetterPathUpdateHandler(
            [this](bool better) { add(better ? "better path" : "no better path"); });
    }
    UDPConnection::SendCompletion sent() {
        return [this](std::optional<Error> error) {
            std::lock_guard lock(mutex);
            sendResults.push_back(std::move(error));
            changed.notify_all();
        };
    }
    bool waitForSends(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return sendResults.size() >= count; });
    }
    bool waitForLog(const std::string& entry) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10),
                                [&] { return std::find(log.begin(), log.end(), entry) != log.end(); });
    }
};

}  // namespace

TEST(UDPConnection, PortTextIsDecimalOneToMax) {
    struct Case {
        const char* text;
        std::optional<uint16_t> port;
    };
    const Case cases[] = {{"1731", 1731}, {"1", 1},     {"65535", 65535}, {"080", 80},   {"0", {}},
                          {"65536", {}},  {"-1", {}},   {"+80", {}},      {" 80", {}},   {"80 ", {}},
                          {"", {}},       {"0x50", {}}, {"1e3", {}},      {"999999", {}}};
    for (const auto& c : cases) EXPECT_EQ(UDPConnection::portFromText(c.text), c.port) << c.text;
}

TEST(UDPConnection, DatagramsArriveAsExactBytesIncludingThoseSentBeforeReady) {
    tervolo::testsupport::UDPListener listener;
    Events events;
    auto connection = UDPConnection::make("127.0.0.1", listener.port());
    events.attach(*connection);
    EXPECT_EQ(connection->state(), State::setup);

    // Sent before start: waits for ready, then goes out first.
    connection->send(datagram("/styles/osm/12/2200/1343.png"), events.sent());
    connection->start(DispatchQueue::global());
    connection->send(datagram("/tiles/\xC3\xA4/1.png"), events.sent());
    connection->send(datagram(""), events.sent());
    ASSERT_TRUE(events.waitForSends(3));
    ASSERT_TRUE(listener.waitForDatagrams(3));

    auto datagrams = listener.datagrams();
    EXPECT_EQ(datagrams[0], "/styles/osm/12/2200/1343.png");
    // The order of sends made after ready is the global queue's business; the
    // bytes are not.
    EXPECT_THAT(datagrams,
                ::testing::UnorderedElementsAre("/styles/osm/12/2200/1343.png", "/tiles/\xC3\xA4/1.png", ""));
    for (const auto& result : events.sendResults) EXPECT_FALSE(result);
    EXPECT_EQ(connection->state(), State::ready);
    ASSERT_TRUE(events.waitForLog("no better path"));
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(events.log,
              (std::vector<std::string>{"setup", "preparing", "ready", "viable", "no better path"}));
}

TEST(UDPConnection, NonNumericHostFailsAndCancelEndsWaitingSends) {
    Events failing;
    auto named = UDPConnection::make("localhost", 1731);
    failing.attach(*named);
    named->send(datagram("queued"), failing.sent());
    named->start(DispatchQueue::global());
    ASSERT_TRUE(failing.waitForSends(1));
    EXPECT_TRUE(failing.sendResults[0]);
    EXPECT_TRUE(failing.waitForLog("failed error"));
    EXPECT_EQ(named->state(), State::failed);
    named->send(datagram("after failure"), failing.sent());
    ASSERT_TRUE(failing.waitForSends(2));
    EXPECT_TRUE(failing.sendResults[1]);

    Events cancelled;
    auto idle = UDPConnection::make("127.0.0.1", 9);
    idle->send(datagram("never"), cancelled.sent());
    idle->cancel();
    idle->send(datagram("late"), cancelled.sent());
    ASSERT_TRUE(cancelled.waitForSends(2));
    for (const auto& result : cancelled.sendResults) {
        ASSERT_TRUE(result);
        EXPECT_EQ(result->code, ECANCELED);
    }
    EXPECT_EQ(idle->state(), State::cancelled);
}
