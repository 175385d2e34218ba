#include <gtest/gtest.h>

#include <iterator>
#include <ranges>
#include <string>
#include <vector>

#include "json/JSON.hpp"

namespace tervolo::json {
namespace {

static_assert(std::forward_iterator<JSON::Iterator>);
static_assert(std::ranges::forward_range<JSON>);

JSON parse(const char* text) {
    JSON value = JSON::parseJSON(text);
    EXPECT_NE(value.type(), Type::null) << text;
    return value;
}

std::string text(const JSON& value) {
    std::string out;
    JSONSerialization::write(out, value.object(), WritingOptions(WritingOptions::fragmentsAllowed));
    return out;
}

// ---- positions --------------------------------------------------------------------

TEST(JSONIndexTest, ArrayPositions) {
    JSON value = parse("[10, 20]");
    EXPECT_EQ(value.startIndex(), Index::array(0));
    EXPECT_EQ(value.endIndex(), Index::array(2));
    EXPECT_EQ(value.index(Index::array(1)), value.endIndex());
    EXPECT_EQ(value.index(Index::array(7)), Index::array(8));  // not checked against the length
    EXPECT_EQ(parse("[]").startIndex(), parse("[]").endIndex());
}

TEST(JSONIndexTest, ValuesWithoutMembersHaveOnlyTheNullPosition) {
    for (const JSON& value : {JSON("text"), JSON(1), JSON(true), JSON::null(), JSON(Any::other(1))}) {
        EXPECT_EQ(value.startIndex(), Index::null());
        EXPECT_EQ(value.endIndex(), Index::null());
        EXPECT_TRUE(value.isEmpty());
        EXPECT_EQ(value.count(), 0u);
        EXPECT_EQ(value.begin(), value.end());
    }
}

TEST(JSONIndexTest, OrderAndDerivedComparisons) {
    struct Row {
        Index a, b;
        bool eq, lt, le, gt, ge;
    };
    const Row rows[] = {
        {Index::array(3), Index::array(5), false, true, true, false, false},
        {Index::array(5), Index::array(3), false, false, false, true, true},
        {Index::null(), Index::null(), true, false, true, false, true},
        {Index::array(0), Index::null(), false, false, true, false, true},  // different cases
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.a == r.b, r.eq);
        EXPECT_EQ(r.a < r.b, r.lt);
        EXPECT_EQ(r.a <= r.b, r.le);
        EXPECT_EQ(r.a > r.b, r.gt);
        EXPECT_EQ(r.a >= r.b, r.ge);
    }
    JSON dictionary = parse(R"({"a": 1, "b": 2})");
    Index first = dictionary.startIndex(), second = dictionary.index(first), end = dictionary.endIndex();
    EXPECT_TRUE(first < second);
    EXPECT_TRUE(second < end);
    EXPECT_FALSE(end < second);
    EXPECT_EQ(dictionary.index(second), end);
    JSON one = parse(R"({"k": 1})");
    EXPECT_EQ(one.index(one.startIndex()), one.endIndex());
    JSON empty = parse("{}");
    EXPECT_EQ(empty.startIndex(), empty.endIndex());
    EXPECT_TRUE(empty.isEmpty());
}

// ---- collection ------------------------------------------------------------------

TEST(JSONCollectionTest, IteratesKeyedElements) {
    JSON array = JSON::arrayLiteral({10, "a"});
    std::vector<std::pair<std::string, JSON>> elements(array.begin(), array.end());
    ASSERT_EQ(elements.size(), 2u);
    EXPECT_EQ(elements[0].first, "0");
    EXPECT_EQ(elements[0].second, JSON(10));
    EXPECT_EQ(elements[1].first, "1");
    EXPECT_EQ(elements[1].second, JSON("a"));

    std::vector<std::string> keys;
    for (const auto& [key, value] : parse(R"({"b": 2, "a": 1, "c": 3})"))
        keys.push_back(key + value.stringValue());
    EXPECT_EQ(keys, (std::vector<std::string>{"a1", "b2", "c3"}));

    auto [key, value] = JSON(1)[Index::null()];
    EXPECT_EQ(key, "");
    EXPECT_EQ(value.type(), Type::null);
    EXPECT_FALSE(value.error().has_value());
}

TEST(JSONCollectionTest, IteratorsOutliveAndIgnoreChangesToTheirValue) {
    // An iterator shares the container it walks: the value may change or go
    // away meanwhile, and the elements read are those of the walked container.
    auto value = std::make_unique<JSON>(parse(R"({"a": [1, 2], "b": "text"})"));
    JSON::Iterator it = value->begin();
    const JSON::Iterator end = value->end();
    value->set("c", JSON(3));  // copy on write: the walked container stays as it was
    value.reset();
    std::vector<std::string> keys;
    for (; it != end; ++it) keys.push_back((*it).first);
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "b"}));

    auto array = std::make_unique<JSON>(JSON::arrayLiteral({"x", 7}));
    JSON::Iterator second = std::next(array->begin());
    array.reset();
    EXPECT_EQ((*second).second, JSON(7));

    // Every copy, move and assignment of an iterator keeps its own container,
    // and an iterator assigned over lets go of the one it had, whatever its kind.
    auto dictionary = std::make_unique<JSON>(parse(R"({"x": 1, "y": 2})"));
    JSON::Iterator first = dictionary->begin();
    JSON::Iterator copied = first;
    JSON::Iterator assigned;
    assigned = copied;
    JSON::Iterator moved = std::move(copied);
    dictionary.reset();
    ++assigned;
    EXPECT_EQ((*first).first, "x");
    EXPECT_EQ((*assigned).first, "y");
    EXPECT_EQ((*moved).second, JSON(1));
    first = JSON::arrayLiteral({"a", 5}).begin();
    ++first;
    EXPECT_EQ((*first).second, JSON(5));
    moved = first;
    first = JSON::Iterator();
    EXPECT_EQ((*moved).first, "1");
    EXPECT_EQ((*assigned).second, JSON(2));
}

