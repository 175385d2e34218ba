// The point store: loading the points folder, duplicates, the search-index
// entries and the store's state at creation.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/foundation/Bundle.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/tests/PointsTestSupport.hpp"
#include "testsupport/FakeSearchIndex.hpp"

namespace tervolo::points {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;
using testsupport::FakeSearchIndex;

using QuovaMapPointStoreTest = testing::PointsTest;

TEST_F(QuovaMapPointStoreTest, EmptyOrMissingFolderGivesNoPointsNoIndexCallAndNoErrorLine) {
    auto& store = QuovaMapPointStore::shared();
    EXPECT_THAT(store.points(), IsEmpty());
    EXPECT_TRUE(std::filesystem::is_directory(pointsFolder()));
    EXPECT_THAT(FakeSearchIndex::current()->requests(), IsEmpty());
    EXPECT_THAT(log_->texts(), ElementsAre("loadPointsFromLocalStore()"));
    EXPECT_FALSE(store.needsSync());
    EXPECT_FALSE(store.pointsLoaded());
    EXPECT_EQ(store.usageCounter(), 0);
    EXPECT_EQ(store.dispatchQueue()->label(), "org.tervolo.TervoloNG.QuovaMapPointStore");
    ASSERT_TRUE(store.encodingSession().has_value());
    EXPECT_EQ(store.encodingSession()->timeoutIntervalForRequest, 7.0);
    EXPECT_EQ(store.encodingSession()->networkServiceType, 6);
}

TEST_F(QuovaMapPointStoreTest, UnlistableFolderStartsEmptyAndSaysSo) {
    std::filesystem::create_directories(documents());
    writeText(documents() + "/points", "a file, not a folder");
    auto& store = QuovaMapPointStore::shared();
    EXPECT_THAT(store.points(), IsEmpty());
    EXPECT_THAT(log_->texts(), ElementsAre("loadPointsFromLocalStore()", "Can't read points directory."));
    EXPECT_THAT(FakeSearchIndex::current()->requests(), IsEmpty());
}

TEST_F(QuovaMapPointStoreTest, MixedFolderLoadsOnlyThePointsAndNothingHangsOrEscapes) {
    const std::string folder = pointsFolder();
    std::filesystem::create_directories(folder + "sub-folder");
    writeText(folder + "sub-folder/inner.QuovaMapPoint", pointFile("INNER", "inner"));
    writeText(folder + "A.QuovaMapPoint", pointFile("A", "one"));
    writeText(folder + "other.json", pointFile("B", "two"));  // another extension, a valid point
    writeText(folder + "notes.txt", "shopping list");
    ASSERT_EQ(::mkfifo((folder + "pipe.QuovaMapPoint").c_str(), 0600), 0);
    {
        // Larger than any point file may be: skipped unread.
        std::ofstream huge(folder + "huge.QuovaMapPoint", std::ios::binary);
        huge << R"({"title":")" << std::string(2 * 1024 * 1024, 'h') << R"(","coordinate":[1,2],)"
             << R"("hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})";
    }
    // A file whose identifier would name a file outside the folder.
    writeText(folder + "hostile.QuovaMapPoint", pointFile("../../escaped", "hostile"));
    std::filesystem::create_symlink("/dev/zero", folder + "zero.QuovaMapPoint");

    auto& store = QuovaMapPointStore::shared();
    EXPECT_THAT(storeTitles(), UnorderedElementsAre("one", "two", "hostile"));
    for (const auto& point : store.points()) {
        if (point->title() == "hostile") {
            EXPECT_FALSE(point->uuid().has_value());
        }
    }
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info),
                Contains(::testing::StartsWith("Can't decode file \"" + folder + "notes.txt\": ")));
    // Every entry with the point extension that is skipped unread is named,
    // with the reason.
    EXPECT_THAT(log_->texts(logging::QLLogFlag::warning),
                UnorderedElementsAre(
                    HasSubstr("ignoring identifier that cannot name a point file: \"../../escaped\""),
                    StartsWith("Skipping \"" + folder + "pipe.QuovaMapPoint\": "),
                    StartsWith("Skipping \"" + folder + "huge.QuovaMapPoint\": "),
                    StartsWith("Skipping \"" + folder + "zero.QuovaMapPoint\": ")));

    // Only the points with title, valid coordinate and identifier are indexed,
    // in one request.
    auto requests = FakeSearchIndex::current()->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].items.size(), 2u);
    EXPECT_THAT(log_->texts(), Contains("Created array of 2 Spotlight items."));

    // Saving the hostile point writes a fresh file inside the folder.
    for (const auto& point : store.points()) {
        if (point->title() == "hostile") point->save(QuovaMapPointStore::shared());
    }
    EXPECT_FALSE(std::filesystem::exists(root_ + "/data/escaped.QuovaMapPoint"));
    EXPECT_FALSE(std::filesystem::exists(documents() + "/escaped.QuovaMapPoint"));
}

