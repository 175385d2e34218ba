// The point store's load across threads: the files are read and decoded on
// the worker threads and the caller's, so ThreadSanitizer runs these.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dispatch/ProcessorCount.hpp"
#include "platform/foundation/FileManager.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/tests/PointsTestSupport.hpp"
#include "testsupport/FakeSearchIndex.hpp"

namespace tervolo::points {
namespace {

using testsupport::FakeSearchIndex;

using QuovaMapPointStoreLoadTest = testing::PointsTest;

// The files are read several at once: what loads, its order and the index
// request are still those of reading the listing one entry after another.
TEST_F(QuovaMapPointStoreLoadTest, ManyFilesLoadInListingOrderWhateverTheNumberOfProcessors) {
    const std::string folder = pointsFolder();
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 700; ++i) {
        const std::string id = "P" + std::to_string(i);
        if (i % 97 == 5) {
            writeText(folder + id + ".QuovaMapPoint", "{ not json");  // skipped, with its log line
        } else if (i % 50 == 7) {
            // Loads, but without a coordinate it has no search item.
            writeText(folder + id + ".QuovaMapPoint",
                      R"({"title":"t)" + std::to_string(i) + R"(","coordinate":[200,100],"uuid":")" + id +
                          R"(","hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})");
        } else {
            writeText(folder + id + ".QuovaMapPoint", pointFile(id, "t" + std::to_string(i)));
        }
    }
    // What reading the listing in order gives.
    const auto listing = platform::FileManager::defaultManager().contentsOfDirectory(folder);
    ASSERT_TRUE(listing.ok());
    std::vector<std::string> expectedTitles;
    std::vector<std::string> expectedItems;
    for (const auto& name : listing.value()) {
        const int i = std::stoi(name.substr(1));
        if (i % 97 == 5) continue;
        expectedTitles.push_back("t" + std::to_string(i));
        if (i % 50 != 7) expectedItems.push_back("P" + std::to_string(i));
    }
    ASSERT_EQ(expectedTitles.size(), 692u);

    for (const int processors : {1, 3, 16}) {
        SCOPED_TRACE(processors);
        platform::setProcessorCountForTesting(processors);
        QuovaMapPointStore::resetSharedForTesting();
        FakeSearchIndex::install();
        log_->clear();
        EXPECT_EQ(storeTitles(), expectedTitles);
        const auto requests = FakeSearchIndex::current()->requests();
        ASSERT_EQ(requests.size(), 1u);
        std::vector<std::string> items;
        for (const auto& item : requests[0].items) items.push_back(item.uniqueIdentifier);
        EXPECT_EQ(items, expectedItems);
        EXPECT_EQ(requests[0].items[0].contentDescription, "Location from Tervolo");
        int undecodable = 0;
        for (const auto& text : log_->texts()) undecodable += text.rfind("Can't decode file ", 0) == 0;
        EXPECT_EQ(undecodable, 8);
    }
    platform::setProcessorCountForTesting(std::nullopt);
}

}  // namespace
}  // namespace tervolo::points
