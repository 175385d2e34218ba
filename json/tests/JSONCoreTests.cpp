#include <gtest/gtest.h>

#include <sys/mman.h>

#include <chrono>
#include <cmath>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "json/JSON.hpp"

namespace tervolo::json {
namespace {

TEST(JSONValueErrorTest, RawValuesDescriptionsAndBridging) {
    struct Row {
        JSONValueError::Case value;
        int raw;
        const char* description;
    };
    const Row rows[] = {
        {JSONValueError::unsupportedType, 999, "It is an unsupported type."},
        {JSONValueError::indexOutOfBounds, 900, "Array Index is out of bounds."},
        {JSONValueError::elementTooDeep, 902,
         "Element too deep. Increase maxObjectDepth and make sure there is no reference loop."},
        {JSONValueError::wrongType, 901, "Couldn't merge, because the JSONs differ in type on top level."},
        {JSONValueError::notExist, 500, "Dictionary key does not exist."},
        {JSONValueError::invalidJSON, 490, "JSON is invalid."},
    };
    for (const Row& row : rows) {
        JSONValueError error(row.value);
        EXPECT_EQ(error.rawValue(), row.raw);
        EXPECT_EQ(error.errorCode(), row.raw);
        EXPECT_STREQ(error.what(), row.description);
        EXPECT_EQ(JSONValueError::fromRawValue(row.raw), error);
        EXPECT_EQ(std::hash<JSONValueError>()(error), std::hash<int>()(row.raw));
        auto userInfo = error.errorUserInfo();
        ASSERT_EQ(userInfo.size(), 1u);
        EXPECT_EQ(userInfo.at(NSLocalizedDescriptionKey), row.description);
        platform::Error bridged = error.platformError();
        EXPECT_EQ(bridged.domain, JSONValueError::errorDomain());
        EXPECT_EQ(bridged.code, row.raw);
        EXPECT_EQ(bridged.description, row.description);
    }
    for (int raw : {903, 0, -1, 501, 1000})
        EXPECT_FALSE(JSONValueError::fromRawValue(raw).has_value()) << raw;
    const std::string& domain = JSONValueError::errorDomain();
    EXPECT_EQ(domain.substr(domain.rfind('.') + 1), "JSONValue");
}

TEST(JSONTypeTest, RawValues) {
    const Type kinds[] = {Type::number,     Type::string, Type::boolValue, Type::array,
                          Type::dictionary, Type::null,   Type::unknown};
    for (int raw = 0; raw < 7; ++raw) {
        EXPECT_EQ(typeFromRawValue(raw), kinds[raw]);
        EXPECT_EQ(rawValue(kinds[raw]), raw);
    }
    EXPECT_FALSE(typeFromRawValue(7).has_value());
    EXPECT_FALSE(typeFromRawValue(-1).has_value());
}

TEST(NumberTest, BooleanTestTellsBooleansFromOneAndZero) {
    EXPECT_TRUE(isBooleanNumber(Number::fromBool(true)));
    EXPECT_TRUE(isBooleanNumber(Number::fromBool(false)));
    for (const Number& n :
         {Number::fromInt8(1), Number::fromInt8(0), Number::fromUInt8(1), Number::fromInt64(1),
          Number::fromDouble(1.0), Number::fromDouble(0.0), Number::fromFloat(1.0f)})
        EXPECT_FALSE(isBooleanNumber(n)) << n.objCType();
}

TEST(NumberTest, ConversionsWrapIntegersAndSaturateFloats) {
    EXPECT_EQ(Number::fromInt64(300).charValue(), 44);
    EXPECT_EQ(Number::fromInt64(-1).unsignedCharValue(), 255);
    EXPECT_EQ(Number::fromInt64(-1).unsignedLongLongValue(), UINT64_MAX);
    EXPECT_EQ(Number::fromDouble(1e30).longLongValue(), INT64_MAX);
    EXPECT_EQ(Number::fromDouble(-1e30).intValue(), INT32_MIN);
    EXPECT_EQ(Number::fromDouble(NAN).intValue(), 0);
    EXPECT_EQ(Number::fromDouble(2.9).intValue(), 2);
    EXPECT_EQ(Number::fromDouble(-3.0).unsignedCharValue(), 0);
}

TEST(NumberTest, CompareIsExactAcrossKinds) {
    using O = Number::Order;
    struct Row {
        Number a, b;
        O order;
    };
    const Row rows[] = {
        {Number::fromInt64(1), Number::fromDouble(1.0), O::same},
        {Number::fromInt64(2), Number::fromDouble(2.5), O::ascending},
        {Number::fromInt64(INT64_MAX), Number::fromDouble(9223372036854775807.0), O::ascending},
        {Number::fromUInt64(UINT64_MAX), Number::fromInt64(-1), O::descending},
        {Number::fromInt64(-1), Number::fromUInt8(255), O::ascending},
        {Number::fromUInt64(uint64_t{1} << 63), Number::fromDouble(9223372036854775808.0), O::same},
        {Number::fromDouble(NAN), Number::fromInt64(0), O::ascending},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.a.compare(row.b), row.order) << row.a.stringValue() << " vs " << row.b.stringValue();
        EXPECT_EQ(static_cast<int>(row.b.compare(row.a)), -static_cast<int>(row.order));
    }
}

TEST(NumberTest, StringValueIsShortestRoundTrip) {
    EXPECT_EQ(Number::fromDouble(3.0).stringValue(), "3");
    EXPECT_EQ(Number::fromDouble(1.5).stringValue(), "1.5");
    EXPECT_EQ(Number::fromDouble(0.1).stringValue(), "0.1");
    EXPECT_EQ(Number::fromDouble(1e20).stringValue(), "1e+20");
    EXPECT_EQ(Number::fromDouble(1e-7).stringValue(), "1e-07");
    EXPECT_EQ(Number::fromFloat(1.1f).stringValue(), "1.1");
    EXPECT_EQ(Number::fromUInt64(UINT64_MAX).stringValue(), "18446744073709551615");
    EXPECT_EQ(Number::fromInt64(-42).stringValue(), "-42");
}

TEST(JSONTest, ObjectSetterClassifies) {
    struct Row {
        const char* name;
        Any object;
        Type type;
        bool unsupported;
    };
    const Row rows[] = {
        {"null marker", Any(), Type::null, false},
        {"true", Any(true), Type::boolValue, false},
        {"integer 1", Any(int64_t{1}), Type::number, false},
        {"8-bit integer 1", Any(Number::fromInt8(1)), Type::number, false},
        {"double 0", Any(0.0), Type::number, false},
        {"text", Any("x"), Type::string, false},
        {"array", Any(Array{1, "a"}), Type::array, false},
        {"dictionary", Any(Dictionary{{"k", 1}}), Type::dictionary, false},
        {"bytes are not parsed by the setter", Any(Data{'[', ']'}), Type::unknown, true},
        {"other object", Any::other(std::chrono::system_clock::now()), Type::unknown, true},
    };
    for (const Row& row : rows) {
        JSON value = JSON::null();
        value.setObject(row.object);
        EXPECT_EQ(value.type(), row.type) << row.name;
        EXPECT_EQ(value.error().has_value(), row.unsupported) << row.name;
        if (row.unsupported) {
            EXPECT_EQ(value.error(), JSONValueError::unsupportedType);
            EXPECT_TRUE(value.object().isNull()) << row.name;
            value.setObject(Any("later"));
            EXPECT_EQ(value.type(), Type::string);
            EXPECT_FALSE(value.error().has_value());
        } else {
            EXPECT_EQ(value.object(), row.object) << row.name;
        }
    }
}

TEST(JSONTest, NestedJSONValuesAreStoredAsPlainObjects) {
    JSON text("plain");
    JSON inner = JSON::arrayLiteral({JSON(2)});
    JSON value(Any(Array{Any(text), Any(Dictionary{{"k", Any(inner)}})}));
    ASSERT_EQ(value.type(), Type::array);
    const Array& items = *value.object().array();
    EXPECT_EQ(items[0].kind(), Any::Kind::string);
    EXPECT_EQ(*items[0].string(), "plain");
    const Any& k = items[1].dictionary()->at("k");
    ASSERT_EQ(k.kind(), Any::Kind::array);
    EXPECT_EQ(k.array()->at(0).kind(), Any::Kind::number);
}

TEST(AnyTest, ListsCopyMoveAndGrowApartFromTheParsedOnes) {
    // A parsed array keeps its items in its node's block; lists taken from it
    // must hold their own items.
    const JSON parsed = JSON::parseJSON(R"([1, "two", [3], {"four": 4}])");
    const Array& stored = *parsed.object().array();
    Array copy = stored;
    copy.push_back("five");
    Array moved = Array(stored);
    Array movedAgain = std::move(moved);
    movedAgain.pop_back();
    Array grown;
    for (int i = 0; i < 100; ++i) grown.emplace_back(i);
    grown.push_back(grown[0]);  // an item of the list itself, while it grows
    Array assigned;
    assigned = stored;
    assigned = std::move(grown);

    EXPECT_EQ(parsed, JSON::parseJSON(R"([1, "two", [3], {"four": 4}])"));
    EXPECT_EQ(stored.size(), 4u);
    ASSERT_EQ(copy.size(), 5u);
    EXPECT_EQ(*copy[4].string(), "five");
    EXPECT_EQ(Array(copy.begin(), copy.begin() + 4), stored);
    EXPECT_EQ(movedAgain.size(), 3u);
    EXPECT_EQ(*movedAgain[1].string(), "two");
    ASSERT_EQ(assigned.size(), 101u);
    EXPECT_EQ(assigned.back(), Any(0));
    EXPECT_EQ(assigned[99], Any(99));
    EXPECT_THROW((void)stored.at(4), std::out_of_range);

    // A write into the parsed array copies it; the copy grows on its own.
    JSON changed = parsed;
    changed.set(2, JSON("three"));
    EXPECT_EQ(parsed[2], JSON::parseJSON("[3]"));
    EXPECT_EQ(changed[2], JSON("three"));
    JSON merged = changed;
    merged.merge(JSON::parseJSON("[5]"));
    EXPECT_EQ(merged.count(), 5u);
    EXPECT_EQ(changed.count(), 4u);
}

// A parsed document's nodes share memory blocks that live while any node in
// them does: parts kept after the document, changed, or let go on another
// thread; values a later duplicate key replaced and the partial tree of a
// failed parse go at once (the sanitizer build catches a read after release
// and a leaked block).
TEST(JSONParserTest, PartsOfADocumentOutliveItAnywhere) {
    std::string text = "[";
    for (int i = 0; i < 20000; ++i)
        text += (i ? "," : "") + std::string(R"({"k":"a long enough text )") + std::to_string(i) +
                R"(","k":[)" + std::to_string(i) + R"(,"x"],"n":{"m":[]}})";
    text += "]";

    std::vector<JSON> kept;
    {
        const JSON document(JSONSerialization::jsonObject(text));
        ASSERT_EQ(document.count(), 20000u);
        for (int i = 0; i < 20000; i += 997) kept.push_back(document[i]);
    }
    JSON changed = kept[1];
    changed.set({"k", 1}, JSON("y"));
    changed.set("new", JSON(1));
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t)
        threads.emplace_back([part = std::move(kept[t])]() mutable {
            const JSON dropped = std::move(part);
            EXPECT_EQ(dropped["k"].count(), 2u);
        });
    for (auto& thread : threads) thread.join();
    for (size_t i = 4; i < kept.size(); ++i) {
        const int n = static_cast<int>(i) * 997;
        EXPECT_EQ(kept[i], JSON::parseJSON(R"({"k":[)" + std::to_string(n) + R"(,"x"],"n":{"m":[]}})"));
        EXPECT_EQ(kept[i]["k"][0].intValue(), n);
    }
    EXPECT_EQ(changed, JSON::parseJSON(R"({"k":[997,"y"],"n":{"m":[]},"new":1})"));
    kept.clear();
    EXPECT_EQ(changed["k"][1], JSON("y"));

    // Refused far into the text, after many nodes were made.
    std::string broken = text;
    broken[broken.size() - 3] = ',';
    EXPECT_THROW(JSONSerialization::jsonObject(broken), JSONParseError);
    // Nodes are made from the heap again once a parse is over, refused or not.
    JSON made(Any(Array{Any("after"), Any(Dictionary{{"k", 1}})}));
    EXPECT_EQ(made, JSON::parseJSON(R"(["after",{"k":1}])"));
}

