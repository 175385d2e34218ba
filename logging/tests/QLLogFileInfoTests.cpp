#include "logging/QLLogFileInfo.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "logging/tests/LogFileTestSupport.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/FileManager.hpp"

namespace tervolo::logging {
namespace {

using platform::FileManager;
using testing::baseName;
using testing::readText;
using testing::ScopedExtendedAttributesRefused;

class QLLogFileInfoTest : public testing::LogFolderTest {};

TEST_F(QLLogFileInfoTest, ArchivedMarkByAttributeValue) {
    struct Case {
        const char* name;
        std::optional<std::vector<uint8_t>> value;  // empty: no attribute
        bool archived;
        std::optional<std::vector<uint8_t>> afterwards;
    };
    const Case cases[] = {
        {"no attribute", std::nullopt, false, std::nullopt},
        {"byte 1", std::vector<uint8_t>{1}, true, std::vector<uint8_t>{1}},
        {"byte 0 counts and is rewritten", std::vector<uint8_t>{0}, true, std::vector<uint8_t>{1}},
        {"empty value counts and is rewritten", std::vector<uint8_t>{}, true, std::vector<uint8_t>{1}},
        {"longer value does not count", std::vector<uint8_t>{1, 1}, false, std::vector<uint8_t>{1, 1}},
    };
    auto& files = FileManager::defaultManager();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = makeFile(std::string("file ") + c.name);
        if (c.value) {
            ASSERT_FALSE(files.setExtendedAttribute(path, QLLogFileInfo::kArchivedAttributeName, *c.value));
        }
        QLLogFileInfo info(path);
        EXPECT_EQ(info.isArchived(), c.archived);
        auto stored = files.extendedAttribute(path, QLLogFileInfo::kArchivedAttributeName, 8);
        if (c.afterwards) {
            ASSERT_TRUE(stored.ok());
            EXPECT_EQ(stored.value(), *c.afterwards);
        } else {
            EXPECT_FALSE(stored.ok());
        }
    }
}

TEST_F(QLLogFileInfoTest, SettingAndClearingTheMark) {
    QLLogFileInfo info(makeFile("a.log"));
    info.setIsArchived(true);
    EXPECT_TRUE(info.isArchived());
    info.setIsArchived(false);
    EXPECT_FALSE(info.isArchived());
    info.setIsArchived(false);  // no attribute to remove: silent

    // A file that is gone: not archived, and marking it is silent.
    platform::LineCapture errors(platform::LineWriter::standardError());
    QLLogFileInfo gone(logsDirectory_ + "/gone.log");
    gone.setIsArchived(true);
    EXPECT_FALSE(gone.isArchived());
    EXPECT_TRUE(errors.lines().empty());
}

TEST_F(QLLogFileInfoTest, MarkFallsBackToTheFileModeWithoutExtendedAttributes) {
    const std::string path = makeFile("a.log");
    ScopedExtendedAttributesRefused refused;
    platform::LineCapture errors(platform::LineWriter::standardError());
    QLLogFileInfo info(path);
    EXPECT_FALSE(info.isArchived());
    info.setIsArchived(true);
    EXPECT_TRUE(info.isArchived());
    EXPECT_TRUE(QLLogFileInfo(path).isArchived());  // kept on the file, not in the object
    info.setIsArchived(false);
    EXPECT_FALSE(info.isArchived());
    EXPECT_TRUE(errors.lines().empty());
}

TEST_F(QLLogFileInfoTest, RenameReplacesAnExistingFileAndResetsTheCache) {
    const std::string path = makeFile("old.log", 0, false, "old");
    const std::string other = makeFile("new.log", 0, false, "replaced");
    QLLogFileInfo info(path);
    ASSERT_EQ(info.fileName(), "old.log");
    EXPECT_EQ(info.fileSize(), 3u);

    info.renameFile("old.log");  // same name: nothing happens
    EXPECT_EQ(info.filePath(), path);
    EXPECT_EQ(readText(path), "old");

    info.renameFile("new.log");
    EXPECT_EQ(info.filePath(), other);
    EXPECT_EQ(info.fileName(), "new.log");
    EXPECT_EQ(readText(other), "old");
    EXPECT_FALSE(FileManager::defaultManager().fileExists(path));

    // A failed move is reported and the new path is kept.
    platform::LineCapture errors(platform::LineWriter::standardError());
    QLLogFileInfo missing(logsDirectory_ + "/missing.log");
    missing.renameFile("elsewhere.log");
    EXPECT_EQ(missing.fileName(), "elsewhere.log");
    ASSERT_EQ(errors.lines().size(), 1u);
    EXPECT_EQ(errors.lines()[0].rfind("QLLogFileInfo: Error renaming file (missing.log): ", 0), 0u);
}

TEST_F(QLLogFileInfoTest, SizeSurvivesResetWhileAttributesAreReadAgain) {
    const std::string path = makeFile("a.log", 0, false, "12345");
    QLLogFileInfo info(path);
    EXPECT_EQ(info.fileSize(), 5u);
    ASSERT_FALSE(FileManager::defaultManager().writeFile(path, std::string("1234567890")));
    info.reset();
    EXPECT_EQ(info.fileSize(), 5u);               // kept
    EXPECT_EQ(info.fileAttributes()->size, 10u);  // read again

    // A size of 0 is read again on the next call.
    const std::string empty = makeFile("b.log");
    QLLogFileInfo growing(empty);
    EXPECT_EQ(growing.fileSize(), 0u);
    ASSERT_FALSE(FileManager::defaultManager().writeFile(empty, std::string("abc")));
    growing.reset();
    EXPECT_EQ(growing.fileSize(), 3u);
}

TEST_F(QLLogFileInfoTest, MissingFileHasNoAttributesAndReportsIt) {
    platform::LineCapture errors(platform::LineWriter::standardError());
    QLLogFileInfo info(logsDirectory_ + "/missing.log");
    EXPECT_FALSE(info.fileAttributes().has_value());
    EXPECT_FALSE(info.creationDate().has_value());
    EXPECT_EQ(info.age(), 0);
    EXPECT_EQ(info.fileSize(), 0u);
    ASSERT_FALSE(errors.lines().empty());
    EXPECT_EQ(errors.lines()[0].rfind("QLLogFileInfo: Failed to read file attributes: ", 0), 0u);
}

TEST_F(QLLogFileInfoTest, EqualityByPathAndNewestFirstComparison) {
    const std::string path = makeFile("a.log");
    QLLogFileInfo one(path);
    QLLogFileInfo two(path);
    (void)one.creationDate();  // cached dates play no part
    EXPECT_TRUE(one == two);
    EXPECT_EQ(one.hash(), two.hash());
    EXPECT_FALSE(one == QLLogFileInfo(path + "x"));

    EXPECT_EQ(QLLogFileInfo::logFileWithPath(std::nullopt), nullptr);
    EXPECT_EQ(QLLogFileInfo::logFileWithPath(path)->filePath(), path);

    // Newer (later modification) sorts first; a missing date is the oldest.
    const std::string newer = makeFile("b.log");
    struct timespec times[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    QLLogFileInfo older(path);
    QLLogFileInfo newest(newer);
    QLLogFileInfo missing(logsDirectory_ + "/missing.log");
    platform::LineCapture errors(platform::LineWriter::standardError());
    EXPECT_GT(older.reverseCompareByModificationDate(newest), 0);
    EXPECT_LT(newest.reverseCompareByModificationDate(older), 0);
    EXPECT_EQ(older.reverseCompareByModificationDate(older), 0);
    EXPECT_LT(older.reverseCompareByModificationDate(missing), 0);
    EXPECT_LT(newest.reverseCompareByCreationDate(missing), 0);
}

TEST_F(QLLogFileInfoTest, DateInALogFileName) {
    const auto date = QLLogFileNameDate("org.app 2024-01-31--13-45-07-123.log");
    ASSERT_TRUE(date.has_value());
    EXPECT_NEAR(date->unixTime(), 1706708707.123, 1e-6);
    EXPECT_FALSE(QLLogFileNameDate("org.app 2024-01-31--13-45-07-123 2.log").has_value());
    EXPECT_FALSE(QLLogFileNameDate("org.app notes.log").has_value());
    EXPECT_FALSE(QLLogFileNameDate("").has_value());
}

}  // namespace
}  // namespace tervolo::logging
