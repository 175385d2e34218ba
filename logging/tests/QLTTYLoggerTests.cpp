#include "logging/QLTTYLogger.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "logging/QLLog.hpp"
#include "logging/QLLogFormatter.hpp"
#include "platform/dispatch/DateFormat.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/Diagnostics.hpp"

namespace tervolo::logging {
namespace {

using platform::Color;

// 2024-05-01 13:45:07.123 UTC.
const platform::Date kDate = platform::Date::fromUnix(1714571107.123);

// A record with a fixed time and a thread id longer than the 8 characters a line shows.
class TestRecord : public QLLogMessage {
  public:
    TestRecord(std::string text, QLLogFlag flag, int64_t context = 0, std::any tag = {},
               platform::Date date = kDate)
        : QLLogMessage(std::move(text), QLLogLevel::all, flag, context, "/src/Caller.cpp", "fn", 1,
                       std::move(tag), 3, date) {
        setCaller({"90712345678", threadName(), queueLabel(), qos()});
    }
};

QLLogMessagePtr ttyRecord(std::string text, QLLogFlag flag = QLLogFlag::info, int64_t context = 0,
                          std::any tag = {}) {
    return std::make_shared<TestRecord>(std::move(text), flag, context, std::move(tag));
}

// The write end goes to the logger; the test reads what arrived.
class Pipe {
  public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
        ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    }
    ~Pipe() {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    int readEnd() const { return fds_[0]; }
    int writeEnd() const { return fds_[1]; }
    // Everything written so far.
    std::string drain() {
        std::string bytes;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds_[0], buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
        return bytes;
    }

  private:
    int fds_[2] = {-1, -1};
};

class ReturningFormatter : public QLLogFormatter {
  public:
    explicit ReturningFormatter(std::function<std::optional<std::string>(const QLLogMessage&)> body)
        : body_(std::move(body)) {}
    std::optional<std::string> formatLogMessage(const QLLogMessage& message) override {
        return body_(message);
    }

  private:
    std::function<std::optional<std::string>(const QLLogMessage&)> body_;
};

Color paletteColor(const QLTTYLoggerPalette& palette, size_t index) {
    const auto& e = palette.entries.at(index);
    return Color(e.red / 255.0, e.green / 255.0, e.blue / 255.0, 1.0);
}

const std::string kPrefix = platform::dateformat::localPrintf(kDate) + " Name[812:90712345] ";

class QLTTYLoggerTest : public ::testing::Test {
  protected:
    ~QLTTYLoggerTest() override {
        registry_.removeAllLoggers();
        registry_.flushLog();
    }

    std::shared_ptr<QLTTYLogger> makeLogger(QLTTYTerminal terminal, std::string name = "Name") {
        auto logger = QLTTYLogger::make({pipe_.writeEnd(), std::move(name), 812, terminal});
        registry_.addLogger(logger);
        return logger;
    }
    // Delivers synchronously, so the bytes are in the pipe on return.
    std::string write(QLLogMessagePtr message) {
        registry_.log(false, std::move(message));
        return pipe_.drain();
    }

