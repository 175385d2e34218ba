#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "logging/QLContextAllowlistFilterLogFormatter.hpp"
#include "logging/QLContextDenylistFilterLogFormatter.hpp"
#include "logging/QLLoggingContextSet.hpp"
#include "logging/QLMultiFormatter.hpp"

namespace tervolo::logging {
namespace {

QLLogMessage record(std::string text, int64_t context = 0) {
    return QLLogMessage(std::move(text), QLLogLevel::all, QLLogFlag::info, context, "/src/Caller.cpp", "fn",
                        7, std::any{}, 3, platform::Date{100});
}

// Puts a text in front of the message and counts its calls.
class PrefixFormatter : public QLLogFormatter {
  public:
    explicit PrefixFormatter(std::string prefix) : prefix_(std::move(prefix)) {}
    std::optional<std::string> formatLogMessage(const QLLogMessage& message) override {
        ++calls;
        return prefix_ + message.message();
    }
    std::atomic<int> calls{0};

  private:
    std::string prefix_;
};

TEST(QLContextFilterTest, AllowAndDenyTables) {
    struct Case {
        const char* name;
        std::vector<int64_t> added;
        std::vector<int64_t> removed;
        int64_t context;
        bool allowPasses;  // with the contexts on an allowlist
        bool denyPasses;   // with the same contexts on a denylist
    };
    const Case cases[] = {
        {"context on the list", {3}, {}, 3, true, false},
        {"context not on the list", {4}, {}, 3, false, true},
        {"empty list", {}, {}, 0, false, true},
        {"context 0 against {3}", {3}, {}, 0, false, true},
        {"added twice, removed once", {3, 3}, {3}, 3, false, true},
        {"removing what is absent", {3}, {9}, 3, true, false},
        {"negative and large contexts", {-1, 2147483647}, {}, -1, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QLContextAllowlistFilterLogFormatter allow;
        QLContextDenylistFilterLogFormatter deny;
        for (auto context : c.added) {
            allow.addToAllowlist(context);
            deny.addToDenylist(context);
        }
        for (auto context : c.removed) {
            allow.removeFromAllowlist(context);
            deny.removeFromDenylist(context);
        }
        const auto message = record("message", c.context);
        EXPECT_EQ(allow.formatLogMessage(message),
                  c.allowPasses ? std::optional<std::string>("message") : std::nullopt);
        EXPECT_EQ(deny.formatLogMessage(message),
                  c.denyPasses ? std::optional<std::string>("message") : std::nullopt);
        EXPECT_EQ(allow.isOnAllowlist(c.context), c.allowPasses);
        EXPECT_EQ(deny.isOnDenylist(c.context), !c.denyPasses);
    }
}

TEST(QLContextFilterTest, OlderNamesAndListing) {
    QLContextAllowlistFilterLogFormatter allow;
    allow.addToWhitelist(2);
    allow.addToAllowlist(1);
    EXPECT_THAT(allow.whitelist(), ::testing::UnorderedElementsAre(1, 2));
    allow.removeFromWhitelist(2);
    EXPECT_FALSE(allow.isOnWhitelist(2));
    EXPECT_THAT(allow.allowlist(), ::testing::ElementsAre(1));

    QLContextDenylistFilterLogFormatter deny;
    deny.addToBlacklist(5);
    EXPECT_TRUE(deny.isOnDenylist(5));
    EXPECT_THAT(deny.blacklist(), ::testing::ElementsAre(5));
    deny.removeFromBlacklist(5);
    EXPECT_TRUE(deny.denylist().empty());
}

// The set is changed and read from several threads at once (checked by TSan).
TEST(QLContextFilterTest, ContextSetFromSeveralThreads) {
    QLLoggingContextSet set;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&set, t] {
            for (int64_t i = 0; i < 500; ++i) {
                set.addToSet(t * 1000 + i);
                (void)set.isInSet(i);
                if (i % 2 == 1) set.removeFromSet(t * 1000 + i);
                (void)set.currentSet();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(set.currentSet().size(), 4u * 250u);
}

TEST(QLMultiFormatterTest, ChainTable) {
    struct Case {
        const char* name;
        std::vector<std::shared_ptr<QLLogFormatter>> chain;
        int64_t context;
        std::optional<std::string> expected;
    };
    auto a = std::make_shared<PrefixFormatter>("A ");
    auto b = std::make_shared<PrefixFormatter>("B ");
    auto allow4 = std::make_shared<QLContextAllowlistFilterLogFormatter>();
    allow4->addToAllowlist(4);
    auto deny3 = std::make_shared<QLContextDenylistFilterLogFormatter>();
    deny3->addToDenylist(3);
    const Case cases[] = {
        {"empty chain", {}, 0, "message"},
        {"in order", {a, b}, 0, "B A message"},
        {"the same formatter twice", {a, a}, 0, "A A message"},
        {"a filter that passes", {a, deny3, b}, 0, "B A message"},
        {"a filter that drops", {a, deny3, b}, 3, std::nullopt},
        {"an allowlist that passes", {allow4, a}, 4, "A message"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QLMultiFormatter chain;
        for (const auto& f : c.chain) chain.addFormatter(f);
        EXPECT_EQ(chain.formatLogMessage(record("message", c.context)), c.expected);
    }

    // A dropping first formatter stops the chain: the second is never asked.
    QLMultiFormatter chain;
    auto allow3 = std::make_shared<QLContextAllowlistFilterLogFormatter>();
    allow3->addToAllowlist(3);
    auto counted = std::make_shared<PrefixFormatter>("C ");
    chain.addFormatter(allow3);
    chain.addFormatter(counted);
    EXPECT_EQ(chain.formatLogMessage(record("message", 4)), std::nullopt);
    EXPECT_EQ(counted->calls.load(), 0);
}

TEST(QLMultiFormatterTest, EachFormatterSeesACopyWithTheCurrentText) {
    struct Seen {
        std::string message;
        int64_t context;
        uint64_t line;
        std::string threadID;
    };
    std::vector<Seen> seen;
    class Spy : public QLLogFormatter {
      public:
        explicit Spy(std::vector<Seen>& seen) : seen_(seen) {}
        std::optional<std::string> formatLogMessage(const QLLogMessage& m) override {
            seen_.push_back({m.message(), m.context(), m.line(), m.threadID()});
            return "[" + m.message() + "]";
        }

      private:
        std::vector<Seen>& seen_;
    };
    QLMultiFormatter chain;
    chain.addFormatter(std::make_shared<Spy>(seen));
    chain.addFormatter(std::make_shared<Spy>(seen));
    const auto original = record("m", 9);
    EXPECT_EQ(chain.formatLogMessage(original), "[[m]]");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].message, "m");
    EXPECT_EQ(seen[1].message, "[m]");
    for (const auto& s : seen) {
        EXPECT_EQ(s.context, 9);
        EXPECT_EQ(s.line, 7u);
        EXPECT_EQ(s.threadID, original.threadID());
    }
    EXPECT_EQ(original.message(), "m");  // the record itself is untouched

    const auto copy = QLMultiFormatter::logMessageForLine("other", original);
    EXPECT_EQ(copy.message(), "other");
    EXPECT_EQ(copy.timestamp(), original.timestamp());
    EXPECT_EQ(copy.fileName(), "Caller");
}

TEST(QLMultiFormatterTest, ListChanges) {
    QLMultiFormatter chain;
    auto a = std::make_shared<PrefixFormatter>("A ");
    auto b = std::make_shared<PrefixFormatter>("B ");
    chain.addFormatter(a);
    chain.addFormatter(b);
    chain.addFormatter(a);
    // Changes return before they take effect; a later read sees them.
    EXPECT_THAT(chain.formatters(), ::testing::ElementsAre(a, b, a));
    chain.removeFormatter(a);  // every occurrence
    EXPECT_THAT(chain.formatters(), ::testing::ElementsAre(b));
    EXPECT_FALSE(chain.isFormattingWithFormatter(a));
    EXPECT_TRUE(chain.isFormattingWithFormatter(b));
    chain.removeAllFormatters();
    EXPECT_TRUE(chain.formatters().empty());
    EXPECT_EQ(chain.formatLogMessage(record("message")), "message");
}

// Readers run side by side: each reader is held inside the chain until all of
// them are inside at once. A change queued meanwhile waits for them; the
// readers format without it, a reader that comes after the change sees it.
// Run under TSan, this also shows the list is never changed under a reader.
TEST(QLMultiFormatterTest, ReadersRunConcurrentlyWhileAWriterWaits) {
    constexpr int kReaders = 4;
    struct Gate : QLLogFormatter {
        std::mutex mutex;
        std::condition_variable changed;
        int inside = 0;
        bool open = false;
        bool allInsideInTime = true;
        std::optional<std::string> formatLogMessage(const QLLogMessage& m) override {
            std::unique_lock lock(mutex);
            ++inside;
            changed.notify_all();
            // A deadlock guard, not a timing check: serial readers would never all be inside.
            if (!changed.wait_for(lock, std::chrono::seconds(30), [&] { return inside >= kReaders || open; }))
                allInsideInTime = false;
            changed.wait(lock, [&] { return open; });
            return m.message();
        }
    };
    auto gate = std::make_shared<Gate>();
    QLMultiFormatter chain;
    chain.addFormatter(gate);

    std::vector<std::optional<std::string>> results(kReaders);
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.emplace_back(
            [&, i] { results[static_cast<size_t>(i)] = chain.formatLogMessage(record("m")); });
    }
    {
        std::unique_lock lock(gate->mutex);
        ASSERT_TRUE(gate->changed.wait_for(lock, std::chrono::seconds(30), [&] {
            return gate->inside >= kReaders;
        })) << "readers did not run side by side";
    }
    // Queued while every reader is inside: returns at once, takes effect after them.
    chain.addFormatter(std::make_shared<PrefixFormatter>("X "));
    std::optional<std::string> lateResult;
    std::thread late([&] { lateResult = chain.formatLogMessage(record("m")); });
    {
        std::lock_guard lock(gate->mutex);
        gate->open = true;
    }
    gate->changed.notify_all();
    for (auto& reader : readers) reader.join();
    late.join();

    EXPECT_TRUE(gate->allInsideInTime);
    for (const auto& result : results) EXPECT_EQ(result, "m");
    EXPECT_EQ(lateResult, "X m");
    EXPECT_EQ(chain.formatters().size(), 2u);
}

}  // namespace
}  // namespace tervolo::logging
