#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "backend/ShorturlCoding.hpp"

namespace tervolo::backend {
namespace {

nlohmann::json completeRecord() {
    return {{"id", 9},
            {"device_id", 42},
            {"device_hw_details", "x86_64"},
            {"ios_version", "12"},
            {"app_version", "1.2.3"},
            {"shorturl", "https://s.example/AbCdEfGh"},
            {"title", "Harbour"},
            {"longitude", "13.4"},
            {"latitude", "52.5"},
            {"maptype", "s"},
            {"zoom", 16},
            {"timestamp", "700000000"},
            {"created", "2023-03-06 12:00:00"},
            {"modified", "2023-03-06 12:00:00"}};
}

std::optional<points::Shorturl> decoded(const nlohmann::json& json) {
    const std::string text = json.dump();
    try {
        return decodeShorturl({text.begin(), text.end()});
    } catch (const platform::DecodingError&) {
        return std::nullopt;
    }
}

TEST(ShorturlDecodingTest, RequiredKeysExactTypesOptionalDataSources) {
    struct Case {
        const char* name;
        std::function<void(nlohmann::json&)> change;
        bool decodes;
    };
    const Case cases[] = {
        {"complete, no data sources", [](nlohmann::json&) {}, true},
        {"data sources null", [](nlohmann::json& j) { j["dataSourceName"] = nullptr; }, true},
        {"unknown key", [](nlohmann::json& j) { j["colour"] = "red"; }, true},
        {"zoom 3.0 is an exact integer", [](nlohmann::json& j) { j["zoom"] = 3.0; }, true},
        {"missing modified", [](nlohmann::json& j) { j.erase("modified"); }, false},
        {"missing id", [](nlohmann::json& j) { j.erase("id"); }, false},
        {"latitude as number", [](nlohmann::json& j) { j["latitude"] = 52.5; }, false},
        {"zoom as text", [](nlohmann::json& j) { j["zoom"] = "3"; }, false},
        {"zoom with a fraction", [](nlohmann::json& j) { j["zoom"] = 3.5; }, false},
        {"title null", [](nlohmann::json& j) { j["title"] = nullptr; }, false},
        {"data source as number", [](nlohmann::json& j) { j["dataSourceURL"] = 1; }, false},
        {"device id beyond 64 bits", [](nlohmann::json& j) { j["device_id"] = 1e19; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto json = completeRecord();
        c.change(json);
        EXPECT_EQ(decoded(json).has_value(), c.decodes);
    }
    const auto record = decoded(completeRecord());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->title, "Harbour");
    EXPECT_EQ(record->zoom, 16);
    EXPECT_FALSE(record->dataSourceName || record->dataSourceUniqueID || record->dataSourceURL ||
                 record->dataSourceImageURL);
}

TEST(ShorturlDecodingTest, CoordinateFromTheTwoTexts) {
    struct Case {
        const char* latitude;
        const char* longitude;
        bool valid;
    };
    const Case cases[] = {
        {"52.5", "13.4", true}, {"-90", "180", true},  {"52,5", "13.4", false}, {" 52.5", "13.4", false},
        {"52.5 ", "13.4", false}, {"", "13.4", false}, {"nan", "13.4", false},  {"inf", "13.4", false},
        {"100", "13.4", false}, {"52.5", "181", false}, {"0x1p4", "13.4", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.latitude) + " / " + c.longitude);
        auto json = completeRecord();
        json["latitude"] = c.latitude;
        json["longitude"] = c.longitude;
        const auto record = decoded(json);
        ASSERT_TRUE(record);  // the texts never make the record itself fail
        EXPECT_EQ(record->coordinate().has_value(), c.valid);
    }
    const auto coordinate = decoded(completeRecord())->coordinate();
    EXPECT_DOUBLE_EQ(coordinate->latitude, 52.5);
    EXPECT_DOUBLE_EQ(coordinate->longitude, 13.4);
}

TEST(ShorturlDecodingTest, EncodingWritesDataSourcesOnlyWhenSet) {
    auto record = *decoded(completeRecord());
    auto json = nlohmann::json::parse(encodeShorturl(record));
    EXPECT_EQ(json.size(), 14u);
    record.dataSourceName = "Yelp";
    json = nlohmann::json::parse(encodeShorturl(record));
    EXPECT_EQ(json["dataSourceName"], "Yelp");
    EXPECT_EQ(decoded(json)->dataSourceName, "Yelp");
}

}  // namespace
}  // namespace tervolo::backend
