#include <cmath>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"

using namespace platform;
using Category = DecodingError::Category;

namespace {

struct Place {
    double lat = 0;
    double lon = 0;
    static constexpr const char* codingTypeName = "Place";
    static Place decode(const KeyedDecodingContainer& c) {
        return {c.decode<double>("lat"), c.decode<double>("lon")};
    }
    void encode(KeyedEncodingContainer& c) const {
        c.encode("lat", lat);
        c.encode("lon", lon);
    }
    bool operator==(const Place&) const = default;
};

// A record with one field of every kind the backend records use.
struct Sample {
    std::string name;
    int64_t zoom = 0;
    uint64_t count = 0;
    int32_t small = 0;
    bool flag = false;
    Date modified;
    std::vector<std::string> tags;
    Place place;
    std::optional<std::string> source;
    std::optional<int64_t> rank;

    static constexpr const char* codingTypeName = "Sample";
    static Sample decode(const KeyedDecodingContainer& c) {
        Sample s;
        s.name = c.decode<std::string>("name");
        s.zoom = c.decode<int64_t>("zoom");
        s.count = c.decode<uint64_t>("count");
        s.small = c.decode<int32_t>("small");
        s.flag = c.decode<bool>("flag");
        s.modified = c.decode<Date>("modified");
        s.tags = c.decode<std::vector<std::string>>("tags");
        s.place = c.decode<Place>("place");
        s.source = c.decodeIfPresent<std::string>("source");
        s.rank = c.decodeIfPresent<int64_t>("rank");
        return s;
    }
    void encode(KeyedEncodingContainer& c) const {
        c.encode("name", name);
        c.encode("zoom", zoom);
        c.encode("count", count);
        c.encode("small", small);
        c.encode("flag", flag);
        c.encode("modified", modified);
        c.encode("tags", tags);
        c.encode("place", place);
        c.encodeIfPresent("source", source);
        c.encodeIfPresent("rank", rank);
    }
    bool operator==(const Sample&) const = default;
};

// A valid document with one member replaced (or removed when `value` is empty).
std::string sampleWith(const std::string& key, const std::string& value) {
    nlohmann::ordered_json doc = nlohmann::ordered_json::parse(R"({
        "name": "Berlin", "zoom": 12, "count": 3, "small": 7, "flag": true, "modified": 700000000.5,
        "tags": ["a", "b"], "place": {"lat": 52.5, "lon": 13.4}, "source": "osm", "rank": 1, "extra": [1, {"x": 2}]
    })");
    if (!key.empty()) {
        if (value.empty()) {
            doc.erase(key);
        } else {
            doc[key] = nlohmann::ordered_json::parse(value);
        }
    }
    return doc.dump();
}

}  // namespace

