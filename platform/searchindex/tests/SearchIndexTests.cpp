#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>

#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <thread>

#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/searchindex/FileSearchIndex.hpp"
#include "testsupport/FakeSearchIndex.hpp"
#include "testsupport/TemporaryFolder.hpp"

namespace platform {
namespace {

using tervolo::testsupport::FakeSearchIndex;
using tervolo::testsupport::TemporaryFolder;

SearchableItem pointItem(const std::string& id, const std::string& title, double latitude, double longitude) {
    SearchableItem item;
    item.uniqueIdentifier = id;
    item.domainIdentifier = "com.tervolo.TervoloNG";
    item.contentType = "public.content";
    item.title = title;
    item.contentDescription = "Location from Tervolo - " + title;
    item.latitude = latitude;
    item.longitude = longitude;
    return item;
}

// Makes a request and waits for its completion; returns the error and whether
// the completion ran on a thread other than the caller's.
template <class Request>
std::pair<std::optional<Error>, bool> complete(Request request) {
    std::promise<std::pair<std::optional<Error>, bool>> done;
    const auto caller = std::this_thread::get_id();
    request([&](std::optional<Error> error) {
        done.set_value({std::move(error), std::this_thread::get_id() != caller});
    });
    return done.get_future().get();
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class FileSearchIndexTest : public ::testing::Test {
  protected:
    TemporaryFolder folder_;
    std::string path_ = folder_.file("documents/SearchIndex.json");
};

TEST_F(FileSearchIndexTest, ItemsSurviveARestart) {
    SearchableItem harbour = pointItem("A-1", "Harbour", 53.5511, 9.9937);
    harbour.thumbnailData = std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0xFF, 0xD9};
    SearchableItem pier = pointItem("B-2", "Pier \"3\" ünd ß", -33.8688, 151.2093);
    pier.thumbnailData = std::vector<uint8_t>{};  // present but empty is kept apart from absent
    SearchableItem noPlace = pointItem("C-3", "Nowhere", 0, 0);
    noPlace.latitude.reset();
    noPlace.longitude.reset();
    {
        FileSearchIndex index(path_);
        const auto [error, otherThread] = complete([&](auto done) {
            index.indexSearchableItems({harbour, pier, noPlace}, done);
        });
        EXPECT_FALSE(error);
        EXPECT_TRUE(otherThread);
        EXPECT_EQ(index.item("A-1"), harbour);
    }
    FileSearchIndex restarted(path_);
    EXPECT_EQ(restarted.item("A-1"), harbour);
    EXPECT_EQ(restarted.item("B-2"), pier);
    EXPECT_EQ(restarted.item("C-3"), noPlace);
    EXPECT_EQ(restarted.allItems().size(), 3u);
    EXPECT_EQ(restarted.item("missing"), std::nullopt);
}

// The file is read behind the index's back; requests made at once and readers
// on other threads must still meet the items it held.
TEST_F(FileSearchIndexTest, FileItemsComeBeforeRequestsMadeAtOnce) {
    std::vector<SearchableItem> stored;
    for (int i = 0; i < 2000; ++i) stored.push_back(pointItem("P" + std::to_string(i), "p", 1, i));
    {
        FileSearchIndex index(path_);
        ASSERT_FALSE(complete([&](auto done) { index.indexSearchableItems(stored, done); }).first);
    }
    {
        FileSearchIndex restarted(path_);
        restarted.deleteSearchableItemsWithIdentifiers({"P0"}, nullptr);
        const auto [error, otherThread] =
            complete([&](auto done) { restarted.indexSearchableItems({pointItem("new", "n", 2, 2)}, done); });
        EXPECT_FALSE(error);
        EXPECT_EQ(restarted.allItems().size(), 2000u);
        EXPECT_FALSE(restarted.item("P0"));
        EXPECT_TRUE(restarted.item("P1999"));
    }
    std::vector<std::thread> readers;
    FileSearchIndex again(path_);
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&again] {
            EXPECT_EQ(again.allItems().size(), 2000u);
            EXPECT_TRUE(again.item("new"));
        });
    }
    for (auto& reader : readers) reader.join();
}

