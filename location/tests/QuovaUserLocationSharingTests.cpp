// The user's position as the share sheet's item source: the text for each way
// of sharing, the subject and placeholder, and the short-link round trips
// against a loopback API server, with the item asked on a worker thread as the
// share sheet does while the main queue keeps turning.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "backend/QuovaShorturlUploader.hpp"
#include "location/QuovaUserLocationAnnotation.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/ShareActivityType.hpp"
#include "points/ShareItemWait.hpp"
#include "points/tests/FakeShorturlUploader.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::location {
namespace {

using tervolo::testsupport::CannedReply;

constexpr const char* kShortLink = "https://s.tervolo.invalid/Ab3dE5gH";
constexpr const char* kMapLink =
    "https://www.openstreetmap.org/?mlat=60.1699&mlon=24.9384#map=15/60.1699/24.9384";
constexpr const char* kEscapedMapLink =
    "https://www.openstreetmap.org/?mlat=60.1699&amp;mlon=24.9384#map=15/60.1699/24.9384";

std::string mailBody(const std::string& href, const std::string& anchorText) {
    return "<html>I'd like to share this location with you:<br><br><a href=\"" + href + "\">" + anchorText +
           "</a><br><br><br><br><br>Shared with <a href=\"https://www.tervolo.invalid/appstore/\">Tervolo "
           "for Linux</a></html>";
}

class SharingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        points::QuovaMapPointStore::resetSharedForTesting();
        platform::Bundle::main().setInfoDictionaryForTesting(
            platform::PropertyValue::Dictionary{{"CFBundleIdentifier", "org.tervolo.TervoloNG"},
                                                {"CFBundleVersion", "77"},
                                                {"CFBundleName", "TervoloNG"}});
        platform::UserDefaults::standard().reload();
        log_.clear();
    }
    void TearDown() override {
        points::setShareItemWaitForTesting(std::nullopt);
        points::QuovaMapPointStore::shared().setShorturlUploader(nullptr);
        platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
        points::QuovaMapPointStore::resetSharedForTesting();
    }

    // The position as a screen makes it from a fix, a second before sharing
    // (a link made at the very instant of the last write counts as stale).
    std::shared_ptr<QuovaUserLocationAnnotation> kauppatori(
        std::optional<std::string> title = "My Position") {
        auto annotation = std::make_shared<QuovaUserLocationAnnotation>();
        annotation->setCoordinate({60.1699, 24.9384});
        annotation->setTitle(std::move(title));
        environment_.advance(1);
        return annotation;
    }

    // A short link made after the annotation's last write.
    void linkOnFile(QuovaUserLocationAnnotation& annotation) {
        annotation.mapPoint()->ensureUUID();
        points::QuovaMapPointStore::shared().setShorturl(
            *annotation.mapPoint()->uuid(),
            points::QuovaMapPointStore::Shorturl{kShortLink,
                                                 annotation.mapPoint()->lastSavedAt().addingTimeInterval(1)});
    }

    // Asks for the item on a worker thread, as the share sheet does, pumping
    // the main queue meanwhile (the request reads the annotation there).
    static std::string itemOffMain(const std::shared_ptr<QuovaUserLocationAnnotation>& annotation,
                                   std::optional<std::string> activityType) {
        std::atomic<bool> done{false};
        std::string result;
        std::thread worker([&] {
            result = annotation->activityViewControllerItemForActivityType(nullptr, activityType);
            done = true;
        });
        const bool finished = platform::RunLoop::runUntil([&] { return done.load(); }, 30);
        worker.join();
        EXPECT_TRUE(finished);
        return result;
    }

    tervolo::testsupport::TestEnvironment environment_;
    tervolo::testsupport::SharedLogRecording log_;
};

TEST_F(SharingTest, ItemTextPerActivityTitleAndLink) {
    // No upload can run: every request without a link on file falls back at once.
    points::QuovaMapPointStore::shared().setShorturlUploader(
        std::make_shared<points::testing::FakeShorturlUploader>(
            points::testing::FakeShorturlUploader::Mode::refuse));
    struct Case {
        const char* name;
        std::optional<std::string> activityType;
        std::optional<std::string> title;
        bool linkOnFile;
        std::string expected;
    };
    const std::string link = kShortLink;
    const std::string map = kMapLink;
    const Case cases[] = {
        {"none, titled, short", std::nullopt, "Harbour", true, "Harbour " + link},
        {"none, untitled, short", std::nullopt, std::nullopt, true, link},
        {"none, titled, fallback", std::nullopt, "Harbour", false, "Harbour " + map},
        {"AirDrop", points::UIActivityTypeAirDrop, "Harbour", true, link},
        {"Message, fallback", points::UIActivityTypeMessage, "Harbour", false, map},
        {"Copy, fallback", points::UIActivityTypeCopyToPasteboard, "Harbour", false, map},
        {"Copy, untitled", points::UIActivityTypeCopyToPasteboard, std::nullopt, true, link},
        {"Twitter, titled", points::UIActivityTypePostToTwitter, "Harbour", true,
         "Harbour " + link + " via @Tervolo "},
        {"Twitter, untitled", points::UIActivityTypePostToTwitter, std::nullopt, false,
         map + " via @Tervolo "},
        {"Mail, titled", points::UIActivityTypeMail, "Harbour", true, mailBody(link, "Harbour")},
        {"Mail, untitled, fallback", points::UIActivityTypeMail, std::nullopt, false,
         mailBody(kEscapedMapLink, "Location")},
        {"Mail, markup in the title", points::UIActivityTypeMail, "<b>Fish & \"Chips\"</b>", true,
         mailBody(link, "&lt;b&gt;Fish &amp; &quot;Chips&quot;&lt;/b&gt;")},
        {"extension", std::string("com.example.share-extension"), "Harbour", false, "Harbour " + map},
        {"extension, untitled", std::string("com.example.share-extension"), std::nullopt, true, link},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto annotation = kauppatori(c.title);
        if (c.linkOnFile) linkOnFile(*annotation);
        EXPECT_EQ(annotation->activityViewControllerItemForActivityType(nullptr, c.activityType), c.expected);
    }
}

