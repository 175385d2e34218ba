#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/FileManager.hpp"
#include "testsupport/ScopedEnvironment.hpp"
#include "testsupport/TemporaryFolder.hpp"

using platform::Bundle;
using tervolo::testsupport::TemporaryFolder;

namespace {

using tervolo::testsupport::ScopedEnvironment;

class BundleTest : public ::testing::Test {
  protected:
    void TearDown() override {
        Bundle::main().setInfoDictionaryForTesting(std::nullopt);
        Bundle::main().setResourcesDirectory(std::nullopt);
        Bundle::main().setLanguageForTesting(std::nullopt);
        Bundle::main().setBuiltInPlugInsDirectory(std::nullopt);
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

// A tree of folders and files under a temporary folder: "x/" is a folder,
// anything else a file holding "{}".
void makeTree(const TemporaryFolder& root, std::initializer_list<const char*> entries) {
    platform::FileManager& files = platform::FileManager::defaultManager();
    for (const std::string entry : entries) {
        if (entry.back() == '/') {
            ASSERT_FALSE(files.createDirectory(root.file(entry.substr(0, entry.size() - 1)), true)) << entry;
        } else {
            const std::string path = root.file(entry);
            ASSERT_FALSE(files.createDirectory(path.substr(0, path.find_last_of('/')), true)) << entry;
            ASSERT_FALSE(files.writeFile(path, std::string_view("{}"))) << entry;
        }
    }
}

// Where an executable finds its resources and plug-ins, in a build tree, in
// an installed prefix and in a prefix moved elsewhere.
TEST_F(BundleTest, ResourcesAndPlugInsAreFoundFromTheExecutablesFolder) {
    TemporaryFolder root;
    makeTree(root, {
                       // An installed prefix with its plug-in.
                       "usr/bin/",
                       "usr/share/TervoloNG/Info.json",
                       "usr/lib/TervoloNG/PlugIns/",
                       // A build tree: the program in app/, a test program deeper down.
                       "build/resources/Info.json",
                       "build/app/PlugIns/",
                       "build/app/shell/tests/",
                       // A prefix without plug-ins whose share folder lacks the dictionary, below
                       // an unrelated resources folder.
                       "resources/Info.json",
                       "bare/bin/",
                       "bare/share/TervoloNG/",
                       // A "resources" folder beside an installed program is not the prefix's.
                       "both/bin/resources/Info.json",
                       "both/share/TervoloNG/Info.json",
                       // Nothing at all.
                       "empty/bin/",
                   });
    struct Case {
        const char* executableFolder;
        const char* resources;  // relative to the root; "" for none
        const char* plugIns;
    };
    const Case cases[] = {
        {"usr/bin", "usr/share/TervoloNG", "usr/lib/TervoloNG/PlugIns"},
        {"build/app", "build/resources", "build/app/PlugIns"},
        {"build/app/shell/tests", "build/resources", ""},
        {"bare/bin", "resources", ""},
        {"both/bin", "both/share/TervoloNG", ""},
        {"empty/bin", "resources", ""},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.executableFolder);
        const auto expected = [&root](const char* relative) {
            return *relative == '\0' ? std::string() : root.file(relative);
        };
        EXPECT_EQ(Bundle::resourcesFolderForExecutableIn(root.file(test.executableFolder)),
                  expected(test.resources));
        EXPECT_EQ(Bundle::plugInsFolderForExecutableIn(root.file(test.executableFolder)),
                  expected(test.plugIns));
    }
    EXPECT_EQ(Bundle::resourcesFolderForExecutableIn(""), "");
    EXPECT_EQ(Bundle::plugInsFolderForExecutableIn(""), "");

    // The same prefix moved elsewhere answers with its new place.
    ASSERT_FALSE(platform::FileManager::defaultManager().moveItem(root.file("usr"), root.file("opt")));
    EXPECT_EQ(Bundle::resourcesFolderForExecutableIn(root.file("opt/bin")), root.file("opt/share/TervoloNG"));
    EXPECT_EQ(Bundle::plugInsFolderForExecutableIn(root.file("opt/bin")),
              root.file("opt/lib/TervoloNG/PlugIns"));
}

TEST_F(BundleTest, TheMainBundleFindsItsOwnFoldersOrTheOnesSetForTesting) {
    Bundle& bundle = Bundle::main();
    const std::string executable = Bundle::executableFolder();
    ASSERT_FALSE(executable.empty());
    // This test program lives in the build tree, below <build>/resources and without plug-ins.
    EXPECT_EQ(bundle.resourcePath(), Bundle::resourcesFolderForExecutableIn(executable));
    EXPECT_EQ(bundle.builtInPlugInsPath(), "");
    bundle.setBuiltInPlugInsDirectory("/somewhere/PlugIns");
    EXPECT_EQ(bundle.builtInPlugInsPath(), "/somewhere/PlugIns");
    bundle.setBuiltInPlugInsDirectory(std::nullopt);
    EXPECT_EQ(bundle.builtInPlugInsPath(), "");
}

}  // namespace
