#include "logging/QLLogHandler.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogFacadeTestSupport.hpp"
#include "logging/FacadeMessage.hpp"
#include "logging/Logger.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::logging {
namespace {

using Level = Logger::Level;
using V = Logger::MetadataValue;

TEST(QLLogHandlerTest, LevelAndFlagOfEveryLevel) {
    const struct {
        Level level;
        uint64_t qlLevel;
        QLLogFlag flag;
    } cases[] = {
        {Level::trace, 31, QLLogFlag::verbose},  {Level::debug, 15, QLLogFlag::debug},
        {Level::info, 7, QLLogFlag::info},       {Level::notice, 7, QLLogFlag::info},
        {Level::warning, 3, QLLogFlag::warning}, {Level::error, 1, QLLogFlag::error},
        {Level::critical, 1, QLLogFlag::error},
    };
    for (const auto& c : cases) {
        const auto [qlLevel, flag] = qlLogLevelAndFlag(c.level);
        EXPECT_EQ(rawValue(qlLevel), c.qlLevel) << rawValue(c.level);
        EXPECT_EQ(flag, c.flag) << rawValue(c.level);
        // Every record passes its own level.
        EXPECT_TRUE(passes(flag, qlLevel));
    }
}

QLLogHandler makeHandler(Level threshold,
                         std::string key = QLLogHandler::defaultSynchronousLoggingMetadataKey) {
    return QLLogHandler({std::make_shared<QLLog>(), {threshold, std::move(key)}}, {"label", Level::info, {}});
}

TEST(QLLogHandlerTest, SynchronousTable) {
    EXPECT_STREQ(QLLogHandler::defaultSynchronousLoggingMetadataKey, "log-synchronous");
    using M = std::optional<Logger::Metadata>;
    const struct {
        const char* name;
        Level threshold;
        Level level;
        M metadata;
        bool async;
    } cases[] = {
        {"below threshold", Level::error, Level::warning, std::nullopt, true},
        {"at threshold", Level::error, Level::error, std::nullopt, false},
        {"above threshold", Level::error, Level::critical, std::nullopt, false},
        {"threshold trace", Level::trace, Level::trace, std::nullopt, false},
        {"empty metadata", Level::error, Level::info, M(Logger::Metadata{}), true},
        {"other key", Level::error, Level::info, M(Logger::Metadata{{"other", V::stringConvertible(true)}}),
         true},
        {"Boolean true", Level::error, Level::info,
         M(Logger::Metadata{{"log-synchronous", V::stringConvertible(true)}}), false},
        {"Boolean false", Level::error, Level::info,
         M(Logger::Metadata{{"log-synchronous", V::stringConvertible(false)}}), true},
        {"text true", Level::error, Level::info, M(Logger::Metadata{{"log-synchronous", "true"}}), true},
        {"integer 1", Level::error, Level::info,
         M(Logger::Metadata{{"log-synchronous", V::stringConvertible(1)}}), true},
        {"array", Level::error, Level::info,
         M(Logger::Metadata{{"log-synchronous", V::array({V::stringConvertible(true)})}}), true},
        {"dictionary", Level::error, Level::info,
         M(Logger::Metadata{{"log-synchronous", V::dictionary({{"a", "true"}})}}), true},
        {"false at threshold", Level::error, Level::error,
         M(Logger::Metadata{{"log-synchronous", V::stringConvertible(false)}}), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(makeHandler(c.threshold).logAsync_(c.level, c.metadata), c.async) << c.name;
    }
    // The key is the configured one.
    const QLLogHandler custom = makeHandler(Level::critical, "now");
    EXPECT_FALSE(custom.logAsync_(Level::info, Logger::Metadata{{"now", V::stringConvertible(true)}}));
    EXPECT_TRUE(
        custom.logAsync_(Level::info, Logger::Metadata{{"log-synchronous", V::stringConvertible(true)}}));
}

TEST(QLLogHandlerTest, HandlerMetadataAndLevelAreTheLoggersOwn) {
    auto registry = std::make_shared<QLLog>();
    const LogHandlerFactory factory =
        QLLogHandler::handlerFactory(registry, Level::notice, Level::error, "key");
    Logger first("first", factory);
    const auto& handler = dynamic_cast<const QLLogHandler&>(first.handler());
    EXPECT_EQ(handler.config().log, registry);
    EXPECT_EQ(handler.config().syncLogging.tresholdLevel, Level::error);
    EXPECT_EQ(handler.config().syncLogging.metadataKey, "key");
    EXPECT_EQ(handler.loggerInfo().label, "first");
    EXPECT_EQ(handler.loggerInfo().logLevel, Level::notice);
    EXPECT_TRUE(handler.loggerInfo().metadata.empty());

    first.setMetadataValue("k", "v");
    Logger second = first;
    second.setMetadataValue("k", std::nullopt);
    second.setLogLevel(Level::trace);
    EXPECT_EQ(second.metadataValue("k"), std::nullopt);
    EXPECT_EQ(second.metadataValue("never set"), std::nullopt);
    EXPECT_EQ(first.metadataValue("k"), V("v"));
    EXPECT_EQ(first.logLevel(), Level::notice);
}

TEST(QLLogHandlerTest, RecordsReachTheRegistryWithTheFacadeInformation) {
    auto registry = std::make_shared<QLLog>();
    auto recorder = std::make_shared<tervolo::testsupport::LogRecorder>();
    registry->addLogger(recorder);
    Logger logger("my.label", QLLogHandler::handlerFactory(registry, Level::info, Level::error));
    logger.setMetadataValue("handler", "h");

    logger.debug("below the level");
    const uint64_t line = __LINE__ + 1;
    logger.info("queued", Logger::Metadata{{"call", "c"}});
    logger.critical("waited for", std::nullopt, "src");
    // The critical call was synchronous and the logging queue is first in,
    // first out: both records have reached the logger without a flush.
    const auto records = recorder->records();
    ASSERT_EQ(records.size(), 2u);

    const QLLogMessage& info = *records[0];
    EXPECT_EQ(info.message(), "queued");
    EXPECT_EQ(rawValue(info.level()), 7u);
    EXPECT_EQ(info.flag(), QLLogFlag::info);
    EXPECT_EQ(info.context(), 0);
    EXPECT_EQ(info.options(), QLLogMessage::kOptionDontCopyMessage);
    EXPECT_EQ(info.file(), "tests/QLLogHandlerTests.cpp");
    EXPECT_EQ(info.fileName(), "QLLogHandlerTests");
    EXPECT_EQ(info.line(), line);
    const FacadeInformation* facade = facadeInfo(info);
    ASSERT_NE(facade, nullptr);
    EXPECT_EQ(facade->logger.label, "my.label");
    EXPECT_TRUE(metadataEqual(facade->logger.metadata, Logger::Metadata{{"handler", V("h")}}));
    ASSERT_TRUE(facade->message.metadata.has_value());
    // Handler and call metadata stay apart.
    EXPECT_TRUE(metadataEqual(*facade->message.metadata, Logger::Metadata{{"call", V("c")}}));
    EXPECT_EQ(facade->message.message, Logger::Message("queued"));
    EXPECT_EQ(facade->message.level, Level::info);
    EXPECT_EQ(facade->message.source, "tests");

    const QLLogMessage& critical = *records[1];
    EXPECT_EQ(rawValue(critical.level()), 1u);
    EXPECT_EQ(critical.flag(), QLLogFlag::error);
    ASSERT_NE(facadeInfo(critical), nullptr);
    EXPECT_EQ(facadeInfo(critical)->message.source, "src");
    EXPECT_FALSE(facadeInfo(critical)->message.metadata.has_value());
    registry->flushLog();
}

TEST(FacadeMessageTest, SwiftLogInfoAndEquality) {
    const QLLogMessage plain("m", QLLogLevel::all, QLLogFlag::info, 0, "f.cpp", "fn", 1, {}, 3, std::nullopt);
    EXPECT_EQ(facadeInfo(plain), nullptr);

    auto make = [](std::string source, std::optional<Logger::Metadata> metadata) {
        return FacadeMessage("label", {{"h", "1"}}, "m", Level::warning, std::move(metadata),
                             std::move(source), "f.cpp", "fn", 1);
    };
    const FacadeMessage a = make("s", std::nullopt);
    const FacadeMessage sameFields = make("s", std::nullopt);
    const FacadeMessage otherSource = make("t", std::nullopt);
    const FacadeMessage emptyCallMetadata = make("s", Logger::Metadata{});

    // Records have identity: only a record compared with itself is equal.
    EXPECT_TRUE(a.isEqual(a));
    EXPECT_FALSE(a.isEqual(sameFields));
    EXPECT_FALSE(a.isEqual(otherSource));
    EXPECT_FALSE(a.isEqual(plain));
    // The facade information itself compares by value.
    EXPECT_EQ(a.facadeInfo(), sameFields.facadeInfo());
    EXPECT_NE(a.facadeInfo(), otherSource.facadeInfo());
    EXPECT_NE(a.facadeInfo(), emptyCallMetadata.facadeInfo());
    EXPECT_EQ(rawValue(a.level()), 3u);
    EXPECT_EQ(a.flag(), QLLogFlag::warning);
}

}  // namespace
}  // namespace tervolo::logging