TEST(JSONCollectionTest, ElementsChangedOrKeptStandOnTheirOwn) {
    // An element handed out while walking refers into the walked container;
    // changing it, or keeping a copy past the walk, must not reach back.
    JSON value = parse(R"({"list": [1, {"n": 2}], "name": "walked", "nested": {"k": "v"}})");
    const JSON before = value;
    std::vector<JSON> kept;
    std::vector<JSON::Element> keptElements;
    {
        JSON walked = value;
        for (auto [key, element] : walked) {
            kept.push_back(element);
            keptElements.push_back(JSON::Element{key, element});
            element.set("n", JSON(9));           // dictionaries get the key added
            element.set(0, JSON("changed"));     // arrays change in place
            element.setStringValue("replaced");  // any kind is replaced
            EXPECT_EQ(element.stringValue(), "replaced");
        }
        EXPECT_EQ(walked, before);
        walked.setIntValue(0);  // the walked container goes away with the last value holding it
    }
    value = JSON::null();
    EXPECT_EQ(before["list"].count(), 2u);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0], parse(R"([1, {"n": 2}])"));
    EXPECT_EQ(kept[1], JSON("walked"));
    EXPECT_EQ(kept[2], parse(R"({"k": "v"})"));
    ASSERT_EQ(keptElements.size(), 3u);
    EXPECT_EQ(keptElements[2].first, "nested");
    EXPECT_EQ(keptElements[2].second["k"].stringValue(), "v");

    // Walking an element's value while the outer walk holds the container.
    std::vector<std::string> inner;
    for (const auto& [key, element] : before)
        for (const auto& [innerKey, innerElement] : element)
            inner.push_back(innerKey + innerElement.stringValue());
    EXPECT_EQ(inner, (std::vector<std::string>{"01", "1", "kv"}));
}

// An element handed out by a walk is moved from like any value: whatever its
// kind, what is left is the null value, and the walked container keeps its own.
TEST(JSONCollectionTest, ElementsMovedFromAreNull) {
    const JSON value = parse(R"([5, -2.5, null, true, "text", [1], {"k": 2}])");
    const JSON before = value;
    size_t walked = 0;
    for (auto [key, element] : value) {
        const JSON expected = element;
        JSON target = std::move(element);
        EXPECT_EQ(target.type(), expected.type()) << key.text();
        EXPECT_EQ(target.rawString(), expected.rawString()) << key.text();
        EXPECT_EQ(element.type(), Type::null) << key.text();
        EXPECT_TRUE(element.exists()) << key.text();
        EXPECT_TRUE(element.object().isNull()) << key.text();
        EXPECT_EQ(element.rawString(), "null") << key.text();
        // Usable again: assigned, and moved from by assignment.
        element = std::move(target);
        EXPECT_EQ(element.rawString(), expected.rawString()) << key.text();
        EXPECT_EQ(target.type(), Type::null) << key.text();
        ++walked;
    }
    EXPECT_EQ(walked, 7u);
    EXPECT_EQ(value, before);
    EXPECT_EQ(value[0].intValue(), 5);
}

