#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "json/JSON.hpp"
#include "json/tests/JSONTestSupport.hpp"

namespace tervolo::json {
namespace {

const WritingOptionsMap kOwnPrinter{{writingOptionsKeys::castNilToNSNull, true}};

std::string text(const Data& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

JSON nestedArrays(int levels) {
    JSON value(1);
    for (int i = 0; i < levels; ++i) value = JSON::arrayLiteral({Any(value)});
    return value;
}

TEST(JSONLiteralTest, LiteralsAndRawValues) {
    EXPECT_EQ(JSON("text").type(), Type::string);
    EXPECT_EQ(JSON(42).type(), Type::number);
    EXPECT_EQ(JSON(42).number()->kind(), Number::Kind::int64);
    EXPECT_EQ(JSON(true).type(), Type::boolValue);
    EXPECT_EQ(JSON(1.5).type(), Type::number);
    EXPECT_EQ(JSON::arrayLiteral({1, "a", true}).type(), Type::array);
    JSON dictionary = JSON::dictionaryLiteral({{"k", 1}, {"j", 2}, {"k", "second"}});
    EXPECT_EQ(dictionary.count(), 2u);
    EXPECT_EQ(dictionary["k"].stringValue(), "second");

    EXPECT_FALSE(JSON::fromRawValue(Any::other(std::chrono::system_clock::now())).has_value());
    auto null = JSON::fromRawValue(Null{});
    ASSERT_TRUE(null.has_value());
    EXPECT_EQ(null->type(), Type::null);
    EXPECT_EQ(JSON(7).rawValue(), Any(int64_t{7}));
    EXPECT_TRUE(JSON(Any::other(1)).rawValue().isNull());
}

TEST(JSONPrintingTest, ScalarsPrintAsTheirText) {
    struct Row {
        JSON value;
        std::optional<std::string> printed;
    };
    const Row rows[] = {
        {JSON("a"), "a"},  // a text prints without quotes
        {JSON(42), "42"},
        {JSON(1.5), "1.5"},
        {JSON(true), "true"},
        {JSON(false), "false"},
        {JSON::null(), "null"},
        {JSON(Any::other(1)), std::nullopt},
        {JSON(Any(Number::fromDouble(NAN))), std::nullopt},  // "nan" would be no JSON
        {JSON(Any(Number::fromDouble(INFINITY))), std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.value.rawString(), row.printed);
        EXPECT_EQ(row.value.rawString(kOwnPrinter), row.printed);
    }
    EXPECT_EQ(JSON(Any::other(1)).description(), "unknown");
    EXPECT_EQ(JSON("a").description(), "a");
}

TEST(JSONPrintingTest, OwnPrinterWritesCompactValidJSON) {
    struct Row {
        const char* name;
        JSON value;
        std::optional<std::string> printed;
    };
    const Row rows[] = {
        {"mixed array", JSON::arrayLiteral({1, "x"}), R"([1,"x"])"},
        {"quote and backslash", JSON::arrayLiteral({"a\"b\\c"}), R"(["a\"b\\c"])"},
        {"null entry", JSON::dictionaryLiteral({{"k", Null{}}}), R"({"k": null})"},
        {"text entry", JSON::dictionaryLiteral({{"k", "v"}, {"n", 2}}), R"({"k": "v","n": 2})"},
        {"nested", JSON::parseJSON(R"({"a":[true,{"b":null}]})"), R"({"a": [true,{"b": null}]})"},
        // Mended: keys and texts are escaped per RFC 8259, so no key can inject structure.
        {"key with a quote", JSON::dictionaryLiteral({{"a\", \"b", 1}}), R"({"a\", \"b": 1})"},
        {"control characters", JSON::arrayLiteral({"\x01\n\t"}), R"(["\u0001\n\t"])"},
        {"slash stays", JSON::arrayLiteral({"a/b"}), R"(["a/b"])"},
        {"non-finite element", JSON::arrayLiteral({1, NAN}), std::nullopt},
        {"unsupported element", JSON(Any(Array{1, Any::other(2)})), std::nullopt},
        {"invalid UTF-8", JSON::arrayLiteral({"\xff"}), std::nullopt},
        {"nine levels below", nestedArrays(9), "[[[[[[[[[1]]]]]]]]]"},
        {"ten levels below", nestedArrays(10), std::nullopt},
    };
    for (const Row& row : rows) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(row.value.rawString(kOwnPrinter), row.printed) << row.name;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << row.name;
        if (row.printed) {
            EXPECT_TRUE(nlohmann::json::accept(*row.printed)) << row.name;
        }
    }
}