    platform::LineCapture console_{platform::LineWriter::standardError()};
    Pipe pipe_;
    QLLog registry_;
};

// --- palettes and colour look-up ---------------------------------------------------------------

TEST(QLTTYLoggerPaletteTest, SixteenAndTwoHundredFiftySixColourTables) {
    const auto& p16 = QLTTYLoggerPalette::colors16();
    ASSERT_EQ(p16.entries.size(), 16u);
    struct Row {
        size_t index;
        int red, green, blue;
        const char* fg;
        const char* bg;
    };
    for (const Row& row : std::vector<Row>{{0, 0, 0, 0, "30m", "40m"},
                                           {1, 194, 54, 33, "31m", "41m"},
                                           {7, 203, 204, 205, "37m", "47m"},
                                           {8, 129, 131, 131, "1;30m", "1;40m"},
                                           {9, 252, 57, 31, "1;31m", "1;41m"},
                                           {15, 233, 235, 235, "1;37m", "1;47m"}}) {
        SCOPED_TRACE(row.index);
        const auto& e = p16.entries[row.index];
        EXPECT_EQ((std::vector<int>{e.red, e.green, e.blue}),
                  (std::vector<int>{row.red, row.green, row.blue}));
        EXPECT_EQ(e.foregroundCode, row.fg);
        EXPECT_EQ(e.backgroundCode, row.bg);
    }

    const auto& p256 = QLTTYLoggerPalette::colors256();
    ASSERT_EQ(p256.entries.size(), 240u);
    const std::vector<std::vector<int>> first = {{47, 49, 49},  {60, 42, 144}, {66, 44, 183}, {73, 46, 222},
                                                 {81, 50, 253}, {88, 51, 255}, {42, 128, 37}, {42, 127, 128}};
    for (size_t i = 0; i < first.size(); ++i) {
        const auto& e = p256.entries[i];
        EXPECT_EQ((std::vector<int>{e.red, e.green, e.blue}), first[i]) << "entry " << i;
    }
    const auto& firstGrey = p256.entries[232];
    const auto& lastGrey = p256.entries[239];
    EXPECT_EQ((std::vector<int>{firstGrey.red, firstGrey.green, firstGrey.blue}),
              (std::vector<int>{184, 185, 186}));
    EXPECT_EQ((std::vector<int>{lastGrey.red, lastGrey.green, lastGrey.blue}),
              (std::vector<int>{240, 242, 242}));
    for (size_t i = 232; i < 240; ++i) {
        // The last eight are greys rising in steps of about 8.
        EXPECT_NEAR(p256.entries[i].red - p256.entries[i - 1].red, 8, i == 232 ? 30 : 0) << "entry " << i;
    }
    EXPECT_EQ(p256.entries[0].foregroundCode, "38;5;16m");
    EXPECT_EQ(p256.entries[0].backgroundCode, "48;5;16m");
    EXPECT_EQ(p256.entries[180].foregroundCode, "38;5;196m");
    EXPECT_EQ(p256.entries[239].backgroundCode, "48;5;255m");
}

TEST(QLTTYLoggerPaletteTest, NearestIndexByRedGreenBlueDistance) {
    const auto& p16 = QLTTYLoggerPalette::colors16();
    const auto& p256 = QLTTYLoggerPalette::colors256();
    struct Case {
        const char* name;
        const QLTTYLoggerPalette* palette;
        Color color;
        size_t index;
    };
    const Case cases[] = {
        // Pure red is nearer the bright red (252,57,31) than the plain one (194,54,33): 0.255 vs 0.345.
        {"red on 16", &p16, Color(1, 0, 0, 1), 9},
        {"black on 16", &p16, Color(0, 0, 0, 1), 0},
        {"white on 16", &p16, Color(1, 1, 1, 1), 15},
        {"exact entry on 16", &p16, paletteColor(p16, 4), 4},
        {"default error colour on 16", &p16, Color(214 / 255.0, 57 / 255.0, 30 / 255.0, 1), 1},
        {"red on 256", &p256, Color(1, 0, 0, 1), 180},  // terminal colour 196
        {"black on 256: the darkest grey", &p256, Color(0, 0, 0, 1), 216},
        {"measured first row on 256", &p256, paletteColor(p256, 0), 0},
        {"measured last row on 256", &p256, paletteColor(p256, 239), 239},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QLTTYLogger::codeIndexForColor(c.color, *c.palette), c.index) << c.name;
    }

    // Ties keep the earlier entry; an empty palette gives 0.
    const QLTTYLoggerPalette twoEnds{{{255, 0, 0, "a", "A"}, {0, 0, 255, "b", "B"}}};
    EXPECT_EQ(QLTTYLogger::codeIndexForColor(Color(0.5, 0, 0.5, 1), twoEnds), 0u);
    EXPECT_EQ(QLTTYLogger::codeIndexForColor(Color(0.2, 0, 0.9, 1), twoEnds), 1u);
    EXPECT_EQ(QLTTYLogger::codeIndexForColor(Color(1, 0, 0, 1), QLTTYLoggerPalette{}), 0u);
}

TEST(QLTTYLoggerPaletteTest, ProfileCodesPerTerminal) {
    struct Case {
        QLTTYTerminal terminal;
        const char* fg;
        const char* bg;
        const char* reset;
    };
    const Case cases[] = {
        {QLTTYTerminal::color16, "\033[1;31m", "\033[44m", "\033[0m"},
        {QLTTYTerminal::color256, "\033[38;5;196m", "\033[48;5;21m", "\033[0m"},
        {QLTTYTerminal::xcodeColors, "\033[fg255,0,0;", "\033[bg0,0,255;", "\033[;"},
        {QLTTYTerminal::plain, "", "", ""},
    };
    const auto& p256 = QLTTYLoggerPalette::colors256();
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.terminal));
        // Blue as the 16-colour palette's blue (index 4) and the 256 cube's (0,0,255) row (index 5).
        const Color blue = c.terminal == QLTTYTerminal::color16    ? Color(0, 0, 1, 1)
                           : c.terminal == QLTTYTerminal::color256 ? paletteColor(p256, 5)
                                                                   : Color(0, 0, 1, 1);
        const QLTTYLoggerColorProfile profile(Color(1, 0, 0, 1), blue, QLLogFlag::error,
                                              QLTTYLogger::kEveryContext, c.terminal);
        EXPECT_EQ(profile.foregroundCode(), c.fg);
        EXPECT_EQ(profile.backgroundCode(), c.bg);
        EXPECT_EQ(profile.reset(), c.reset);
        EXPECT_EQ((std::vector<int>{profile.fg_r, profile.fg_g, profile.fg_b}),
                  (std::vector<int>{255, 0, 0}));
    }
    // An absent colour has no code; components outside the sRGB gamut are clamped, not wrapped.
    const QLTTYLoggerColorProfile noBackground(Color(1.5, -0.2, 0.5, 1), std::nullopt, QLLogFlag::warning, 0,
                                               QLTTYTerminal::xcodeColors);
    EXPECT_EQ(noBackground.backgroundCode(), "");
    EXPECT_EQ(noBackground.foregroundCode(), "\033[fg255,0,127;");
}

