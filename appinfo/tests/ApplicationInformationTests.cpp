#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "appinfo/QuovaApplicationAdditions.hpp"
#include "platform/foundation/Bundle.hpp"

namespace tervolo::appinfo {
namespace {

using App = QuovaApplicationAdditions;
using Dictionary = platform::PropertyValue::Dictionary;

class ApplicationInformationTest : public ::testing::Test {
  protected:
    void TearDown() override {
        platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
        platform::Bundle::main().reload();
    }

    static void useVersion(std::optional<std::string> version, std::optional<std::string> build) {
        Dictionary dictionary{{"CFBundleName", "TervoloNG"}, {"CFBundleIdentifier", "org.tervolo.TervoloNG"}};
        if (version) dictionary.emplace("CFBundleVersion", *version);
        if (build) dictionary.emplace("QXBuildNumber", *build);
        platform::Bundle::main().setInfoDictionaryForTesting(dictionary);
    }
};

TEST_F(ApplicationInformationTest, VersionMembersSplitTheBundleVersion) {
    struct Case {
        std::optional<std::string> version;
        const char* major;
        const char* minor;
        const char* sub;
        const char* withoutBuild;
        uint64_t majorInt, minorInt, subInt;
    };
    const Case cases[] = {
        {"1.0.0", "1", "0", "0", "1.0.0", 1, 0, 0},
        {"2.10", "2", "10", "", "2.10.", 2, 10, 0},
        {"3", "3", "", "", "3..", 3, 0, 0},
        {"1.2.3.4", "1", "2", "3", "1.2.3", 1, 2, 3},
        {"", "", "", "", "..", 0, 0, 0},
        {std::nullopt, "", "", "", "..", 0, 0, 0},
        {" 12abc.-1.x", " 12abc", "-1", "x", " 12abc.-1.x", 12, 18446744073709551615ull, 0},
        {"..7", "", "", "7", "..7", 0, 0, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version.value_or("(absent)"));
        useVersion(c.version, "5");
        EXPECT_EQ(App::quovaAppVersion(), c.version.value_or(""));
        EXPECT_EQ(App::quovaAppMajorVersion(), c.major);
        EXPECT_EQ(App::quovaAppMinorVersion(), c.minor);
        EXPECT_EQ(App::quovaAppSubVersion(), c.sub);
        EXPECT_EQ(App::quovaAppVersionWithoutBuild(), c.withoutBuild);
        EXPECT_EQ(App::quovaAppMajorVersionInt(), c.majorInt);
        EXPECT_EQ(App::quovaAppMinorVersionInt(), c.minorInt);
        EXPECT_EQ(App::quovaAppSubVersionInt(), c.subInt);
    }
}

TEST_F(ApplicationInformationTest, PositionsUpToThreeAreAnsweredOthersAreEmpty) {
    useVersion("1.2.3.4", "5");
    struct Case {
        int32_t position;
        const char* component;
    };
    const Case cases[] = {{0, "1"}, {1, "2"}, {2, "3"}, {3, "4"}, {4, ""}, {-1, ""}, {INT32_MIN, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        EXPECT_EQ(App::quovaAppVersionNumberAtPosition(c.position), c.component);
    }
    useVersion("1.2", "5");
    EXPECT_EQ(App::quovaAppVersionNumberAtPosition(3), "") << "fewer components than the position needs";
}

TEST_F(ApplicationInformationTest, BuildIsAbsentWithoutTheKeyAndReadsLeadingDigits) {
    struct Case {
        std::optional<std::string> build;
        uint64_t buildInt;
    };
    const Case cases[] = {
        {std::nullopt, 0}, {"", 0}, {"17", 17}, {" 12abc", 12}, {"-1", 18446744073709551615ull}, {"abc", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.build.value_or("(absent)"));
        useVersion("1.0.0", c.build);
        EXPECT_EQ(App::quovaAppBuild(), c.build);
        EXPECT_EQ(App::quovaAppBuildInt(), c.buildInt);
    }
}

TEST_F(ApplicationInformationTest, NameAndIdentifierAreEmptyWhenAbsentOrNoText) {
    useVersion("1.0.0", "1");
    EXPECT_EQ(App::quovaAppName(), "TervoloNG");
    EXPECT_EQ(App::quovaBundleID(), "org.tervolo.TervoloNG");
    platform::Bundle::main().setInfoDictionaryForTesting(
        Dictionary{{"CFBundleName", 7}, {"CFBundleVersion", 2}});
    EXPECT_EQ(App::quovaAppName(), "");
    EXPECT_EQ(App::quovaBundleID(), "");
    EXPECT_EQ(App::quovaAppVersion(), "") << "a number is no version text";
    EXPECT_EQ(App::quovaAppVersionWithoutBuild(), "..");
}

TEST_F(ApplicationInformationTest, BuiltDictionaryCarriesTheProjectVersionAndTheBuildNumberApart) {
    platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
    platform::Bundle::main().reload();
    // The About screen shows "version <CFBundleVersion> (<QXBuildNumber>)": a
    // build number in the first place would read "version 1.. (1)".
    EXPECT_EQ(App::quovaAppVersion(), TERVOLO_PROJECT_VERSION);
    EXPECT_EQ(App::quovaAppVersionWithoutBuild(), TERVOLO_PROJECT_VERSION);
    EXPECT_EQ(App::quovaAppBuild(), TERVOLO_BUILD_NUMBER);
}

TEST(VersionComponentValueTest, LeadingDigitsWithSignSaturatedAndWidened) {
    struct Case {
        const char* text;
        uint64_t expected;
    };
    const Case cases[] = {
        {"12", 12},
        {"  3beta", 3},
        {" 12abc", 12},
        {"\t\n7", 7},
        {"", 0},
        {"x", 0},
        {"+4", 4},
        {"+", 0},
        {"-", 0},
        {"-0", 0},
        {"--1", 0},
        {"-1", 18446744073709551615ull},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"99999999999", 2147483647},
        {"-2147483648", static_cast<uint64_t>(int64_t{-2147483648})},
        {"-99999999999", static_cast<uint64_t>(int64_t{-2147483648})},
        {"1 2", 1},
        {"\xd9\xa3", 0},  // ARABIC-INDIC DIGIT THREE is no ASCII digit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(App::versionComponentValue(c.text), c.expected);
    }
}

}  // namespace
}  // namespace tervolo::appinfo
