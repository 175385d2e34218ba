#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/dispatch/DispatchQueue.hpp"
#include "testsupport/Eventually.hpp"
#include "tiles/TileDiskCache.hpp"
#include "tiles/TileImageCheck.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

namespace tervolo::tiles {
namespace {

using testing::TilesTest;
namespace fs = std::filesystem;

class TileDiskCacheTest : public TilesTest {
  protected:
    void SetUp() override {
        TilesTest::SetUp();
        manager_ = TileCacheManager::initWithMap("DiskCache", "http://t.invalid/%1$@/%2$@/%3$@.png", {},
                                                 "OpenStreetMapTiles", {});
        ASSERT_TRUE(manager_);
    }
    void store(const std::string& storagePath, const std::string& bytes) {
        ASSERT_TRUE(
            manager_->storeTile({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, storagePath));
    }
    std::string file(const std::string& storagePath) const {
        return manager_->tempDir() + "/" + storagePath + ".image";
    }
    std::vector<std::string> entries(const std::string& folder) const {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(folder, ignored))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Waits (bounded) for the background deletion to empty a folder.
    bool becomesEmpty(const std::string& folder) const {
        return tervolo::testsupport::eventually([&] { return entries(folder).empty(); },
                                                std::chrono::seconds(30));
    }

    std::shared_ptr<TileCacheManager> manager_;
};

TEST_F(TileDiskCacheTest, FoldersAndFileNames) {
    EXPECT_EQ(manager_->tempDir(), documents() + "/OpenStreetMapTiles");
    EXPECT_EQ(manager_->oldTempDir().substr(manager_->oldTempDir().size() - 19), "/OpenStreetMapTiles");
    store("12-2200-1343", "png bytes");
    EXPECT_TRUE(fs::is_regular_file(documents() + "/OpenStreetMapTiles/12-2200-1343.image"));
    // The folder is tagged for backup tools once, when it is made; no temporary is left behind.
    EXPECT_EQ(entries(manager_->tempDir()), (std::vector<std::string>{"12-2200-1343.image", "CACHEDIR.TAG"}));
    std::ifstream tag(manager_->tempDir() + "/CACHEDIR.TAG");
    std::string signature;
    std::getline(tag, signature);
    EXPECT_EQ(signature, "Signature: 8a477f597d28d172789f06886806bc55");
    EXPECT_EQ(countSystemLines("Created tile dir"), 1u);
    store("12-2200-1344", "more");
    EXPECT_EQ(countSystemLines("Created tile dir"), 1u);
}

TEST_F(TileDiskCacheTest, StatesByFileAgeAndRecords) {
    auto t = tile(12, 2200, 1343);
    EXPECT_EQ(manager_->tileStateForTile(*t), 0u);
    store(t->storagePath(), "bytes");
    struct Case {
        double secondsAgo;
        uint64_t state;
    } cases[] = {{0, 1}, {604799, 1}, {604800, 1}, {604801, 4}, {30 * 86400, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.secondsAgo);
        age(file(t->storagePath()), c.secondsAgo);
        EXPECT_EQ(manager_->tileStateForTile(*t), c.state);
    }
}

TEST_F(TileDiskCacheTest, OutdatedTileIsReturnedWhenAcceptedAndDeletedOtherwise) {
    auto t = tile(12, 2200, 1343);
    store(t->storagePath(), "old bytes");
    age(file(t->storagePath()), 604801);

    auto kept = manager_->tileDataForStoragePath(t->storagePath(), true);
    ASSERT_TRUE(kept);
    EXPECT_EQ(std::string(kept->begin(), kept->end()), "old bytes");
    EXPECT_TRUE(fs::exists(file(t->storagePath())));

    EXPECT_FALSE(manager_->tileDataForStoragePath(t->storagePath(), false));
    EXPECT_FALSE(fs::exists(file(t->storagePath())));
    EXPECT_EQ(countSystemLines("outdated tiles are not OK -> deleting expired tile " +
                               file(t->storagePath()) + " "),
              1u);
    EXPECT_EQ(manager_->tileStateForTile(*t), 0u);
    EXPECT_FALSE(manager_->tileDataForStoragePath("12-9-9", true));
}

TEST_F(TileDiskCacheTest, StoragePathFromURLText) {
    struct Case {
        const char* url;
        std::optional<std::string> path;
    } cases[] = {
        {"https://a.tiles.example/tiles/osm/12/2200/1343.png", "12-2200-1343"},
        {"https://a.tiles.example/tiles/osm/12/2200/1343@2x.png", "12-2200-1343"},
        {"https://a.tiles.example/tiles/osm/12/2200/1343", "12-2200-1343"},
        {"12/2200/1343.png.gz", "12-2200-1343"},
        {"2200/1343.png", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(TileCacheManager::storagePathWithURLString(c.url), c.path);
    }
}

TEST_F(TileDiskCacheTest, PathsAreBuiltOnlyFromIntegersAndAPlainFolderName) {
    for (const char* bad : {"../x-1-2", "1-2", "1-2-3-4", "a-b-c", "1--2", "-1-2", "1-2-3/..", ""}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(TileDiskCache::isValidStoragePath(bad));
        EXPECT_FALSE(manager_->storeTile(std::vector<uint8_t>{1}, bad));
    }
    EXPECT_FALSE(fs::exists(documents() + "/x-1-2.image"));
    for (const char* bad : {"", ".", "..", "a/b", "/abs"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(TileCacheManager::initWithMap("Bad", "http://t.invalid/", {}, bad, {}));
    }
}

TEST_F(TileDiskCacheTest, ClearingTwiceInARowEmptiesTheCacheBothTimes) {
    store("1-0-0", "a");
    fs::create_directories(manager_->oldTempDir());
    std::ofstream(manager_->oldTempDir() + "/old.image") << "x";

    manager_->clearCacheDirs();
    EXPECT_FALSE(fs::exists(manager_->tempDir()));
    EXPECT_FALSE(fs::exists(manager_->oldTempDir()));
    EXPECT_EQ(countSystemLines("TilecacheManager: received clearCacheDirs"), 1u);

    // The next stored tile makes the folder again; a second clear right away
    // (the first one's trash may still be there) empties it too.
    store("2-1-1", "b");
    EXPECT_EQ(countSystemLines("Created tile dir"), 2u);
    manager_->clearCacheDirs();
    EXPECT_FALSE(fs::exists(manager_->tempDir()));
    EXPECT_FALSE(hasSystemLineContaining("cache deletion issue"));
    EXPECT_EQ(manager_->tileStateForTile(*tile(2, 1, 1)), 0u);

    EXPECT_TRUE(becomesEmpty(documents() + "/trashcan2"));
    EXPECT_TRUE(fs::is_directory(documents() + "/trashcan1"));
}

TEST_F(TileDiskCacheTest, ATileFileThatDoesNotDecodeIsDeletedAndDownloadsAgain) {
    auto t = tile(5, 3, 4);
    store(t->storagePath(), "<html>captive portal</html>");
    EXPECT_EQ(manager_->tileStateForTile(*t), 1u);
    auto bytes = manager_->tileDataForStoragePath(t->storagePath(), false);
    ASSERT_TRUE(bytes);
    ASSERT_FALSE(isTileImage(*bytes));
    manager_->discardUndecodableTile(t->storagePath());
    EXPECT_EQ(manager_->tileStateForTile(*t), 0u);
    EXPECT_FALSE(fs::exists(file(t->storagePath())));
}

TEST_F(TileDiskCacheTest, AFailedStoreKeepsTheTileInMemoryBoundedAndForgottenOnClear) {
    // A plain file where the folder should be: the folder cannot be made.
    fs::create_directories(documents());
    std::ofstream(manager_->tempDir()) << "in the way";
    auto t = tile(7, 1, 2);
    EXPECT_FALSE(manager_->storeTile(std::vector<uint8_t>{9, 8, 7}, t->storagePath()));
    EXPECT_EQ(countSystemLines("Can't store tile - failed to create tile dir"), 1u);
    EXPECT_EQ(manager_->tileStateForTile(*t), 1u);
    EXPECT_EQ(manager_->tileDataForStoragePath(t->storagePath(), false), (std::vector<uint8_t>{9, 8, 7}));

    for (uint64_t i = 0; i < TileCacheManager::kUnstoredTileCapacity; ++i) {
        manager_->storeTile(std::vector<uint8_t>{1}, tile(9, i, 0)->storagePath());
    }
    // A disk that refuses every tile is reported once a minute, not once a tile.
    EXPECT_EQ(countSystemLines("Can't store tile - failed to create tile dir"), 1u);
    time_->advance(60.0);
    manager_->storeTile(std::vector<uint8_t>{1}, tile(9, 999, 0)->storagePath());
    EXPECT_EQ(countSystemLines("Can't store tile - failed to create tile dir"), 2u);
    EXPECT_EQ(countSystemLines("64 more tiles could not be stored in the last minute"), 1u);
    EXPECT_EQ(manager_->tileStateForTile(*t), 0u) << "the oldest entry leaves first";
    EXPECT_EQ(manager_->tileStateForTile(*tile(9, 0, 0)), 0u);
    EXPECT_EQ(manager_->tileStateForTile(*tile(9, 5, 0)), 1u);
    manager_->clearCacheDirs();
    EXPECT_EQ(manager_->tileStateForTile(*tile(9, 5, 0)), 0u);
}

// A store killed between writing its temporary file and renaming it leaves
// the file behind; opening the cache folder again sweeps such files once
// they are a minute old, and nothing else.
TEST_F(TileDiskCacheTest, OpeningTheFolderRemovesTemporaryFilesOfStoresThatNeverCompleted) {
    store("5-1-2", "png bytes");
    const std::string folder = manager_->tempDir();
    auto write = [&](const std::string& name, double secondsAgo) {
        std::ofstream(folder + "/" + name) << "partial";
        // File ages are the file system's, on the real clock.
        struct timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        const struct timespec times[2] = {{now.tv_sec - time_t(secondsAgo), 0},
                                          {now.tv_sec - time_t(secondsAgo), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder + "/" + name).c_str(), times, 0), 0);
    };
    write(".5-1-2.AbC123", 120);        // ours, abandoned
    write(".12-2200-1343.q9Z0x1", 61);  // ours, abandoned
    write(".5-1-3.XyZ789", 5);          // ours, a store may still be writing it
    write(".notatile.abcdef", 120);     // not ours
    write(".5-1-4.abc", 120);           // not our pattern
    write("notes.txt", 120);
    EXPECT_TRUE(TileDiskCache::isTemporaryFileName(".5-1-2.AbC123"));
    EXPECT_FALSE(TileDiskCache::isTemporaryFileName("5-1-2.image"));
    EXPECT_FALSE(TileDiskCache::isTemporaryFileName(".5-1.AbC123"));

    auto reopened = TileCacheManager::initWithMap("DiskCache", "http://t.invalid/%1$@/%2$@/%3$@.png", {},
                                                  "OpenStreetMapTiles", {});
    ASSERT_TRUE(tervolo::testsupport::eventually([&] {
        return hasSystemLineContaining(".5-1-2.AbC123, left by a tile store that never completed") &&
               hasSystemLineContaining(".12-2200-1343.q9Z0x1, left by a tile store that never completed");
    }));
    EXPECT_EQ(entries(folder), (std::vector<std::string>{".5-1-3.XyZ789", ".5-1-4.abc", ".notatile.abcdef",
                                                         "5-1-2.image", "CACHEDIR.TAG", "notes.txt"}));
}

}  // namespace
}  // namespace tervolo::tiles