TEST(QLTTYLoggerPaletteTest, TerminalFromEnvironment) {
    using T = QLTTYTerminal;
    struct Case {
        std::optional<std::string> term, xcode;
        T expected;
    };
    const Case cases[] = {
        {"xterm-256color", std::nullopt, T::color256},
        {"XTERM-256COLOR", std::nullopt, T::color256},
        {"xterm-color", std::nullopt, T::color16},
        {"screen.Color", std::nullopt, T::color16},
        {"xterm", std::nullopt, T::plain},
        {"xterm-256", std::nullopt, T::plain},
        {std::nullopt, std::nullopt, T::plain},
        {"xterm-256color", "YES", T::xcodeColors},
        {std::nullopt, "YES", T::xcodeColors},
        {"xterm", "yes", T::plain},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QLTTYLogger::terminalForEnvironment(c.term, c.xcode), c.expected)
            << c.term.value_or("(none)") << " / " << c.xcode.value_or("(none)");
    }
}

// --- the bytes of a record -----------------------------------------------------------------------

TEST_F(QLTTYLoggerTest, OneRecordWithoutColours) {
    auto logger = makeLogger(QLTTYTerminal::plain);
    EXPECT_EQ(write(ttyRecord("message")), kPrefix + "message\n");
    // Each record shows its own time, to the millisecond.
    for (const double later : {0.0009, 0.001, 61.5, 0.0}) {
        const auto date = kDate.addingTimeInterval(later);
        EXPECT_EQ(write(std::make_shared<TestRecord>("m", QLLogFlag::info, 0, std::any{}, date)),
                  platform::dateformat::localPrintf(date) + " Name[812:90712345] m\n")
            << later;
    }
    // A message that already ends with a newline gets no second one.
    EXPECT_EQ(write(ttyRecord("two\nlines\n")), kPrefix + "two\nlines\n");
    // Profiles on a terminal without colours carry empty codes: no escape byte at all.
    logger->setColorsEnabled(true);
    EXPECT_TRUE(logger->colorsEnabled());
    EXPECT_EQ(write(ttyRecord("failed", QLLogFlag::error)), kPrefix + "failed\n");
    EXPECT_THAT(
        console_.lines(),
        ::testing::ElementsAre("QuovaLogging: Warning: Usage of QLTTYLogger detected when QLOSLogger is "
                               "available and can be used! Please consider migrating to QLOSLogger."));
}

TEST_F(QLTTYLoggerTest, OneRecordWithColours) {
    auto logger = makeLogger(QLTTYTerminal::color16);
    EXPECT_EQ(write(ttyRecord("before", QLLogFlag::error)), kPrefix + "before\n");  // colours start disabled

    logger->setColorsEnabled(true);  // loads the default error and warning profiles
    EXPECT_EQ(write(ttyRecord("failed", QLLogFlag::error)), "\033[31m" + kPrefix + "failed\n\033[0m");
    EXPECT_EQ(write(ttyRecord("careful", QLLogFlag::warning)), "\033[33m" + kPrefix + "careful\n\033[0m");
    EXPECT_EQ(write(ttyRecord("plain", QLLogFlag::info)), kPrefix + "plain\n");

    logger->setForegroundColor(paletteColor(QLTTYLoggerPalette::colors16(), 2), Color(0, 0, 1, 1),
                               QLLogFlag::info);
    EXPECT_EQ(write(ttyRecord("green on blue", QLLogFlag::info)),
              "\033[32m\033[44m" + kPrefix + "green on blue\n\033[0m");

    logger->setColorsEnabled(false);
    EXPECT_EQ(write(ttyRecord("off", QLLogFlag::error)), kPrefix + "off\n");
}

