// The point as share item: placeholder, subject, the text per way of sharing,
// the mail body's escaping, the short-link bookkeeping and the bounded wait
// for a running upload.
#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/foundation/Bundle.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/ShareActivityType.hpp"
#include "points/ShareItemWait.hpp"
#include "points/tests/FakeShorturlUploader.hpp"
#include "points/tests/PointsTestSupport.hpp"

namespace tervolo::points {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using testing::FakeShorturlUploader;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kShortLink = "https://s.tervolo.invalid/Ab3dE5gH";
constexpr const char* kMapLink =
    "https://www.openstreetmap.org/?mlat=53.5511&mlon=9.9937#map=15/53.5511/9.9937";

class QuovaMapPointShareItemTest : public testing::PointsTest {
  protected:
    void SetUp() override {
        PointsTest::SetUp();
        uploader_ = std::make_shared<FakeShorturlUploader>();
        QuovaMapPointStore::shared().setShorturlUploader(uploader_);
        // Waiting runs on virtual time: each pause moves the clock instead of
        // sleeping.
        setShareItemWaitForTesting(ShareItemWait{10.0, 0.1, [this](double seconds) {
                                                     pauses_.push_back(seconds);
                                                     clock_->advance(seconds);
                                                     if (onPause_) onPause_(pauses_.size());
                                                 }});
        log_->clear();
    }
    void TearDown() override {
        setShareItemWaitForTesting(std::nullopt);
        PointsTest::TearDown();
    }

    static std::shared_ptr<QuovaMapPoint> harbour(std::optional<std::string> title = "Harbour") {
        auto point = QuovaMapPoint::make("");
        point->setTitle(std::move(title));
        point->setCoordinate({53.5511, 9.9937});
        point->setUuid("0F5B3C9A-7D1E-4B6A-9C2D-1E2F3A4B5C6D");
        return point;
    }

    // A short link made after the point's last save.
    void linkOnFile(const QuovaMapPoint& point, const std::string& link = kShortLink) {
        QuovaMapPointStore::shared().setShorturl(
            *point.uuid(), QuovaMapPointStore::Shorturl{link, point.lastSavedAt().addingTimeInterval(1)});
    }

    static std::string item(QuovaMapPoint& point, std::optional<std::string> activityType) {
        return point.activityViewControllerItemForActivityType(nullptr, activityType);
    }