// Saves killed between writing and renaming leave hidden temporary files; the
// next start removes ours once they are a minute old and loads none of them.
TEST_F(QuovaMapPointStoreTest, LeftoversOfInterruptedSavesAreRemovedWhenAMinuteOld) {
    const std::string folder = pointsFolder();
    std::filesystem::create_directories(folder);
    writeText(folder + "A.QuovaMapPoint", pointFile("A", "one"));
    const auto leave = [&](const std::string& name, int ageSeconds) {
        writeText(folder + name, pointFile("A", "unfinished"));
        struct timespec times[2];
        ::clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= ageSeconds;
        times[1] = times[0];
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder + name).c_str(), times, 0), 0);
    };
    leave(".A.QuovaMapPoint.tmp-Old001", 3600);
    leave(".B.QuovaMapPoint.tmp-Old002", 61);
    leave(".A.QuovaMapPoint.tmp-New003", 5);  // perhaps another instance's save, still running

    EXPECT_THAT(storeTitles(), ElementsAre("one"));
    EXPECT_THAT(entries(folder), ElementsAre(".A.QuovaMapPoint.tmp-New003", "A.QuovaMapPoint"));
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info),
                ::testing::IsSupersetOf(
                    {"Removed \".A.QuovaMapPoint.tmp-Old001\", left by a save that never completed",
                     "Removed \".B.QuovaMapPoint.tmp-Old002\", left by a save that never completed"}));
}

TEST_F(QuovaMapPointStoreTest, DuplicateIdentifiersBothLoadWithAWarningAndNoFileIsDeleted) {
    writeText(QuovaMapPoint::documentDirectory() + "SAME.QuovaMapPoint", pointFile("SAME", "first"));
    writeText(pointsFolder() + "SAME copy.QuovaMapPoint", pointFile("SAME", "second"));
    auto& store = QuovaMapPointStore::shared();
    ASSERT_EQ(store.points().size(), 2u);
    EXPECT_NE(store.points()[0], store.points()[1]);
    EXPECT_EQ(store.points()[0]->uuid(), store.points()[1]->uuid());
    EXPECT_THAT(log_->texts(logging::QLLogFlag::warning),
                ElementsAre(HasSubstr("2 files hold the identifier \"SAME\"")));
    EXPECT_THAT(entries(pointsFolder()), ElementsAre("SAME copy.QuovaMapPoint", "SAME.QuovaMapPoint"));
}

TEST_F(QuovaMapPointStoreTest, DeletedAndHiddenPointsLoadAndAreIndexedLikeAnyOther) {
    auto deleted = QuovaMapPoint::make("deleted");
    deleted->setCoordinate({1, 2});
    deleted->setDeletedAt(platform::Date{5});
    auto hidden = QuovaMapPoint::make("hidden");
    hidden->setCoordinate({1, 2});
    hidden->setHiddenAt(platform::Date{6});
    deleted->save(QuovaMapPointStore::shared());
    hidden->save(QuovaMapPointStore::shared());

    QuovaMapPointStore::resetSharedForTesting();
    FakeSearchIndex::install();
    EXPECT_THAT(storeTitles(), UnorderedElementsAre("deleted", "hidden"));
    auto requests = FakeSearchIndex::current()->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].items.size(), 2u);
}

