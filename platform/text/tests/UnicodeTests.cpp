#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text/Unicode.hpp"

namespace platform::text {
namespace {

TEST(Unicode, CaseMappingIsFullAndLocaleFree) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        // text, uppercased, lowercased
        {"straße", "STRASSE", "straße"},      {"ǅemal", "ǄEMAL", "ǆemal"},
        {"İstanbul", "İSTANBUL", "i̇stanbul"},  // root locale: dotted capital I keeps its dot
        {"ΣΊΣΥΦΟΣ", "ΣΊΣΥΦΟΣ", "σίσυφος"},     // final sigma
        {"Dive BAR", "DIVE BAR", "dive bar"}, {"", "", ""},
    };
    for (const auto& [text, upper, lower] : rows) {
        EXPECT_EQ(uppercased(text), upper) << text;
        EXPECT_EQ(lowercased(text), lower) << text;
    }
}

TEST(Unicode, FirstGraphemeCapitalised) {
    const std::pair<const char*, const char*> rows[] = {
        {"élan", "Élan"}, {"e\u0301lan", "E\u0301lan"},  // the whole cluster, mark kept
        {"ßa", "SSa"},    {"👍🏽x", "👍🏽x"},   {"already", "Already"}, {"", ""},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(capitalizedFirstGrapheme(text), expected) << text;
}

TEST(Unicode, FirstGraphemeCluster) {
    const std::pair<const char*, const char*> rows[] = {
        {"apple", "a"},
        {"e\u0301lan", "e\u0301"},
        {"👍🏽x", "👍🏽"},
        {"🇫🇮a", "🇫🇮"},
        {"\r\nx", "\r\n"},
        {"x", "x"},
        {"", ""},
        {"東京", "東"},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(firstGraphemeCluster(text), expected) << text;
}

TEST(Unicode, CanonicalEquivalenceAndCodePointOrder) {
    EXPECT_EQ(nfc("Cafe\u0301"), "Café");
    EXPECT_TRUE(canonicallyEqual("Cafe\u0301", "Café"));
    EXPECT_FALSE(canonicallyEqual("Cafe", "Café"));
    EXPECT_TRUE(canonicallyEqual("\u212B", "\u00C5"));  // Angstrom sign vs A with ring
    EXPECT_EQ(compareCodePoints("e\u0301", "é"), 0);

    struct Row {
        const char* a;
        const char* b;
        int order;
    };
    const Row rows[] = {
        {"\uFF5E", "\U0001F600", -1},  // UTF-16 order would put the emoji first
        {"B", "a", -1},
        {"Zoo", "apple", -1},
        {"a", "ab", -1},
        {"e\u0301", "f", 1},  // compared as é (U+00E9), which follows f
        {"x", "x", 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(compareCodePoints(row.a, row.b), row.order) << row.a << " vs " << row.b;
        EXPECT_EQ(compareCodePoints(row.b, row.a), -row.order) << row.b << " vs " << row.a;
    }
}

TEST(Unicode, CaseInsensitiveDiacriticSensitiveContainment) {
    struct Row {
        const char* haystack;
        const char* needle;
        bool contained;
    };
    const Row rows[] = {
        {"Barstraße 5", "bar", true},
        {"Barstraße 5", "STRASSE", true},
        {"Dive BAR", "bar", true},
        {"Café", "cafe", false},
        {"Cafe\u0301", "Café", true},
        {"Café", "Cafe\u0301", true},
        {"café", "CAFÉ", true},
        {"Cafe\u0301", "cafe", false},  // the e is not whole: it carries the accent
        {"Cafe\u0323\u0301", "cafe\u0323", false},
        {"Harbour", "", true},
        {"", "a", false},
        {"ΣΊΣΥΦΟΣ", "σίσυφος", true},
        {"Mount Everest", "EVER", true},
        {"Mount Everest", "rests", false},
        // ASCII on one side only: the Kelvin sign and the capital sharp s
        // fold to ASCII, an accented letter never does.
        {"Kelvin 5", "\u212AELVIN", true},
        {"Strasse", "STRA\u1E9EE", true},
        {"Lighthouse", "ligh\u00E9", false},
        {"Stra\u00DFe 12", "SS", true},
        {"Caf\u00E9 12", "12", true},
        {"x\nk", "\n\u212A", true},
        {"x\r\nk", "\n\u212A", false},  // CR LF is one cluster
    };
    for (const auto& row : rows) {
        EXPECT_EQ(containsCaseInsensitive(row.haystack, row.needle), row.contained)
            << '"' << row.haystack << "\" / \"" << row.needle << '"';
        // The prepared forms answer the same, whichever side is ASCII.
        EXPECT_EQ(FoldedText(row.haystack).contains(FoldedText(row.needle)), row.contained)
            << "folded: \"" << row.haystack << "\" / \"" << row.needle << '"';
    }
    EXPECT_TRUE(FoldedText("Harbour").contains(FoldedText()));
    EXPECT_FALSE(FoldedText().contains(FoldedText("a")));
}

TEST(Unicode, TrimmingUnicodeWhiteSpaceAndNewlines) {
    const std::pair<std::string, std::string> rows[] = {
        {"  51.5, -0.25 \n", "51.5, -0.25"},
        {"\u00A0\u2028x y\u2029\u0085\u3000", "x y"},
        {"\t\r\n", ""},
        {"inner  space", "inner  space"},
        {"\u200Bx", "\u200Bx"},  // zero width space is not white space
        {"", ""},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(trimmed(text), expected) << text;
}

TEST(Unicode, LengthsAndTruncation) {
    EXPECT_EQ(utf16Length("abc"), 3u);
    EXPECT_EQ(utf16Length("é"), 1u);
    EXPECT_EQ(utf16Length("😀"), 2u);
    EXPECT_EQ(utf16Length("\xFF"), 1u);  // ill-formed byte reads as one U+FFFD

    const std::string text = "aé😀";  // 1 + 2 + 4 bytes
    const std::pair<size_t, std::string> rows[] = {
        {0, ""}, {1, "a"}, {2, "a"}, {3, "aé"}, {4, "aé"}, {6, "aé"}, {7, "aé😀"}, {100, "aé😀"},
    };
    for (const auto& [limit, expected] : rows) {
        EXPECT_EQ(truncatedUTF8(text, limit), expected) << limit;
        EXPECT_TRUE(isValidUTF8(truncatedUTF8(text, limit)));
    }
    EXPECT_FALSE(isValidUTF8("\xC3"));
    EXPECT_FALSE(isValidUTF8("\xED\xA0\x80"));  // an encoded surrogate
}

TEST(Unicode, IllFormedInputIsReadWithReplacementCharacters) {
    EXPECT_EQ(nfc("a\xFF"), "a\uFFFD");
    EXPECT_EQ(uppercased("a\xC3"), "A\uFFFD");
    EXPECT_TRUE(containsCaseInsensitive("x\xFFy", "Y"));
}

TEST(Unicode, NextCodePointReadsWellFormedSequencesAndRefusesTheRest) {
    const struct {
        std::string text;
        char32_t codePoint;
        int length;
        bool valid;
    } cases[] = {
        {"A", U'A', 1, true},
        {"\xC2\x80", 0x80, 2, true},
        {"\xDF\xBF", 0x7FF, 2, true},
        {"\xE0\xA0\x80", 0x800, 3, true},
        {"\xE2\x80\xA8", 0x2028, 3, true},
        {"\xEF\xBF\xBD", 0xFFFD, 3, true},  // a real replacement character
        {"\xF0\x9F\x98\x80", 0x1F600, 4, true},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, true},
        {"\x80", 0xFFFD, 1, false},              // stray continuation byte
        {"\xC0\x80", 0xFFFD, 1, false},          // overlong NUL
        {"\xC1\xBF", 0xFFFD, 1, false},          // overlong
        {"\xE0\x9F\xBF", 0xFFFD, 1, false},      // overlong
        {"\xED\xA0\x80", 0xFFFD, 1, false},      // surrogate
        {"\xF0\x8F\xBF\xBF", 0xFFFD, 1, false},  // overlong
        {"\xF4\x90\x80\x80", 0xFFFD, 1, false},  // beyond U+10FFFF
        {"\xF5\x80\x80\x80", 0xFFFD, 1, false},
        {"\xE2\x80", 0xFFFD, 1, false},  // truncated at the end
        {"\xE2\x80"
         "A",
         0xFFFD, 1, false},  // interrupted
        {"\xFF", 0xFFFD, 1, false},
    };
    for (const auto& c : cases) {
        const CodePointRead read = nextCodePoint(c.text, 0);
        EXPECT_EQ(read.codePoint, c.codePoint) << testing::PrintToString(c.text);
        EXPECT_EQ(read.length, c.length) << testing::PrintToString(c.text);
        EXPECT_EQ(read.valid, c.valid) << testing::PrintToString(c.text);
    }
    // Reads from the middle and never past the end of the view.
    const std::string text = "a\xC3\xA9\xE2\x82";
    EXPECT_EQ(nextCodePoint(text, 1).codePoint, 0xE9u);
    EXPECT_FALSE(nextCodePoint(std::string_view(text).substr(0, 2), 1).valid);
    EXPECT_FALSE(nextCodePoint(text, 3).valid);
}

}  // namespace
}  // namespace platform::text