// Each start hands the index every point again. Requests that change nothing
// leave the file alone (an atomic write would replace its inode); a file that
// holds more or other than the table, or the older format, is still rewritten.
TEST_F(FileSearchIndexTest, RequestsThatChangeNothingLeaveTheFileAlone) {
    const auto inode = [&] {
        struct stat info {};
        EXPECT_EQ(::stat(path_.c_str(), &info), 0);
        return info.st_ino;
    };
    const auto request = [&](auto&& call) { ASSERT_FALSE(complete(call).first); };
    SearchableItem pinned = pointItem("A", "a", 1, 1);
    pinned.thumbnailData = std::vector<uint8_t>{1, 2, 3};
    const std::vector<SearchableItem> items{pinned, pointItem("B", "b", 2, 2)};
    {
        FileSearchIndex index(path_);
        request([&](auto done) { index.indexSearchableItems(items, done); });
        const auto written = inode();
        request([&](auto done) { index.indexSearchableItems(items, done); });
        request([&](auto done) { index.deleteSearchableItemsWithIdentifiers({"unknown"}, done); });
        EXPECT_EQ(inode(), written);
        // A new thumbnail alone is a change.
        SearchableItem repainted = pinned;
        repainted.thumbnailData = std::vector<uint8_t>{9};
        request([&](auto done) { index.indexSearchableItems({repainted}, done); });
        EXPECT_NE(inode(), written);
        request([&](auto done) { index.indexSearchableItems({pinned}, done); });
    }
    {
        FileSearchIndex restarted(path_);
        const auto written = inode();
        request([&](auto done) { restarted.indexSearchableItems(items, done); });
        EXPECT_EQ(inode(), written);
        request([&](auto done) { restarted.deleteSearchableItemsWithIdentifiers({"B"}, done); });
        EXPECT_NE(inode(), written);
        EXPECT_EQ(FileSearchIndex(path_).allItems(), std::vector<SearchableItem>{pinned});
    }
    const char* untidy[] = {
        R"({"version":1,"items":[{"uniqueIdentifier":"B","domainIdentifier":"com.tervolo.TervoloNG",)"
        R"("contentType":"public.content","title":"b","contentDescription":"Location from Tervolo - b",)"
        R"("latitude":2.0,"longitude":2.0}]})",
        R"({"version":2,"thumbnails":[],"items":[{"uniqueIdentifier":"B","domainIdentifier":"com.tervolo.TervoloNG",)"
        R"("contentType":"public.content","title":"b","contentDescription":"Location from Tervolo - b",)"
        R"("latitude":2.0,"longitude":2.0},{"uniqueIdentifier":"bad","latitude":"x"}]})",
    };
    for (const char* text : untidy) {
        ASSERT_FALSE(FileManager::defaultManager().writeFile(path_, std::string_view(text)));
        FileSearchIndex index(path_);
        ASSERT_EQ(index.allItems(), std::vector<SearchableItem>{items[1]}) << text;
        const auto before = inode();
        request([&](auto done) { index.indexSearchableItems({items[1]}, done); });
        EXPECT_NE(inode(), before) << text;
        const std::string rewritten = readText(path_);
        EXPECT_NE(rewritten.find(R"("version":2)"), std::string::npos) << rewritten;
        EXPECT_EQ(rewritten.find("bad"), std::string::npos) << rewritten;
    }
}

TEST_F(FileSearchIndexTest, RequestsApplyInOrderReplaceAndDelete) {
    FileSearchIndex index(path_);
    index.indexSearchableItems({pointItem("A", "first", 1, 1), pointItem("B", "b", 2, 2)}, nullptr);
    index.indexSearchableItems({pointItem("A", "second", 1, 1)}, nullptr);  // same id replaces
    const auto [error, otherThread] = complete([&](auto done) {
        // Unknown identifiers are no error.
        index.deleteSearchableItemsWithIdentifiers({"B", "never-indexed"}, done);
    });
    EXPECT_FALSE(error);
    ASSERT_TRUE(index.item("A"));
    EXPECT_EQ(index.item("A")->title, "second");
    EXPECT_EQ(index.item("B"), std::nullopt);
    EXPECT_EQ(FileSearchIndex(path_).allItems(), index.allItems());
}