// Dictionaries keep their keys in byte order (code-point order of UTF-8)
// however long the common start of two keys is, and find them by any text.
TEST(AnyTest, DictionaryKeysAreInByteOrder) {
    const std::string keys[] = {"", "a", "ab", "b", "abcdefg", "abcdefgh", "abcdefgh1", "abcdefgh2", "abcdefgi",
                                "abcdefghijklmnop", "abcdefghijklmnoq", "abcdefghijklmnopq", "Z", "\x7f",
                                "\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x98\x80", "138586341", "138586351",
                                "13858634", std::string("a\0b", 3), std::string("a\0", 2)};
    Dictionary entries;
    for (const std::string& key : keys) entries.emplace(key, Any(key));
    const std::set<std::string> expected(std::begin(keys), std::end(keys));
    ASSERT_EQ(entries.size(), expected.size());
    auto ordered = expected.begin();
    for (const auto& [key, value] : entries) {
        EXPECT_EQ(key, *ordered++);
        EXPECT_EQ(*value.string(), key);
    }
    EXPECT_NE(entries.find(std::string_view("abcdefgh1")), entries.end());
    EXPECT_NE(entries.find("\xc3\xa9"), entries.end());
    EXPECT_EQ(entries.find("abcdefgh3"), entries.end());
    const JSON parsed = JSON::parseJSON(R"({"b":1,"abcdefgh2":2,"\u00e9":3,"abcdefgh1":4,"a":5})");
    EXPECT_EQ(parsed.rawString(StringEncoding::utf8, WritingOptions()),
              "{\"a\":5,\"abcdefgh1\":4,\"abcdefgh2\":2,\"b\":1,\"\xc3\xa9\":3}");
}

