#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <future>
#include <thread>

#include "backend/QuovaShorturlUploader.hpp"
#include "backend/tests/BackendTestSupport.hpp"
#include "platform/dispatch/VirtualClock.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "testsupport/FakeSearchIndex.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"

namespace tervolo::backend {
namespace {

using tervolo::testsupport::CannedReply;

TEST(ShareZoomTest, ZoomFromBoundsAndVisibleWidth) {
    struct Case {
        double bounds;
        double visible;
        int64_t zoom;
    };
    const Case cases[] = {
        {1024, 268435456.0, 2},
        {1024, 262144.0, 12},
        {1024, 1024.0 * 256, 12},
        {1000, 262144.0, 12},
        {1, 268435456.0, 0},
        {0, 1048576.0, 0},
        {0, 0, 0},
        {1024, 0, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bounds) + " / " + std::to_string(c.visible));
        EXPECT_EQ(shareZoomLevel(c.bounds, c.visible), c.zoom);
    }
}

TEST(ShareZoomTest, MapTypeLettersFollowTheStyleOrder) {
    const char* letters[] = {"m", "k", "h", "s", "r", "t", "c", "d"};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(mapTypeLetter(i), letters[i]);
    EXPECT_EQ(mapTypeLetter(std::nullopt), "s");
    EXPECT_EQ(mapTypeLetter(8), "s");
}

TEST(ShareZoomTest, TimestampRoundsAsCDoes) {
    EXPECT_EQ(uploadTimestamp(30.4), "30");
    EXPECT_EQ(uploadTimestamp(30.5), "30");
    EXPECT_EQ(uploadTimestamp(31.5), "32");
    EXPECT_EQ(uploadTimestamp(700000000.0), "700000000");
}

class QuovaShorturlUploaderTest : public testing::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        tervolo::testsupport::FakeSearchIndex::install();
        points::QuovaMapPointStore::resetSharedForTesting();
    }
    void TearDown() override {
        points::QuovaMapPointStore::shared().setShorturlUploader(nullptr);
        tervolo::testsupport::FakeSearchIndex::uninstall();
        BackendTest::TearDown();
    }

    std::shared_ptr<QuovaShorturlUploader> installUploader(std::optional<MapStateSnapshot> state,
                                                           std::optional<int64_t> deviceID = std::nullopt) {
        QuovaShorturlUploader::Dependencies dependencies;
        const std::string base = server_.url();
        dependencies.apiBaseURL = [base] { return base; };
        dependencies.deviceInformation = [] { return testing::sampleDevice(); };
        dependencies.deviceID = [deviceID] { return deviceID; };
        dependencies.mapState = [state] { return state; };
        auto uploader = std::make_shared<QuovaShorturlUploader>(std::move(dependencies));
        points::QuovaMapPointStore::shared().setShorturlUploader(uploader);
        return uploader;
    }

    // A point saved a second before it is shared (the clock stands still
    // otherwise, and a link made at the very instant of the save is stale).
    std::shared_ptr<points::QuovaMapPoint> harbour() {
        auto point = points::QuovaMapPoint::make("Harbour");
        point->setCoordinate({52.5, 13.4});
        time_->advance(1);
        return point;
    }

    // Shares `point` and waits until the upload has ended.
    void share(const std::shared_ptr<points::QuovaMapPoint>& point) {
        auto& store = points::QuovaMapPointStore::shared();
        store.generateShorturlFor(point);
        ASSERT_TRUE(runMainUntil([&] { return !store.isEncodingShorturl(*point); }));
    }

    tervolo::testsupport::LoopbackHTTPServer server_;
};

