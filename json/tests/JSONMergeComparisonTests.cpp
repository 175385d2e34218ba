#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "json/JSON.hpp"

namespace tervolo::json {
namespace {

WritingOptionsMap kOwn() {
    return {{writingOptionsKeys::castNilToNSNull, true}};
}

TEST(JSONMergeTest, MergesObjectsJoinsArraysReplacesTheRest) {
    struct Row {
        const char* receiver;
        const char* other;
        const char* expected;
    };
    const Row rows[] = {
        {R"({"a":1,"b":{"c":2}})", R"({"b":{"d":3},"e":4})", R"({"a":1,"b":{"c":2,"d":3},"e":4})"},
        {R"({"a":[1]})", R"({"a":[2,3]})", R"({"a":[1,2,3]})"},
        {R"({"a":1})", R"({"a":"x"})", R"({"a":"x"})"},
        {R"({"a":{"x":1}})", R"({"a":5})", R"({"a":5})"},
        {R"({"a":{"b":{"c":[1],"d":1}}})", R"({"a":{"b":{"c":[2],"e":null}}})",
         R"({"a":{"b":{"c":[1,2],"d":1,"e":null}}})"},
        {"[1,2]", "[2]", "[1,2,2]"},
        {"1", "2", "2"},
        {R"("a")", R"("b")", R"("b")"},
        {R"({"k":1})", "{}", R"({"k":1})"},
        {"{}", R"({"k":null})", R"({"k":null})"},
    };
    for (const Row& row : rows) {
        JSON receiver = JSON::parseJSON(row.receiver);
        JSON merged = receiver.merged(JSON::parseJSON(row.other));
        EXPECT_EQ(merged, JSON::parseJSON(row.expected))
            << row.receiver << " + " << row.other << " = " << merged.rawString(kOwn()).value_or("-");
        EXPECT_EQ(receiver, JSON::parseJSON(row.receiver));  // merged() leaves the receiver alone
        receiver.merge(JSON::parseJSON(row.other));
        EXPECT_EQ(receiver, JSON::parseJSON(row.expected));
    }
}

TEST(JSONMergeTest, TopLevelKindsMustAgree) {
    JSON object = JSON::parseJSON(R"({"a":1})");
    for (JSON other : {JSON::parseJSON("[1]"), JSON(1), JSON::null()}) {
        try {
            object.merge(other);
            ADD_FAILURE() << "merged";
        } catch (const JSONValueError& error) {
            EXPECT_EQ(error, JSONValueError::wrongType);
        }
        EXPECT_EQ(object, JSON::parseJSON(R"({"a":1})"));
        EXPECT_THROW((void)object.merged(other), JSONValueError);
    }
    JSON failedNull = JSON::parseJSON("{}")["missing"];
    JSON null = JSON::null();
    null.merge(failedNull);  // a copy of the other, its error included
    EXPECT_EQ(null.error(), JSONValueError::notExist);
}

TEST(JSONMergeTest, ElementsPassThroughJSONValues) {
    std::string bytes = "[7]";
    JSON receiver(Any(Array{Any(Data(bytes.begin(), bytes.end())), Any::other(1)}));
    receiver.merge(JSON::arrayLiteral({Any(Data{'?'})}));
    EXPECT_EQ(receiver, JSON::parseJSON("[[7],null,null]"));
    JSON dictionary = JSON::parseJSON(R"({"a":1})");
    dictionary.merge(JSON(Any(Dictionary{{"b", Any::other(1)}})));
    EXPECT_EQ(dictionary, JSON::parseJSON(R"({"a":1,"b":null})"));
    JSON self = JSON::parseJSON(R"({"a":[1],"b":{"c":[2]}})");
    self.merge(self);
    EXPECT_EQ(self, JSON::parseJSON(R"({"a":[1,1],"b":{"c":[2,2]}})"));
}

struct Comparison {
    bool eq, lt, le, gt, ge;
};

Comparison compare(const JSON& a, const JSON& b) {
    return {a == b, a<b, a <= b, a> b, a >= b};
}

void expectComparison(const JSON& a, const JSON& b, Comparison expected, const std::string& name) {
    Comparison c = compare(a, b);
    EXPECT_EQ(c.eq, expected.eq) << name << " ==";
    EXPECT_EQ(c.lt, expected.lt) << name << " <";
    EXPECT_EQ(c.le, expected.le) << name << " <=";
    EXPECT_EQ(c.gt, expected.gt) << name << " >";
    EXPECT_EQ(c.ge, expected.ge) << name << " >=";
    EXPECT_EQ(!(a == b), a != b) << name;
}

TEST(JSONComparisonTest, OperatorTable) {
    const Comparison none{false, false, false, false, false};
    const Comparison equal{true, false, true, false, true};
    const Comparison less{false, true, true, false, false};
    const Comparison greater{false, false, false, true, true};
    const Comparison unequal{false, false, false, false, false};
    JSON unknown(Any::other(1));
    struct Row {
        const char* name;
        JSON a, b;
        Comparison expected;
    };
    const Row rows[] = {
        {"unknown with itself", unknown, unknown, none},
        {"null and null", JSON::null(), JSON::null(), equal},
        {"true and 1", JSON(true), JSON(1), none},
        {"1 and \"1\"", JSON(1), JSON("1"), none},
        {"false and true", JSON(false), JSON(true), unequal},
        {"true and true", JSON(true), JSON(true), equal},
        {"1 and 1.0", JSON(1), JSON(1.0), equal},
        {"2 and 2.5", JSON(2), JSON(2.5), less},
        {"3 and 3", JSON(3), JSON(3), equal},
        {"INT64_MAX and 2^63 as a double", JSON(INT64_MAX), JSON(9223372036854775808.0), less},
        {"UINT64_MAX and -1", JSON(UINT64_MAX), JSON(-1), greater},
        {"equal texts", JSON("abc"), JSON("abc"), equal},
        {"ordered texts", JSON("abc"), JSON("abd"), less},
        {"precomposed and decomposed", JSON("\xC3\xA9"), JSON("e\xCC\x81"), equal},
        {"code points, not UTF-16", JSON("\xEF\xBD\x9E"), JSON("\xF0\x9F\x98\x80"), less},
        {"NFC order", JSON("e\xCC\x81"), JSON("f"), greater},
        {"[1] and [1.0]", JSON::parseJSON("[1]"), JSON::parseJSON("[1.0]"), equal},
        {"[1,2] and [2,1]", JSON::parseJSON("[1,2]"), JSON::parseJSON("[2,1]"), unequal},
        {"[1] and [2]", JSON::parseJSON("[1]"), JSON::parseJSON("[2]"), unequal},
        {"[true] and [1]", JSON::parseJSON("[true]"), JSON::parseJSON("[1]"), unequal},
        {"dictionaries by keys", JSON::parseJSON(R"({"a":1,"b":[2]})"),
         JSON::parseJSON(R"({"b":[2.0],"a":1})"), equal},
        {"dictionaries differ", JSON::parseJSON(R"({"a":1})"), JSON::parseJSON(R"({"a":2})"), unequal},
    };
    for (const Row& row : rows) expectComparison(row.a, row.b, row.expected, row.name);
    // Inside containers texts compare by their bytes, without normalisation.
    expectComparison(JSON::arrayLiteral({"\xC3\xA9"}), JSON::arrayLiteral({"e\xCC\x81"}), unequal,
                     "nested texts");
}

TEST(JSONComparisonTest, ErrorPlaysNoPart) {
    JSON failed = JSON::parseJSON("{}")["missing"];
    EXPECT_TRUE(failed == JSON::null());
    JSON text("shared");
    JSON copy = text;
    EXPECT_TRUE(copy == text);
    EXPECT_TRUE(copy <= text);
    EXPECT_FALSE(copy < text);
}

// ---- encoders and decoders --------------------------------------------------------

// Records what JSON::encode writes, as a tree with the written C++ type of each leaf.
class RecordingEncoder : public Encoder {
  public:
    struct Node {
        std::string written;  // "nil", "bool", "int64", "uint64", "double", "string", "sequence", "map"
        std::string text;
        std::vector<Node> children;
        std::vector<std::string> keys;
    };
    explicit RecordingEncoder(Node& node, bool failOnDouble = false)
        : node_(node), failOnDouble_(failOnDouble) {}

