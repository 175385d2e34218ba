#include <gtest/gtest.h>

#include <QRectF>
#include <QTest>

#include <filesystem>

#include "SearchUITestSupport.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/ui/KeyboardNotifications.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "search/tests/FakeSearchSession.hpp"
#include "testsupport/UnwritableFolder.hpp"

namespace search_ui_test {
namespace {

using Controller = search::QuovaLocationSearchController;
constexpr platform::CLLocationCoordinate2D kInvalid = platform::kCLLocationCoordinate2DInvalid;

std::vector<std::string> startTexts(const FakeBackendSearch& backend) {
    std::vector<std::string> texts;
    for (const auto& start : backend.starts) texts.push_back(start.text);
    return texts;
}

TEST_F(SearchControllerTest, OnePauseAfterTheLastKeystrokeStartsOneSearchForTheWholeText) {
    host_->center = platform::CLLocationCoordinate2D{60.17, 24.94};
    makeController();
    type("abc");
    advance(0.3);
    type("d");
    advance(0.69);
    EXPECT_TRUE(backend_->starts.empty());
    EXPECT_TRUE(geocoder_->requests().empty());
    advance(0.02);
    EXPECT_EQ(startTexts(*backend_), std::vector<std::string>{"abcd"});
    ASSERT_EQ(geocoder_->requests().size(), 1u);
    const auto request = geocoder_->requests()[0];
    EXPECT_EQ(request.text, "abcd");
    ASSERT_TRUE(request.region);
    EXPECT_EQ(request.region->center, (platform::CLLocationCoordinate2D{60.17, 24.94}));
    EXPECT_EQ(request.region->radius, 10000.0);
    EXPECT_EQ(request.region->identifier, "surroundingRegion");
    advance(5);
    EXPECT_EQ(backend_->starts.size(), 1u) << "the timer is one-shot";
}

// A pending search must not start once the text it was for is gone.
TEST_F(SearchControllerTest, APendingSearchEndsWithTheTextItWasFor) {
    struct Case {
        const char* name;
        std::function<void(SearchControllerTest&)> after;
    };
    const Case cases[] = {
        {"shortened to ab", [](SearchControllerTest& t) { t.type("\b"); }},
        {"emptied", [](SearchControllerTest& t) { t.type("\b\b\b"); }},
        {"Return",
         [](SearchControllerTest& t) { EXPECT_FALSE(t.controller_->textFieldShouldReturn(*t.field_)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        field_->clear();
        backend_->starts.clear();
        makeController();
        type("abc");
        EXPECT_TRUE(controller_->hasPendingSearch());
        advance(0.2);
        c.after(*this);
        EXPECT_FALSE(controller_->hasPendingSearch());
        advance(2);
        EXPECT_TRUE(backend_->starts.empty());
        EXPECT_EQ(controller_->networkUsageCount(), 0);
        EXPECT_FALSE(spinner_->isAnimating());
    }
}

TEST_F(SearchControllerTest, TextOfThreeUtf8BytesSearchesWithoutSurroundingLineBreaks) {
    struct Case {
        std::string text;
        std::optional<std::string> searched;
    };
    const Case cases[] = {
        {"ab", std::nullopt}, {"abc", "abc"}, {"ab ", "ab "}, {"\xe6\x9d\xb1", "\xe6\x9d\xb1"},
        {"abc\n", "abc"},
    };
    makeController();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        backend_->starts.clear();
        field_->setText(QString::fromStdString(c.text));
        controller_->textFieldDidChangeSelection(*field_);
        advance(0.7);
        if (c.searched) {
            EXPECT_EQ(startTexts(*backend_), std::vector<std::string>{*c.searched});
        } else {
            EXPECT_TRUE(backend_->starts.empty());
            EXPECT_EQ(height_->constant(), 0);
        }
    }
}

TEST_F(SearchControllerTest, ARepeatedTextIsIgnoredOnceAndRestartsTheSearchTheSecondTime) {
    makeController();
    type("abc");
    controller_->textFieldDidChangeSelection(*field_);  // a caret move: ignored
    EXPECT_FALSE(controller_->lastReportedSearchString());
    advance(0.7);
    EXPECT_EQ(backend_->starts.size(), 1u);

    backend_->reply(std::vector<points::QuovaPlacemark>{place("A", 1, 1)}, false);
    ASSERT_EQ(controller_->allResults().size(), 1u);
    controller_->textFieldDidChangeSelection(*field_);  // same text, counts as new
    EXPECT_TRUE(controller_->allResults().empty());
    EXPECT_TRUE(controller_->hasPendingSearch());
    advance(0.7);
    EXPECT_EQ(startTexts(*backend_), (std::vector<std::string>{"abc", "abc"}));
}

TEST_F(SearchControllerTest, WithoutMapAndPositionOnlyTheBackendIsAskedAndOwnPointsKeepStoreOrder) {
    storePoint("Cafe far", 10, 10);
    storePoint("Cafe near", 0.001, 0.001, "Near street");
    storePoint("Museum", 0, 0);
    makeController(false);
    type("caf ");
    advance(0.7);
    EXPECT_TRUE(geocoder_->requests().empty());
    ASSERT_EQ(backend_->starts.size(), 1u);
    EXPECT_EQ(backend_->starts[0].mapCenter, kInvalid);
    EXPECT_EQ(backend_->starts[0].userLocation, kInvalid);
    // Own points are listed at once, the filter trimmed of its blank.
    EXPECT_EQ(titles(), (std::vector<std::string>{"Cafe far", "Cafe near"}));
    EXPECT_EQ(controller_->allResults()[0].address, "(unknown)");
    EXPECT_EQ(controller_->allResults()[0].datasource, points::localDataSourceName());
    EXPECT_EQ(controller_->allResults()[1].address, "Near street");

    backend_->reply(std::vector<points::QuovaPlacemark>{place("Backend", 0, 0)}, false);
    EXPECT_EQ(titles(), (std::vector<std::string>{"Backend", "Cafe far", "Cafe near"}));
}

TEST_F(SearchControllerTest, WithMapAndPositionTheCircleIsOnTheMapAndResultsSortByDistanceFromIt) {
    storePoint("Cafe far", 10, 10);
    storePoint("Cafe near", 0.001, 0.001);
    host_->center = platform::CLLocationCoordinate2D{0, 0};
    bestKnown_ = platform::CLLocation(50, 8);
    makeController();
    type("Caf");
    advance(0.7);
    ASSERT_EQ(geocoder_->requests().size(), 1u);
    EXPECT_EQ(geocoder_->requests()[0].region->center, (platform::CLLocationCoordinate2D{0, 0}));
    ASSERT_EQ(backend_->starts.size(), 1u);
    EXPECT_EQ(backend_->starts[0].mapCenter, (platform::CLLocationCoordinate2D{0, 0}));
    EXPECT_EQ(backend_->starts[0].userLocation, (platform::CLLocationCoordinate2D{50, 8}));
    backend_->reply(std::vector<points::QuovaPlacemark>{place("Middle", 1, 1), place("Nowhere", -180, -180),
                                                        place("Closest", 0, 0)},
                    true);
    EXPECT_EQ(titles(), (std::vector<std::string>{"Closest", "Cafe near", "Middle", "Cafe far", "Nowhere"}));
}

TEST_F(SearchControllerTest, WithOnlyAPositionTheCircleIsAroundIt) {
    bestKnown_ = platform::CLLocation(50, 8);
    makeController(false);
    type("abc");
    advance(0.7);
    ASSERT_EQ(geocoder_->requests().size(), 1u);
    EXPECT_EQ(geocoder_->requests()[0].region->center, (platform::CLLocationCoordinate2D{50, 8}));
    EXPECT_EQ(backend_->starts[0].mapCenter, kInvalid);
}

TEST_F(SearchControllerTest, TheSpinnerTurnsUntilTheLastOfBothSourcesHasAnswered) {
    host_->center = platform::CLLocationCoordinate2D{60, 25};
    geocoder_->answerText(
        "abc",
        {{tervolo::testsupport::makePlacemark("Geo", 60.1, 25, "Street 1", "Town")}, std::nullopt, 2.0});
    makeController();
    type("abc");
    advance(0.7);
    EXPECT_EQ(controller_->networkUsageCount(), 2);
    EXPECT_TRUE(spinner_->isAnimating());

    backend_->reply(std::vector<points::QuovaPlacemark>{place("Back 1", 61, 25)}, false);
    backend_->reply(std::vector<points::QuovaPlacemark>{place("Back 1", 61, 25), place("Back 2", 60, 25)},
                    true);
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(controller_->networkUsageCount(), 1);
    EXPECT_TRUE(spinner_->isAnimating());
    EXPECT_EQ(titles(), (std::vector<std::string>{"Back 2", "Back 1"}));

    advance(2.0);
    EXPECT_EQ(controller_->networkUsageCount(), 0);
    EXPECT_FALSE(spinner_->isAnimating());
    EXPECT_EQ(titles(), (std::vector<std::string>{"Back 2", "Geo", "Back 1"}));
}

TEST_F(SearchControllerTest, TheUsageCounterNeverGoesBelowZeroAndForgetsOneDomainAtATime) {
    makeController();
    controller_->stopUsingNetworkForDomain(Controller::kAppleGeocoderDomain);
    EXPECT_EQ(controller_->networkUsageCount(), 0);
    spinner_->startAnimating();
    platform::RunLoop::runUntilIdle();
    EXPECT_FALSE(spinner_->isAnimating()) << "a stop is queued";

    for (const char* domain : {"AppleGeocoder", "QuovaGeocoder", "AppleGeocoder"}) {
        controller_->startUsingNetworkForDomain(domain);
    }
    controller_->stopUsingNetworkForDomain("AppleGeocoder");
    EXPECT_EQ(controller_->spinnerDomains(), (std::vector<std::string>{"QuovaGeocoder", "AppleGeocoder"}));
    EXPECT_EQ(controller_->networkUsageCount(), 2);
    controller_->resetUsingNetwork();
    EXPECT_EQ(controller_->networkUsageCount(), 0);
    EXPECT_EQ(controller_->spinnerDomains().size(), 2u) << "the reset keeps the list";
}

// A geocoder answer with neither places nor error still shows what the other sources found.
TEST_F(SearchControllerTest, AnEmptyGeocoderAnswerKeepsTheTableSizedForTheMergedList) {
    host_->center = platform::CLLocationCoordinate2D{60, 25};
    makeController();
    type("abc");
    advance(0.7);
    backend_->reply(std::vector<points::QuovaPlacemark>{place("Back", 60, 25)}, true);
    EXPECT_EQ(height_->constant(), 180);
    controller_->geoHandler(std::nullopt, std::nullopt);
    EXPECT_EQ(controller_->allResults().size(), 1u);
    EXPECT_EQ(height_->constant(), 180);
}

TEST_F(SearchControllerTest, TheTableHeightFollowsTheWindowAndTheLastKeyboard) {
    makeController(false);
    type("abc");
    advance(0.7);
    std::vector<points::QuovaPlacemark> five;
    for (int i = 0; i < 5; ++i) five.push_back(place("P" + std::to_string(i), 0, i));
    backend_->reply(five, false);
    EXPECT_EQ(height_->constant(), 540) << "window 800, table at 100: limit 680";

    std::vector<points::QuovaPlacemark> ten;
    for (int i = 0; i < 10; ++i) ten.push_back(place("P" + std::to_string(i), 0, i));
    backend_->reply(ten, false);
    EXPECT_EQ(height_->constant(), 680);

    platform::NotificationCenter::defaultCenter().post(
        platform::UIKeyboardDidShowNotification, nullptr,
        {{platform::UIKeyboardFrameEndUserInfoKey, std::any(QRectF(0, 500, 800, 300))}});
    EXPECT_EQ(controller_->keyboardOriginY(), 500);
    EXPECT_EQ(height_->constant(), 390);

    platform::NotificationCenter::defaultCenter().post(
        platform::UIKeyboardDidShowNotification, nullptr,
        {{platform::UIKeyboardFrameEndUserInfoKey, std::any(QRectF(0, 50, 800, 750))}});
    EXPECT_EQ(height_->constant(), 0) << "a keyboard above the table gives no room, not a negative height";
}

TEST_F(SearchControllerTest, ReturnEndsTheSearchButKeepsTextAndResults) {
    host_->center = platform::CLLocationCoordinate2D{60, 25};
    geocoder_->answerText(
        "abc", {{tervolo::testsupport::makePlacemark("Geo", 60.1, 25, "Street", "Town")}, std::nullopt, 5.0});
    makeController();
    type("abc");
    advance(0.7);
    backend_->reply(std::vector<points::QuovaPlacemark>{place("Back", 60, 25)}, false);
    ASSERT_TRUE(spinner_->isAnimating());
    EXPECT_FALSE(controller_->textFieldShouldReturn(*field_));
    platform::RunLoop::runUntilIdle();
    EXPECT_TRUE(table_->isHidden());
    EXPECT_FALSE(backend_->isSearching());
    EXPECT_FALSE(controller_->iOSGeocoder()->isGeocoding());
    EXPECT_FALSE(spinner_->isAnimating());
    EXPECT_EQ(controller_->networkUsageCount(), 0);
    EXPECT_EQ(field_->text(), QStringLiteral("abc"));
    EXPECT_EQ(titles(), std::vector<std::string>{"Back"});
}

// The backend's start fails (its host refuses), so the search waits for its
// retry with neither a request nor a polling timer under way. New text ends
// it even there: the spinner counts exactly the searches running, and the
// old search neither starts again nor answers under the new text.
TEST_F(SearchControllerTest, NewTextEndsABackendSearchThatWaitsToRetryItsStart) {
    using search::testing::FakeReply;
    using search::testing::FakeSearchSession;
    struct Case {
        const char* name;
        QString edit;  // typed while the old search waits for its retry
        std::vector<std::string> results;
    };
    const Case cases[] = {
        {"shortened below the minimum", QStringLiteral("\b\b"), {}},
        {"emptied", QStringLiteral("\b\b\b\b"), {}},
        {"changed", QStringLiteral("\bx"), {"Found for abcx"}},
    };
    auto posts = [](const FakeSearchSession& session, const std::string& text) {
        size_t count = 0;
        for (const auto& task : session.requests("POST"))
            count += task->body.find("\"searchString\":\"" + text + "\"") != std::string::npos ? 1 : 0;
        return count;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        field_->clear();
        auto session = FakeSearchSession::make();
        // Starts for "abcd" are refused; any other start is answered, and its
        // first poll ends the search with one place.
        session->setResponder(
            [](const FakeSearchSession::Task& task) -> std::optional<FakeReply> {
                if (task.request.httpMethod != "POST") {
                    return FakeReply::http(
                        R"({"status":0,"message":"","uuid":"S2","hits":1,"placemarks":[{"title":"Found for abcx",)"
                        R"("address":"Street 1","datasource":"Backend","longitude":24.5,"latitude":65.7}],)"
                        R"("isDone":true})");
                }
                if (task.body.find("\"searchString\":\"abcd\"") != std::string::npos)
                    return FakeReply::failure(-1004);
                return FakeReply::http(
                    R"({"status":0,"message":"queued","uuid":"S2","searchString":"abcx"})");
            },
            0.05);
        search::QuovaForwardGeocoder::Dependencies dependencies;
        dependencies.session = session;
        dependencies.apiBaseURL = [] { return std::string("https://api.test"); };
        auto geocoder = search::QuovaForwardGeocoder::make(dependencies);
        realBackend_ = search::forwardGeocoderSearch(geocoder);
        // Virtual time in small steps, each reply handed over to the main queue.
        auto run = [&](double seconds) {
            for (double done = 0; done < seconds - 1e-9; done += 0.05) {
                advance(0.05);
                session->queue()->sync([] {});
                platform::RunLoop::runUntilIdle();
            }
        };
        makeController(false);
        type("abcd");
        run(0.8);  // the search starts at 0.7, is refused at 0.75 and would try again at 0.85
        ASSERT_EQ(posts(*session, "abcd"), 1u);
        ASSERT_FALSE(geocoder->searchRequestTask());
        ASSERT_FALSE(geocoder->runningRequestTimer());
        ASSERT_TRUE(realBackend_->isSearching()) << "the retry is still to come";
        EXPECT_EQ(controller_->networkUsageCount(), 1);

        type(c.edit);
        EXPECT_FALSE(realBackend_->isSearching());
        EXPECT_EQ(controller_->networkUsageCount(), 0);
        run(0.35);  // past the retry's 0.1 s, before a new search's 0.7 s pause ends
        EXPECT_EQ(posts(*session, "abcd"), 1u);
        EXPECT_EQ(controller_->networkUsageCount(), 0);
        EXPECT_FALSE(spinner_->isAnimating());
        run(10);
        EXPECT_EQ(posts(*session, "abcd"), 1u) << "the old search never starts again";
        EXPECT_EQ(posts(*session, "abcx"), c.results.empty() ? 0u : 1u);
        EXPECT_EQ(titles(), c.results);
        EXPECT_FALSE(realBackend_->isSearching());
        EXPECT_EQ(controller_->networkUsageCount(), 0);
        EXPECT_FALSE(spinner_->isAnimating());
        controller_.reset();
        realBackend_.reset();
    }
}

size_t filesUnder(const std::string& folder) {
    size_t count = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file() && it->path().extension() != ".json") ++count;
    }
    return count;
}

TEST_F(SearchControllerTest, ChoosingAResultShowsAnOwnPointOrStoresAnyOtherAsANewPoint) {
    struct Case {
        std::string title;
        std::vector<std::string> hostCalls;
        int newPoints;
        bool unwritable = false;  // the points folder refuses the new point's file
    };
    const Case cases[] = {
        {"Harbour", {"zoomInOnPoint Harbour", "selectPoint Harbour"}, 0},
        {"Harbour Cafe", {"pointNotSaved"}, 0, true},
        {"Harbour Cafe", {"addPoint Harbour Cafe", "zoomInOnPoint Harbour Cafe"}, 1},
        {"Harbour Nowhere", {}, 0},
    };
    storePoint("Harbour", 60.16, 24.95);
    host_->center = platform::CLLocationCoordinate2D{60.17, 24.94};
    makeController();
    auto& store = points::QuovaMapPointStore::shared();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        host_->calls.clear();
        table_->show();
        field_->clear();
        type("Harb");
        advance(0.7);
        auto backendPlace =
            place("Harbour Cafe", 60.2, 25.0, "backend", "https://images.example.invalid/c.png");
        backendPlace.url = "https://example.invalid/cafe";
        backend_->reply(
            std::vector<points::QuovaPlacemark>{backendPlace, place("Harbour Nowhere", -180, -180)}, true);
        const auto& results = controller_->allResults();
        auto found =
            std::find_if(results.begin(), results.end(), [&](auto& p) { return p.title == c.title; });
        ASSERT_NE(found, results.end());
        const size_t pointsBefore = store.allPoints().size();
        const size_t filesBefore = filesUnder(environment_.folder().path());

        {
            std::optional<tervolo::testsupport::UnwritableFolder> unwritable;
            if (c.unwritable) unwritable.emplace(points::QuovaMapPoint::documentDirectory());
            controller_->didSelectRow(*table_, {0, static_cast<int>(found - results.begin())});
        }

        EXPECT_EQ(host_->calls, c.hostCalls);
        EXPECT_TRUE(table_->isHidden());
        EXPECT_TRUE(controller_->allResults().empty());
        EXPECT_EQ(store.allPoints().size(), pointsBefore + c.newPoints);
        EXPECT_EQ(filesUnder(environment_.folder().path()), filesBefore + c.newPoints);
        if (c.newPoints) {
            const auto& point = store.allPoints().back();
            EXPECT_TRUE(point->hasHandcraftedTitle());
            EXPECT_TRUE(point->uuid());
            EXPECT_EQ(point->dataSourceName(), std::optional<std::string>("backend"));
            EXPECT_EQ(point->dataSourceUniqueID(), std::optional<std::string>("id-Harbour Cafe"));
            EXPECT_EQ(point->dataSourceURL(), std::optional<std::string>("https://example.invalid/cafe"));
            EXPECT_EQ(point->dataSourceImageURL(),
                      std::optional<std::string>("https://images.example.invalid/c.png"));
        }
    }
}

TEST_F(SearchControllerTest, AnOwnPointNoLongerInTheStoreOnlyHidesTheTable) {
    makeController();
    type("abc");
    advance(0.7);
    auto stranger = place("Gone", 1, 1, points::localDataSourceName());
    stranger.uniqueID = "NO-SUCH-POINT";
    backend_->reply(std::vector<points::QuovaPlacemark>{stranger}, true);
    controller_->didSelectRow(*table_, {0, 0});
    EXPECT_TRUE(table_->isHidden());
    EXPECT_TRUE(host_->calls.empty());
    EXPECT_EQ(controller_->allResults().size(), 1u) << "the results stay";
}

}  // namespace
}  // namespace search_ui_test