TEST_F(QuovaShorturlUploaderTest, BodyCarriesThePointTheDeviceAndTheMap) {
    auto uploader = installUploader(MapStateSnapshot{4, 1024, 268435456.0}, 42);
    auto point = harbour();
    point->setDataSourceName("Yelp");
    time_->clock().setWallSeconds(978307200.0 + 30.4);
    const auto body =
        nlohmann::json::parse(platform::JSONEncoder().encodeToString(uploader->uploadRequest(*point)));
    EXPECT_EQ(body.size(), 15u);
    EXPECT_EQ(body["device_id"], 42);
    EXPECT_EQ(body["title"], "Harbour");
    EXPECT_EQ(body["latitude"], 52.5);
    EXPECT_EQ(body["longitude"], 13.4);
    EXPECT_EQ(body["maptype"], "r");
    EXPECT_EQ(body["zoom"], 2);
    EXPECT_EQ(body["timestamp"], "30");
    EXPECT_EQ(body["dataSourceName"], "Yelp");
    EXPECT_EQ(body["dataSourceURL"], "");
    EXPECT_EQ(body["vendor_id"], testing::sampleDevice().vendorID);

    auto noMap = installUploader(std::nullopt);
    const auto fallback = noMap->uploadRequest(*point);
    EXPECT_EQ(fallback.maptype, "s");
    EXPECT_EQ(fallback.zoom, 16);
    EXPECT_EQ(fallback.device_id, 0);
    const auto noStyle =
        installUploader(MapStateSnapshot{std::nullopt, 1024, 262144.0})->uploadRequest(*point);
    EXPECT_EQ(noStyle.maptype, "s");
    EXPECT_EQ(noStyle.zoom, 12);
}

TEST_F(QuovaShorturlUploaderTest, SuccessfulUploadIsCachedUntilThePointIsSavedAgain) {
    server_.route(
        "POST", "/apps/api/location",
        CannedReply::json(R"({"status":1,"message":"ok","shorturl":"https://s.example/AbCdEfGh"})"));
    installUploader(std::nullopt);
    auto point = harbour();
    share(point);

    auto& store = points::QuovaMapPointStore::shared();
    EXPECT_EQ(store.shorturlFor(*point), "https://s.example/AbCdEfGh");
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(nlohmann::json::parse(requests[0].body)["title"], "Harbour");
    EXPECT_TRUE(log_->contains("result: \"https://s.example/AbCdEfGh\""));
    EXPECT_TRUE(log_->contains("error: none"));

    // A later save makes the link stale.
    time_->advance(1);
    point->setLastSavedAt(platform::Date::now());
    EXPECT_EQ(store.shorturlFor(*point), std::nullopt);
}

TEST_F(QuovaShorturlUploaderTest, FailedOrUnusableRepliesCacheNothing) {
    struct Case {
        const char* name;
        CannedReply reply;
        const char* resultLine;
    };
    const Case cases[] = {
        {"missing shorturl", CannedReply::json(R"({"message":"ok"})"), "result: no shorturl"},
        {"empty shorturl", CannedReply::json(R"({"message":"ok","shorturl":""})"), "result: \"\""},
        {"not JSON", CannedReply::text("<html></html>"), "result: no shorturl"},
        {"connection reset", CannedReply::ofMode(CannedReply::Mode::resetBeforeReply), "result: no shorturl"},
    };
    installUploader(std::nullopt);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_.route("POST", "/apps/api/location", c.reply);
        auto point = harbour();
        share(point);
        EXPECT_EQ(points::QuovaMapPointStore::shared().shorturlFor(*point), std::nullopt);
        EXPECT_TRUE(log_->contains(c.resultLine));
    }
    EXPECT_TRUE(log_->contains("upload failed for point \"Harbour\""));
}

TEST_F(QuovaShorturlUploaderTest, OneUploadPerPointUnderConcurrentShares) {
    // The reply is held until every sharer has asked, so none of them can come
    // after the upload finished (a later share starts a new upload by design).
    std::promise<void> allAsked;
    std::shared_future<void> asked = allAsked.get_future().share();
    server_.route("POST", "/apps/api/location", [asked](const testsupport::RecordedRequest&) {
        asked.wait_for(std::chrono::seconds(10));
        return CannedReply::json(R"({"message":"ok","shorturl":"https://s.example/x"})");
    });
    installUploader(std::nullopt);
    auto point = harbour();
    point->ensureUUID();
    auto& store = points::QuovaMapPointStore::shared();
    std::vector<std::thread> sharers;
    for (int i = 0; i < 8; ++i) sharers.emplace_back([&] { store.generateShorturlFor(point); });
    for (auto& sharer : sharers) sharer.join();
    allAsked.set_value();
    ASSERT_TRUE(runMainUntil([&] { return !store.isEncodingShorturl(*point); }));
    EXPECT_EQ(server_.requestCount(), 1u);
    EXPECT_EQ(store.shorturlFor(*point), "https://s.example/x");
}

}  // namespace
}  // namespace tervolo::backend
