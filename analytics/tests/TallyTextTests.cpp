#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/TallyJSON.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"

namespace tervolo::analytics {
namespace {

using testing::AnalyticsTest;

class TallyTextTest : public AnalyticsTest {};

TEST_F(TallyTextTest, EscapingKeepsOnlyTheUnreservedSet) {
    const struct {
        const char* input;
        const char* expected;
    } cases[] = {
        {"a b&c=d/é", "a%20b%26c%3Dd%2F%C3%A9"},
        {"AZaz09-._~", "AZaz09-._~"},
        {"+?#%", "%2B%3F%23%25"},
        {"😀", "%F0%9F%98%80"},
        {"\n\"{}", "%0A%22%7B%7D"},
        {"", ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(tly_URLEscaped(row.input), row.expected);
    }
    // Bytes that are not UTF-8 are escaped one by one, never dropped.
    EXPECT_EQ(tly_URLEscaped(std::string("\xFF\x00x", 3)), "%FF%00x");
}

TEST_F(TallyTextTest, Sha256IsLowerCaseHexOfTheUtf8Bytes) {
    EXPECT_EQ(tly_SHA256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(tly_SHA256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(TallyTextTest, QueryValueIsTheFirstItemDecoded) {
    const struct {
        const char* query;
        const char* key;
        std::optional<std::string> expected;
    } cases[] = {
        {"app_key=x&device_id=y%20z", "device_id", "y z"},
        {"app_key=x&device_id=y%20z", "missing", std::nullopt},
        {"a=1&a=2", "a", "1"},
        {"a&b=2", "a", std::nullopt},
        {"a=&b=2", "a", ""},
        {"a=%zz", "a", std::nullopt},
        {"a=%4", "a", std::nullopt},
        {"a=x+y", "a", "x+y"},
        {"user%5Fdetails=%7B%7D", "user_details", "{}"},
        {"", "a", std::nullopt},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.query) + " / " + row.key);
        EXPECT_EQ(tly_valueForQueryStringKey(row.query, row.key), row.expected);
    }
}

TEST_F(TallyTextTest, TruncationCountsUtf16UnitsAndNeverSplitsACharacter) {
    const std::string a128(128, 'a');
    const struct {
        const char* name;
        std::string input;
        size_t limit;
        std::string expected;
    } cases[] = {
        {"short stays", "abc", 128, "abc"},
        {"129 ascii cut to 128", a128 + "b", 128, a128},
        {"two-byte letters count one unit each", "éééé", 3, "ééé"},
        {"emoji is two units and fits", "ab😀", 4, "ab😀"},
        {"emoji at the cut is dropped whole", "abc😀", 4, "abc"},
        {"three-byte CJK", "漢字漢字", 2, "漢字"},
        {"combining mark counted alone", "e\xCC\x81x", 2, "e\xCC\x81"},
        {"invalid byte is one unit",
         std::string("a\xFF"
                     "b"),
         2, std::string("a\xFF")},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(tly_prefixOfUTF16Length(row.input, row.limit), row.expected);
    }
    EXPECT_EQ(tly_utf16Length("a😀é"), 4u);
}

TEST_F(TallyTextTest, KeyAndValueLimitsCutAndWarnOnce) {
    const std::string longKey(129, 'k');
    EXPECT_EQ(tly_truncatedKey(longKey, "Event key"), std::string(128, 'k'));
    EXPECT_EQ(
        logger_->count("[Warning] Event key length is more than the limit (128)! So, it will be truncated: " +
                       longKey + "."),
        1u);
    logger_->clear();
    EXPECT_EQ(tly_truncatedValue(std::string(300, 'v'), "Event value"), std::string(256, 'v'));
    EXPECT_EQ(tly_truncatedValue(std::string(256, 'v'), "Event value"), std::string(256, 'v'));
    EXPECT_EQ(logger_->count("length is more than the limit (256)"), 1u);
}

TEST_F(TallyTextTest, JsonTextKeepsInsertionOrderAndRefusesNonContainers) {
    TallyJSON object = TallyJSON::object();
    object["z"] = 1;
    object["a"] = "x/y é";
    object["m"] = 0.5;
    EXPECT_EQ(TallyJSONFromObject(object), R"({"z":1,"a":"x/y é","m":0.5})");
    EXPECT_EQ(tly_JSONify(TallyJSON::array({1, "a b"})), "%5B1%2C%22a%20b%22%5D");

    EXPECT_EQ(TallyJSONFromObject(TallyJSON("text")), std::nullopt);
    EXPECT_EQ(TallyJSONFromObject(TallyJSON::array({std::nan("")})), std::nullopt);
    EXPECT_EQ(logger_->count("[Warning] Object is not valid for converting to JSON!"), 2u);
    // Invalid UTF-8 in a value does not cost the whole text.
    EXPECT_EQ(TallyJSONFromObject(TallyJSON::array({std::string("a\xFF")})), "[\"a\xEF\xBF\xBD\"]");
}

TEST_F(TallyTextTest, DictionaryTruncationAndLimit) {
    TallyJSON dictionary = TallyJSON::object();
    dictionary[std::string(129, 'k') + "1"] = "first";
    dictionary[std::string(129, 'k') + "2"] = "second";
    dictionary["n"] = 5;
    dictionary["v"] = std::string(300, 'v');
    const TallyJSON cut = tly_truncated(dictionary, "Segmentation");
    EXPECT_EQ(cut.size(), 3u);  // two long keys collide after the cut
    EXPECT_TRUE(cut.contains(std::string(128, 'k')));
    EXPECT_EQ(cut["n"], 5);
    EXPECT_EQ(cut["v"], std::string(256, 'v'));
    EXPECT_EQ(logger_->count("Segmentation key length"), 2u);
    EXPECT_EQ(logger_->count("Segmentation value length"), 1u);

    TallyJSON many = TallyJSON::object();
    for (int i = 0; i < 31; ++i) many[fmt::format("k{}", i)] = i;
    const TallyJSON limited = tly_limited(many, "Segmentation");
    ASSERT_EQ(limited.size(), 30u);
    EXPECT_EQ(limited.begin().key(), "k0");
    EXPECT_FALSE(limited.contains("k30"));
    EXPECT_EQ(
        logger_->count("Number of key-value pairs in Segmentation is more than the limit (30)! So, some of "
                       "them will be removed:\n [k30]"),
        1u);
    EXPECT_EQ(tly_limited(limited, "Segmentation"), limited);
}

}  // namespace
}  // namespace tervolo::analytics
