#include "logging/Logger.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogFacadeTestSupport.hpp"
#include "logging/LoggerLevelCoding.hpp"

namespace tervolo::logging {
namespace {

using testing::LogCall;
using testing::RecordingLogHandler;
using Level = Logger::Level;

TEST(LoggerLevelTest, OrderedByOrdinalWithNamesAsRawValues) {
    const std::vector<std::string> names{"trace", "debug", "info", "notice", "warning", "error", "critical"};
    const auto levels = allLoggerLevels();
    ASSERT_EQ(levels.size(), names.size());
    for (size_t i = 0; i < levels.size(); ++i) {
        EXPECT_EQ(rawValue(levels[i]), names[i]);
        EXPECT_EQ(loggerLevelFromRawValue(names[i]), levels[i]);
        if (i > 0) {
            EXPECT_LT(levels[i - 1], levels[i]);
            EXPECT_GT(levels[i], levels[i - 1]);
        }
    }
    for (const char* text : {"Info", "warn", "", "ERROR", " info"}) {
        EXPECT_EQ(loggerLevelFromRawValue(text), std::nullopt) << text;
    }
}

TEST(LoggerLevelTest, CodedAsItsName) {
    for (const Level level : allLoggerLevels()) {
        const nlohmann::json json = level;
        EXPECT_EQ(json, nlohmann::json(std::string(rawValue(level))));
        EXPECT_EQ(json.get<Level>(), level);
    }
    for (const char* text : {R"("Info")", R"("warn")", R"(2)", R"(null)", R"(["info"])"}) {
        EXPECT_THROW(nlohmann::json::parse(text).get<Level>(), LoggerLevelDecodingError) << text;
    }
}

struct Describable {
    std::string text;
    std::string description() const { return text; }
};

TEST(LoggerMetadataValueTest, Descriptions) {
    using V = Logger::MetadataValue;
    const struct {
        V value;
        std::string expected;
    } cases[] = {
        {V("bare text"), "bare text"},
        {V::stringConvertible(42), "42"},
        {V::stringConvertible(true), "true"},
        {V::stringConvertible(48.0), "48.0"},
        {V::stringConvertible(Describable{"mine"}), "mine"},
        {V::array({}), "[]"},
        {V::array({"a", "say \"hi\"\\", V::stringConvertible(7)}), R"(["a", "say \"hi\"\\", "7"])"},
        {V::array({V::array({"x"})}), R"(["[\"x\"]"])"},
        {V::array({"line\nbreak\t"}), R"(["line\nbreak\t"])"},
        {V::dictionary(Logger::Metadata{}), "[:]"},
        {V::dictionary({{"k", "v"}, {"n", V::stringConvertible(1)}}), R"(["k": "v", "n": "1"])"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.value.description(), c.expected);
}

TEST(LoggerMetadataValueTest, EqualityByCaseAndPayload) {
    using V = Logger::MetadataValue;
    // Self-describing values of different types are equal when their descriptions are.
    EXPECT_EQ(V::stringConvertible(1), V::stringConvertible(Describable{"1"}));
    EXPECT_NE(V::stringConvertible(1), V::stringConvertible(2));
    // Different cases never compare equal, even with the same description.
    EXPECT_NE(V("1"), V::stringConvertible(1));
    EXPECT_NE(V::array({}), V::dictionary(Logger::Metadata{}));
    // Texts compare under canonical equivalence.
    EXPECT_EQ(V("caf\u00e9"), V("cafe\u0301"));
    EXPECT_NE(V("cafe"), V("caf\u00e9"));
    EXPECT_EQ(V::array({"a", "b"}), V::array({"a", "b"}));
    EXPECT_NE(V::array({"a", "b"}), V::array({"a"}));
    EXPECT_NE(V::array({"a", "b"}), V::array({"b", "a"}));
    EXPECT_EQ(V::dictionary({{"k", "v"}, {"j", "w"}}), V::dictionary({{"j", "w"}, {"k", "v"}}));
    EXPECT_NE(V::dictionary({{"k", "v"}}), V::dictionary({{"k", "w"}}));
    EXPECT_NE(V::dictionary({{"k", "v"}}), V::dictionary({{"k", "v"}, {"j", "w"}}));
}

TEST(LoggerMetadataValueTest, CanonicallyEquivalentKeysAreOneKey) {
    Logger::Metadata metadata;
    metadata.insert_or_assign("caf\u00e9", "precomposed");
    metadata.insert_or_assign("cafe\u0301", "decomposed");
    ASSERT_EQ(metadata.size(), 1u);
    EXPECT_EQ(metadata.begin()->second, Logger::MetadataValue("decomposed"));
    // Keys iterate in code point order: "Z" < "a" < "é" (U+00E9) < "😀".
    Logger::Metadata ordered{{"\U0001F600", "4"}, {"caf\u00e9", "3"}, {"a", "2"}, {"Z", "1"}};
    std::string order;
    for (const auto& [key, value] : ordered) order += value.description();
    EXPECT_EQ(order, "1234");
}

TEST(LoggerMetadataValueDeathTest, DuplicateKeyInDictionaryLiteralStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(Logger::MetadataValue::dictionary({{"k", "1"}, {"k", "2"}}),
                 "Duplicate values for key: 'k'");
}

std::vector<Level> levelsReceived(const RecordingLogHandler::Journal& journal) {
    std::vector<Level> levels;
    for (const LogCall& call : journal) levels.push_back(call.level);
    return levels;
}

TEST(LoggerTest, EveryShorthandPassesExactlyWhenTheHandlerLevelIsAtMostItsLevel) {
    for (const Level handlerLevel : allLoggerLevels()) {
        RecordingLogHandler handler("h", handlerLevel);
        Logger logger("label", [&](const std::string&) { return handler.clone(); });
        logger.trace("m");
        logger.debug("m");
        logger.info("m");
        logger.notice("m");
        logger.warning("m");
        logger.error("m");
        logger.critical("m");
        std::vector<Level> expected;
        for (const Level level : allLoggerLevels()) {
            if (level >= handlerLevel) expected.push_back(level);
        }
        EXPECT_EQ(levelsReceived(*handler.journal()), expected) << rawValue(handlerLevel);
    }
}

TEST(LoggerTest, DeferredArgumentsRunOnlyAfterThePassingCheckInOrder) {
    RecordingLogHandler handler("h", Level::warning);
    Logger logger("label", [&](const std::string&) { return handler.clone(); });
    std::vector<std::string> evaluated;
    auto message = [&] {
        evaluated.push_back("message");
        return std::string("text");
    };
    auto metadata = [&] {
        evaluated.push_back("metadata");
        return Logger::Metadata{{"k", "v"}};
    };
    auto source = [&] {
        evaluated.push_back("source");
        return std::string("src");
    };
    logger.info(message, metadata, source);
    logger.log(Level::debug, message, metadata, source);
    EXPECT_TRUE(evaluated.empty());
    EXPECT_TRUE(handler.journal()->empty());

    logger.warning(message, metadata, source);
    EXPECT_EQ(evaluated, (std::vector<std::string>{"message", "metadata", "source"}));
    ASSERT_EQ(handler.journal()->size(), 1u);
    const LogCall& call = handler.journal()->front();
    EXPECT_EQ(call.message, "text");
    EXPECT_EQ(call.source, "src");
    ASSERT_TRUE(call.metadata.has_value());
    EXPECT_EQ(call.metadata->at("k"), Logger::MetadataValue("v"));
}

TEST(LoggerTest, SourceAndCallerPosition) {
    RecordingLogHandler handler("h");
    Logger logger("label", [&](const std::string&) { return handler.clone(); });
    const uint64_t line = __LINE__ + 1;
    logger.info("defaults");
    logger.info("no slash", std::nullopt, std::nullopt, "NoSlash.cpp", "f", 7);
    logger.info("given", std::nullopt, "mine", "a/b.cpp", "f", 8);
    logger.info("absent source value", std::nullopt, std::optional<std::string>{}, "mod/b.cpp", "f", 9);

    const auto& calls = *handler.journal();
    ASSERT_EQ(calls.size(), 4u);
    // The default file is the caller's file ID: folder and file name.
    EXPECT_EQ(calls[0].file, "tests/LoggerTests.cpp");
    EXPECT_EQ(calls[0].source, "tests");
    EXPECT_EQ(calls[0].line, line);
    EXPECT_NE(calls[0].function.find("TestBody"), std::string::npos) << calls[0].function;
    EXPECT_FALSE(calls[0].metadata.has_value());
    EXPECT_EQ(calls[1].source, "n/a");
    EXPECT_EQ(calls[1].file, "NoSlash.cpp");
    EXPECT_EQ(calls[2].source, "mine");
    EXPECT_EQ(calls[3].source, "mod");
    EXPECT_EQ(calls[3].line, 9u);
}

TEST(LoggerTest, CurrentModule) {
    const struct {
        const char* text;
        const char* fromFileID;
        const char* fromFilePath;
    } cases[] = {
        {"Module/File.swift", "Module", "n/a"},
        {"/src/points/Point.cpp", "", "points"},
        {"a/b/c/d.cpp", "a", "c"},
        {"a//d.cpp", "a", ""},
        {"NoSlash.cpp", "n/a", "n/a"},
        {"", "n/a", "n/a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Logger::currentModuleFileID(c.text), c.fromFileID) << c.text;
        EXPECT_EQ(Logger::currentModuleFilePath(c.text), c.fromFilePath) << c.text;
    }
    static_assert(Logger::fileID("/src/tervolo/logging/Logger.cpp") == "logging/Logger.cpp");
    static_assert(Logger::fileID("Logger.cpp") == "Logger.cpp");
}

TEST(LoggerTest, CopiesOwnTheirHandlers) {
    RecordingLogHandler handler("h", Level::info);
    Logger first("label", [&](const std::string&) { return handler.clone(); });
    first.setMetadataValue("shared", "before copy");
    Logger second = first;

    second.setLogLevel(Level::error);
    second.setMetadataValue("only", "second");
    second.setMetadataValue("shared", std::nullopt);
    EXPECT_EQ(first.logLevel(), Level::info);
    EXPECT_EQ(first.metadataValue("only"), std::nullopt);
    EXPECT_EQ(first.metadataValue("shared"), Logger::MetadataValue("before copy"));
    EXPECT_EQ(second.logLevel(), Level::error);
    EXPECT_EQ(second.metadataValue("shared"), std::nullopt);

    Logger third("other", [&](const std::string&) { return handler.clone(); });
    third = second;
    third.setLogLevel(Level::trace);
    EXPECT_EQ(third.label(), "label");
    EXPECT_EQ(second.logLevel(), Level::error);

    // In-place change through the handler's subscript.
    first.modifyMetadataValue("shared", [](std::optional<Logger::MetadataValue>& value) {
        ASSERT_TRUE(value.has_value());
        value = value->description() + ", changed";
    });
    EXPECT_EQ(first.metadataValue("shared"), Logger::MetadataValue("before copy, changed"));
}

TEST(LoggerTest, FactoryGetsTheLabel) {
    std::vector<std::string> labels;
    Logger logger("my.label", [&](const std::string& label) {
        labels.push_back(label);
        return std::make_unique<RecordingLogHandler>("h");
    });
    EXPECT_EQ(labels, std::vector<std::string>{"my.label"});
    EXPECT_EQ(logger.label(), "my.label");
}

TEST(LogHandlerTest, OlderFormCallsTheSourceFormWithTheFoldersName) {
    RecordingLogHandler handler("h");
    LogHandler& asInterface = handler;
    asInterface.log(Level::notice, "m", std::nullopt, "/src/points/Point.cpp", "f", 3);
    asInterface.log(Level::notice, "m", std::nullopt, "points/Point.cpp", "f", 4);
    const auto& calls = *handler.journal();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].source, "points");
    EXPECT_EQ(calls[0].file, "/src/points/Point.cpp");
    EXPECT_EQ(calls[1].source, "n/a");
}

}  // namespace
}  // namespace tervolo::logging
