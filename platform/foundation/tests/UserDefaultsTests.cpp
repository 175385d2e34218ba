#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>

#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "testsupport/TemporaryFolder.hpp"

using platform::Date;
using platform::PropertyValue;
using platform::UserDefaults;
using tervolo::testsupport::TemporaryFolder;
using Type = PropertyValue::Type;

namespace {

std::string fileContent(const std::string& path) {
    auto bytes = platform::FileManager::defaultManager().readFile(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

TEST(UserDefaultsTest, ValuesKeepTheirTypesAcrossARestart) {
    TemporaryFolder folder;
    const std::string path = folder.file("defaults.json");
    const PropertyValue::Dictionary lookalike{{"$date", PropertyValue(5)}};
    struct Case {
        const char* key;
        PropertyValue value;
        Type type;
    };
    const std::vector<Case> cases = {
        {"integer", PropertyValue(3), Type::Integer},
        {"double", PropertyValue(3.0), Type::Double},
        {"fraction", PropertyValue(0.1), Type::Double},
        {"large", PropertyValue(int64_t{9007199254740993}), Type::Integer},
        {"string", PropertyValue("3"), Type::String},
        {"date", PropertyValue(Date{700000000.25}), Type::Date},
        {"true", PropertyValue(true), Type::Bool},
        {"false", PropertyValue(false), Type::Bool},
        {"list", PropertyValue(PropertyValue::List{1, 2.5, "x", Date{1.0}}), Type::List},
        {"dictionary", PropertyValue(PropertyValue::Dictionary{{"a", 1}, {"b", false}}), Type::Dictionary},
        {"lookalike", PropertyValue(lookalike), Type::Dictionary},
    };
    {
        UserDefaults defaults(path);
        for (const Case& test : cases) defaults.set(test.key, test.value);
    }
    UserDefaults restarted(path);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.key);
        auto value = restarted.object(test.key);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type(), test.type);
        EXPECT_TRUE(*value == test.value);
    }
}

TEST(UserDefaultsTest, TypedGettersTellAbsentFromWrongTypeFromPresent) {
    TemporaryFolder folder;
    UserDefaults defaults(folder.file("defaults.json"));
    defaults.set("integer", 3);
    defaults.set("double", 2.5);
    defaults.set("bool", true);
    defaults.set("string", "text");
    defaults.set("huge", int64_t{1} << 60);

    EXPECT_FALSE(defaults.object("absent").has_value());
    EXPECT_FALSE(defaults.integerValue("absent").has_value());

    EXPECT_EQ(defaults.integerValue("integer"), 3);
    EXPECT_EQ(defaults.doubleValue("integer"), 3.0) << "a double holds 3 exactly";
    EXPECT_FALSE(defaults.boolValue("integer").has_value());
    EXPECT_FALSE(defaults.stringValue("integer").has_value());

    EXPECT_EQ(defaults.doubleValue("double"), 2.5);
    EXPECT_FALSE(defaults.integerValue("double").has_value());

    EXPECT_EQ(defaults.boolValue("bool"), true);
    EXPECT_FALSE(defaults.integerValue("bool").has_value());
    EXPECT_FALSE(defaults.doubleValue("bool").has_value()) << "a bool is not a number";

    EXPECT_EQ(defaults.stringValue("string"), "text");
    EXPECT_FALSE(defaults.doubleValue("string").has_value());
    EXPECT_FALSE(defaults.doubleValue("huge").has_value()) << "beyond 2^53 a double is not exact";
    EXPECT_TRUE(defaults.object("huge").has_value());
}

TEST(UserDefaultsTest, RegisteredDefaultsAnswerUntilSetAndAreNeverSaved) {
    TemporaryFolder folder;
    const std::string path = folder.file("defaults.json");
    {
        UserDefaults defaults(path);
        defaults.registerDefaults({{"coordinateFormat", 1}, {"useExtendedUserLocationDisplay", false}});
        EXPECT_EQ(defaults.integerValue("coordinateFormat"), 1);
        defaults.set("coordinateFormat", 4);
        EXPECT_EQ(defaults.integerValue("coordinateFormat"), 4);
        defaults.remove("coordinateFormat");
        EXPECT_EQ(defaults.integerValue("coordinateFormat"), 1);
        defaults.set("kept", "yes");
    }
    UserDefaults restarted(path);
    EXPECT_FALSE(restarted.object("coordinateFormat").has_value());
    EXPECT_FALSE(restarted.object("useExtendedUserLocationDisplay").has_value());
    EXPECT_EQ(restarted.stringValue("kept"), "yes");
}