TEST_F(FileSearchIndexTest, RefusedOrFailedRequestsChangeNothing) {
    FileSearchIndex index(path_);
    complete([&](auto done) { index.indexSearchableItems({pointItem("A", "kept", 1, 1)}, done); });
    const std::string before = readText(path_);

    const auto [noId, otherThread] = complete([&](auto done) {
        index.indexSearchableItems({pointItem("B", "b", 2, 2), pointItem("", "no id", 3, 3)}, done);
    });
    ASSERT_TRUE(noId);
    EXPECT_EQ(index.item("B"), std::nullopt);

    // The atomic write fails at its rename: the old file stays whole.
    FileManager::setWriteStepHookForTesting(
        [](const char* step, const char*) { return std::string(step) == "rename" ? 28 /* ENOSPC */ : 0; });
    const auto [writeError, otherThread2] =
        complete([&](auto done) { index.deleteSearchableItemsWithIdentifiers({"A"}, done); });
    FileManager::setWriteStepHookForTesting(nullptr);
    ASSERT_TRUE(writeError);
    EXPECT_TRUE(index.item("A"));
    EXPECT_EQ(readText(path_), before);
    EXPECT_EQ(FileManager::defaultManager().contentsOfDirectory(folder_.file("documents"))->size(), 1u);
}

TEST_F(FileSearchIndexTest, SharedThumbnailIsStoredOnce) {
    // Every point carries the same icon; repeating it per item made the file
    // grow by the icon's size for every point.
    const std::vector<uint8_t> icon(3000, 0xAB);
    std::vector<SearchableItem> items;
    for (int i = 0; i < 50; ++i) {
        items.push_back(pointItem("P-" + std::to_string(i), "Point", i, i));
        items.back().thumbnailData = icon;
    }
    items[7].thumbnailData = std::vector<uint8_t>{1, 2, 3};
    {
        FileSearchIndex index(path_);
        complete([&](auto done) { index.indexSearchableItems(items, done); });
    }
    EXPECT_LT(readText(path_).size(), 2 * icon.size() * 4 / 3 + 50 * 250);
    FileSearchIndex restarted(path_);
    for (const SearchableItem& item : items) EXPECT_EQ(restarted.item(item.uniqueIdentifier), item);
}

