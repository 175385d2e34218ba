#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/searchindex/SearchIndex.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/TestEnvironment.hpp"

namespace tervolo::testsupport {
namespace {

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

int resetsRun = 0;
const bool registered = TestEnvironment::registerReset([] { ++resetsRun; });

TEST(TestEnvironmentTest, EverythingItChangesIsPutBackAfterwards) {
    ASSERT_TRUE(registered);
    ::setenv("XDG_DATA_HOME", "/nonexistent/data", 1);
    ::unsetenv("XDG_CONFIG_HOME");
    const auto clockBefore = platform::Clock::current();
    platform::SearchIndex* const indexBefore = &platform::SearchIndex::defaultSearchableIndex();
    const int resetsBefore = resetsRun;
    std::string root;
    {
        TestEnvironment environment(TestEnvironment::Options{1000000000.0, 50.0});
        root = environment.folder().path();
        EXPECT_EQ(resetsRun, resetsBefore + 1);
        EXPECT_EQ(platform::FileManager::defaultManager().documentsDirectory(),
                  environment.folder().dataHome() + "/TervoloNG");
        EXPECT_EQ(variable("XDG_CONFIG_HOME"), environment.folder().configHome());
        EXPECT_DOUBLE_EQ(platform::Date::now().unixTime(), 1000000000.0);
        environment.advance(2.5);
        EXPECT_DOUBLE_EQ(platform::Clock::current()->monotonicSeconds(), 52.5);
        EXPECT_EQ(&platform::SearchIndex::defaultSearchableIndex(), &environment.searchIndex());

        // A folder the test made read-only is still removed.
        const std::string locked = environment.folder().file("locked");
        ASSERT_EQ(::mkdir(locked.c_str(), 0700), 0);
        ASSERT_EQ(::mkdir((locked + "/inner").c_str(), 0700), 0);
        ASSERT_EQ(::chmod(locked.c_str(), 0500), 0);
    }
    EXPECT_EQ(resetsRun, resetsBefore + 2);
    EXPECT_EQ(variable("XDG_DATA_HOME"), "/nonexistent/data");
    EXPECT_EQ(variable("XDG_CONFIG_HOME"), std::nullopt);
    EXPECT_EQ(platform::Clock::current(), clockBefore);
    EXPECT_EQ(&platform::SearchIndex::defaultSearchableIndex(), indexBefore);
    EXPECT_FALSE(std::filesystem::exists(root));
    ::unsetenv("XDG_DATA_HOME");
}

// The code under test may still be removing files on a thread of its own (a
// cache cleared in the background) when the test's folder goes: the folder is
// still removed, and no entry vanishing under its walk may throw out of the
// destructor (that ended the whole test program).
TEST(TestEnvironmentTest, AFolderEmptiedMeanwhileByAnotherThreadIsStillRemoved) {
    for (int round = 0; round < 20; ++round) {
        std::string root;
        std::thread remover;
        {
            TemporaryFolder folder;
            root = folder.path();
            const std::string cache = folder.cacheHome() + "/tiles";
            for (int d = 0; d < 10; ++d) {
                const std::string sub = cache + "/" + std::to_string(d);
                std::filesystem::create_directories(sub);
                for (int f = 0; f < 20; ++f) std::ofstream(sub + "/" + std::to_string(f) + ".image") << "x";
            }
            remover = std::thread([cache] {
                std::error_code ignored;
                std::filesystem::remove_all(cache, ignored);
            });
        }
        remover.join();
        EXPECT_FALSE(std::filesystem::exists(root)) << "round " << round;
    }
}

TEST(TestEnvironmentTest, EventuallyWaitsForAnotherThreadAndGivesUpAtItsTimeout) {
    std::atomic<bool> done{false};
    std::thread worker([&] { done = true; });
    EXPECT_TRUE(eventually([&] { return done.load(); }));
    worker.join();
    EXPECT_FALSE(eventually([] { return false; }, std::chrono::milliseconds(20)));
}

}  // namespace
}  // namespace tervolo::testsupport