// The names in `folder` that start with `prefix`.
std::vector<std::string> namesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> found;
    auto names = platform::FileManager::defaultManager().contentsOfDirectory(folder);
    if (!names) return found;
    for (const auto& name : *names) {
        if (name.rfind(prefix, 0) == 0) found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST(UserDefaultsTest, ACorruptFileIsMovedAsideWithOneLine) {
    for (const char* content : {"{\"a\": 1,", "[1, 2]", "\"text\"", ""}) {
        SCOPED_TRACE(content);
        TemporaryFolder folder;
        const std::string path = folder.file("defaults.json");
        ASSERT_FALSE(platform::FileManager::defaultManager().writeFile(path, std::string_view(content)));
        platform::LineCapture errors(platform::LineWriter::standardError());
        UserDefaults defaults(path);
        EXPECT_FALSE(defaults.object("a").has_value());
        ASSERT_EQ(errors.lines().size(), 1u);
        const auto aside = namesStartingWith(folder.path(), "defaults.json.corrupt-");
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_NE(errors.lines()[0].find(folder.file(aside[0])), std::string::npos) << errors.lines()[0];
        EXPECT_EQ(fileContent(folder.file(aside[0])), content);
        EXPECT_FALSE(platform::FileManager::defaultManager().fileExists(path));

        defaults.set("a", 2);
        EXPECT_EQ(UserDefaults(path).integerValue("a"), 2);
        EXPECT_EQ(errors.lines().size(), 1u);
    }
}

// A file that cannot be read at all is never replaced by the next change: it
// is moved aside (a second one beside the first, never over it).
TEST(UserDefaultsTest, AnUnreadableFileIsMovedAsideNotOverwritten) {
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> make;
    };
    const Case cases[] = {
        {"over the size cap",
         [](const std::string& path) {
             ASSERT_FALSE(
                 platform::FileManager::defaultManager().writeFile(path, std::string_view("{\"k\": 1}")));
             ASSERT_EQ(::truncate(path.c_str(), 17 * 1024 * 1024), 0);
         }},
        {"a FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
        {"a folder", [](const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0700), 0); }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TemporaryFolder folder;
        const std::string path = folder.file("defaults.json");
        test.make(path);
        struct stat before {};
        ASSERT_EQ(::lstat(path.c_str(), &before), 0);
        platform::LineCapture errors(platform::LineWriter::standardError());
        {
            UserDefaults defaults(path);
            defaults.set("a", 1);
        }
        ASSERT_EQ(errors.lines().size(), 1u) << errors.lines().front();
        EXPECT_NE(errors.lines()[0].find("cannot read " + path), std::string::npos) << errors.lines()[0];
        const auto aside = namesStartingWith(folder.path(), "defaults.json.corrupt-");
        ASSERT_EQ(aside.size(), 1u);
        struct stat moved {};
        ASSERT_EQ(::lstat(folder.file(aside[0]).c_str(), &moved), 0);
        EXPECT_EQ(moved.st_ino, before.st_ino);
        EXPECT_EQ(UserDefaults(path).integerValue("a"), 1);
    }

    // Two unreadable files in the same second: both kept.
    TemporaryFolder folder;
    const std::string path = folder.file("defaults.json");
    for (int round = 0; round < 2; ++round) {
        ASSERT_FALSE(platform::FileManager::defaultManager().writeFile(path, std::string_view("{")));
        platform::LineCapture errors(platform::LineWriter::standardError());
        (void)UserDefaults(path).object("a");
    }
    EXPECT_EQ(namesStartingWith(folder.path(), "defaults.json.corrupt-").size(), 2u);
}

