#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/FileManager.hpp"
#include "testsupport/TemporaryFolder.hpp"

using platform::Bundle;
using tervolo::testsupport::TemporaryFolder;

namespace {

// Sets an environment variable for one scope.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::string name, const char* value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) previous_ = old;
        if (value) {
            ::setenv(name_.c_str(), value, 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ~ScopedEnvironment() {
        if (previous_) {
            ::setenv(name_.c_str(), previous_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

class BundleTest : public ::testing::Test {
  protected:
    void TearDown() override {
        Bundle::main().setInfoDictionaryForTesting(std::nullopt);
        Bundle::main().setResourcesDirectory(std::nullopt);
        Bundle::main().setLanguageForTesting(std::nullopt);
        Bundle::main().reload();
    }
};

TEST_F(BundleTest, InformationDictionaryHasTheConfiguredKeys) {
    Bundle& bundle = Bundle::main();
    ASSERT_FALSE(bundle.resourcePath().empty()) << "no resources folder found";
    EXPECT_EQ(bundle.infoString("CFBundleName"), "TervoloNG");
    EXPECT_EQ(bundle.infoString("CFBundleIdentifier"), "org.tervolo.TervoloNG");
    const std::regex version(R"(\d+\.\d+\.\d+)");
    EXPECT_TRUE(std::regex_match(bundle.infoString("CFBundleShortVersionString").value_or(""), version));
    const std::regex number(R"(\d+)");
    // The application version is the project version; the build number stands apart.
    EXPECT_TRUE(std::regex_match(bundle.infoString("CFBundleVersion").value_or(""), version));
    EXPECT_TRUE(std::regex_match(bundle.infoString("QXBuildNumber").value_or(""), number));
    EXPECT_TRUE(bundle.infoString("QuovaCopyright").has_value());
    EXPECT_EQ(bundle.infoStringList("UIBackgroundModes"), (std::vector<std::string>{"location"}));
    EXPECT_FALSE(bundle.objectForInfoDictionaryKey("NoSuchKey").has_value());
    EXPECT_TRUE(bundle.pathForResource("Info", "json").has_value());
    EXPECT_FALSE(bundle.pathForResource("NoSuchResource", "png").has_value());
}

TEST_F(BundleTest, EnvironmentOverridesEveryKey) {
    Bundle& bundle = Bundle::main();
    {
        ScopedEnvironment version("TERVOLO_CFBundleVersion", "77");
        ScopedEnvironment modes("TERVOLO_UIBackgroundModes", "location,fetch");
        ScopedEnvironment host("TERVOLO_QXBackendHost", "backend.example.invalid");
        EXPECT_EQ(bundle.infoString("CFBundleVersion"), "77");
        EXPECT_EQ(bundle.infoDictionary()["CFBundleVersion"], platform::PropertyValue("77"));
        EXPECT_EQ(bundle.infoStringList("UIBackgroundModes"),
                  (std::vector<std::string>{"location", "fetch"}));
        EXPECT_EQ(bundle.infoString("QXBackendHost"), "backend.example.invalid");
    }
    {
        ScopedEnvironment modes("TERVOLO_UIBackgroundModes", "");
        EXPECT_TRUE(bundle.infoStringList("UIBackgroundModes").empty());
    }
    EXPECT_NE(bundle.infoString("CFBundleVersion"), "77");
}

TEST_F(BundleTest, AReplacedDictionaryKeepsAbsentKeysAbsent) {
    Bundle& bundle = Bundle::main();
    bundle.setInfoDictionaryForTesting(
        platform::PropertyValue::Dictionary{{"CFBundleName", "Other"}, {"CFBundleVersion", 12}});
    EXPECT_EQ(bundle.infoString("CFBundleName"), "Other");
    EXPECT_FALSE(bundle.infoString("CFBundleIdentifier").has_value());
    EXPECT_FALSE(bundle.infoString("CFBundleVersion").has_value()) << "a number is not a string";
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleVersion"), platform::PropertyValue(12));
}

TEST_F(BundleTest, LocalizedStringReturnsTheTranslationOrTheKey) {
    TemporaryFolder folder;
    platform::FileManager& files = platform::FileManager::defaultManager();
    ASSERT_FALSE(files.createDirectory(folder.file("resources/translations/de"), true));
    ASSERT_FALSE(files.writeFile(folder.file("resources/translations/de/Localizable.json"),
                                 R"({"Cancel": "Abbrechen", "Broken": 5})"));
    ASSERT_FALSE(
        files.writeFile(folder.file("resources/translations/de/Units.json"), R"({"Cancel": "Halt"})"));
    ASSERT_FALSE(files.createDirectory(folder.file("resources/translations/fr"), true));
    ASSERT_FALSE(files.writeFile(folder.file("resources/translations/fr/Localizable.json"), "{not json"));
    Bundle& bundle = Bundle::main();
    bundle.setResourcesDirectory(folder.file("resources"));

    struct Case {
        const char* language;
        const char* key;
        const char* value;
        const char* table;
        const char* expected;
    };
    const Case cases[] = {
        {"de", "Cancel", "", "", "Abbrechen"}, {"de", "Cancel", "", "Units", "Halt"},
        {"de", "Missing", "", "", "Missing"},  {"de", "Missing", "Fallback", "", "Fallback"},
        {"de", "Broken", "", "", "Broken"},    {"de", "Cancel", "", "NoTable", "Cancel"},
        {"fr", "Cancel", "", "", "Cancel"},    {"en", "Cancel", "", "", "Cancel"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.language) + "/" + test.key + "/" + test.table);
        bundle.setLanguageForTesting(test.language);
        EXPECT_EQ(bundle.localizedString(test.key, test.value, test.table), test.expected);
    }
}

TEST_F(BundleTest, LanguageComesFromTheLocaleVariables) {
    TemporaryFolder folder;
    platform::FileManager& files = platform::FileManager::defaultManager();
    ASSERT_FALSE(files.createDirectory(folder.file("resources/translations/de"), true));
    ASSERT_FALSE(
        files.writeFile(folder.file("resources/translations/de/Localizable.json"), R"({"Yes": "Ja"})"));
    Bundle::main().setResourcesDirectory(folder.file("resources"));
    ScopedEnvironment all("LC_ALL", nullptr);
    ScopedEnvironment messages("LC_MESSAGES", nullptr);
    {
        ScopedEnvironment lang("LANG", "de_DE.UTF-8");
        EXPECT_EQ(platform::localizedString("Yes"), "Ja");
    }
    {
        ScopedEnvironment lang("LANG", "C.UTF-8");
        EXPECT_EQ(platform::localizedString("Yes"), "Yes");
    }
}

}  // namespace