TEST_F(QLTTYLoggerTest, CustomFormatterTextAndNewlines) {
    auto logger = makeLogger(QLTTYTerminal::color16);
    logger->setColorsEnabled(true);
    logger->setLogFormatter(
        std::make_shared<ReturningFormatter>([](const QLLogMessage& m) -> std::optional<std::string> {
            if (m.message() == "drop") return std::nullopt;
            if (m.message() == "same") return m.message();
            return "custom " + m.message();
        }));
    // Custom text: codes, the text, a newline, the reset; no prefix.
    EXPECT_EQ(write(ttyRecord("x", QLLogFlag::error)), "\033[31mcustom x\n\033[0m");
    EXPECT_EQ(write(ttyRecord("y\n", QLLogFlag::error)), "\033[31mcustom y\n\033[0m");
    // The message handed back unchanged counts as no formatting.
    EXPECT_EQ(write(ttyRecord("same", QLLogFlag::error)), "\033[31m" + kPrefix + "same\n\033[0m");
    // A dropped record writes nothing.
    EXPECT_EQ(write(ttyRecord("drop", QLLogFlag::error)), "");

    logger->setAutomaticallyAppendNewlineForCustomFormatters(false);
    EXPECT_EQ(write(ttyRecord("z", QLLogFlag::info)), "custom z");
}

TEST_F(QLTTYLoggerTest, NameFallbackAndThreadIdCut) {
    makeLogger(QLTTYTerminal::plain, "");
    EXPECT_EQ(write(ttyRecord("m")),
              platform::dateformat::localPrintf(kDate) + " <UnnamedApp>[812:90712345] m\n");
}

// A record larger than the pipe's buffer on a non-blocking descriptor: writev
// writes part of it and then reports a full pipe; the rest must still follow.
TEST_F(QLTTYLoggerTest, LargeRecordArrivesWholeOnAFullNonBlockingDescriptor) {
    makeLogger(QLTTYTerminal::plain);
    ::fcntl(pipe_.writeEnd(), F_SETFL, O_NONBLOCK);
    const std::string big(300000, 'x');
    std::string received;
    std::thread reader([&] {
        ::fcntl(pipe_.readEnd(), F_SETFL, 0);  // blocking reads
        char buffer[65536];
        while (received.empty() || received.back() != '\n') {
            const ssize_t n = ::read(pipe_.readEnd(), buffer, sizeof buffer);
            if (n <= 0) break;
            received.append(buffer, static_cast<size_t>(n));
        }
    });
    registry_.log(false, ttyRecord(big));
    reader.join();
    EXPECT_EQ(received.size(), kPrefix.size() + big.size() + 1);
    EXPECT_EQ(received, kPrefix + big + "\n");
}

// --- choosing a profile --------------------------------------------------------------------------