// When the file cannot even be moved aside, changes stay in memory and the
// file is never written over.
TEST(UserDefaultsTest, AFileThatCannotBeMovedAsideIsNeverWrittenOver) {
    TemporaryFolder folder;
    const std::string path = folder.file("defaults.json");
    // Not JSON, and on a file system that refuses renames.
    ASSERT_EQ(::symlink("/proc/version", path.c_str()), 0);
    platform::LineCapture errors(platform::LineWriter::standardError());
    UserDefaults defaults(path);
    defaults.set("a", 1);
    EXPECT_EQ(defaults.integerValue("a"), 1);
    ASSERT_EQ(errors.lines().size(), 1u) << errors.lines().back();
    EXPECT_NE(errors.lines()[0].find("could not move it aside"), std::string::npos) << errors.lines()[0];
    struct stat link {};
    ASSERT_EQ(::lstat(path.c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
}

// Settings kept in a managed dotfile: the link stays, its target changes.
TEST(UserDefaultsTest, SavesWriteThroughASymbolicLink) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // link → target, in creation order
        const char* target;                                      // the file that must hold the values
        bool targetExists;
    };
    const Case cases[] = {
        {"relative link", {{"defaults.json", "dotfiles/prefs.json"}}, "dotfiles/prefs.json", true},
        {"chain of two",
         {{"dotfiles/current.json", "prefs.json"}, {"defaults.json", "dotfiles/current.json"}},
         "dotfiles/prefs.json",
         true},
        {"dangling link", {{"defaults.json", "dotfiles/prefs.json"}}, "dotfiles/prefs.json", false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TemporaryFolder folder;
        auto& files = platform::FileManager::defaultManager();
        ASSERT_FALSE(files.createDirectory(folder.file("dotfiles"), true));
        if (test.targetExists) {
            ASSERT_FALSE(files.writeFile(folder.file(test.target), std::string_view("{\"kept\": true}")));
        }
        for (const auto& [link, target] : test.links) {
            ASSERT_EQ(::symlink(target.c_str(), folder.file(link).c_str()), 0);
        }
        const std::string path = folder.file("defaults.json");
        UserDefaults(path).set("a", 1);

        struct stat info {};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
        UserDefaults target(folder.file(test.target));
        EXPECT_EQ(target.integerValue("a"), 1);
        EXPECT_EQ(target.boolValue("kept"), test.targetExists ? std::optional<bool>(true) : std::nullopt);
        EXPECT_EQ(namesStartingWith(folder.path(), ".").size(), 0u);
        EXPECT_EQ(namesStartingWith(folder.file("dotfiles"), ".").size(), 0u);
    }
}

TEST(UserDefaultsTest, StandardLivesInThePreferencesFolder) {
    TemporaryFolder folder;
    UserDefaults& defaults = UserDefaults::standard();
    EXPECT_EQ(defaults.filePath(), folder.configHome() + "/TervoloNG/UserDefaults.json");
    defaults.set("userLocationRadius", 250.0);
    EXPECT_EQ(UserDefaults(defaults.filePath()).doubleValue("userLocationRadius"), 250.0);
    EXPECT_NE(fileContent(defaults.filePath()).find("250.0"), std::string::npos);

    defaults.reload();
    EXPECT_EQ(defaults.doubleValue("userLocationRadius"), 250.0);
    TemporaryFolder other;
    EXPECT_FALSE(defaults.object("userLocationRadius").has_value()) << "a new folder starts empty";
}

TEST(UserDefaultsTest, ConcurrentChangesAllReachTheFile) {
    TemporaryFolder folder;
    const std::string path = folder.file("defaults.json");
    UserDefaults defaults(path);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&defaults, thread] {
            for (int i = 0; i < 25; ++i) {
                std::string key = std::to_string(thread * 1000 + i);
                defaults.set(key, i);
                EXPECT_EQ(defaults.integerValue(key), i);
                defaults.dictionaryRepresentation();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(UserDefaults(path).dictionaryRepresentation().size(), 100u);
}

}  // namespace

namespace {

TEST(UserDefaultsTest, TextThatIsNotUTF8IsSavedWithReplacementCharacters) {
    TemporaryFolder folder;
    const std::string path = folder.file("defaults.json");
    UserDefaults defaults(path);
    defaults.set("title", std::string("caf\xE9"));
    defaults.set("after", 1);
    UserDefaults restarted(path);
    EXPECT_EQ(restarted.stringValue("title"), "caf\xEF\xBF\xBD");
    EXPECT_EQ(restarted.integerValue("after"), 1);
}

}  // namespace

namespace {

TEST(UserDefaultsTest, DeeplyNestedValuesAreCutInsteadOfExhaustingTheStack) {
    TemporaryFolder folder;
    const std::string path = folder.file("defaults.json");
    const size_t depth = 200000;
    const std::string content =
        "{\"deep\": " + std::string(depth, '[') + std::string(depth, ']') + ", \"ok\": 1}";
    ASSERT_FALSE(platform::FileManager::defaultManager().writeFile(path, content));
    UserDefaults defaults(path);
    EXPECT_EQ(defaults.integerValue("ok"), 1);
    auto deep = defaults.listValue("deep");
    ASSERT_TRUE(deep.has_value());
    int levels = 1;
    for (const PropertyValue* value = &deep->front(); value->asList() && !value->asList()->empty();
         value = &value->asList()->front()) {
        ++levels;
    }
    EXPECT_LE(levels, PropertyValue::kMaximumDepth + 1);
}

}  // namespace