TEST(JSONCollectionTest, ArrayKeysAreTheirPositionsAsText) {
    JSON array = parse(R"([10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21])");
    int64_t expected = 0;
    for (const auto& [key, element] : array) {
        EXPECT_TRUE(key.isArrayOffset());
        EXPECT_EQ(key.arrayOffset(), expected);
        EXPECT_EQ(key, std::to_string(expected));
        EXPECT_EQ(element.intValue(), 10 + expected);
        ++expected;
    }
    EXPECT_EQ(expected, 12);
    for (const auto& [key, element] : parse(R"({"12": 1})")) {
        EXPECT_FALSE(key.isArrayOffset());
        EXPECT_EQ(key.arrayOffset(), -1);
        EXPECT_EQ(key, "12");
        EXPECT_EQ("key " + key, "key 12");
    }

    // Copies keep the case and text of the key they copy, whether an array
    // position's text was made before the copy or not.
    std::vector<JSON::ElementKey> keys;
    for (const auto& [key, element] : parse(R"([5, 6])")) {
        if (key.arrayOffset() == 1) (void)key.text();
        keys.push_back(key);
    }
    for (const auto& [key, element] : parse(R"({"a": 1})")) keys.push_back(key);
    keys.emplace_back(std::string("own"));
    const JSON::ElementKey assigned = keys[3];
    keys.push_back(assigned);
    const std::vector<std::pair<int64_t, std::string>> expectedKeys{
        {0, "0"}, {1, "1"}, {-1, "a"}, {-1, "own"}, {-1, "own"}};
    ASSERT_EQ(keys.size(), expectedKeys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].isArrayOffset(), expectedKeys[i].first >= 0) << i;
        EXPECT_EQ(keys[i].arrayOffset(), expectedKeys[i].first) << i;
        EXPECT_EQ(keys[i].text(), expectedKeys[i].second) << i;
    }
    const std::pair<std::string, JSON> pair = *std::next(array.begin(), 11);
    EXPECT_EQ(pair.first, "11");
    EXPECT_EQ(pair.second, JSON(21));
}

TEST(JSONCollectionTest, BytesElementsAreParsedWhenRead) {
    std::string object = R"({"k": [1]})";
    JSON value(Any(Array{Any(Data(object.begin(), object.end())), Any(Data{'n', 'o'})}));
    EXPECT_EQ(value[Index::array(0)].second.type(), Type::dictionary);
    EXPECT_EQ(value[Index::array(1)].second.type(), Type::null);
    EXPECT_FALSE(value[Index::array(1)].second.error().has_value());

    // Walking hands out the same values as reading by position: bytes parsed,
    // an unsupported object refused, and a boolean told from the number 1.
    JSON mixed(Any(Array{Any(Data(object.begin(), object.end())), Any(Data{'n', 'o'}),
                         Any::other(std::string("date")), Any(true), Any(1), Any("t"), Any()}));
    std::vector<Type> walked;
    std::vector<bool> errors;
    for (const auto& [key, element] : mixed) {
        walked.push_back(element.type());
        errors.push_back(element.error().has_value());
    }
    EXPECT_EQ(walked, (std::vector<Type>{Type::dictionary, Type::null, Type::unknown, Type::boolValue,
                                         Type::number, Type::string, Type::null}));
    EXPECT_EQ(errors, (std::vector<bool>{false, false, true, false, false, false, false}));
    EXPECT_EQ((*mixed.begin()).second["k"][0].intValue(), 1);
}

