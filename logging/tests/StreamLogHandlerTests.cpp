#include "logging/StreamLogHandler.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "LogFacadeTestSupport.hpp"
#include "logging/Logger.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace tervolo::logging {
namespace {

using testing::CapturingStream;
using testing::ScopedTimeZone;
using Level = Logger::Level;

// 2024-05-01T11:45:07.9Z: the fraction must not show.
constexpr double kWallTime = 1714563907.9;
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

class StreamLogHandlerTest : public ::testing::Test {
  protected:
    StreamLogHandlerTest() : timeZone_(kCentralEurope), clock_(kWallTime) {}

    StreamLogHandler handler(const std::string& label = "my.label") {
        return StreamLogHandler(label, stream_);
    }
    std::vector<std::string> lines() const { return stream_->writes(); }

    std::shared_ptr<CapturingStream> stream_ = std::make_shared<CapturingStream>();

  private:
    ScopedTimeZone timeZone_;
    tervolo::testsupport::VirtualClockScope clock_;
};

TEST_F(StreamLogHandlerTest, TimestampIsLocalWholeSecondsWithOffset) {
    const struct {
        const char* tz;
        const char* expected;
    } cases[] = {
        {"UTC0", "2024-05-01T11:45:07+0000 info my.label : [src] m\n"},
        {kCentralEurope, "2024-05-01T13:45:07+0200 info my.label : [src] m\n"},
        {"<-0330>3:30", "2024-05-01T08:15:07-0330 info my.label : [src] m\n"},
    };
    for (const auto& c : cases) {
        ScopedTimeZone zone(c.tz);
        auto h = handler();
        h.log(Level::info, "m", std::nullopt, "src", "f.cpp", "fn", 1);
        ASSERT_FALSE(lines().empty());
        EXPECT_EQ(lines().back(), c.expected) << c.tz;
    }
}

TEST_F(StreamLogHandlerTest, LineLayout) {
    const std::string t = "2024-05-01T13:45:07+0200 ";
    const Logger::Metadata none;
    const struct {
        const char* name;
        Logger::Metadata handlerMetadata;
        std::optional<Logger::Metadata> callMetadata;
        Level level;
        std::string source;
        std::string message;
        std::string expected;
    } cases[] = {
        {"no metadata", none, std::nullopt, Level::info, "src", "hello", t + "info my.label : [src] hello\n"},
        {"sorted handler metadata",
         {{"b", "2"}, {"a", "1"}},
         std::nullopt,
         Level::warning,
         "src",
         "m",
         t + "warning my.label : a=1 b=2 [src] m\n"},
        {"call value wins",
         {{"k", "handler"}, {"a", "1"}},
         Logger::Metadata{{"k", "call"}},
         Level::error,
         "src",
         "m",
         t + "error my.label : a=1 k=call [src] m\n"},
        {"empty call metadata",
         {{"a", "1"}},
         Logger::Metadata{},
         Level::notice,
         "src",
         "m",
         t + "notice my.label : a=1 [src] m\n"},
        {"call metadata only", none, Logger::Metadata{{"z", Logger::MetadataValue::array({"x"})}},
         Level::critical, "src", "m", t + "critical my.label : z=[\"x\"] [src] m\n"},
        {"empty source", none, std::nullopt, Level::trace, "", "m", t + "trace my.label : [] m\n"},
        {"newline in message", none, std::nullopt, Level::debug, "s", "two\nlines",
         t + "debug my.label : [s] two\nlines\n"},
    };
    for (const auto& c : cases) {
        auto h = handler();
        h.setMetadata(c.handlerMetadata);
        h.log(c.level, c.message, c.callMetadata, c.source, "f.cpp", "fn", 1);
        ASSERT_FALSE(lines().empty());
        EXPECT_EQ(lines().back(), c.expected) << c.name;
        // The handler's own metadata is never changed by a call's.
        EXPECT_TRUE(metadataEqual(h.metadata(), c.handlerMetadata)) << c.name;
    }
}

TEST_F(StreamLogHandlerTest, PrettyMetadataFollowsEveryChange) {
    auto h = handler();
    EXPECT_EQ(h.prettyMetadata(), std::nullopt);
    h.setMetadataValue("b", "2");
    h.setMetadataValue("a", Logger::MetadataValue::stringConvertible(1));
    EXPECT_EQ(h.prettyMetadata(), "a=1 b=2");
    h.modifyMetadata([](Logger::Metadata& metadata) { metadata.erase("a"); });
    EXPECT_EQ(h.prettyMetadata(), "b=2");
    h.setMetadataValue("b", std::nullopt);
    EXPECT_EQ(h.prettyMetadata(), std::nullopt);
    h.log(Level::info, "m", std::nullopt, "s", "f", "g", 1);
    EXPECT_EQ(lines().back(), "2024-05-01T13:45:07+0200 info my.label : [s] m\n");
}

TEST_F(StreamLogHandlerTest, ThroughALogger) {
    Logger logger(
        "app", [&](const std::string& label) { return std::make_unique<StreamLogHandler>(handler(label)); });
    EXPECT_EQ(logger.logLevel(), Level::info);
    logger.debug("dropped");
    logger.info("kept", Logger::Metadata{{"user", "7"}});
    // The older form: the source is the folder holding the file.
    logger.handler().log(Level::error, "older", std::nullopt, "/src/points/P.cpp", "f", 2);
    EXPECT_EQ(lines(), (std::vector<std::string>{"2024-05-01T13:45:07+0200 info app : user=7 [tests] kept\n",
                                                 "2024-05-01T13:45:07+0200 error app : [points] older\n"}));
}

TEST(StreamLogHandlerFactoryTest, StandardStreams) {
    const StreamLogHandler out = StreamLogHandler::standardOutput("o");
    const StreamLogHandler err = StreamLogHandler::standardError("e");
    EXPECT_EQ(out.label(), "o");
    EXPECT_EQ(out.logLevel(), Level::info);
    EXPECT_TRUE(out.metadata().empty());
    EXPECT_EQ(out.stream(), StdioOutputStream::standardOutput());
    EXPECT_EQ(err.stream(), StdioOutputStream::standardError());
    EXPECT_EQ(StdioOutputStream::standardOutput()->file(), stdout);
    EXPECT_EQ(StdioOutputStream::standardError()->file(), stderr);
    EXPECT_EQ(StdioOutputStream::standardOutput()->flushMode(), StdioOutputStream::FlushMode::always);
    EXPECT_EQ(StdioOutputStream::standardError()->flushMode(), StdioOutputStream::FlushMode::always);
}

std::string contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    return text;
}

