#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "backend/DeviceInformation.hpp"
#include "backend/DeviceRegistration.hpp"
#include "backend/tests/BackendTestSupport.hpp"

namespace tervolo::backend {
namespace {

using testing::sampleDevice;

TEST(DeviceRegistrationTest, BodyHasTheFifteenKeysWithTheirJSONTypes) {
    auto info = sampleDevice();
    info.signalInstalled = true;
    info.whatsAppInstalled = true;
    info.installedAppsList = "signal,whatsapp";
    const auto body = nlohmann::json::parse(platform::JSONEncoder().encodeToString(DeviceRegistration::make(info, "")));

    const std::vector<std::string> integerKeys = {"time_offset", "signal_supported", "whatsapp_supported"};
    const std::vector<std::string> stringKeys = {"device_name", "ios_version", "device_hw_details", "app_version",
                                                 "apns_mode",   "pref_lang",   "timezone",          "push_token",
                                                 "vendor_id",   "ad_id",       "bundle_id",         "supported_apps"};
    EXPECT_EQ(body.size(), 15u);
    for (const auto& key : integerKeys) EXPECT_TRUE(body.at(key).is_number_integer()) << key;
    for (const auto& key : stringKeys) EXPECT_TRUE(body.at(key).is_string()) << key;
    EXPECT_EQ(body["apns_mode"], "none");
    EXPECT_EQ(body["pref_lang"], "de");
    EXPECT_EQ(body["time_offset"], 7200);
    EXPECT_EQ(body["signal_supported"], 1);
    EXPECT_EQ(body["supported_apps"], "signal,whatsapp");
    EXPECT_EQ(body["timezone"], "Europe/Helsinki");
}

TEST(DeviceRegistrationTest, MissingPushTokenAndLanguageAreSentAsNone) {
    auto info = sampleDevice();
    info.languageCode = "";
    EXPECT_EQ(DeviceRegistration::make(info, "").push_token, "none");
    EXPECT_EQ(DeviceRegistration::make(info, "(none)").push_token, "(none)");
    EXPECT_EQ(DeviceRegistration::make(info, "").pref_lang, "none");
}

TEST(DeviceRegistrationTest, LanguageCodeOfLocaleNames) {
    struct Case {
        const char* locale;
        const char* code;
    };
    const Case cases[] = {{"de_DE.UTF-8", "de"}, {"fi_FI", "fi"}, {"en", "en"}, {"C", ""},
                          {"C.UTF-8", ""},       {"POSIX", ""},   {"", ""},     {"sr_RS@latin", "sr"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        EXPECT_EQ(languageCodeOfLocale(c.locale), c.code);
    }
}

TEST(DeviceRegistrationTest, ReplyNeedsFourStringsAndIgnoresOtherKeys) {
    struct Case {
        const char* json;
        bool decodes;
    };
    const Case cases[] = {
        {R"({"deviceID":"42","updateCount":"x","testlevel":"","pushlevel":"3"})", true},
        {R"({"deviceID":"42","updateCount":"1","testlevel":"0","pushlevel":"3","extra":5})", true},
        {R"({"deviceID":42,"updateCount":"1","testlevel":"0","pushlevel":"3"})", false},
        {R"({"deviceID":"42","updateCount":"1","testlevel":"0"})", false},
        {R"({"deviceID":null,"updateCount":"1","testlevel":"0","pushlevel":"3"})", false},
        {R"(["42"])", false},
        {R"({"deviceID":"42")", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        bool decoded = true;
        try {
            (void)platform::JSONDecoder().decode<DeviceRegistrationResult>(std::string_view(c.json));
        } catch (const platform::DecodingError&) {
            decoded = false;
        }
        EXPECT_EQ(decoded, c.decodes);
    }
}

}  // namespace
}  // namespace tervolo::backend