TEST(JSONCollectionTest, OffsetsDistancesAndSlices) {
    JSON value = parse("[1, 2, 3]");
    Index start = value.startIndex(), end = value.endIndex();
    EXPECT_FALSE(value.index(start, 3, start).has_value());
    EXPECT_EQ(value.index(start, 3, end), end);
    EXPECT_EQ(value.index(start, 0, start), start);
    EXPECT_EQ(value.index(start, 2), Index::array(2));
    EXPECT_EQ(value.distance(start, end), 3);
    EXPECT_EQ(value.count(), 3u);
    EXPECT_EQ(value.underestimatedCount(), 3u);
    EXPECT_EQ(value.indices().size(), 3u);

    JSON dictionary = parse(R"({"a": 1, "b": 2, "c": 3})");
    Index dStart = dictionary.startIndex();
    EXPECT_EQ(dictionary.distance(dStart, dictionary.endIndex()), 3);
    EXPECT_EQ(dictionary[dictionary.index(dStart, 2)].first, "c");
    EXPECT_FALSE(dictionary.index(dStart, 4, dictionary.endIndex()).has_value());
    auto slice = dictionary[{dictionary.index(dStart), dictionary.endIndex()}];
    std::vector<std::string> keys;
    for (const auto& [key, v] : slice) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(slice.count(), 2u);
}

// ---- subscripts ----------------------------------------------------------------------

TEST(JSONSubscriptTest, FailedReadsCarryTheirError) {
    struct Row {
        const char* document;
        std::vector<JSONSubscriptType> path;
        std::optional<JSONValueError> error;
    };
    const Row rows[] = {
        {"{}", {"a"}, JSONValueError::notExist},
        {"{}", {"a", "b"}, JSONValueError::notExist},  // the first failure is passed on
        {"{}", {"a", 0}, JSONValueError::notExist},
        {"[1]", {"a"}, JSONValueError::wrongType},
        {"{\"a\":1}", {0}, JSONValueError::wrongType},
        {"[1,2,3]", {3}, JSONValueError::indexOutOfBounds},
        {"[1,2,3]", {-1}, JSONValueError::indexOutOfBounds},
        {"[1,2,3]", {3, "x"}, JSONValueError::indexOutOfBounds},
        {"\"text\"", {"a"}, JSONValueError::wrongType},
        {"{\"a\":[{\"id\":7}]}", {"a", 0, "id"}, std::nullopt},
    };
    for (const Row& row : rows) {
        JSON result = JSON::parseJSON(row.document)[row.path];
        EXPECT_EQ(result.error(), row.error) << row.document;
        EXPECT_EQ(result.exists(), !row.error.has_value());
        if (row.error) {
            EXPECT_EQ(result.type(), Type::null) << row.document;
        }
    }
}

TEST(JSONSubscriptTest, EmptyPathAndVariadicForms) {
    JSON failed = parse("{}")["a"];
    EXPECT_EQ(failed[std::vector<JSONSubscriptType>{}].error(), JSONValueError::notExist);
    JSON value = parse(R"({"list": [0, 1, {"id": "x"}]})");
    std::vector<JSONSubscriptType> path{"list", 2, "id"};
    JSON variadic = value[{"list", 2, "id"}];
    EXPECT_EQ(variadic, value[path]);
    EXPECT_EQ(value["list"][2]["id"].stringValue(), "x");
    value.set({"list", 2, "id"}, JSON("y"));
    EXPECT_EQ(value[path].stringValue(), "y");
}