    std::shared_ptr<FakeShorturlUploader> uploader_;
    std::vector<double> pauses_;
    std::function<void(size_t)> onPause_;
};

std::string mailBody(const std::string& link, const std::string& anchorText) {
    return "<html>I'd like to share this location with you:<br><br><a href=\"" + link + "\">" + anchorText +
           "</a><br><br><br><br><br>Shared with <a href=\"https://www.tervolo.invalid/appstore/\">Tervolo "
           "for Linux</a></html>";
}

TEST_F(QuovaMapPointShareItemTest, ItemTextPerActivityTypeWithAndWithoutShortLink) {
    const std::string escapedMapLink =
        "https://www.openstreetmap.org/?mlat=53.5511&amp;mlon=9.9937#map=15/53.5511/9.9937";
    struct Row {
        bool titled;
        bool shortLink;
        std::optional<std::string> activityType;
        std::string expected;
    };
    const std::string link = kShortLink;
    const std::string map = kMapLink;
    const std::vector<Row> rows = {
        {true, true, UIActivityTypeAirDrop, link},
        {true, true, UIActivityTypeMessage, link},
        {true, true, UIActivityTypeCopyToPasteboard, link},
        {true, true, UIActivityTypePostToTwitter, "Harbour " + link + " via @Tervolo "},
        {true, true, UIActivityTypeMail, mailBody(link, "Harbour")},
        {true, true, "com.example.other", "Harbour " + link},
        {true, true, std::nullopt, "Harbour " + link},
        {false, true, UIActivityTypePostToTwitter, link + " via @Tervolo "},
        {false, true, UIActivityTypeMail, mailBody(link, "Location")},
        {false, true, std::nullopt, link},
        {true, false, UIActivityTypeAirDrop, map},
        {true, false, UIActivityTypePostToTwitter, "Harbour " + map + " via @Tervolo "},
        {true, false, UIActivityTypeMail, mailBody(escapedMapLink, "Harbour")},
        {true, false, "com.example.other", "Harbour " + map},
        {false, false, UIActivityTypePostToTwitter, map + " via @Tervolo "},
        {false, false, std::nullopt, map},
    };
    for (const auto& row : rows) {
        auto point = harbour(row.titled ? std::optional<std::string>("Harbour") : std::nullopt);
        QuovaMapPointStore::shared().setShorturls({});
        if (row.shortLink) linkOnFile(*point);
        // Without a link the upload fails at once.
        if (!row.shortLink)
            onPause_ = [&](size_t) { uploader_->complete(uploader_->identifiers().size() - 1, {}); };
        EXPECT_EQ(item(*point, row.activityType), row.expected)
            << row.titled << row.shortLink << row.activityType.value_or("(none)");
        onPause_ = nullptr;
    }
}

TEST_F(QuovaMapPointShareItemTest, MailBodyEscapesTitleAndLink) {
    auto point = harbour("<b>\"Tom & Jerry's\"</b>");
    linkOnFile(*point, "https://s.example/x\"><script>alert(1)</script>");
    EXPECT_EQ(item(*point, UIActivityTypeMail),
              mailBody("https://s.example/x&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;",
                       "&lt;b&gt;&quot;Tom &amp; Jerry&#39;s&quot;&lt;/b&gt;"));
    // Plain-text ways of sharing keep the text as it is.
    EXPECT_EQ(item(*point, std::nullopt),
              "<b>\"Tom & Jerry's\"</b> https://s.example/x\"><script>alert(1)</script>");
}

TEST_F(QuovaMapPointShareItemTest, StalledUploadIsWaitedForAtMostTheLimitThenTheMapLinkIsShared) {
    auto point = harbour();
    EXPECT_EQ(item(*point, std::nullopt), std::string("Harbour ") + kMapLink);

    // 10 s in looks of 0.1 s, on virtual time; the upload still runs.
    EXPECT_EQ(pauses_.size(), 100u);
    EXPECT_THAT(pauses_, ::testing::Each(0.1));
    EXPECT_EQ(uploader_->startedCount(), 1);
    EXPECT_TRUE(QuovaMapPointStore::shared().isEncodingShorturl(*point));
    const auto lines = log_->texts(logging::QLLogFlag::info);
    EXPECT_EQ(lines.front(), "activityViewController(_:itemForActivityType:)");
    EXPECT_THAT(lines, Contains("item request: started generating shorturl"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "item request: waiting for generator to finish"), 100);
    EXPECT_THAT(lines, Contains("item request: no shorturl after 10.0 s - giving up waiting"));
    EXPECT_EQ(lines.back(), "item request: encoding failed - falling back to OSM link");

    // A second request finds the upload running: it starts no other and waits
    // again, bounded.
    pauses_.clear();
    EXPECT_EQ(item(*point, UIActivityTypeAirDrop), kMapLink);
    EXPECT_EQ(uploader_->startedCount(), 1);
    EXPECT_EQ(pauses_.size(), 100u);
}

TEST_F(QuovaMapPointShareItemTest, WaitEndsWithTheUploadAndUsesItsLink) {
    auto point = harbour();
    onPause_ = [&](size_t pauses) {
        if (pauses == 3) uploader_->complete(0, std::string(kShortLink));
    };
    EXPECT_EQ(item(*point, UIActivityTypeMessage), kShortLink);
    EXPECT_EQ(pauses_.size(), 3u);
    EXPECT_FALSE(QuovaMapPointStore::shared().isEncodingShorturl(*point));
    const auto lines = log_->texts(logging::QLLogFlag::info);
    EXPECT_THAT(lines, Contains(std::string("upload successful, generated shorturl \"") + kShortLink + "\""));
    EXPECT_EQ(lines.back(), std::string("item request: using shorturl \"") + kShortLink + "\"");

    // On file now: the next request neither uploads nor waits.
    pauses_.clear();
    EXPECT_EQ(item(*point, std::nullopt), std::string("Harbour ") + kShortLink);
    EXPECT_THAT(pauses_, IsEmpty());
    EXPECT_EQ(uploader_->startedCount(), 1);
}

TEST_F(QuovaMapPointShareItemTest, UploadsThatCannotRunAreNotWaitedFor) {
    // No title: the store refuses the upload; the map link is shared at once.
    auto untitled = harbour(std::nullopt);
    EXPECT_EQ(item(*untitled, std::nullopt), kMapLink);
    EXPECT_THAT(log_->texts(logging::QLLogFlag::warning),
                ElementsAre("Can't encode location without title & coordinates."));

    // An uploader that starts nothing leaves nothing registered.
    uploader_ = std::make_shared<FakeShorturlUploader>(FakeShorturlUploader::Mode::refuse);
    QuovaMapPointStore::shared().setShorturlUploader(uploader_);
    auto point = harbour();
    EXPECT_EQ(item(*point, std::nullopt), std::string("Harbour ") + kMapLink);
    EXPECT_EQ(uploader_->startedCount(), 1);

    // No uploader installed (the backend not there): the same.
    QuovaMapPointStore::shared().setShorturlUploader(nullptr);
    EXPECT_EQ(item(*point, std::nullopt), std::string("Harbour ") + kMapLink);
    EXPECT_THAT(pauses_, IsEmpty());
    EXPECT_FALSE(QuovaMapPointStore::shared().isEncodingShorturl(*point));

    // A point without an identifier gets one before the upload.
    point->setUuid(std::nullopt);
    QuovaMapPointStore::shared().setShorturlUploader(uploader_);
    item(*point, std::nullopt);
    ASSERT_TRUE(point->uuid().has_value());
    EXPECT_EQ(point->uuid()->size(), 36u);
}

TEST_F(QuovaMapPointShareItemTest, PointWithoutValidCoordinateSharesItsLinkOrTitleAlone) {
    auto point = harbour();
    point->setCoordinate(platform::kCLLocationCoordinate2DInvalid);
    auto untitled = harbour(std::nullopt);
    untitled->setCoordinate(platform::kCLLocationCoordinate2DInvalid);
    // No map link to fall back on, and the store uploads no such point.
    EXPECT_EQ(item(*point, UIActivityTypeMail), "Harbour");
    EXPECT_EQ(item(*untitled, std::nullopt), "Location Shared By Tervolo");
    EXPECT_EQ(uploader_->startedCount(), 0);
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info),
                Contains("item request: no shorturl and no valid coordinate - sharing the title alone"));
    // A link on file is shared as usual.
    linkOnFile(*point);
    EXPECT_EQ(item(*point, UIActivityTypePostToTwitter),
              std::string("Harbour ") + kShortLink + " via @Tervolo ");
}