// Lines written by several threads through their own handler copies on one
// stdio stream arrive whole: one locked write per line.
TEST(StdioOutputStreamTest, ConcurrentLinesNeverInterleave) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    auto stream = std::make_shared<StdioOutputStream>(file, StdioOutputStream::FlushMode::undefined);
    const StreamLogHandler prototype("stress", stream);
    constexpr int kThreads = 4;
    constexpr int kLines = 300;
    const std::string payload(200, 'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Logger logger("stress", [&](const std::string&) { return prototype.clone(); });
            for (int i = 0; i < kLines; ++i) logger.info(std::to_string(t) + ":" + payload);
        });
    }
    for (auto& thread : threads) thread.join();

    const std::string text = contents(file);
    std::fclose(file);
    std::map<char, int> perThread;
    size_t start = 0;
    int count = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(start, end - start);
        const size_t marker = line.find("info stress : [tests] ");
        ASSERT_NE(marker, std::string::npos) << line;
        const std::string message = line.substr(marker + 22);
        ASSERT_EQ(message.size(), payload.size() + 2) << line;
        EXPECT_EQ(message.substr(2), payload);
        ++perThread[message[0]];
        ++count;
        start = end + 1;
    }
    EXPECT_EQ(count, kThreads * kLines);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(perThread['0' + t], kLines);
}

TEST(StdioOutputStreamTest, FlushModeAlwaysReachesTheFileAtOnce) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    StdioOutputStream stream(file, StdioOutputStream::FlushMode::always);
    stream.write("abc\n");
    // Read through the descriptor, past the stdio buffer.
    char buffer[8] = {};
    ASSERT_EQ(pread(fileno(file), buffer, sizeof buffer, 0), 4);
    EXPECT_EQ(std::string(buffer), "abc\n");
    std::fclose(file);
}

}  // namespace
}  // namespace tervolo::logging
