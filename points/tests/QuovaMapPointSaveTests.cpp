// Saving a point: stamps, the atomic write, the search-index hand-over and the
// store's needs-sync flag.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "logging/QLLog.hpp"
#include "platform/foundation/FileManager.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/RecordFile.hpp"
#include "points/tests/PointsTestSupport.hpp"
#include "testsupport/FakeSearchIndex.hpp"

namespace tervolo::points {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using testsupport::FakeSearchIndex;

class QuovaMapPointSaveTest : public testing::PointsTest {
  protected:
    std::shared_ptr<QuovaMapPoint> harbour() {
        auto point = QuovaMapPoint::make("Harbour");
        point->setCoordinate({53.5511, 9.9937});
        return point;
    }
    // Index of `text` in the log, or -1.
    static long position(const std::vector<std::string>& texts, const std::string& text) {
        auto it = std::find(texts.begin(), texts.end(), text);
        return it == texts.end() ? -1 : static_cast<long>(it - texts.begin());
    }
};

TEST_F(QuovaMapPointSaveTest, SaveStampsTheChangeWhilePreservingSaveDoesNot) {
    auto point = harbour();
    point->setLastSavedByAppVersion("12");
    clock_->advance(30);
    point->savePreservingLastModification(QuovaMapPointStore::shared());
    EXPECT_EQ(point->lastSavedAt(), platform::Date{kStartSeconds2001});
    EXPECT_EQ(point->lastSavedByAppVersion(), "12");

    clock_->advance(30);
    point->save(QuovaMapPointStore::shared());
    EXPECT_EQ(point->lastSavedAt(), platform::Date{kStartSeconds2001 + 60});
    EXPECT_EQ(point->lastSavedByAppVersion(), "77");
    auto read = QuovaMapPoint::initWithFilePath(pointsFolder() + *point->uuid() + ".QuovaMapPoint");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->lastSavedAt(), point->lastSavedAt());
    EXPECT_EQ(read->lastSavedByAppVersion(), "77");
}

TEST_F(QuovaMapPointSaveTest, EverySaveIndexesThePointThenSetsNeedsSync) {
    auto point = harbour();
    point->setSubtitle("Pier 3");
    point->save(QuovaMapPointStore::shared());
    point->setDeletedAt(platform::Date::now());
    point->setHiddenAt(platform::Date::now());
    point->savePreservingLastModification(
        QuovaMapPointStore::shared());  // deleted and hidden: indexed all the same

    auto requests = FakeSearchIndex::current()->requests();
    // The store was created by the first save, from an empty folder: no
    // request of its own; then one request per save.
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.kind, FakeSearchIndex::Request::Kind::index);
        ASSERT_EQ(request.items.size(), 1u);
        EXPECT_EQ(request.items[0].uniqueIdentifier, *point->uuid());
        EXPECT_EQ(request.items[0].contentDescription, "Location from Tervolo - Pier 3");
    }
    EXPECT_TRUE(QuovaMapPointStore::shared().needsSync());

    const auto texts = log_->texts(logging::QLLogFlag::info);
    const long created = position(texts, "Created array of 1 Spotlight items.");
    const long flagged = position(texts, "QuovaMapPointStore: needs sync flag set.");
    EXPECT_EQ(position(texts, "loadPointsFromLocalStore()"), 0);
    EXPECT_GT(created, 0);
    EXPECT_GT(flagged, created);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Spotlight indexing completed successfully."), 2);
}

TEST_F(QuovaMapPointSaveTest, SavingWithEmptyIdentifierWritesANewFileAndLeavesOthersAlone) {
    std::filesystem::create_directories(pointsFolder());
    writeText(pointsFolder() + ".QuovaMapPoint", "left alone");
    auto point = harbour();
    point->setUuid("");
    point->save(QuovaMapPointStore::shared());
    ASSERT_TRUE(point->uuid().has_value());
    EXPECT_EQ(point->uuid()->size(), 36u);
    EXPECT_THAT(entries(pointsFolder()), ElementsAre(".QuovaMapPoint", *point->uuid() + ".QuovaMapPoint"));
    EXPECT_EQ(readText(pointsFolder() + ".QuovaMapPoint"), "left alone");
}