TEST(JSONSubscriptTest, WritesChangeOnlyWhatExists) {
    struct Row {
        const char* name;
        const char* document;
        std::vector<JSONSubscriptType> path;
        JSON newValue;
        const char* expected;
    };
    const Row rows[] = {
        {"new key of an empty dictionary", "{}", {"new"}, JSON(5), R"({"new":5})"},
        {"replace a key", R"({"a":1})", {"a"}, JSON("x"), R"({"a":"x"})"},
        {"array never grows", "[1,2,3]", {3}, JSON(9), "[1,2,3]"},
        {"negative position", "[1,2,3]", {-1}, JSON(9), "[1,2,3]"},
        {"replace an element", "[1,2,3]", {1}, JSON(9), "[1,9,3]"},
        {"missing intermediate key", "{}", {"a", "b"}, JSON(1), "{}"},
        {"existing intermediate dictionary", R"({"a":{}})", {"a", "b"}, JSON(1), R"({"a":{"b":1}})"},
        {"key into an array", "[1]", {"a"}, JSON(1), "[1]"},
        {"index into a dictionary", R"({"a":1})", {0}, JSON(1), R"({"a":1})"},
        {"into a scalar member", R"({"a":1})", {"a", "b"}, JSON(2), R"({"a":1})"},
        {"unknown stores null", R"({"k":1})", {"k"}, JSON(Any::other(1)), R"({"k":null})"},
        {"failed read stores null", "[1]", {0}, parse("{}")["missing"], "[null]"},
        {"deep path",
         R"({"a":[{"b":[0,{"c":1}]}]})",
         {"a", 0, "b", 1, "c"},
         JSON(true),
         R"({"a":[{"b":[0,{"c":true}]}]})"},
        {"empty path", "[1]", {}, JSON(2), "[1]"},
    };
    for (const Row& row : rows) {
        JSON value = parse(row.document);
        value.set(row.path, row.newValue);
        EXPECT_EQ(value, parse(row.expected)) << row.name << ": " << text(value);
    }
}

TEST(JSONSubscriptTest, WritesThroughBytesAndUnsupportedElements) {
    std::string object = R"({"k": 1})";
    JSON value(Any(Array{Any(Data(object.begin(), object.end())), Any(Data{'x'}), Any::other(3)}));
    value.set({0, "n"}, JSON(2));  // parsed on the way, then changed
    value.set({1, "n"}, JSON(2));  // unreadable bytes: the element becomes null
    value.set({2, "n"}, JSON(2));  // an unsupported element refuses the write
    EXPECT_EQ(value[0], parse(R"({"k": 1, "n": 2})"));
    EXPECT_EQ(value[1].type(), Type::null);
    EXPECT_EQ(value.object().array()->at(1).kind(), Any::Kind::null);
    EXPECT_EQ(value.object().array()->at(2).kind(), Any::Kind::other);
}

TEST(JSONSubscriptTest, ModifyReadsChangesAndWritesBack) {
    JSON value = parse(R"({"a": {"n": 1}})");
    value.modify({"a", "n"}, [](JSON& n) { n.setIntValue(n.intValue() + 1); });
    EXPECT_EQ((value[{"a", "n"}].intValue()), 2);
    value.modify({"missing", "n"}, [](JSON& n) { n = JSON(5); });
    EXPECT_EQ(value, parse(R"({"a": {"n": 2}})"));
}

TEST(JSONSubscriptTest, CopiesDoNotSeeWrites) {
    JSON a = parse(R"({"k": [1, 2]})");
    JSON b = a;
    b.set({"k", 0}, JSON(9));
    EXPECT_EQ((a[{"k", 0}].intValue()), 1);
    EXPECT_EQ((b[{"k", 0}].intValue()), 9);
    Any held = b.object();
    b.set({"k", 1}, JSON(8));
    EXPECT_EQ(held.dictionary()->at("k").array()->at(1), Any(int64_t{2}));
    // Parsed empty containers share one node; a write copies it first.
    JSON empties = parse(R"({"a": {}, "b": {}, "c": []})");
    empties.set({"a", "x"}, JSON(1));
    empties.set({"c", 0}, JSON(1));
    EXPECT_EQ(empties, parse(R"({"a": {"x": 1}, "b": {}, "c": []})"));
    EXPECT_TRUE(parse("{}").isEmpty());
    JSON element = b["k"];
    b.set({"k", 0}, JSON(7));
    EXPECT_EQ(element[0].intValue(), 9);
}

TEST(JSONSubscriptTest, WritingAValueIntoItselfStoresItAsItWas) {
    struct Row {
        const char* name;
        const char* document;
        std::vector<JSONSubscriptType> path;
        const char* expected;
    };
    const Row rows[] = {
        {"new key", R"({"a": 1})", {"self"}, R"({"a": 1, "self": {"a": 1}})"},
        {"existing key", R"({"a": 1})", {"a"}, R"({"a": {"a": 1}})"},
        {"array position", R"([1, 2])", {1}, R"([1, [1, 2]])"},
        {"nested", R"({"a": {"b": 1}})", {"a", "b"}, R"({"a": {"b": {"a": {"b": 1}}}})"},
    };
    for (const Row& row : rows) {
        JSON value = parse(row.document);
        value.set(row.path, value);
        EXPECT_EQ(value, parse(row.expected)) << row.name;
        EXPECT_EQ(text(value), text(parse(row.expected))) << row.name;
    }
}

