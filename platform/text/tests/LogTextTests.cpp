#include "platform/text/LogText.hpp"

#include <gtest/gtest.h>

#include <string>

#include "platform/text/Unicode.hpp"

namespace {

using platform::text::logQuoted;

TEST(LogQuotedTest, EscapesEverythingThatCouldEndOrHideALine) {
    struct Case {
        std::string text;
        const char* quoted;
    };
    const Case cases[] = {
        {"", R"("")"},
        {"Harbour", R"("Harbour")"},
        {"say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
        {"a\nb\rc\td", R"("a\nb\rc\td")"},
        {std::string("nul\0here", 8), R"("nul\0here")"},
        {"\x1b[2J\x07\x7f", R"("\u{1B}[2J\u{7}\u{7F}")"},
        // C1 controls, NEL among them; the Unicode line and paragraph separators.
        {"a\xC2\x85"
         "b\xC2\x80\xC2\x9F",
         R"("a\u{85}b\u{80}\u{9F}")"},
        {"one\xE2\x80\xA8two\xE2\x80\xA9three", R"("one\u{2028}two\u{2029}three")"},
        // Characters around those are kept as they are.
        {"\xC2\xA0\xC2\xA9 \xE2\x80\xA7 \xE6\x9D\xB1 \xF0\x9F\x98\x80",
         "\"\xC2\xA0\xC2\xA9 \xE2\x80\xA7 \xE6\x9D\xB1 \xF0\x9F\x98\x80\""},
        // Ill-formed UTF-8: stray continuation, truncated sequence, overlong
        // form, surrogate, beyond U+10FFFF, bytes never used: one escape a byte.
        {"x\x80y", R"("x\x{80}y")"},
        {"cut\xE2\x80", R"("cut\x{E2}\x{80}")"},
        {"\xC0\xAF", R"("\x{C0}\x{AF}")"},
        {"\xED\xA0\x80", R"("\x{ED}\x{A0}\x{80}")"},
        {"\xF4\x90\x80\x80", R"("\x{F4}\x{90}\x{80}\x{80}")"},
        {"\xFE\xFF", R"("\x{FE}\x{FF}")"},
        // An overlong NEL (C1 0x85 in two bytes the long way) is no NEL, only bytes.
        {"\xE0\x82\x85", R"("\x{E0}\x{82}\x{85}")"},
    };
    for (const auto& c : cases) {
        const std::string quoted = logQuoted(c.text);
        EXPECT_EQ(quoted, c.quoted) << c.text;
        EXPECT_TRUE(platform::text::isValidUTF8(quoted)) << c.text;
    }
}

// Past the limit the quote closes at a whole character, escapes included,
// and the whole text's size follows.
TEST(LogQuotedTest, LongTextsAreCutAtTheLimitWithTheirSize) {
    struct Case {
        const char* name;
        std::string text;
        size_t limit;
        std::string quoted;
    };
    const Case cases[] = {
        {"exactly the limit", std::string(8, 'a'), 8, "\"aaaaaaaa\""},
        {"one byte over", std::string(9, 'a'), 8, "\"aaaaaaaa\"… (9 bytes)"},
        // "é" is two bytes: 7 + 2 would pass 8, so it goes whole.
        {"no split character", "aaaaaaa\xC3\xA9", 8, "\"aaaaaaa\"… (9 bytes)"},
        // "\n" escaped is two bytes of the limit; it never goes half.
        {"no split escape", "aaaaaaa\nb", 8, "\"aaaaaaa\"… (9 bytes)"},
        {"escapes count", "\n\n\n\n\n", 8, "\"\\n\\n\\n\\n\"… (5 bytes)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(logQuoted(c.text, c.limit), c.quoted) << c.name;
    }

    // The default limit: a link of 100 KiB keeps its first 4 KiB.
    const std::string link = "https://example.invalid/" + std::string(100 * 1024, 'x');
    const std::string quoted = logQuoted(link);
    EXPECT_EQ(quoted.substr(0, 25), "\"https://example.invalid/");
    EXPECT_EQ(quoted, "\"" + link.substr(0, platform::text::kLogTextLimit) + "\"… (" +
                          std::to_string(link.size()) + " bytes)");
}

}  // namespace