TEST(JSONTest, ValuesMovedFromAreNullAndUsable) {
    for (const char* text : {R"([1, 2])", R"({"k": "v"})", R"("text")"}) {
        JSON source = JSON::parseJSON(text);
        JSON target = std::move(source);
        EXPECT_EQ(target, JSON::parseJSON(text)) << text;
        EXPECT_EQ(source.type(), Type::null) << text;
        EXPECT_EQ(source.count(), 0u) << text;
        EXPECT_EQ(source.begin(), source.end()) << text;
        EXPECT_EQ(source.rawString(), "null") << text;
        source = std::move(target);
        EXPECT_EQ(source, JSON::parseJSON(text)) << text;
    }
}

TEST(JSONTest, InitialisersParseBytesAndText) {
    JSON null = JSON::null();
    EXPECT_EQ(null.type(), Type::null);
    EXPECT_FALSE(null.error().has_value());
    EXPECT_TRUE(null.object().isNull());
    EXPECT_EQ(JSON::nullJSON().type(), Type::null);

    JSON parsed = JSON::parseJSON("[1, 2]");
    ASSERT_EQ(parsed.type(), Type::array);
    EXPECT_EQ(parsed.object().array()->size(), 2u);

    for (const char* bad : {"not json", "[1,", "", "\xff"}) {
        JSON value = JSON::parseJSON(bad);
        EXPECT_EQ(value.type(), Type::null) << bad;
        EXPECT_FALSE(value.error().has_value()) << bad;
    }

    Data bytes{'{', '"', 'a', '"', ':', '1', '}'};
    EXPECT_EQ(JSON(Any(bytes)).type(), Type::dictionary);  // the general initialiser parses bytes
    EXPECT_EQ(JSON(Any(Data{'x'})).type(), Type::null);
    EXPECT_FALSE(JSON(Any(Data{'x'})).error().has_value());

    EXPECT_EQ(JSON(bytes, ReadingOptions()).type(), Type::dictionary);
    try {
        JSON(Data{'[', '1', ' ', '2', ']'}, ReadingOptions());
        FAIL() << "no parse error";
    } catch (const JSONParseError& error) {
        EXPECT_EQ(error.offset(), 3u);
    }
}