TEST(JSONPrintingTest, DepthBudgetBelowOneWritesTheMessage) {
    WritingOptionsMap options = kOwnPrinter;
    options[writingOptionsKeys::maxObjextDepth] = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(JSON::arrayLiteral({1}).rawString(options).has_value());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Could not serialize object to JSON because: JSON is invalid.\n");

    options[writingOptionsKeys::maxObjextDepth] = std::string("2");  // wrong type: counts as missing
    EXPECT_EQ(nestedArrays(3).rawString(options), "[[[1]]]");
    options[writingOptionsKeys::maxObjextDepth] = 2;
    EXPECT_FALSE(nestedArrays(3).rawString(options).has_value());
}

TEST(JSONPrintingTest, SerialiserFormats) {
    JSON value = JSON::parseJSON(R"({"b": [1, "x/y"], "a": {}, "c": []})");
    EXPECT_EQ(text(value.rawData(WritingOptions())), R"({"a":{},"b":[1,"x\/y"],"c":[]})");
    EXPECT_EQ(text(value.rawData(WritingOptions(WritingOptions::withoutEscapingSlashes))),
              R"({"a":{},"b":[1,"x/y"],"c":[]})");
    EXPECT_EQ(text(value.rawData()),
              "{\n  \"a\" : {},\n  \"b\" : [\n    1,\n    \"x\\/y\"\n  ],\n  \"c\" : []\n}");
    EXPECT_EQ(value.description(), text(value.rawData()));
    EXPECT_EQ(value.rawString(StringEncoding::utf8, WritingOptions(WritingOptions::sortedKeys)),
              R"({"a":{},"b":[1,"x\/y"],"c":[]})");
    EXPECT_FALSE(JSON::arrayLiteral({"é"}).rawString(StringEncoding::ascii, WritingOptions()).has_value());
    EXPECT_EQ(JSON::arrayLiteral({"é"}).rawString(StringEncoding::utf8, WritingOptions()), "[\"é\"]");
}