TEST_F(QLTTYLoggerTest, ProfileChoiceOrder) {
    const auto& p16 = QLTTYLoggerPalette::colors16();
    const Color red = paletteColor(p16, 1), green = paletteColor(p16, 2), blue = paletteColor(p16, 4);
    const auto error = QLLogFlag::error;
    struct Case {
        const char* name;
        std::function<void(QLTTYLogger&)> setUp;
        QLLogMessagePtr message;
        std::string expectedCode;  // the foreground code, "" for no colour
    };
    const Case cases[] = {
        {"own context over every context (every context first)",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(red, std::nullopt, error);
             l.setForegroundColor(green, std::nullopt, error, 5);
         },
         ttyRecord("m", error, 5), "\033[32m"},
        {"own context over every context (own context first)",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(green, std::nullopt, error, 5);
             l.setForegroundColor(red, std::nullopt, error);
         },
         ttyRecord("m", error, 5), "\033[32m"},
        {"another context takes the every-context profile",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(red, std::nullopt, error);
             l.setForegroundColor(green, std::nullopt, error, 5);
         },
         ttyRecord("m", error, 7), "\033[31m"},
        {"the last matching every-context profile",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(red, std::nullopt, error);
             l.setForegroundColor(blue, std::nullopt, error | QLLogFlag::warning);
         },
         ttyRecord("m", error, 0), "\033[34m"},
        {"the tag over every flag profile",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(green, std::nullopt, error, 5);
             l.setForegroundColor(blue, std::nullopt, std::any(std::string("net")));
         },
         ttyRecord("m", error, 5, std::string("net")), "\033[34m"},
        {"an unknown tag falls back to the flags",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(green, std::nullopt, error, 5);
             l.setForegroundColor(blue, std::nullopt, std::any(std::string("net")));
         },
         ttyRecord("m", error, 5, std::string("disk")), "\033[32m"},
        {"integer tags compare by value",
         [&](QLTTYLogger& l) { l.setForegroundColor(blue, std::nullopt, std::any(42)); },
         ttyRecord("m", QLLogFlag::verbose, 0, int64_t{42}), "\033[34m"},
        {"a cleared tag",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(blue, std::nullopt, std::any(std::string("net")));
             l.clearColorsForTag(std::string("net"));
         },
         ttyRecord("m", QLLogFlag::verbose, 0, std::string("net")), ""},
        {"no mask matches", [&](QLTTYLogger& l) { l.setForegroundColor(red, std::nullopt, error); },
         ttyRecord("m", QLLogFlag::info, 0), ""},
        {"the same mask and context is replaced in place",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(red, std::nullopt, error);
             l.setForegroundColor(blue, std::nullopt, error | QLLogFlag::warning);
             l.setForegroundColor(green, std::nullopt, error);
         },
         ttyRecord("m", error, 0), "\033[34m"},
        // The flag-only clear removes what the flag-only set made.
        {"clear after set for a flag",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(red, std::nullopt, error);
             l.clearColorsForFlag(error);
         },
         ttyRecord("m", error, 0), ""},
        {"clear of one context keeps the every-context profile",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(red, std::nullopt, error);
             l.setForegroundColor(green, std::nullopt, error, 5);
             l.clearColorsForFlag(error, 5);
         },
         ttyRecord("m", error, 5), "\033[31m"},
        {"clear of a context that has no profile changes nothing",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(red, std::nullopt, error);
             l.clearColorsForFlag(error, 0);
         },
         ttyRecord("m", error, 0), "\033[31m"},
        {"clear all colours",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(red, std::nullopt, error);
             l.setForegroundColor(blue, std::nullopt, std::any(std::string("net")));
             l.clearAllColors();
         },
         ttyRecord("m", error, 0, std::string("net")), ""},
        {"clear all flags keeps tags",
         [&](QLTTYLogger& l) {
             l.setForegroundColor(red, std::nullopt, error);
             l.setForegroundColor(blue, std::nullopt, std::any(std::string("net")));
             l.clearColorsForAllFlags();
         },
         ttyRecord("m", error, 0, std::string("net")), "\033[34m"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto logger = makeLogger(QLTTYTerminal::color16);
        logger->setColorsEnabled(true);
        logger->clearColorsForAllFlags();  // without the default profiles
        c.setUp(*logger);
        const std::string bytes = write(c.message);
        const std::string expected =
            c.expectedCode.empty() ? kPrefix + "m\n" : c.expectedCode + kPrefix + "m\n\033[0m";
        EXPECT_EQ(bytes, expected);
        registry_.removeLogger(logger);
    }
}

TEST_F(QLTTYLoggerTest, MisuseIsReported) {
    std::vector<std::string> failures;
    platform::ScopedAssertionHandler handler(
        [&](std::string_view, std::string_view, std::string_view message) {
            failures.emplace_back(message);
        });
    auto logger = makeLogger(QLTTYTerminal::color16);

    logger->setForegroundColor(Color(1, 0, 0, 1), std::nullopt, std::any(std::vector<int>{1}));
    QLLog::loggingQueue()->sync([&] { logger->setColorsEnabled(true); });
    logger->loggerQueue()->sync([&] { (void)logger->colorsEnabled(); });
    EXPECT_THAT(failures, ::testing::ElementsAre("Invalid tag", "Core architecture requirement failure",
                                                 "MUST access ivar directly, NOT via self.* syntax."));
    // The switch queued from the logging queue still took effect.
    EXPECT_TRUE(logger->colorsEnabled());
}

TEST_F(QLTTYLoggerTest, OnlyOneTerminalLoggerForStandardError) {
    const auto& shared = QLTTYLogger::sharedInstance();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->loggerName(), "quova.logging.ttyLogger");
    EXPECT_EQ(shared->loggerQueue()->label(), "quova.logging.ttyLogger");
    EXPECT_EQ(&QLTTYLogger::sharedInstance(), &shared);
    EXPECT_EQ(QLTTYLogger::make(), nullptr);
}

}  // namespace
}  // namespace tervolo::logging