TEST_F(QuovaMapPointSaveTest, FailedWriteIsLoggedAndStillIndexesAndSetsNeedsSync) {
    // A plain file where the points folder should be is left alone (anything
    // there counts as present); every write into it fails, whatever the
    // permissions of the user.
    std::filesystem::create_directories(documents());
    writeText(documents() + "/points", "");
    auto point = harbour();
    point->save(QuovaMapPointStore::shared());

    auto texts = log_->texts(logging::QLLogFlag::info);
    EXPECT_THAT(texts, Not(Contains(StartsWith("Can't create directory: "))));
    EXPECT_THAT(
        texts,
        Contains("Couldn't serialize point - self.description: \"Harbour, Long: 9.9937, Lat: 53.5511\""));
    EXPECT_EQ(FakeSearchIndex::current()->requests().size(), 1u);
    EXPECT_TRUE(QuovaMapPointStore::shared().needsSync());
    EXPECT_EQ(readText(documents() + "/points"), "");

    // A documents folder that is itself a plain file: the points folder cannot
    // be made; that is logged and the write fails after it.
    std::filesystem::remove_all(documents());
    writeText(documents(), "");
    log_->clear();
    point->save(QuovaMapPointStore::shared());
    texts = log_->texts(logging::QLLogFlag::info);
    EXPECT_THAT(texts, Contains(StartsWith("Can't create directory: ")));
    EXPECT_THAT(texts, Contains(StartsWith("Couldn't serialize point - self.description: \"Harbour")));
    EXPECT_TRUE(QuovaMapPointStore::shared().needsSync());
}

