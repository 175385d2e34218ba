#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/text/Regex.hpp"

namespace platform::text {
namespace {

TEST(Regex, IcuSemanticsForFixedPatterns) {
    struct Row {
        const char* pattern;
        const char* text;
        bool found;
    };
    const Row rows[] = {
        {"S$", "51 S\n", true},  // $ also before a final line end
        {"S$", "51 S\n\n", false},        {"S\\z", "51 S\n", false},
        {"^\\s*$", "\u00A0\u2003", true},  // \s is Unicode white space
        {"\\A\\d+", "12ab", true},        {"\\A\\d+", "a12", false},
        {"^b$", "a\nb\nc", false},  // without AnchorsMatchLines: whole text only
        {"\\p{L}+", "Zürich", true},
    };
    for (const auto& row : rows) {
        const auto regex = Regex::compile(row.pattern);
        ASSERT_TRUE(regex) << row.pattern;
        EXPECT_EQ(regex->contains(row.text), row.found) << row.pattern << " in " << row.text;
    }
    EXPECT_TRUE(Regex::compile("^b$", Regex::AnchorsMatchLines)->contains("a\nb\nc"));
    EXPECT_TRUE(Regex::compile("straße", Regex::CaseInsensitive)->contains("STRASSE"));
}

TEST(Regex, GroupsAreByteRangesOfTheUtf8Text) {
    const auto regex = Regex::compile("(\\d+)° (\\d+)′(?: (\\d+)″)? ([NS])");
    ASSERT_TRUE(regex);
    EXPECT_EQ(regex->groupCount(), 4u);
    const std::string text = "Lat: 51° 28′ N";
    const auto match = regex->firstMatch(text);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->range().location, 5u);
    EXPECT_EQ(match->range().length, text.size() - 5);
    EXPECT_EQ(match->group(1), "51");
    EXPECT_EQ(match->group(2), "28");
    EXPECT_EQ(match->group(3), std::nullopt);  // took no part
    EXPECT_EQ(match->group(4), "N");
}

TEST(Regex, AllMatchesReplaceAndWholeText) {
    const auto digits = Regex::compile("[0-9]+");
    ASSERT_TRUE(digits);
    EXPECT_EQ(digits->numberOfMatches("a1b22c333"), 3u);
    EXPECT_EQ(digits->numberOfMatches(""), 0u);
    EXPECT_TRUE(digits->matchesEntirely("123"));
    EXPECT_FALSE(digits->matchesEntirely("123a"));
    const auto pairs = Regex::compile("(\\w)(\\d)");
    EXPECT_EQ(pairs->replacingMatches("a1 b2 c", "$2$1\\$"), "1a$ 2b$ c");
    // Empty matches terminate and are counted once per position.
    EXPECT_EQ(Regex::compile("x*")->numberOfMatches("ab"), 3u);
}

TEST(Regex, BadPatternIsRefusedWithReason) {
    std::string error;
    EXPECT_FALSE(Regex::compile("(unclosed", Regex::None, &error));
    EXPECT_FALSE(error.empty());
}

TEST(Regex, OneCompiledPatternServesManyThreads) {
    const auto regex = Regex::compile("(\\d+)-(\\d+)");
    ASSERT_TRUE(regex);
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string text = "n " + std::to_string(t) + "-" + std::to_string(i);
                const auto match = regex->firstMatch(text);
                if (!match || match->group(2) != std::to_string(i)) ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
}  // namespace platform::text