    std::unique_ptr<SingleValueEncodingContainer> singleValueContainer() override {
        return std::make_unique<Container>(node_, failOnDouble_);
    }

  private:
    struct Container : SingleValueEncodingContainer {
        Container(Node& node, bool failOnDouble) : node(node), failOnDouble(failOnDouble) {}
        void put(const char* written, std::string text) {
            node.written = written;
            node.text = std::move(text);
        }
        void encodeNil() override { put("nil", ""); }
        void encode(bool v) override { put("bool", v ? "true" : "false"); }
        void encode(int8_t v) override { put("int8", std::to_string(v)); }
        void encode(int32_t v) override { put("int32", std::to_string(v)); }
        void encode(int64_t v) override { put("int64", std::to_string(v)); }
        void encode(uint8_t v) override { put("uint8", std::to_string(v)); }
        void encode(uint16_t v) override { put("uint16", std::to_string(v)); }
        void encode(uint32_t v) override { put("uint32", std::to_string(v)); }
        void encode(uint64_t v) override { put("uint64", std::to_string(v)); }
        void encode(double v) override {
            if (failOnDouble) throw std::runtime_error("no doubles here");
            put("double", Number::fromDouble(v).stringValue());
        }
        void encode(const std::string& v) override { put("string", v); }
        void encode(const std::vector<JSON>& values) override {
            put("sequence", "");
            for (const JSON& value : values) {
                node.children.emplace_back();
                RecordingEncoder child(node.children.back(), failOnDouble);
                value.encode(child);
            }
        }
        void encode(const std::map<std::string, JSON>& values) override {
            put("map", "");
            for (const auto& [key, value] : values) {
                node.keys.push_back(key);
                node.children.emplace_back();
                RecordingEncoder child(node.children.back(), failOnDouble);
                value.encode(child);
            }
        }
        Node& node;
        bool failOnDouble;
    };
    Node& node_;
    bool failOnDouble_;
};

RecordingEncoder::Node encoded(const JSON& value) {
    RecordingEncoder::Node node;
    RecordingEncoder encoder(node);
    value.encode(encoder);
    return node;
}

TEST(JSONCodingTest, EncodingTable) {
    struct Row {
        const char* name;
        JSON value;
        const char* written;
        const char* text;
    };
    const Row rows[] = {
        {"null", JSON::null(), "nil", ""},
        {"unknown", JSON(Any::other(1)), "nil", ""},
        {"3.0 as an integer", JSON(3.0), "int64", "3"},
        {"-0.0 loses its sign", JSON(-0.0), "int64", "0"},
        {"2.5", JSON(2.5), "double", "2.5"},
        {"2^63", JSON(9223372036854775808.0), "uint64", "9223372036854775808"},
        {"UINT64_MAX", JSON(UINT64_MAX), "uint64", "18446744073709551615"},
        {"-5", JSON(-5), "int64", "-5"},
        {"8-bit 7", JSON(Any(Number::fromUInt8(7))), "int64", "7"},
        {"1e300", JSON(1e300), "double", "1e+300"},
        {"bool", JSON(true), "bool", "true"},
        {"text", JSON("t"), "string", "t"},
        {"empty array", JSON::parseJSON("[]"), "sequence", ""},
        {"empty dictionary", JSON::parseJSON("{}"), "map", ""},
    };
    for (const Row& row : rows) {
        auto node = encoded(row.value);
        EXPECT_EQ(node.written, row.written) << row.name;
        EXPECT_EQ(node.text, row.text) << row.name;
    }
    auto node = encoded(JSON(Any(Array{Any(Dictionary{{"k", 1}}), Any::other(2)})));
    ASSERT_EQ(node.children.size(), 2u);
    EXPECT_EQ(node.children[0].written, "map");
    EXPECT_EQ(node.children[0].keys, std::vector<std::string>{"k"});
    EXPECT_EQ(node.children[0].children[0].written, "int64");
    EXPECT_EQ(node.children[1].written, "nil");  // an unsupported element becomes unknown, written as nil
}

TEST(JSONCodingTest, EncoderErrorsReachTheCaller) {
    RecordingEncoder::Node node;
    RecordingEncoder encoder(node, true);
    EXPECT_THROW(JSON::arrayLiteral({1, 2.5}).encode(encoder), std::runtime_error);
}

// A decoder over an nlohmann value. Strict: integer types only for exact
// integers in range, booleans only for true and false. Lenient: booleans for
// the numbers 0 and 1 too.
class FakeDecoder : public Decoder {
  public:
    FakeDecoder(nlohmann::json value, bool lenientBooleans = false, bool noContainer = false)
        : value_(std::move(value)), lenient_(lenientBooleans), noContainer_(noContainer) {}