// Save and load agree on the size cap: what a save writes reads back at the
// next start, and a point too large to read back is refused with an error
// instead of being written and then skipped (the point lost).
TEST_F(QuovaMapPointSaveTest, SaveAndLoadAgreeOnTheSizeCap) {
    struct Case {
        const char* name;
        std::size_t noteBytes;
        bool saved;
    };
    const Case cases[] = {
        {"a long note", 1000 * 1000, true},
        {"a note over a mebibyte", 1024 * 1024 + 1, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto point = harbour();
        point->setSubtitle(std::string(test.noteBytes, 'n'));
        point->ensureUUID();
        const std::string path = pointsFolder() + *point->uuid() + ".QuovaMapPoint";
        log_->clear();
        point->save(QuovaMapPointStore::shared());
        EXPECT_EQ(std::filesystem::exists(path), test.saved);
        if (test.saved) {
            EXPECT_THAT(log_->texts(logging::QLLogFlag::error), IsEmpty());
            auto loaded = QuovaMapPoint::initWithFilePath(path);
            ASSERT_NE(loaded, nullptr);
            EXPECT_EQ(loaded->subtitle(), point->subtitle());
        } else {
            EXPECT_THAT(log_->texts(logging::QLLogFlag::error),
                        ElementsAre(AllOf(StartsWith("Not saving \"" + path + "\""),
                                          HasSubstr("more than the 1048576 bytes"))));
            EXPECT_THAT(log_->texts(logging::QLLogFlag::info),
                        Contains(StartsWith("Couldn't serialize point - self.description: \"Harbour")));
        }
    }
}

// A symbolic link in the points folder is replaced by the point's file, never
// followed out of the folder; the replacement is logged.
TEST_F(QuovaMapPointSaveTest, SaveOverASymbolicLinkReplacesTheLinkAndSaysSo) {
    std::filesystem::create_directories(pointsFolder());
    const std::string outside = root_ + "/outside.txt";
    writeText(outside, "not a point");
    auto point = harbour();
    point->setUuid("LINKED");
    const std::string path = pointsFolder() + "LINKED.QuovaMapPoint";
    std::filesystem::create_symlink(outside, path);
    point->save(QuovaMapPointStore::shared());
    EXPECT_EQ(readText(outside), "not a point");
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
    ASSERT_NE(QuovaMapPoint::initWithFilePath(path), nullptr);
    EXPECT_THAT(log_->texts(logging::QLLogFlag::warning),
                ElementsAre("Replaced the symbolic link \"" + path + "\" with the saved file"));
}

TEST_F(QuovaMapPointSaveTest, PointThatCannotBeEncodedIsNotWrittenAndSaysSo) {
    auto point = harbour();
    point->savePreservingLastModification(QuovaMapPointStore::shared());
    const std::string path = pointsFolder() + *point->uuid() + ".QuovaMapPoint";
    const std::string before = readText(path);
    log_->clear();

    point->setAlarmCircleDiameter(std::numeric_limits<double>::infinity());
    point->savePreservingLastModification(QuovaMapPointStore::shared());

    EXPECT_EQ(readText(path), before);  // never a file with null in it
    EXPECT_THAT(log_->texts(logging::QLLogFlag::error),
                ElementsAre(HasSubstr("can't encode point (number is not finite at alarmCircleDiameter)")));
    EXPECT_TRUE(QuovaMapPointStore::shared().needsSync());
    EXPECT_EQ(FakeSearchIndex::current()->requests().size(), 2u);
}

// The save tells its caller whether the file was written and, when not, why:
// a screen that holds the user's edit keeps it open on a failure.
TEST_F(QuovaMapPointSaveTest, SaveTellsItsCallerWhetherTheFileWasWritten) {
    struct Case {
        const char* name;
        std::function<void(QuovaMapPoint&)> prepare;
        std::string domain;  // empty: written
        int64_t code;
    };
    const Case cases[] = {
        {"a plain point", [](QuovaMapPoint&) {}, "", 0},
        {"a 1.1 MB note", [](QuovaMapPoint& p) { p.setSubtitle(std::string(1100 * 1000, 'n')); },
         recordfile::kRecordFileErrorDomain, recordfile::kRecordFileTooLarge},
        {"an infinite radius",
         [](QuovaMapPoint& p) { p.setAlarmCircleDiameter(std::numeric_limits<double>::infinity()); },
         recordfile::kRecordFileErrorDomain, recordfile::kRecordFileNotEncodable},
        {"a points folder that is a plain file",
         [this](QuovaMapPoint&) {
             std::filesystem::remove_all(pointsFolder());
             writeText(documents() + "/points", "");
         },
         platform::Error::kCocoaDomain, platform::Error::kFileNoSuchFile},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto point = harbour();
        test.prepare(*point);
        const auto written = point->save(QuovaMapPointStore::shared());
        if (test.domain.empty()) {
            ASSERT_TRUE(written.ok());
            EXPECT_EQ(written.value(), pointsFolder() + *point->uuid() + ".QuovaMapPoint");
            EXPECT_TRUE(std::filesystem::exists(written.value()));
            continue;
        }
        ASSERT_FALSE(written.ok());
        EXPECT_EQ(written.error().domain, test.domain);
        EXPECT_EQ(written.error().code, test.code);
        EXPECT_FALSE(written.error().description.empty());
        EXPECT_FALSE(std::filesystem::exists(pointsFolder() + *point->uuid() + ".QuovaMapPoint"));
    }
}

// --- a process killed in the middle of a save ------------------------------

int killAtStep(const char* step, const char*) {
    const char* wanted = getenv("POINTS_TEST_KILL_AT");
    if (wanted != nullptr && std::strcmp(step, wanted) == 0) ::kill(::getpid(), SIGKILL);
    return 0;
}

TEST_F(QuovaMapPointSaveTest, ProcessKilledDuringSaveLeavesTheOldOrTheNewFileNeverATornOne) {
    auto point = harbour();
    point->setUuid("0F5B3C9A-7D1E-4B6A-9C2D-1E2F3A4B5C6D");
    point->savePreservingLastModification(QuovaMapPointStore::shared());
    const std::string path = pointsFolder() + *point->uuid() + ".QuovaMapPoint";
    const std::string oldBytes = readText(path);

    struct Case {
        const char* killAt;  // "" lets the child finish
        bool expectNew;
    };
    for (const Case& row :
         {Case{"write", false}, Case{"fsync", false}, Case{"rename", false}, Case{"", true}}) {
        SCOPED_TRACE(row.killAt);
        // The child gets a longer title, so a torn file would be a prefix of it.
        point->setTitle(std::string(row.killAt) + std::string(100000, 'x'));
        const std::string newBytes = point->encodedFile();
        logging::QLLog::sharedInstance().flushLog();  // no logging work in flight across fork
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("POINTS_TEST_KILL_AT", row.killAt, 1);
            platform::FileManager::setWriteStepHookForTesting(&killAtStep);
            const auto bytes = point->encodedFile();
            platform::FileManager::defaultManager().writeFile(path, bytes, platform::WriteOptions::Atomic);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (row.expectNew) {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(readText(path), newBytes);
        } else {
            ASSERT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(readText(path), oldBytes);
        }
        // Whatever the moment of death, the next start reads the point once.
        QuovaMapPointStore::resetSharedForTesting();
        const auto& loaded = QuovaMapPointStore::shared().points();
        ASSERT_EQ(loaded.size(), 1u);
        EXPECT_EQ(loaded[0]->uuid(), point->uuid());
    }
}

}  // namespace
}  // namespace tervolo::points