TEST_F(SharingTest, SubjectAndPlaceholderFallBackOnMyPosition) {
    auto uploader = std::make_shared<points::testing::FakeShorturlUploader>();
    points::QuovaMapPointStore::shared().setShorturlUploader(uploader);
    auto untitled = kauppatori(std::nullopt);
    for (const auto& type :
         {std::optional<std::string>(), std::optional<std::string>(points::UIActivityTypeMail),
          std::optional<std::string>("com.example.share-extension")}) {
        EXPECT_EQ(untitled->activityViewControllerSubjectForActivityType(nullptr, type), "My Position");
    }
    // The store will not upload a position without title, so each placeholder
    // request tries again and shows the default title.
    EXPECT_EQ(untitled->activityViewControllerPlaceholderItem(nullptr), "My Position");
    EXPECT_EQ(untitled->activityViewControllerPlaceholderItem(nullptr), "My Position");
    EXPECT_EQ(uploader->startedCount(), 0);

    auto titled = kauppatori("Market hall");
    EXPECT_EQ(titled->activityViewControllerSubjectForActivityType(nullptr, std::nullopt), "Market hall");
    EXPECT_EQ(titled->activityViewControllerPlaceholderItem(nullptr), "Market hall");
    EXPECT_EQ(uploader->startedCount(), 1);
    const auto texts = log_.texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        "Placeholder request: triggering shorturl encoding, using title"),
              texts.end());
}

TEST_F(SharingTest, PositionNeverSetSharesTheInvalidCoordinatesLink) {
    points::QuovaMapPointStore::shared().setShorturlUploader(
        std::make_shared<points::testing::FakeShorturlUploader>(
            points::testing::FakeShorturlUploader::Mode::refuse));
    auto annotation = std::make_shared<QuovaUserLocationAnnotation>();
    EXPECT_EQ(annotation->activityViewControllerItemForActivityType(nullptr,
                                                                    points::UIActivityTypeCopyToPasteboard),
              "https://www.openstreetmap.org/?mlat=-180.0&mlon=-180.0#map=15/-180.0/-180.0");
}

// ---- Against a loopback API server, through the application's uploader.

class LoopbackSharingTest : public SharingTest {
  protected:
    void SetUp() override {
        SharingTest::SetUp();
        backend::QuovaShorturlUploader::Dependencies dependencies;
        const std::string base = server_.url();
        dependencies.apiBaseURL = [base] { return base; };
        dependencies.deviceInformation = [] {
            backend::DeviceInformation info;
            info.deviceName = "kitchen-laptop";
            info.appVersion = "1.2.3";
            info.vendorID = "0C3D4E5F-0000-4000-8000-000000000001";
            info.bundleID = "org.tervolo.TervoloNG";
            return info;
        };
        dependencies.deviceID = [] { return std::optional<int64_t>(42); };
        dependencies.mapState = [] { return std::optional<backend::MapStateSnapshot>(); };
        points::QuovaMapPointStore::shared().setShorturlUploader(
            std::make_shared<backend::QuovaShorturlUploader>(std::move(dependencies)));
        // The wait's pauses are counted in virtual seconds; each pause also
        // checks that the main queue still turns. A pause lasts until the
        // uploads end, for at most 50 ms of real time: the round trip to the
        // server takes real time, and on a busy machine a fixed short sleep
        // per pause let the whole cap pass before an answer had come. Only a
        // stalled upload waits out every pause.
        points::setShareItemWaitForTesting(
            points::ShareItemWait{10.0, 0.1, [this](double seconds) {
                                      waited_ = waited_ + seconds;
                                      platform::DispatchQueue::main()->async([this] { ++mainTurns_; });
                                      tervolo::testsupport::eventually([this] { return !anyUploadRunning(); },
                                                                       std::chrono::milliseconds(50));
                                  }});
    }
    void TearDown() override {
        server_.stop();
        // Uploads still running end with the server; let them finish first.
        auto& store = points::QuovaMapPointStore::shared();
        for (const auto& id : identifiers_) {
            EXPECT_TRUE(tervolo::testsupport::eventually([&] { return !store.isEncodingShorturl(id); }));
        }
        platform::RunLoop::runUntilIdle();
        SharingTest::TearDown();
    }