TEST_F(FileSearchIndexTest, InlineThumbnailsOfTheFirstFormatStillRead) {
    FileManager::defaultManager().createDirectory(folder_.file("documents"), true);
    FileManager::defaultManager().writeFile(
        path_, std::string_view(R"({"version":1,"items":[{"uniqueIdentifier":"a","thumbnailData":"AQID"},)"
                                R"({"uniqueIdentifier":"b","thumbnail":0}]})"));
    FileSearchIndex index(path_);
    EXPECT_EQ(index.item("a")->thumbnailData, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(index.item("b"));  // refers to a thumbnail the file does not have
}

TEST_F(FileSearchIndexTest, UnreadableFileStartsEmptyAndIsReplaced) {
    FileManager::defaultManager().createDirectory(folder_.file("documents"), true);
    const char* bad[] = {"", "{", "[]", R"({"items": 5})", "\xFF\xFE garbage"};
    for (const char* text : bad) {
        FileManager::defaultManager().writeFile(path_, std::string_view(text));
        FileSearchIndex index(path_);
        EXPECT_TRUE(index.allItems().empty()) << text;
    }
    // Items with a wrong member type are left out, the others kept.
    FileManager::defaultManager().writeFile(
        path_,
        std::string_view(R"({"version":1,"items":[{"uniqueIdentifier":"ok","title":"T","latitude":1.5},)"
                         R"({"uniqueIdentifier":"bad","latitude":"1.5"},{"title":"no id"},)"
                         R"({"uniqueIdentifier":"pic","thumbnailData":"not base64!"}]})"));
    FileSearchIndex index(path_);
    ASSERT_EQ(index.allItems().size(), 1u);
    EXPECT_EQ(index.item("ok")->latitude, 1.5);
    complete([&](auto done) { index.indexSearchableItems({pointItem("new", "n", 0, 0)}, done); });
    EXPECT_EQ(FileSearchIndex(path_).allItems().size(), 2u);
}

TEST_F(FileSearchIndexTest, ConcurrentRequestsAndReadsStayConsistent) {
    FileSearchIndex index(path_);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&index, t] {
            for (int i = 0; i < 25; ++i) {
                const std::string id = std::to_string(t) + "-" + std::to_string(i);
                index.indexSearchableItems({pointItem(id, id, t, i)}, nullptr);
                if (i % 5 == 0) index.deleteSearchableItemsWithIdentifiers({id}, nullptr);
                (void)index.item(id);
                (void)index.allItems();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    index.waitUntilIdle();
    EXPECT_EQ(index.allItems().size(), 4u * 20u);
    EXPECT_EQ(FileSearchIndex(path_).allItems(), index.allItems());
}

TEST_F(FileSearchIndexTest, RequestsOutliveTheIndexObject) {
    std::promise<std::optional<Error>> done;
    {
        FileSearchIndex index(path_);
        index.indexSearchableItems({pointItem("A", "a", 1, 1)},
                                   [&](std::optional<Error> error) { done.set_value(std::move(error)); });
    }
    EXPECT_FALSE(done.get_future().get());
    EXPECT_TRUE(FileSearchIndex(path_).item("A"));
}

TEST(SearchIndexDefault, FakeInstallsAndHoldsCompletions) {
    auto fake = std::make_shared<FakeSearchIndex>();
    SearchIndex::setDefaultForTesting(fake);
    int completions = 0;
    SearchIndex::defaultSearchableIndex().indexSearchableItems(
        {pointItem("A", "a", 1, 1)}, [&](std::optional<Error> e) { completions += !e; });
    fake->failNextRequest(Error{"CSIndexErrorDomain", -1003, "index unavailable", 0});
    std::optional<Error> failure;
    SearchIndex::defaultSearchableIndex().deleteSearchableItemsWithIdentifiers(
        {"A"}, [&](std::optional<Error> e) { failure = e; });
    EXPECT_EQ(completions, 0);  // held until the test releases them
    EXPECT_EQ(fake->completePending(), 2u);
    EXPECT_EQ(completions, 1);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, "index unavailable");
    EXPECT_TRUE(fake->item("A"));  // the failed delete changed nothing
    ASSERT_EQ(fake->requests().size(), 2u);
    EXPECT_EQ(fake->requests()[1].identifiers, std::vector<std::string>{"A"});
    SearchIndex::setDefaultForTesting(nullptr);
}

TEST(SearchIndexDefault, RealIndexLivesInTheDocumentsFolder) {
    TemporaryFolder folder;
    auto& index = SearchIndex::defaultSearchableIndex();
    complete([&](auto done) { index.indexSearchableItems({pointItem("A", "a", 1, 1)}, done); });
    EXPECT_TRUE(FileManager::defaultManager().fileExists(folder.dataHome() + "/TervoloNG/SearchIndex.json"));
}

TEST_F(FileSearchIndexTest, LeftoversOfInterruptedWritesAreRemovedWhenAMinuteOld) {
    const std::string folder = folder_.file("documents");
    ASSERT_FALSE(FileManager::defaultManager().createDirectory(folder, true));
    const auto leave = [&](const std::string& name, int ageSeconds) {
        ASSERT_FALSE(FileManager::defaultManager().writeFile(folder + "/" + name, std::string_view("{")));
        struct timespec times[2];
        ::clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= ageSeconds;
        times[1] = times[0];
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder + "/" + name).c_str(), times, 0), 0);
    };
    leave(".SearchIndex.json.tmp-Old001", 3600);
    leave(".SearchIndex.json.tmp-New002", 5);  // another instance's write, perhaps still running
    leave(".Other.json.tmp-Old003", 3600);     // not the index's
    FileSearchIndex index(path_);
    auto names = FileManager::defaultManager().contentsOfDirectory(folder);
    ASSERT_TRUE(names.ok());
    std::sort(names->begin(), names->end());
    EXPECT_EQ(*names, (std::vector<std::string>{".Other.json.tmp-Old003", ".SearchIndex.json.tmp-New002"}));
}

DispatchSemaphore gWriteStarted{0};

