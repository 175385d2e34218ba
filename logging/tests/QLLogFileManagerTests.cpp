#include "logging/QLLogFileManagerDefault.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "logging/QLLogFileFormatterDefault.hpp"
#include "logging/tests/LogFileTestSupport.hpp"
#include "platform/dispatch/DateFormat.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/FileManager.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace tervolo::logging {
namespace {

using platform::Date;
using platform::FileManager;
using testing::baseName;
using testing::ScopedExtendedAttributesRefused;

constexpr uint64_t kMiB = 1048576;

// Deletions the manager queued on the global queue finish on another thread.
using tervolo::testsupport::eventually;

Date day(int n) {
    return Date::fromUnix(1706708707.123 + n * 86400.0);
}

class QLLogFileManagerTest : public testing::LogFolderTest {};

TEST_F(QLLogFileManagerTest, NamesAndWhatCountsAsALogFile) {
    const std::string& app = QLLogFileManagerDefault::applicationName();
    ASSERT_EQ(app, "org.tervolo.TervoloNG");
    EXPECT_EQ(QLLogFileManagerDefault::logFileName(Date::fromUnix(1706708707.123)),
              app + " 2024-01-31--13-45-07-123.log");

    auto manager = makeManager();
    struct Case {
        std::string name;
        bool isLogFile;
    };
    const Case cases[] = {
        {app + " 2024-01-31--13-45-07-123.log", true},
        {app + " 2024-01-31--13-45-07-123 2.log", true},
        {app + " anything.log", true},
        {app + " .log", true},
        {app + ".log", false},                           // no blank after the name
        {app + " 2024-01-31--13-45-07-123.txt", false},  // other extension
        {"other.app 2024-01-31--13-45-07-123.log", false},
        {app + "x 2024-01-31--13-45-07-123.log", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(manager->isLogFile(c.name), c.isLogFile) << c.name;
}

TEST_F(QLLogFileManagerTest, DefaultsAndFolder) {
    QLLogFileManagerDefault manager;
    EXPECT_EQ(manager.maximumNumberOfLogFiles(), 5u);
    EXPECT_EQ(manager.logFilesDiskQuota(), 20971520u);
    EXPECT_EQ(manager.logsDirectory(), folder_.cacheHome() + "/TervoloNG/Logs");
    EXPECT_TRUE(FileManager::defaultManager().isDirectory(manager.logsDirectory()));
    EXPECT_FALSE(manager.logFileHeaderData().has_value());

    EXPECT_EQ(QLLogFileManagerDefault(std::nullopt, "NSFileProtectionComplete").logFileProtection(),
              "NSFileProtectionComplete");
    // An unknown class is ignored; the bundle declares background modes.
    EXPECT_EQ(QLLogFileManagerDefault(std::nullopt, "bogus").logFileProtection(),
              "NSFileProtectionCompleteUntilFirstUserAuthentication");
}

TEST_F(QLLogFileManagerTest, CreationNeverOverwritesAndNamesCollisionsWithANumber) {
    tervolo::testsupport::VirtualClockScope time(1706708707.123);  // every new name is the same
    class HeaderManager : public QLLogFileManagerDefault {
      public:
        using QLLogFileManagerDefault::QLLogFileManagerDefault;
        std::optional<std::string> logFileHeader() const override { return "header"; }
    };
    auto manager = std::make_shared<HeaderManager>(logsDirectory_);
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    const std::string base = QLLogFileManagerDefault::applicationName() + " 2024-01-31--13-45-07-123";
    const std::string existing = makeFile(base + ".log", 0, false, "someone else's log");

    platform::Error error;
    const auto second = manager->createNewLogFileWithError(&error);
    const auto third = manager->createNewLogFile();
    ASSERT_TRUE(second && third);
    EXPECT_EQ(baseName(*second), base + " 2.log");
    EXPECT_EQ(baseName(*third), base + " 3.log");
    EXPECT_EQ(testing::readText(existing), "someone else's log");
    EXPECT_EQ(testing::readText(*second), "header\n");
}

TEST_F(QLLogFileManagerTest, CreationGivesUpAfterFiveErrors) {
    auto manager = makeManager();
    // The logs folder is a file: every write fails with an error other than "exists".
    ASSERT_FALSE(FileManager::defaultManager().createDirectory(folder_.cacheHome() + "/TervoloNG", true));
    ASSERT_FALSE(FileManager::defaultManager().writeFile(logsDirectory_, std::string("not a folder")));
    platform::LineCapture errors(platform::LineWriter::standardError());
    platform::Error error;
    EXPECT_FALSE(manager->createNewLogFileWithError(&error).has_value());
    EXPECT_NE(error.code, 0);
    const auto lines = errors.lines();
    ASSERT_EQ(lines.size(), 7u);  // folder creation, five critical errors, bailing
    EXPECT_EQ(lines[0].rfind("QLFileLogManagerDefault: Error creating logsDirectory: ", 0), 0u);
    for (size_t i = 1; i <= 5; ++i) {
        EXPECT_EQ(lines[i].rfind("QLLogFileManagerDefault: Critical error while creating log file: ", 0), 0u);
    }
    EXPECT_EQ(lines[6], "QLLogFileManagerDefault: Bailing file creation, encountered 5 errors.");
}

TEST_F(QLLogFileManagerTest, SortedNewestFirstByTheDateInTheName) {
    auto manager = makeManager();
    const std::string app = QLLogFileManagerDefault::applicationName();
    makeLogFile(day(2));
    makeLogFile(day(0));
    makeLogFile(day(5));
    makeFile(app + " 2024-01-31--13-45-07-123 2.log");  // no date in the name: its creation date (now)
    makeFile(app + " undated.log");
    makeFile("other.app 2024-01-31--13-45-07-123.log");  // not ours
    makeFile(app + " 2024-01-31--13-45-07-123.txt");     // not a log file

    const auto names = manager->sortedLogFileNames();
    ASSERT_EQ(names.size(), 5u);
    // The two undated files were created just now: newer than every named date.
    EXPECT_TRUE((names[0] == app + " undated.log" && names[1] == app + " 2024-01-31--13-45-07-123 2.log") ||
                (names[1] == app + " undated.log" && names[0] == app + " 2024-01-31--13-45-07-123 2.log"));
    EXPECT_EQ(names[2], QLLogFileManagerDefault::logFileName(day(5)));
    EXPECT_EQ(names[3], QLLogFileManagerDefault::logFileName(day(2)));
    EXPECT_EQ(names[4], QLLogFileManagerDefault::logFileName(day(0)));
    EXPECT_EQ(manager->sortedLogFilePaths()[4], logsDirectory_ + "/" + names[4]);
    EXPECT_EQ(manager->unsortedLogFileInfos().size(), 5u);
}

TEST_F(QLLogFileManagerTest, SortingManyUndatedFilesIsAStrictOrder) {
    // Dateless files all resolve to dates once; a comparison that treats a
    // dateless file as "now" on one side and "equal" on the other is no
    // strict weak ordering, and std::sort over it may crash or loop.
    auto manager = makeManager();
    const std::string app = QLLogFileManagerDefault::applicationName();
    for (int i = 0; i < 40; ++i) {
        if (i % 2 == 0) {
            makeLogFile(day(i));
        } else {
            makeFile(app + " no date " + std::to_string(i) + ".log");
        }
    }
    const auto infos = manager->sortedLogFileInfos();
    ASSERT_EQ(infos.size(), 40u);
    // Every dated file after every undated one, dated ones newest first.
    for (size_t i = 0; i < 20; ++i) EXPECT_FALSE(QLLogFileNameDate(infos[i]->fileName()).has_value());
    for (size_t i = 20; i + 1 < 40; ++i) {
        EXPECT_GT(*QLLogFileNameDate(infos[i]->fileName()), *QLLogFileNameDate(infos[i + 1]->fileName()));
    }
}

struct PruneCase {
    const char* name;
    std::vector<uint64_t> sizes;  // newest first
    std::vector<bool> archived;   // newest first
    uint64_t maximumCount;
    uint64_t quota;
    std::vector<size_t> kept;  // indexes, newest first
};

class QLLogFilePruningTest : public testing::LogFolderTest,
                             public ::testing::WithParamInterface<PruneCase> {};

TEST_P(QLLogFilePruningTest, DeletesBeyondCountAndQuota) {
    const PruneCase& c = GetParam();
    // A manager no one shares deletes at once when a limit changes; the limits
    // are set before the files exist.
    QLLogFileManagerDefault manager(logsDirectory_);
    manager.setMaximumNumberOfLogFiles(c.maximumCount);
    manager.setLogFilesDiskQuota(c.quota);
    std::vector<std::string> names;
    for (size_t i = 0; i < c.sizes.size(); ++i) {
        names.push_back(baseName(makeLogFile(day(100 - static_cast<int>(i)), c.sizes[i], c.archived[i])));
    }
    manager.deleteOldLogFiles();
    std::vector<std::string> expected;
    for (size_t index : c.kept) expected.push_back(names[index]);
    EXPECT_EQ(manager.sortedLogFileNames(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, QLLogFilePruningTest,
    ::testing::Values(
        PruneCase{"quota exceeded at the second file",
                  {15 * kMiB, 10 * kMiB, 1 * kMiB},
                  {true, true, true},
                  5,
                  20971520,
                  {0}},
        PruneCase{"count",
                  {1, 1, 1, 1, 1, 1, 1},
                  {false, true, true, true, true, true, true},
                  5,
                  20971520,
                  {0, 1, 2, 3, 4}},
        PruneCase{"smaller of count and quota", {10, 10, 10, 10}, {true, true, true, true}, 3, 25, {0, 1}},
        PruneCase{"unarchived newest kept over quota", {30 * kMiB, 1}, {false, true}, 5, 20971520, {0}},
        PruneCase{"archived newest deleted over quota", {30 * kMiB, 1}, {true, true}, 5, 20971520, {}},
        PruneCase{"no limits",
                  {30 * kMiB, 30 * kMiB, 1, 1, 1, 1, 1},
                  {true, true, true, true, true, true, true},
                  0,
                  0,
                  {0, 1, 2, 3, 4, 5, 6}},
        PruneCase{"count only", {30 * kMiB, 30 * kMiB, 1}, {true, true, true}, 2, 0, {0, 1}},
        PruneCase{"quota only", {5, 5, 5, 5}, {true, true, true, true}, 0, 12, {0, 1}}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST_F(QLLogFileManagerTest, SixthFileDeletesTheOldestOnceCreated) {
    auto manager = makeManager();  // shared: deletion runs on the global queue
    std::vector<std::string> names;
    for (int i = 0; i < 5; ++i) names.push_back(baseName(makeLogFile(day(i), 10, true)));
    const auto created = manager->createNewLogFileWithError(nullptr);
    ASSERT_TRUE(created.has_value());
    ASSERT_TRUE(eventually([&] { return manager->unsortedLogFileNames().size() == 5; }));
    const auto remaining = manager->sortedLogFileNames();
    EXPECT_EQ(remaining.front(), baseName(*created));
    EXPECT_EQ(std::find(remaining.begin(), remaining.end(), names[0]), remaining.end());  // the oldest
}

TEST_F(QLLogFileManagerTest, ChangedLimitDeletesOnTheGlobalQueue) {
    auto manager = makeManager();
    for (int i = 0; i < 4; ++i) makeLogFile(day(i), 10, true);
    manager->setMaximumNumberOfLogFiles(2);
    EXPECT_TRUE(eventually([&] { return manager->unsortedLogFileNames().size() == 2; }));
}

TEST_F(QLLogFileManagerTest, PruningWithoutExtendedAttributes) {
    // On a file system without user attributes the archived mark still
    // decides which newest file is spared.
    ScopedExtendedAttributesRefused refused;
    auto names = std::vector<std::string>{baseName(makeLogFile(day(9), 30 * kMiB, false)),
                                          baseName(makeLogFile(day(8), 1, true))};
    QLLogFileManagerDefault manager(logsDirectory_);
    manager.deleteOldLogFiles();
    EXPECT_EQ(manager.sortedLogFileNames(), std::vector<std::string>{names[0]});
    QLLogFileInfo(logsDirectory_ + "/" + names[0]).setIsArchived(true);
    manager.deleteOldLogFiles();
    EXPECT_TRUE(manager.sortedLogFileNames().empty());
}

TEST(QLLogFileFormatterDefaultTest, TimestampTwoBlanksAndMessage) {
    QLLogFileFormatterDefault formatter;
    EXPECT_EQ(formatter.formatLogMessage(*testing::makeRecord("ok", Date::fromUnix(1706708707.123))),
              "2024/01/31 13:45:07:123  ok");
    // The per-second cache gives the full form's text across second and day
    // boundaries and for times stored just below a whole millisecond.
    const double starts[] = {1706745599.990, 1706708707.0, 946684799.9985, 1e9};
    for (double start : starts) {
        for (int i = 0; i < 30; ++i) {
            const Date date = Date::fromUnix(start + i * 0.0007);
            EXPECT_EQ(*formatter.formatLogMessage(*testing::makeRecord("m", date)),
                      platform::dateformat::gmtSlashed(date) + "  m");
        }
    }
    QLLogFileFormatterDefault custom([](Date) { return std::string("D"); });
    EXPECT_EQ(custom.formatLogMessage(*testing::makeRecord("x")), "D  x");
}

}  // namespace
}  // namespace tervolo::logging