    // Read by the share thread's pauses; the list only grows before an item is asked for.
    bool anyUploadRunning() const {
        auto& store = points::QuovaMapPointStore::shared();
        return std::any_of(identifiers_.begin(), identifiers_.end(),
                           [&](const std::string& id) { return store.isEncodingShorturl(id); });
    }

    void routeLink(const std::string& link) {
        server_.route("POST", "/apps/api/location",
                      CannedReply::json(R"({"status":1,"message":"ok","shorturl":")" + link + R"("})"));
    }

    std::shared_ptr<QuovaUserLocationAnnotation> shared(
        std::shared_ptr<QuovaUserLocationAnnotation> annotation) {
        annotation->mapPoint()->ensureUUID();
        identifiers_.push_back(*annotation->mapPoint()->uuid());
        return annotation;
    }

    tervolo::testsupport::LoopbackHTTPServer server_;
    std::vector<std::string> identifiers_;
    std::atomic<double> waited_{0};
    std::atomic<int> mainTurns_{0};
};

TEST_F(LoopbackSharingTest, NewerCachedLinkSendsNothingRewrittenCoordinateUploadsOnce) {
    routeLink("https://s.tervolo.invalid/first");
    auto annotation = shared(kauppatori());
    EXPECT_EQ(itemOffMain(annotation, points::UIActivityTypeCopyToPasteboard),
              "https://s.tervolo.invalid/first");
    EXPECT_EQ(server_.requestCount(), 1u);

    // The link is newer than the last write: placeholder and item are the link
    // at once, and nothing is sent.
    environment_.advance(1);
    EXPECT_EQ(annotation->activityViewControllerPlaceholderItem(nullptr), "https://s.tervolo.invalid/first");
    EXPECT_EQ(itemOffMain(annotation, points::UIActivityTypeMessage), "https://s.tervolo.invalid/first");
    EXPECT_EQ(server_.requestCount(), 1u);

    // The user moved: the cached link is dropped, the placeholder starts one
    // upload and shows the title, the item waits for that upload.
    routeLink("https://s.tervolo.invalid/second");
    annotation->setCoordinate({60.1705, 24.9522});
    environment_.advance(1);
    EXPECT_EQ(annotation->activityViewControllerPlaceholderItem(nullptr), "My Position");
    EXPECT_EQ(itemOffMain(annotation, points::UIActivityTypeCopyToPasteboard),
              "https://s.tervolo.invalid/second");
    EXPECT_EQ(server_.requestCount(), 2u);
    const auto body = server_.requests().back().body;
    EXPECT_NE(body.find("60.1705"), std::string::npos) << body;
}

TEST_F(LoopbackSharingTest, SecondPlaceholderWhileUploadingStartsNone) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    server_.route("POST", "/apps/api/location", [released](const tervolo::testsupport::RecordedRequest&) {
        released.wait();
        return CannedReply::json(
            R"({"status":1,"message":"ok","shorturl":"https://s.tervolo.invalid/held"})");
    });
    auto annotation = shared(kauppatori("Kauppatori"));
    EXPECT_EQ(annotation->activityViewControllerPlaceholderItem(nullptr), "Kauppatori");
    ASSERT_TRUE(server_.waitForRequests(1));
    log_.clear();
    EXPECT_EQ(annotation->activityViewControllerPlaceholderItem(nullptr), "Kauppatori");
    const auto texts = log_.texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        "Placeholder request: shorturl encoding in progress for \"Kauppatori\", using title"),
              texts.end());
    release.set_value();
    EXPECT_EQ(itemOffMain(annotation, std::nullopt), "Kauppatori https://s.tervolo.invalid/held");
    EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(LoopbackSharingTest, FailedAndStalledUploadsGiveTheFallbackWithinTheCap) {
    struct Case {
        const char* name;
        CannedReply reply;
    };
    const Case cases[] = {
        {"server error", CannedReply::text("busy", 500)},
        {"reply without link", CannedReply::json(R"({"message":"ok"})")},
        {"stalled", CannedReply::ofMode(CannedReply::Mode::silent)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_.route("POST", "/apps/api/location", c.reply);
        waited_ = 0;
        mainTurns_ = 0;
        const size_t before = server_.requestCount();
        auto annotation = shared(kauppatori("Kauppatori"));
        EXPECT_EQ(itemOffMain(annotation, points::UIActivityTypeCopyToPasteboard), kMapLink);
        EXPECT_EQ(server_.requestCount(), before + 1);
        EXPECT_LE(waited_.load(), 10.0 + 1e-9);
        if (std::string(c.name) == "stalled") {
            // The whole cap was waited, with the main queue turning all along.
            EXPECT_GE(waited_.load(), 10.0 - 1e-9);
            EXPECT_GT(mainTurns_.load(), 50);
        }
    }
}

}  // namespace
}  // namespace tervolo::location
