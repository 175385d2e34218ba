#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "backend/QuovaVersionChecker.hpp"
#include "backend/tests/BackendTestSupport.hpp"
#include "platform/foundation/Bundle.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"

namespace tervolo::backend {
namespace {

using tervolo::testsupport::CannedReply;

const char* kDocument = R"({"appName":"TervoloNG","currentVersion":{"build":4,"major":1,"minor":2,"patch":3},
  "forceUpdate":false,"updateURL":"https://example.invalid/get","fallbackURL":"https://example.invalid/"})";

std::optional<AppVersionInfo> decodeDocument(const std::string& text) {
    try {
        return platform::JSONDecoder().decode<AppVersionInfo>(std::string_view(text));
    } catch (const platform::DecodingError&) {
        return std::nullopt;
    }
}

AppVersionInfo document(int64_t major, int64_t minor, int64_t patch, int64_t build) {
    AppVersionInfo info;
    info.appName = "TervoloNG";
    info.currentVersion = {build, major, minor, patch};
    return info;
}

class VersionCheckTest : public testing::BackendTest {};

TEST_F(VersionCheckTest, DocumentDecodingIsStrict) {
    struct Case {
        const char* name;
        std::function<void(nlohmann::json&)> change;
        bool decodes;
    };
    const Case cases[] = {
        {"complete", [](nlohmann::json&) {}, true},
        {"extra key", [](nlohmann::json& j) { j["notes"] = "x"; }, true},
        {"forceUpdate as 1", [](nlohmann::json& j) { j["forceUpdate"] = 1; }, false},
        {"missing fallbackURL", [](nlohmann::json& j) { j.erase("fallbackURL"); }, false},
        {"build as text", [](nlohmann::json& j) { j["currentVersion"]["build"] = "4"; }, false},
        {"missing patch", [](nlohmann::json& j) { j["currentVersion"].erase("patch"); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto json = nlohmann::json::parse(kDocument);
        c.change(json);
        EXPECT_EQ(decodeDocument(json.dump()).has_value(), c.decodes);
    }
}

TEST_F(VersionCheckTest, TextForms) {
    auto info = *decodeDocument(kDocument);
    EXPECT_EQ(info.currentVersion.description(), "1.2.3.4");
    EXPECT_EQ(info.description(),
              "Update Info: TervoloNG 1.2.3.4 - update URL: https://example.invalid/get - fallback URL: "
              "https://example.invalid/ - updates NOT forced");
    info.forceUpdate = true;
    EXPECT_TRUE(info.description().ends_with(" - updates  forced"));
}

TEST_F(VersionCheckTest, ComparisonComponentByComponent) {
    struct Case {
        AppVersionInfo document;
        const char* version;
        const char* build;
        bool newer;
    };
    const Case cases[] = {
        {document(2, 0, 0, 0), "1.9.9", "999", true},
        {document(1, 2, 3, 4), "1.2.3", "4", false},
        {document(1, 2, 3, 4), "1.2.3", "5", false},
        {document(1, 2, 3, 5), "1.2.3", "4", true},
        {document(1, 2, 4, 0), "1.2.3", "99", true},
        {document(-1, 9, 9, 9), "0.0.0", "0", false},
        {document(5, 0, 0, 0), "-1.0.0", "0", false},  // "-1" widens to the largest value
        {document(0, 0, 0, 1), "0.0.0", "", true},      // no build number reads as 0
        {document(2, 10, 0, 0), "2.10", "0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document.currentVersion.description() + " vs " + c.version + " b" + c.build);
        EXPECT_EQ(QuovaVersionChecker::compareVersions(c.document, ApplicationVersion::parse(c.version, c.build)),
                  c.newer);
    }
    EXPECT_TRUE(log_->contains(
        "Found app version 1.2.3 to be newer as or identical to server version 1.2.3.4"));
}

TEST_F(VersionCheckTest, QueryIsBuiltAfreshAndEncodedEachTime) {
    QuovaVersionChecker checker("https://www.example.invalid/tervolo-ng/MacVersion.json");
    const auto first = checker.requestURLString();
    EXPECT_EQ(first, "https://www.example.invalid/tervolo-ng/MacVersion.json?version=1.2.3");
    EXPECT_EQ(checker.requestURLString(), first);
    EXPECT_EQ(checker.urlString(), "https://www.example.invalid/tervolo-ng/MacVersion.json");

    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{{"CFBundleVersion", "1.0 beta&x=1"}});
    EXPECT_EQ(checker.requestURLString(),
              "https://www.example.invalid/tervolo-ng/MacVersion.json?version=1.0%20beta%26x%3D1");
}

TEST_F(VersionCheckTest, DownloadDeliversTheDocumentOrNothing) {
    tervolo::testsupport::LoopbackHTTPServer server;
    server.route("GET", "/tervolo-ng/MacVersion.json", CannedReply::json(kDocument));
    server.route("GET", "/missing/MacVersion.json", CannedReply::text("<html>Not Found</html>", 404));

    std::optional<std::optional<AppVersionInfo>> delivered;
    QuovaVersionChecker(server.url("/tervolo-ng/MacVersion.json")).loadVersionInfo([&](auto info) {
        delivered = info;
    });
    ASSERT_TRUE(runMainUntil([&] { return delivered.has_value(); }));
    ASSERT_TRUE(delivered->has_value());
    EXPECT_EQ((*delivered)->currentVersion.description(), "1.2.3.4");
    EXPECT_EQ(server.requests().at(0).target, "/tervolo-ng/MacVersion.json?version=1.2.3");
    EXPECT_TRUE(log_->contains("Trying to download version info."));

    delivered.reset();
    QuovaVersionChecker(server.url("/missing/MacVersion.json")).loadVersionInfo([&](auto info) {
        delivered = info;
    });
    ASSERT_TRUE(runMainUntil([&] { return delivered.has_value(); }));
    EXPECT_FALSE(delivered->has_value());
    int errorLines = 0;
    for (const auto& line : log_->texts()) errorLines += line.rfind("Error when loading / decoding version info: ", 0) == 0;
    EXPECT_EQ(errorLines, 1);

    delivered.reset();
    QuovaVersionChecker("not a url").loadVersionInfo([&](auto info) { delivered = info; });
    ASSERT_TRUE(runMainUntil([&] { return delivered.has_value(); }));
    EXPECT_FALSE(delivered->has_value());
    EXPECT_TRUE(log_->contains("Can't create version check URL."));
}

}  // namespace
}  // namespace tervolo::backend
