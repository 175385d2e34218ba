// The share item's request on threads of the share sheet's own while the main
// thread keeps using the points and uploads complete on a networking thread.
// Built and run under ThreadSanitizer.
#include <atomic>
#include <chrono>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/ShareActivityType.hpp"
#include "points/ShareItemWait.hpp"
#include "points/tests/FakeShorturlUploader.hpp"
#include "points/tests/PointsTestSupport.hpp"

namespace tervolo::points {
namespace {

using namespace std::chrono_literals;
using testing::FakeShorturlUploader;

// gcc 12 warns falsely (-Wrestrict) on a literal + std::to_string(...).
std::string label(std::string prefix, int number) {
    prefix += std::to_string(number);
    return prefix;
}

class QuovaMapPointShareConcurrencyTest : public testing::PointsTest {
  protected:
    void SetUp() override {
        PointsTest::SetUp();
        uploader_ = std::make_shared<FakeShorturlUploader>();
        QuovaMapPointStore::shared().setShorturlUploader(uploader_);
        // Short real pauses; the limit is far beyond what the tests need.
        setShareItemWaitForTesting(ShareItemWait{30.0, 0.001, [this](double seconds) {
                                                     waiting_ = true;
                                                     std::this_thread::sleep_for(
                                                         std::chrono::duration<double>(seconds));
                                                 }});
    }
    void TearDown() override {
        setShareItemWaitForTesting(std::nullopt);
        PointsTest::TearDown();
    }

    std::shared_ptr<QuovaMapPoint> storedPoint(const std::string& title, double latitude) {
        auto point = QuovaMapPoint::make(title);
        point->setCoordinate({latitude, 9.9937});
        QuovaMapPointStore::shared().addPoint(point);
        return point;
    }

    // Waits (really, briefly) until `condition` holds; false after 20 s.
    static bool eventually(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    std::shared_ptr<FakeShorturlUploader> uploader_;
    std::atomic<bool> waiting_{false};
};

TEST_F(QuovaMapPointShareConcurrencyTest, ItemRequestWaitsForAnUploadCompletedOnAnotherThread) {
    auto point = storedPoint("Harbour", 53.5511);
    clock_->advance(1);  // the link is stored after the point's last save

    std::atomic<bool> done{false};
    std::string result;
    std::thread share([&] {
        result = point->activityViewControllerItemForActivityType(nullptr, UIActivityTypeMessage);
        done = true;
    });
    std::thread network([&] {
        if (eventually([&] { return waiting_.load(); }))
            uploader_->complete(0, std::string("https://s.example/1"));
    });
    // The main thread goes on changing the point while the share thread
    // waits; the share thread reads it only through the main queue.
    const bool finished = platform::RunLoop::runUntil(
        [&] {
            point->setSubtitle("Pier " + std::to_string(point->subtitle().value_or("").size() % 10));
            point->setTitle("Harbour");
            return done.load();
        },
        20.0);
    share.join();
    network.join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(result, "https://s.example/1");
    EXPECT_FALSE(QuovaMapPointStore::shared().isEncodingShorturl(*point));
}

TEST_F(QuovaMapPointShareConcurrencyTest, ManySharesAtOnceEachGetTheirOwnLink) {
    constexpr int kPoints = 8;
    std::vector<std::shared_ptr<QuovaMapPoint>> points;
    for (int i = 0; i < kPoints; ++i) points.push_back(storedPoint(label("P", i), 50.0 + i));
    clock_->advance(1);

    std::atomic<int> finished{0};
    std::vector<std::string> results(kPoints);
    std::vector<std::thread> shares;
    for (int i = 0; i < kPoints; ++i) {
        shares.emplace_back([&, i] {
            // Placeholder first (it starts the upload), then the item, as the
            // share sheet asks.
            points[static_cast<size_t>(i)]->activityViewControllerPlaceholderItem(nullptr);
            results[static_cast<size_t>(i)] =
                points[static_cast<size_t>(i)]->activityViewControllerItemForActivityType(nullptr,
                                                                                          std::nullopt);
            ++finished;
        });
    }
    // Completes every upload as it appears, newest first within each round,
    // from a thread of its own.
    std::thread network([&] {
        size_t completed = 0;
        while (completed < kPoints &&
               eventually([&] { return uploader_->identifiers().size() > completed; })) {
            const size_t available = uploader_->identifiers().size();
            for (size_t index = available; index-- > completed;) {
                const auto identifier = uploader_->identifiers()[index];
                uploader_->complete(index, "https://s.example/" + identifier);
            }
            completed = available;
        }
    });
    const bool allDone = platform::RunLoop::runUntil([&] { return finished.load() == kPoints; }, 20.0);
    for (auto& thread : shares) thread.join();
    network.join();
    ASSERT_TRUE(allDone);
    EXPECT_EQ(uploader_->startedCount(), kPoints);
    for (int i = 0; i < kPoints; ++i) {
        const auto& point = points[static_cast<size_t>(i)];
        EXPECT_EQ(results[static_cast<size_t>(i)], label("P", i) + " https://s.example/" + *point->uuid());
    }
}

}  // namespace
}  // namespace tervolo::points