// ---- typed accessors ------------------------------------------------------------------

TEST(JSONAccessorTest, CoercionsOfTexts) {
    struct Row {
        const char* text;
        bool boolValue;
        int64_t intValue;
    };
    const Row rows[] = {
        {"YES", true, 0},     {"t", true, 0},      {"1", true, 1},    {"True", true, 0},
        {"y", true, 0},       {"no", false, 0},    {"0", false, 0},   {"2", false, 2},
        {"", false, 0},       {" true", false, 0}, {"42", false, 42}, {"abc", false, 0},
        {"12abc", false, 12}, {" -7", false, -7},  {"3.9", false, 3}, {"1e3", false, 1000},
        {"-", false, 0},      {".5", false, 0},
    };
    for (const Row& row : rows) {
        JSON value(row.text);
        EXPECT_EQ(value.boolValue(), row.boolValue) << row.text;
        EXPECT_EQ(value.intValue(), row.intValue) << row.text;
        EXPECT_EQ(value.stringValue(), row.text);
        EXPECT_EQ(value.string(), row.text);
        EXPECT_FALSE(value.optBool().has_value());
        EXPECT_FALSE(value.optInt().has_value());
        EXPECT_FALSE(value.number().has_value());
    }
    EXPECT_DOUBLE_EQ(JSON(".5").doubleValue(), 0.5);
    EXPECT_EQ(JSON("18446744073709551615").uInt64Value(), UINT64_MAX);
    EXPECT_EQ(JSON("abc").numberValue().compare(Number::fromInt64(0)), Number::Order::same);
}

TEST(JSONAccessorTest, CoercionsOfNumbersBooleansAndOthers) {
    EXPECT_FALSE(JSON(0).boolValue());
    EXPECT_TRUE(JSON(5).boolValue());
    EXPECT_TRUE(JSON(0.5).boolValue());
    EXPECT_EQ(JSON(3).stringValue(), "3");
    EXPECT_EQ(JSON(1.5).stringValue(), "1.5");
    EXPECT_FALSE(JSON(3).string().has_value());
    EXPECT_FALSE(JSON(3).optBool().has_value());
    EXPECT_EQ(JSON(3).optInt(), 3);

    JSON yes(true), no(false);
    EXPECT_EQ(yes.stringValue(), "true");
    EXPECT_EQ(yes.intValue(), 1);
    EXPECT_EQ(yes.optInt(), 1);
    EXPECT_EQ(yes.optDouble(), 1.0);
    ASSERT_TRUE(no.number().has_value());
    EXPECT_EQ(no.number()->kind(), Number::Kind::int64);  // an integer, not a boolean number
    EXPECT_EQ(no.number()->longLongValue(), 0);

    for (const JSON& value : {JSON::null(), parse(R"({"a":1})"), parse("[1]"), JSON(Any::other(1))}) {
        EXPECT_FALSE(value.boolValue());
        EXPECT_EQ(value.stringValue(), "");
        EXPECT_EQ(value.intValue(), 0);
        EXPECT_FALSE(value.optInt().has_value());
        EXPECT_FALSE(value.number().has_value());
        Number zero = value.numberValue();
        EXPECT_EQ(zero.kind(), Number::Kind::float64);
        EXPECT_EQ(zero.doubleValue(), 0.0);
    }
    EXPECT_TRUE(JSON::null().optNull().has_value());
    EXPECT_FALSE(JSON(0).optNull().has_value());
}