TEST(JSONParserTest, DeepNestingFailsCleanlyAtTheDepthLimit) {
    const size_t limit = JSONSerialization::maxDepth;
    auto nested = [](size_t depth, char open, char close) {
        return std::string(depth, open) + std::string(depth, close);
    };
    EXPECT_NO_THROW(JSONSerialization::jsonObject(nested(limit, '[', ']')));
    EXPECT_THROW(JSONSerialization::jsonObject(nested(limit + 1, '[', ']')), JSONParseError);
    // Far beyond the limit, and unterminated: refused without touching the end of the stack.
    EXPECT_THROW(JSONSerialization::jsonObject(std::string(1'000'000, '[')), JSONParseError);
    std::string objects;
    for (int i = 0; i < 100'000; ++i) objects += "{\"a\":";
    EXPECT_THROW(JSONSerialization::jsonObject(objects), JSONParseError);
    EXPECT_EQ(JSON::parseJSON(std::string(100'000, '[')).type(), Type::null);
}

TEST(JSONParserTest, InputAboveTheSizeCapIsRefusedUnread) {
    // An inaccessible region one byte larger than the cap: reading any of it
    // would crash, so passing shows the cap is checked before any byte is read.
    size_t size = JSONSerialization::maxInputSize + 1;
    void* region = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    try {
        JSONSerialization::jsonObject(std::string_view(static_cast<const char*>(region), size));
        ADD_FAILURE() << "accepted";
    } catch (const JSONParseError& error) {
        EXPECT_EQ(error.reason(), "Input too large");
        EXPECT_EQ(error.offset(), 0u);
    }
    munmap(region, size);
}

}  // namespace
}  // namespace tervolo::json