// A clean exit while the default index writes its file: the write completes
// and no temporary file stays behind. The exit runs in a child process that
// shares this test's documents folder.
TEST(SearchIndexDefault, ACleanExitFinishesTheWritesAskedFor) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    constexpr const char* kShared = "TERVOLO_TEST_EXIT_DATA_HOME";
    std::optional<TemporaryFolder> folder;
    if (std::getenv(kShared) == nullptr) {
        folder.emplace();
        ::setenv(kShared, folder->dataHome().c_str(), 1);
    }
    std::string documents = std::getenv(kShared);
    documents.append("/TervoloNG");
    std::vector<SearchableItem> items;
    for (int i = 0; i < 20000; ++i) {
        const std::string number = std::to_string(i);
        items.push_back(
            pointItem(std::string("P").append(number), std::string("point ").append(number), i * 1e-3, 1));
    }
    EXPECT_EXIT(
        {
            FileManager::setWriteStepHookForTesting([](const char* step, const char*) {
                if (std::string_view(step) == "write") gWriteStarted.signal();
                return 0;
            });
            SearchIndex::defaultSearchableIndex().indexSearchableItems(items, nullptr);
            gWriteStarted.wait();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    ::unsetenv(kShared);

    auto names = FileManager::defaultManager().contentsOfDirectory(documents);
    ASSERT_TRUE(names.ok());
    EXPECT_EQ(std::count_if(names->begin(), names->end(), FileManager::isTemporaryFileName), 0)
        << ::testing::PrintToString(*names);
    EXPECT_EQ(FileSearchIndex(documents + "/SearchIndex.json").allItems().size(), items.size());
}

// An exit straight after the start's request, while the index still reads a
// large file of its own (the program re-indexes every point at start-up): the
// exit waits until the request is in the file, every item complete, the one
// thumbnail they share stored once.
TEST(SearchIndexDefault, AnExitWhileTheFileIsStillReadKeepsTheRequest) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    constexpr const char* kShared = "TERVOLO_TEST_EXIT_READ_DATA_HOME";
    std::optional<TemporaryFolder> folder;
    if (std::getenv(kShared) == nullptr) {
        folder.emplace();
        ::setenv(kShared, folder->dataHome().c_str(), 1);
    }
    const std::string documents = std::string(std::getenv(kShared)) + "/TervoloNG";
    const std::string path = documents + "/SearchIndex.json";
    const std::vector<uint8_t> icon(2700, 0x5A);
    auto itemsTitled = [&](const std::string& prefix) {
        std::vector<SearchableItem> items;
        for (int i = 0; i < 10000; ++i) {
            const std::string number = std::to_string(i);
            items.push_back(pointItem("P" + number, prefix + number, i * 1e-3, 1));
            items.back().thumbnailData = icon;
        }
        return items;
    };
    if (folder) {
        FileSearchIndex first(path);
        std::atomic<bool> written{false};
        first.indexSearchableItems(itemsTitled("old "), [&](std::optional<Error> error) {
            EXPECT_FALSE(error.has_value());
            written = true;
        });
        first.waitUntilIdle();
        ASSERT_TRUE(written);
    }
    std::vector<SearchableItem> renamed = itemsTitled("new ");
    renamed.push_back(pointItem("extra", "one more", 2, 2));
    EXPECT_EXIT(
        {
            SearchIndex::defaultSearchableIndex().indexSearchableItems(renamed, nullptr);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    ::unsetenv(kShared);

    auto names = FileManager::defaultManager().contentsOfDirectory(documents);
    ASSERT_TRUE(names.ok());
    EXPECT_EQ(std::count_if(names->begin(), names->end(), FileManager::isTemporaryFileName), 0)
        << ::testing::PrintToString(*names);
    const auto stored = FileSearchIndex(path).allItems();
    ASSERT_EQ(stored.size(), renamed.size());
    std::map<std::string, SearchableItem> byIdentifier;
    for (const SearchableItem& item : stored) byIdentifier.emplace(item.uniqueIdentifier, item);
    for (const SearchableItem& item : renamed) EXPECT_EQ(byIdentifier.at(item.uniqueIdentifier), item);
    EXPECT_LT(readText(path).size(), icon.size() * 4 / 3 + renamed.size() * 250);
}

}  // namespace
}  // namespace platform