TEST(JSONAccessorTest, NumericWidthsConvertAsNumbersDo) {
    EXPECT_EQ(JSON(300).int8Value(), 44);
    EXPECT_EQ(JSON(-1).uInt8Value(), 255);
    EXPECT_EQ(JSON(-1).uInt16Value(), 65535);
    EXPECT_EQ(JSON(70000).int16Value(), 4464);
    EXPECT_EQ(JSON(-1).uInt32Value(), UINT32_MAX);
    EXPECT_EQ(JSON(int64_t{1} << 40).int32Value(), 0);
    EXPECT_EQ(JSON(-1).uIntValue(), UINT64_MAX);
    EXPECT_EQ(JSON(2.75).int64Value(), 2);
    EXPECT_FLOAT_EQ(JSON(0.1).floatValue(), 0.1f);
    EXPECT_EQ(JSON(300).int8(), 44);
    EXPECT_FALSE(JSON("300").int8().has_value());
    EXPECT_EQ(JSON("300").int16Value(), 300);
    EXPECT_EQ(JSON(true).uInt8(), 1);

    JSON value = JSON::null();
    value.setInt8Value(-5);
    EXPECT_EQ(value.number()->kind(), Number::Kind::int64);  // widened to the platform word
    value.setUInt8Value(200);
    EXPECT_STREQ(value.number()->objCType(), "C");
    value.setOptFloat(1.5f);
    EXPECT_STREQ(value.number()->objCType(), "f");
    value.setUInt64(std::nullopt);
    EXPECT_EQ(value.type(), Type::null);
}

TEST(JSONAccessorTest, URLsArePercentEncodedUnlessAlreadyEscaped) {
    struct Row {
        const char* text;
        std::optional<std::string> url;
    };
    const Row rows[] = {
        {"a b", "a%20b"},
        {"https://example.org/a b?q=ü", "https://example.org/a%20b?q=%C3%BC"},
        {"a%20b", "a%20b"},
        {"a%20b c", std::nullopt},  // escaped already, so used as is, and a blank is no URL
        {"100%", "100%25"},
        {"", std::nullopt},
    };
    for (const Row& row : rows) {
        auto url = JSON(row.text).url();
        EXPECT_EQ(url.has_value(), row.url.has_value()) << row.text;
        if (url && row.url) {
            EXPECT_EQ(url->absoluteString(), *row.url);
        }
    }
    EXPECT_FALSE(JSON(3).url().has_value());
    JSON value(1);
    value.setURL(URL::fromString("https://example.org/"));
    EXPECT_EQ(value.string(), "https://example.org/");
    value.setURL(std::nullopt);
    EXPECT_EQ(value.type(), Type::null);
}

TEST(JSONAccessorTest, SettersReplaceTheWholeValue) {
    JSON value = parse("[1, 2]");
    value.setStringValue("now text");
    EXPECT_EQ(value.type(), Type::string);
    EXPECT_FALSE(value.error().has_value());

    JSON failed = parse("{}")["missing"];
    EXPECT_FALSE(failed.exists());
    failed.setOptInt(std::nullopt);
    EXPECT_EQ(failed.type(), Type::null);
    EXPECT_TRUE(failed.exists());
    EXPECT_TRUE(JSON::null().exists());

    JSON anything(7);
    anything.setOptNull();
    EXPECT_EQ(anything.type(), Type::null);
    anything.setOptBool(true);
    EXPECT_EQ(anything.type(), Type::boolValue);
    anything.setNumber(Number::fromBool(true));  // a boolean number classifies as a boolean
    EXPECT_EQ(anything.type(), Type::boolValue);
    anything.setArrayObject(Array{1});
    EXPECT_EQ(anything.arrayObject()->size(), 1u);
    anything.setDictionaryObject(std::nullopt);
    EXPECT_EQ(anything.type(), Type::null);
}

TEST(JSONAccessorTest, ContainerAccessorsWrapEveryElement) {
    std::string text = "[7]";
    JSON value(Any(Array{1, "a", Any(Data(text.begin(), text.end())), Any(Data{'?'})}));
    auto elements = value.arrayValue();
    ASSERT_EQ(elements.size(), 4u);
    EXPECT_EQ(elements[2], parse("[7]"));
    EXPECT_EQ(elements[3].type(), Type::null);
    EXPECT_FALSE(value.dictionary().has_value());
    EXPECT_TRUE(value.dictionaryValue().empty());
    EXPECT_EQ(value.arrayObject()->at(2).kind(), Any::Kind::data);  // stored as is

    JSON dictionary = parse(R"({"a": 1, "b": [2]})");
    auto entries = dictionary.dictionaryValue();
    EXPECT_EQ(entries.at("b"), parse("[2]"));
    EXPECT_FALSE(dictionary.array().has_value());
    EXPECT_TRUE(JSON(1).arrayValue().empty());
}

}  // namespace
}  // namespace tervolo::json