TEST_F(QuovaMapPointStoreTest, SearchableItemCarriesThePointAndTheThumbnail) {
    // A resources folder with the icon, another without.
    const std::string withIcon = root_ + "/res-with";
    const std::string withoutIcon = root_ + "/res-without";
    std::filesystem::create_directories(withIcon);
    std::filesystem::create_directories(withoutIcon);
    std::filesystem::copy_file(std::string(TERVOLO_SOURCE_RESOURCES) + "/Icon-Small.jpg",
                               withIcon + "/Icon-Small.jpg");

    auto point = QuovaMapPoint::make("Harbour");
    point->setUuid("U1");
    point->setCoordinate({53.5511, 9.9937});

    // Choosing a resources folder forgets the information dictionary; give
    // it back each time.
    const auto useResources = [](const std::string& folder) {
        auto& bundle = platform::Bundle::main();
        const auto info = bundle.infoDictionary();
        bundle.setResourcesDirectory(folder);
        bundle.setInfoDictionaryForTesting(info);
    };
    useResources(withIcon);
    auto item = QuovaMapPointStore::searchableItem(*point);
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(item->uniqueIdentifier, "U1");
    EXPECT_EQ(item->domainIdentifier, "org.tervolo.TervoloNG");
    EXPECT_EQ(item->contentType, "public.content");
    EXPECT_EQ(item->title, "Harbour");
    EXPECT_EQ(item->latitude, 53.5511);
    EXPECT_EQ(item->longitude, 9.9937);
    EXPECT_EQ(item->contentDescription, "Location from Tervolo");
    ASSERT_TRUE(item->thumbnailData.has_value());
    ASSERT_GE(item->thumbnailData->size(), 4u);
    EXPECT_EQ((*item->thumbnailData)[0], 0xFF);  // JPEG start-of-image marker
    EXPECT_EQ((*item->thumbnailData)[1], 0xD8);

    point->setSubtitle("Pier 3");
    useResources(withoutIcon);
    item = QuovaMapPointStore::searchableItem(*point);
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(item->contentDescription, "Location from Tervolo - Pier 3");
    EXPECT_FALSE(item->thumbnailData.has_value());
    platform::Bundle::main().setResourcesDirectory(std::nullopt);
}

TEST_F(QuovaMapPointStoreTest, PointsLackingTitleCoordinateOrIdentifierAreLeftOutOfTheIndex) {
    auto& store = QuovaMapPointStore::shared();
    auto untitled = QuovaMapPoint::make("x");
    untitled->setTitle(std::nullopt);
    untitled->setUuid("U1");
    untitled->setCoordinate({1, 2});
    auto nowhere = QuovaMapPoint::make("nowhere");
    nowhere->setUuid("U2");
    auto anonymous = QuovaMapPoint::make("anonymous");
    anonymous->setCoordinate({1, 2});
    log_->clear();

    store.addPointsToCoreSpotlight({untitled, nowhere, anonymous});
    store.addPointsToCoreSpotlight({});
    store.removePointFromSpotlight(*anonymous);  // no identifier: nothing at all
    EXPECT_THAT(FakeSearchIndex::current()->requests(), IsEmpty());
    EXPECT_THAT(log_->texts(), IsEmpty());
}

TEST_F(QuovaMapPointStoreTest, RemovalAndFailuresAreLoggedFromTheCompletion) {
    auto& store = QuovaMapPointStore::shared();
    auto point = QuovaMapPoint::make("Harbour");
    point->setUuid("U1");
    point->setCoordinate({1, 2});
    auto untitled = QuovaMapPoint::make("x");
    untitled->setTitle(std::nullopt);
    untitled->setUuid("U2");
    log_->clear();

    // Each completion runs on the index's thread; waiting for it before the
    // next request keeps the log lines in a fixed order.
    auto& index = *FakeSearchIndex::current();
    store.removePointFromSpotlight(*point);
    index.requests();
    index.setFailure(platform::Error{"SearchIndex", 5, "disk full"});
    store.removePointFromSpotlight(*untitled);
    index.requests();
    store.addPointsToCoreSpotlight({point});

    auto requests = index.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].kind, FakeSearchIndex::Request::Kind::remove);
    EXPECT_THAT(requests[0].identifiers, ElementsAre("U1"));
    EXPECT_THAT(requests[1].identifiers, ElementsAre("U2"));
    EXPECT_EQ(requests[2].kind, FakeSearchIndex::Request::Kind::index);
    EXPECT_THAT(
        log_->texts(logging::QLLogFlag::info),
        ElementsAre("removing point \"Harbour\" from Spotlight completed successfully.",
                    "removing point \"(unknown)\" from Spotlight FAILED, reason: disk full.",
                    "Created array of 1 Spotlight items.", "Spotlight indexing FAILED, reason: disk full."));
}

}  // namespace
}  // namespace tervolo::points