TEST_F(QuovaMapPointShareItemTest, PlaceholderStartsTheUploadAndSubjectNamesThePoint) {
    auto point = harbour();
    EXPECT_EQ(point->activityViewControllerPlaceholderItem(nullptr), "Harbour");
    EXPECT_EQ(uploader_->identifiers(), std::vector<std::string>{*point->uuid()});
    EXPECT_EQ(point->activityViewControllerPlaceholderItem(nullptr), "Harbour");
    EXPECT_EQ(uploader_->startedCount(), 1);
    clock_->advance(1);
    uploader_->complete(0, std::string(kShortLink));
    EXPECT_EQ(point->activityViewControllerPlaceholderItem(nullptr), kShortLink);
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info),
                ::testing::IsSupersetOf(
                    {"activityViewControllerPlaceholderItem(_:)",
                     "Placeholder request: triggering shorturl encoding, using title",
                     "Placeholder request: shorturl encoding in progress for \"Harbour\", using title",
                     "Placeholder request: shorturl for \"Harbour\" already encoded"}));

    auto untitled = harbour(std::nullopt);
    untitled->setUuid("A-UNTITLED-POINT");
    EXPECT_EQ(untitled->activityViewControllerPlaceholderItem(nullptr), "Location Shared By Tervolo");
    EXPECT_EQ(uploader_->startedCount(), 1);  // refused: no title

    EXPECT_EQ(point->activityViewControllerSubjectForActivityType(nullptr, UIActivityTypeMail), "Harbour");
    EXPECT_EQ(untitled->activityViewControllerSubjectForActivityType(nullptr, std::nullopt),
              "Location Shared By Tervolo");
}