TEST(JSONPrintingTest, RawDataRefusesWhatIsNoJSON) {
    const JSON refused[] = {JSON("a"),
                            JSON(1),
                            JSON(true),
                            JSON::null(),
                            JSON(Any::other(1)),
                            JSON::arrayLiteral({NAN}),
                            JSON(Any(Array{Any(Data{'['})})),
                            JSON::dictionaryLiteral({{"\xc3", 1}})};
    for (const JSON& value : refused) {
        try {
            (void)value.rawData();
            ADD_FAILURE() << "no error for " << value.description();
        } catch (const JSONValueError& error) {
            EXPECT_EQ(error, JSONValueError::invalidJSON);
        }
        EXPECT_FALSE(JSONSerialization::isValidJSONObject(value.object()));
    }
    // Containers through the serialiser give absent, never a message.
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(JSON::arrayLiteral({NAN}).rawString().has_value());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

// The serialiser appends to the caller's text, growing it many times over for
// a long document, and on refusal leaves that text exactly as it was.
TEST(JSONPrintingTest, SerialiserAppendsAndRestoresOnRefusal) {
    Array items;
    for (int i = 0; i < 5000; ++i) {
        items.push_back(Any("q\"b\\s/c\x01\xc3\xa9 " + std::to_string(i)));
        items.push_back(Any(i % 3 == 0 ? Any(-0.1 * i) : Any(int64_t{i} * 1000003)));
    }
    const JSON value(Any(std::move(items)));
    for (unsigned options : {0u, unsigned{WritingOptions::prettyPrinted}}) {
        std::string out = "prefix";
        JSONSerialization::write(out, value.object(), WritingOptions(options));
        ASSERT_EQ(out.compare(0, 6, "prefix"), 0);
        EXPECT_EQ(JSON::parseJSON(out.substr(6)), value);
        EXPECT_EQ(out.substr(6), text(value.rawData(WritingOptions(options))));
    }
    EXPECT_NE(text(value.rawData(WritingOptions())).find(R"("q\"b\\s\/c\u0001é 0",-0,)"), std::string::npos);

    Array refused = *value.object().array();
    refused.push_back(Any(NAN));
    std::string out = "prefix";
    EXPECT_THROW(JSONSerialization::write(out, Any(std::move(refused))), JSONValueError);
    EXPECT_EQ(out, "prefix");
    EXPECT_FALSE(JSONSerialization::appendQuoted(out, "ok \xff", false));
    EXPECT_EQ(out, "prefix");
    EXPECT_TRUE(JSONSerialization::appendNumber(out, Number::fromDouble(1e21)));
    EXPECT_EQ(out, "prefix1e+21");
}

// Texts are written eight bytes at a time, short ones straight into the
// output's buffer: every character that needs care, at every place within a
// word and before and after its end, in values and keys, is written as
// nlohmann-json writes it ("/" escaped as well when asked), and a text that is
// no UTF-8 refuses the whole document.
TEST(JSONPrintingTest, TextsPrintAsTheOracleAtEveryPlaceOfAWord) {
    auto withEscapedSlashes = [](const std::string& text) {
        std::string escaped;
        for (char c : text) {
            if (c == '/') escaped.push_back('\\');
            escaped.push_back(c);
        }
        return escaped;
    };
    const std::string pieces[] = {
        "\"", "\\", "/", "\b\f\n\r\t", std::string(1, '\0'), "\x01\x1f", "\x7f", "\xc3\xa9",
        "\xe6\x97\xa5\xe6\x9c\xac", "\xf0\x9f\x98\x80", "\xef\xbf\xbf", "a/\"\\\xc3\xa9\x02",
    };
    for (const std::string& piece : pieces) {
        for (size_t before : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 1400, 9000}) {
            for (size_t after : {0, 1, 7, 8, 9}) {
                const std::string text = std::string(before, 'a') + piece + std::string(after, 'b');
                const Any value(Array{Any(text), Any(Dictionary{{text, Any(text)}})});
                const std::string expected = nlohmann::json::array({text, {{text, text}}}).dump();
                std::string out;
                JSONSerialization::write(out, value, WritingOptions(WritingOptions::withoutEscapingSlashes));
                ASSERT_EQ(out, expected) << ::testing::PrintToString(text);
                out.clear();
                JSONSerialization::write(out, value);
                ASSERT_EQ(out, withEscapedSlashes(expected)) << ::testing::PrintToString(text);
            }
        }
    }
    const char* invalid[] = {"\xc3", "\xc3(", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xc0\xaf", "\x80", "\xe6\x97"};
    for (const char* piece : invalid) {
        for (size_t before : {0, 3, 7, 8, 12, 1400}) {
            const std::string text = std::string(before, 'a') + piece + "b";
            for (const Any& value : {Any(Array{Any(text)}), Any(Dictionary{{text, Any(1)}})}) {
                std::string out = "kept";
                EXPECT_THROW(JSONSerialization::write(out, value), JSONValueError)
                    << ::testing::PrintToString(text);
                EXPECT_EQ(out, "kept");
            }
        }
    }
}

TEST(JSONPrintingTest, PrintedDocumentsParseBackEqual) {
    testing::RandomDocuments random(424242);
    for (int i = 0; i < 1500; ++i) {
        nlohmann::json original = random.next();
        if (!original.is_array() && !original.is_object()) continue;
        JSON value = JSON::parseJSON(original.dump());
        for (bool own : {false, true}) {
            WritingOptionsMap options{{writingOptionsKeys::castNilToNSNull, own},
                                      {writingOptionsKeys::maxObjextDepth, 64},
                                      {writingOptionsKeys::jsonSerialization, WritingOptions(i % 2)}};
            auto printed = value.rawString(options);
            ASSERT_TRUE(printed.has_value()) << original.dump();
            nlohmann::json oracle = nlohmann::json::parse(*printed);  // valid JSON for the oracle
            EXPECT_TRUE(testing::sameValue(value.object(), oracle, "$", true)) << *printed;
            EXPECT_EQ(JSON::parseJSON(*printed), value) << *printed;
        }
    }
}

}  // namespace
}  // namespace tervolo::json