    std::unique_ptr<SingleValueDecodingContainer> singleValueContainer() override {
        if (noContainer_) throw std::runtime_error("no single value");
        return std::make_unique<Container>(value_, lenient_);
    }

  private:
    struct Container : SingleValueDecodingContainer {
        Container(const nlohmann::json& v, bool lenient) : v(v), lenient(lenient) {}
        [[noreturn]] static void refuse() { throw std::runtime_error("type mismatch"); }
        template <typename T>
        void integer(T& out) {
            if (!v.is_number_integer()) refuse();
            if (v.is_number_unsigned()) {
                uint64_t u = v.get<uint64_t>();
                if (u > static_cast<uint64_t>(std::numeric_limits<T>::max())) refuse();
                out = static_cast<T>(u);
            } else {
                int64_t i = v.get<int64_t>();
                if (i < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
                    (i > 0 &&
                     static_cast<uint64_t>(i) > static_cast<uint64_t>(std::numeric_limits<T>::max())))
                    refuse();
                out = static_cast<T>(i);
            }
        }
        bool decodeNil() override { return v.is_null(); }
        void decode(bool& out) override {
            if (v.is_boolean())
                out = v.get<bool>();
            else if (lenient && v.is_number_integer() && (v == 0 || v == 1))
                out = v == 1;
            else
                refuse();
        }
        void decode(int8_t& out) override { integer(out); }
        void decode(int32_t& out) override { integer(out); }
        void decode(int64_t& out) override { integer(out); }
        void decode(uint8_t& out) override { integer(out); }
        void decode(uint16_t& out) override { integer(out); }
        void decode(uint32_t& out) override { integer(out); }
        void decode(uint64_t& out) override { integer(out); }
        void decode(double& out) override {
            if (!v.is_number()) refuse();
            out = v.get<double>();
        }
        void decode(std::string& out) override {
            if (!v.is_string()) refuse();
            out = v.get<std::string>();
        }
        void decode(std::vector<JSON>& out) override {
            if (!v.is_array()) refuse();
            for (const auto& element : v) {
                FakeDecoder child(element, lenient);
                out.emplace_back(child);
            }
        }
        void decode(std::map<std::string, JSON>& out) override {
            if (!v.is_object()) refuse();
            for (const auto& [key, element] : v.items()) {
                FakeDecoder child(element, lenient);
                out.emplace(key, JSON(child));
            }
        }
        const nlohmann::json& v;
        bool lenient;
    };
    nlohmann::json value_;
    bool lenient_, noContainer_;
};

TEST(JSONCodingTest, DecodingTableNeverThrows) {
    struct Row {
        const char* name;
        nlohmann::json stored;
        bool lenient;
        JSON expected;
        const char* objCType;  // of a decoded number
    };
    const Row rows[] = {
        {"null", nullptr, false, JSON::null(), nullptr},
        {"3.5", 3.5, false, JSON(3.5), "d"},
        {"unsigned beyond signed", UINT64_MAX, false, JSON(UINT64_MAX), "Q"},
        {"-5", -5, false, JSON(-5), "q"},
        {"true", true, false, JSON(true), nullptr},
        {"1 strictly", 1, false, JSON(1), "q"},
        {"1 leniently", 1, true, JSON(true), nullptr},
        {"0 leniently", 0, true, JSON(false), nullptr},
        {"text", "s", false, JSON("s"), nullptr},
        {"sequence", nlohmann::json::array({"s", 1}), false, JSON::arrayLiteral({"s", 1}), nullptr},
        {"map", nlohmann::json::object({{"k", {1.5, nullptr}}}), false,
         JSON::parseJSON(R"({"k":[1.5,null]})"), nullptr},
        {"bytes are refused by every type", nlohmann::json::binary({1, 2}), false, JSON::null(), nullptr},
    };
    for (const Row& row : rows) {
        FakeDecoder decoder(row.stored, row.lenient);
        JSON decoded(decoder);
        EXPECT_EQ(decoded.type(), row.expected.type()) << row.name;
        EXPECT_EQ(decoded, row.expected) << row.name;
        EXPECT_FALSE(decoded.error().has_value()) << row.name;
        if (row.objCType) {
            EXPECT_STREQ(decoded.number()->objCType(), row.objCType) << row.name;
        }
    }
    FakeDecoder noContainer(1, false, true);
    JSON decoded(noContainer);
    EXPECT_EQ(decoded.type(), Type::null);
    EXPECT_FALSE(decoded.error().has_value());
}

}  // namespace
}  // namespace tervolo::json