TEST_F(QuovaMapPointShareItemTest, ShortLinkServesOnlyWhileThePointIsUnchanged) {
    auto& store = QuovaMapPointStore::shared();
    auto point = harbour();
    EXPECT_EQ(store.shorturlFor(*point), std::nullopt);
    store.setShorturl(*point->uuid(), {kShortLink, point->lastSavedAt()});  // same instant: stale
    EXPECT_EQ(store.shorturlFor(*point), std::nullopt);
    EXPECT_TRUE(store.shorturls().empty());
    linkOnFile(*point);
    EXPECT_EQ(store.shorturlFor(*point), kShortLink);
    point->setUuid(std::nullopt);
    EXPECT_EQ(store.shorturlFor(*point), std::nullopt);
    EXPECT_FALSE(store.isEncodingShorturl(*point));
    EXPECT_THAT(log_->texts(logging::QLLogFlag::debug),
                ElementsAre("point has been modified since shorturl creation - returning nil",
                            "point older than its shorturl - returning shorturl on file"));
}

TEST_F(QuovaMapPointShareItemTest, OneUploadPerIdentifierEvenWhenItCompletesAtOnce) {
    auto& store = QuovaMapPointStore::shared();
    auto point = harbour();
    store.generateShorturlFor(point);
    store.generateShorturlFor(point);
    EXPECT_EQ(uploader_->startedCount(), 1);
    uploader_->complete(0, std::nullopt);
    EXPECT_FALSE(store.isEncodingShorturl(*point));
    EXPECT_TRUE(store.shorturls().empty());

    // An uploader whose completion runs inside startUpload leaves no entry.
    class Immediate : public ShorturlUploader {
      public:
        std::shared_ptr<void> startUpload(const QuovaMapPoint&, Completion completion) override {
            completion(std::string("https://s.example/now"));
            return std::make_shared<int>(1);
        }
    };
    store.setShorturlUploader(std::make_shared<Immediate>());
    clock_->advance(1);
    store.generateShorturlFor(point);
    EXPECT_FALSE(store.isEncodingShorturl(*point));
    EXPECT_EQ(store.shorturlFor(*point), "https://s.example/now");
}

TEST_F(QuovaMapPointShareItemTest, HostsAreConfigurationValues) {
    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
        {"QuovaOpenStreetMapWebHost", "osm.example"}, {"QuovaProductWebHost", "tervolo.example"}});
    auto point = harbour();
    onPause_ = [&](size_t) { uploader_->complete(0, std::nullopt); };
    const std::string body = item(*point, UIActivityTypeMail);
    EXPECT_THAT(
        body, HasSubstr("href=\"https://osm.example/?mlat=53.5511&amp;mlon=9.9937#map=15/53.5511/9.9937\""));
    EXPECT_THAT(body, HasSubstr("href=\"https://tervolo.example/appstore/\""));
}

}  // namespace
}  // namespace tervolo::points