TEST(JSONDecoder, AcceptsExactTypesOptionalsAndIntegralNumbers) {
    Sample s = JSONDecoder().decode<Sample>(sampleWith("", ""));
    EXPECT_EQ(s.name, "Berlin");
    EXPECT_EQ(s.zoom, 12);
    EXPECT_EQ(s.count, 3u);
    EXPECT_TRUE(s.flag);
    EXPECT_EQ(s.modified.secondsSince2001, 700000000.5);
    EXPECT_EQ(s.tags, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(s.place, (Place{52.5, 13.4}));
    EXPECT_EQ(s.source, "osm");

    struct Case {
        const char* key;
        const char* value;
        std::function<bool(const Sample&)> check;
    };
    const Case cases[] = {
        {"source", "", [](const Sample& s) { return !s.source; }},
        {"source", "null", [](const Sample& s) { return !s.source; }},
        {"rank", "null", [](const Sample& s) { return !s.rank; }},
        {"zoom", "12.0", [](const Sample& s) { return s.zoom == 12; }},
        {"zoom", "1.2e1", [](const Sample& s) { return s.zoom == 12; }},
        {"zoom", "-0", [](const Sample& s) { return s.zoom == 0; }},
        {"zoom", "-9223372036854775808", [](const Sample& s) { return s.zoom == INT64_MIN; }},
        {"zoom", "9223372036854775807", [](const Sample& s) { return s.zoom == INT64_MAX; }},
        {"count", "18446744073709551615", [](const Sample& s) { return s.count == UINT64_MAX; }},
        {"small", "-2147483648", [](const Sample& s) { return s.small == INT32_MIN; }},
        {"modified", "0", [](const Sample& s) { return s.modified.secondsSince2001 == 0; }},
        {"tags", "[]", [](const Sample& s) { return s.tags.empty(); }},
        {"place", R"({"lat": 1, "lon": -2, "alt": "ignored"})",
         [](const Sample& s) {
             return s.place == Place{1, -2};
         }},
    };
    for (const auto& c : cases) {
        std::string text = sampleWith(c.key, c.value);
        try {
            EXPECT_TRUE(c.check(JSONDecoder().decode<Sample>(text))) << text;
        } catch (const DecodingError& error) {
            ADD_FAILURE() << text << "\n" << error.diagnostic();
        }
    }
}

TEST(JSONDecoder, RefusalsCarryCategorySubjectAndCodingPath) {
    struct Case {
        const char* key;
        const char* value;  // empty: key removed
        Category category;
        const char* subject;
        std::vector<std::string> path;
    };
    const Case cases[] = {
        {"name", "", Category::keyNotFound, "name", {}},
        {"name", "null", Category::valueNotFound, "String", {"name"}},
        {"name", "5", Category::typeMismatch, "String", {"name"}},
        {"name", "[\"x\"]", Category::typeMismatch, "String", {"name"}},
        {"zoom", "\"12\"", Category::typeMismatch, "Int", {"zoom"}},
        {"zoom", "true", Category::typeMismatch, "Int", {"zoom"}},
        {"zoom", "12.5", Category::dataCorrupted, "", {"zoom"}},
        {"zoom", "9223372036854775808", Category::dataCorrupted, "", {"zoom"}},
        {"zoom", "1e19", Category::dataCorrupted, "", {"zoom"}},
        {"count", "-1", Category::dataCorrupted, "", {"count"}},
        {"count", "18446744073709551616", Category::dataCorrupted, "", {"count"}},
        {"small", "2147483648", Category::dataCorrupted, "", {"small"}},
        {"flag", "1", Category::typeMismatch, "Bool", {"flag"}},
        {"flag", "\"true\"", Category::typeMismatch, "Bool", {"flag"}},
        {"modified", "\"2024-01-01\"", Category::typeMismatch, "Date", {"modified"}},
        {"tags", "[\"a\", 1]", Category::typeMismatch, "String", {"tags", "Index 1"}},
        {"tags", "[\"a\", null]", Category::valueNotFound, "String", {"tags", "Index 1"}},
        {"tags", "{}", Category::typeMismatch, "Array<String>", {"tags"}},
        {"place", "{\"lat\": 1}", Category::keyNotFound, "lon", {"place"}},
        {"place", "{\"lat\": \"52.5\", \"lon\": 1}", Category::typeMismatch, "Double", {"place", "lat"}},
        {"place", "[]", Category::typeMismatch, "Place", {"place"}},
        {"source",
         "5",
         Category::typeMismatch,
         "String",
         {"source"}},  // optional, but present with a wrong type
        {"rank", "0.5", Category::dataCorrupted, "", {"rank"}},
    };
    for (const auto& c : cases) {
        std::string text = sampleWith(c.key, c.value);
        try {
            JSONDecoder().decode<Sample>(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.category(), c.category) << text << "\n" << error.diagnostic();
            EXPECT_EQ(error.typeName(), c.subject) << text;
            EXPECT_EQ(error.codingPath(), c.path) << text;
            EXPECT_FALSE(error.debugDescription().empty());
        }
    }
}

TEST(JSONDecoder, DocumentLevelFailuresAreDataCorrupted) {
    JSONDecoder decoder;
    decoder.maximumDepth = 16;
    std::string deep = std::string(20, '[') + std::string(20, ']');
    std::string big(100, ' ');
    struct Case {
        std::string text;
        Category category;
    };
    const Case cases[] = {
        {"", Category::dataCorrupted},
        {"{", Category::dataCorrupted},
        {"{\"name\": NaN}", Category::dataCorrupted},
        {"{\"place\": {\"lat\": 1e400, \"lon\": 0}}", Category::dataCorrupted},
        {deep, Category::dataCorrupted},
        {"[]", Category::typeMismatch},
        {"\"text\"", Category::typeMismatch},
        {"null", Category::valueNotFound},
    };
    for (const auto& c : cases) {
        try {
            decoder.decode<Sample>(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.category(), c.category) << c.text << "\n" << error.diagnostic();
            EXPECT_TRUE(error.codingPath().empty()) << c.text;
        }
    }
    decoder.maximumBytes = 50;
    EXPECT_THROW(decoder.decode<nlohmann::json>(big), DecodingError);
    EXPECT_EQ(JSONDecoder().decode<std::vector<int64_t>>("[1, 2.0]"), (std::vector<int64_t>{1, 2}));
}

TEST(JSONDecoder, DiagnosticTextHasTheFixedShape) {
    auto diagnosticOf = [](const std::string& key, const std::string& value) {
        try {
            JSONDecoder().decode<Sample>(sampleWith(key, value));
        } catch (const DecodingError& error) {
            return error.diagnostic();
        }
        return std::string("accepted");
    };
    EXPECT_EQ(diagnosticOf("name", ""),
              "Key 'name' not found: No value associated with key \"name\".\ncodingPath: []\n");
    EXPECT_EQ(diagnosticOf("place", R"({"lat": "1", "lon": 2})"),
              "Type 'Double' mismatch: Expected to decode Double but found a string instead.\n"
              "codingPath: [\"place\", \"lat\"]\n");
    EXPECT_EQ(diagnosticOf("tags", R"([null])"),
              "Value 'String' not found: Expected String value but found null instead.\n"
              "codingPath: [\"tags\", \"Index 0\"]\n");
    EXPECT_EQ(diagnosticOf("zoom", "3.5"),
              "Context(codingPath: [\"zoom\"], debugDescription: \"Parsed JSON number <3.5> does not fit in "
              "Int.\")\n");
}

TEST(JSONEncoder, WritesFieldOrderDatesAndOmitsAbsentOptionals) {
    Sample s;
    s.name = "Zürich \"quoted\"";
    s.zoom = -3;
    s.count = UINT64_MAX;
    s.small = 1;
    s.flag = false;
    s.modified = Date{700000000.25};
    s.tags = {"x"};
    s.place = {47.5, 8.5};
    s.rank = 4;
    std::string text = JSONEncoder().encodeToString(s);
    EXPECT_EQ(
        text,
        "{\"name\":\"Zürich \\\"quoted\\\"\",\"zoom\":-3,\"count\":18446744073709551615,\"small\":1,"
        "\"flag\":false,\"modified\":700000000.25,\"tags\":[\"x\"],\"place\":{\"lat\":47.5,\"lon\":8.5},"
        "\"rank\":4}");
    EXPECT_EQ(JSONDecoder().decode<Sample>(text), s);

    struct Case {
        Sample sample;
        std::vector<std::string> path;
    };
    Sample nanPlace = s;
    nanPlace.place.lat = std::nan("");
    Sample infiniteDate = s;
    infiniteDate.modified = Date{std::numeric_limits<double>::infinity()};
    for (const auto& c : {Case{nanPlace, {"place", "lat"}}, Case{infiniteDate, {"modified"}}}) {
        try {
            JSONEncoder().encodeToString(c.sample);
            ADD_FAILURE() << "encoded a non-finite number";
        } catch (const EncodingError& error) {
            EXPECT_EQ(error.codingPath(), c.path);
        }
    }
    std::vector<double> values{1, -std::numeric_limits<double>::infinity()};
    try {
        JSONEncoder().encodeToString(values);
        ADD_FAILURE() << "encoded infinity";
    } catch (const EncodingError& error) {
        EXPECT_EQ(error.codingPath(), (std::vector<std::string>{"Index 1"}));
    }
}
