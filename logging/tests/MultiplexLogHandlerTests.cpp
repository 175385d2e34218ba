#include "logging/MultiplexLogHandler.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogFacadeTestSupport.hpp"
#include "logging/FacadeNoOpLogHandler.hpp"
#include "logging/Logger.hpp"

namespace tervolo::logging {
namespace {

using testing::LogCall;
using testing::RecordingLogHandler;
using Level = Logger::Level;
using V = Logger::MetadataValue;

const RecordingLogHandler& recorder(const MultiplexLogHandler& multiplex, size_t index) {
    return dynamic_cast<const RecordingLogHandler&>(*multiplex.handlers().at(index));
}

std::vector<std::string> receivers(const RecordingLogHandler::Journal& journal) {
    std::vector<std::string> names;
    for (const LogCall& call : journal) names.push_back(call.handler + ":" + call.message);
    return names;
}

TEST(MultiplexLogHandlerTest, FansOutToHandlersWhoseLevelLetsTheMessageThrough) {
    auto journal = std::make_shared<RecordingLogHandler::Journal>();
    MultiplexLogHandler multiplex{RecordingLogHandler("info", Level::info, journal),
                                  RecordingLogHandler("debug", Level::debug, journal)};
    EXPECT_EQ(multiplex.logLevel(), Level::debug);

    Logger logger("label", [&](const std::string&) { return multiplex.clone(); });
    const Logger::Metadata callMetadata{{"call", "1"}};
    logger.trace("t");
    logger.debug("d", callMetadata);
    logger.info("i", callMetadata, "src");
    EXPECT_EQ(receivers(*journal), (std::vector<std::string>{"debug:d", "info:i", "debug:i"}));
    // Every handler gets the call's arguments unchanged.
    for (const LogCall& call : *journal) {
        ASSERT_TRUE(call.metadata.has_value());
        EXPECT_TRUE(metadataEqual(*call.metadata, callMetadata));
    }
    EXPECT_EQ(journal->back().source, "src");

    // The older form reaches the handlers through the source form.
    journal->clear();
    multiplex.log(Level::warning, "w", std::nullopt, "/x/points/P.cpp", "f", 1);
    ASSERT_EQ(journal->size(), 2u);
    EXPECT_EQ((*journal)[0].source, "points");
}

TEST(MultiplexLogHandlerTest, SettingTheLevelSetsEveryHandler) {
    MultiplexLogHandler multiplex{RecordingLogHandler("a", Level::info),
                                  RecordingLogHandler("b", Level::debug)};
    multiplex.setLogLevel(Level::error);
    EXPECT_EQ(multiplex.logLevel(), Level::error);
    for (const auto& handler : multiplex.handlers()) EXPECT_EQ(handler->logLevel(), Level::error);
    // A contained handler that ignores level writes does not change the
    // multiplex level set through it.
    MultiplexLogHandler withNoOp{FacadeNoOpLogHandler(), RecordingLogHandler("r", Level::info)};
    EXPECT_EQ(withNoOp.logLevel(), Level::info);
    withNoOp.setLogLevel(Level::trace);
    EXPECT_EQ(withNoOp.logLevel(), Level::trace);
    EXPECT_EQ(withNoOp.handlers()[0]->logLevel(), Level::critical);
}

TEST(MultiplexLogHandlerTest, MergedMetadataFirstHandlerWins) {
    RecordingLogHandler first("first");
    first.setMetadata({{"k", "from first"}, {"a", "1"}});
    RecordingLogHandler second("second");
    second.setMetadata({{"k", "from second"}, {"b", "2"}});
    MultiplexLogHandler multiplex{first, second};

    const Logger::Metadata merged = multiplex.metadata();
    EXPECT_TRUE(
        metadataEqual(merged, Logger::Metadata{{"k", V("from first")}, {"a", V("1")}, {"b", V("2")}}));
    EXPECT_EQ(multiplex.metadataValue("k"), V("from first"));
    EXPECT_EQ(multiplex.metadataValue("b"), V("2"));
    EXPECT_EQ(multiplex.metadataValue("none"), std::nullopt);

    multiplex.setMetadataValue("new", "x");
    multiplex.setMetadataValue("k", std::nullopt);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(recorder(multiplex, i).metadataValue("new"), V("x"));
        EXPECT_EQ(recorder(multiplex, i).metadataValue("k"), std::nullopt);
    }

    // Writing the whole metadata (also in place) gives every handler the same.
    multiplex.modifyMetadata([](Logger::Metadata& metadata) { metadata.insert_or_assign("added", "y"); });
    const Logger::Metadata expected{{"a", "1"}, {"b", "2"}, {"new", "x"}, {"added", "y"}};
    for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(metadataEqual(recorder(multiplex, i).metadata(), expected));
}

TEST(MultiplexLogHandlerTest, CopiesAreIndependentValues) {
    MultiplexLogHandler original{RecordingLogHandler("a", Level::info)};
    MultiplexLogHandler copy = original;
    copy.setLogLevel(Level::critical);
    copy.setMetadataValue("k", "v");
    EXPECT_EQ(original.logLevel(), Level::info);
    EXPECT_EQ(original.handlers()[0]->logLevel(), Level::info);
    EXPECT_EQ(original.metadataValue("k"), std::nullopt);
}

TEST(MultiplexLogHandlerTest, EmptyListLogsNowhereAtLevelTrace) {
    MultiplexLogHandler multiplex(std::vector<std::unique_ptr<LogHandler>>{});
    EXPECT_EQ(multiplex.logLevel(), Level::trace);
    EXPECT_TRUE(multiplex.metadata().empty());
    multiplex.log(Level::error, "m", std::nullopt, "s", "f", "g", 1);
}

TEST(FacadeNoOpLogHandlerTest, IgnoresWritesAndLetsOnlyCriticalBeEvaluated) {
    FacadeNoOpLogHandler handler("discarded label");
    handler.setLogLevel(Level::trace);
    handler.setMetadata({{"k", "v"}});
    handler.setMetadataValue("j", "w");
    EXPECT_EQ(handler.logLevel(), Level::critical);
    EXPECT_TRUE(handler.metadata().empty());
    EXPECT_EQ(handler.metadataValue("j"), std::nullopt);

    Logger logger("label",
                  [](const std::string& label) { return std::make_unique<FacadeNoOpLogHandler>(label); });
    std::vector<Level> evaluated;
    for (const Level level : allLoggerLevels()) {
        logger.log(level, [&] {
            evaluated.push_back(level);
            return "m";
        });
    }
    EXPECT_EQ(evaluated, std::vector<Level>{Level::critical});
}

}  // namespace
}  // namespace tervolo::logging
