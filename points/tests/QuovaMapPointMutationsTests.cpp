// Adding, deleting and hiding points, and the "mapPointChange" notifications
// they post.
#include <any>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/foundation/Assertion.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/tests/PointsTestSupport.hpp"
#include "testsupport/FakeSearchIndex.hpp"

namespace tervolo::points {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using testsupport::FakeSearchIndex;
using Kind = FakeSearchIndex::Request::Kind;

// One delivered notification, with what the observer saw at that moment.
struct Seen {
    std::string reason;
    QuovaMapPoint* object = nullptr;
    std::optional<platform::Date> deletedAt;
    std::optional<platform::Date> hiddenAt;
    std::string fileOnDisk;
    std::thread::id thread;
};

class QuovaMapPointMutationsTest : public testing::PointsTest {
  protected:
    void SetUp() override {
        PointsTest::SetUp();
        token_ = platform::NotificationCenter::defaultCenter().addObserver(
            "mapPointChange", nullptr,
            [this](const platform::NotificationCenter::Notification& notification) {
                auto* point = static_cast<QuovaMapPoint*>(notification.object.get());
                Seen seen;
                seen.reason = std::any_cast<std::string>(notification.userInfo.at("mapPointChangeReason"));
                seen.object = point;
                seen.deletedAt = point->deletedAt();
                seen.hiddenAt = point->hiddenAt();
                seen.fileOnDisk = readText(pointsFolder() + point->uuid().value_or("?") + ".QuovaMapPoint");
                seen.thread = std::this_thread::get_id();
                EXPECT_EQ(notification.userInfo.size(), 1u);
                seen_.push_back(seen);
            });
    }
    void TearDown() override {
        token_.reset();
        PointsTest::TearDown();
    }

    std::vector<std::string> reasons() const {
        std::vector<std::string> result;
        for (const auto& seen : seen_) result.push_back(seen.reason);
        return result;
    }

    std::vector<Kind> indexRequests() {
        std::vector<Kind> kinds;
        for (const auto& request : FakeSearchIndex::current()->requests()) kinds.push_back(request.kind);
        return kinds;
    }

    // Forgets the requests so far (after their completions have run).
    static void restartIndexRecording() {
        FakeSearchIndex::uninstall();
        FakeSearchIndex::install();
    }

    // A saved point in the store, with no requests or lines recorded yet.
    std::shared_ptr<QuovaMapPoint> storedPoint(std::optional<std::string> title = "Harbour") {
        auto point = QuovaMapPoint::make("");
        point->setTitle(std::move(title));
        point->setCoordinate({53.5511, 9.9937});
        QuovaMapPointStore::shared().addPoint(point);
        restartIndexRecording();
        log_->clear();
        clock_->advance(60);
        return point;
    }

    std::unique_ptr<platform::NotificationCenter::Token> token_;
    std::vector<Seen> seen_;
};

TEST_F(QuovaMapPointMutationsTest, AddingSavesIndexesOnceAppendsAndPostsNothing) {
    auto& store = QuovaMapPointStore::shared();
    auto point = QuovaMapPoint::make("Harbour");
    point->setCoordinate({53.5511, 9.9937});
    log_->clear();
    store.addPoint(point);

    EXPECT_THAT(seen_, IsEmpty());
    ASSERT_TRUE(point->uuid().has_value());
    EXPECT_FALSE(point->deletedAt() || point->hiddenAt());
    EXPECT_EQ(store.points().back(), point);
    EXPECT_TRUE(store.needsSync());
    EXPECT_EQ(entries(pointsFolder()), std::vector<std::string>{*point->uuid() + ".QuovaMapPoint"});
    // The save indexes the point and sets the flag; adding does neither again.
    EXPECT_THAT(indexRequests(), ElementsAre(Kind::index));
    const auto lines = log_->texts(logging::QLLogFlag::info);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "QuovaMapPointStore: needs sync flag set."), 1);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "QuovaMapPointStore: add point \"Harbour\".");

    // No check for a point already there.
    store.addPoint(point);
    EXPECT_EQ(std::count(store.points().begin(), store.points().end(), point), 2);
    EXPECT_THAT(seen_, IsEmpty());
}

TEST_F(QuovaMapPointMutationsTest, DeletingStampsSavesUnindexesAndPostsBeforeReturning) {
    auto& store = QuovaMapPointStore::shared();
    auto point = storedPoint();
    const auto now = platform::Date::now();
    store.deletePoint(point);

    ASSERT_THAT(reasons(), ElementsAre("mapPointDeleted"));
    EXPECT_EQ(seen_[0].object, point.get());
    EXPECT_EQ(seen_[0].thread, std::this_thread::get_id());
    EXPECT_EQ(seen_[0].deletedAt, now);
    EXPECT_FALSE(seen_[0].hiddenAt.has_value());
    // The observer already finds the stamp in the file.
    EXPECT_EQ(QuovaMapPoint::decode(std::string_view(seen_[0].fileOnDisk))->deletedAt(), now);
    EXPECT_THAT(indexRequests(), ElementsAre(Kind::index, Kind::remove));
    EXPECT_EQ(point->lastSavedAt(), now);
    EXPECT_EQ(store.points().back(), point);
    EXPECT_THAT(store.validPointsWithFilter(std::nullopt), IsEmpty());
    EXPECT_THAT(store.deletedPointsWithFilter(std::nullopt), ElementsAre(point));

    // Deleting again stamps anew, saves and posts again.
    clock_->advance(5);
    store.deletePoint(point);
    EXPECT_THAT(reasons(), ElementsAre("mapPointDeleted", "mapPointDeleted"));
    EXPECT_EQ(point->deletedAt(), platform::Date::now());
    EXPECT_THAT(indexRequests(), ElementsAre(Kind::index, Kind::remove, Kind::index, Kind::remove));
}

// A mutation whose file is not written changes nothing: the point keeps its
// fields and place, no notice is posted, the index keeps it. Tests run as
// root, whom permissions do not stop: a plain file where the points folder
// should be fails every write for anyone.
TEST_F(QuovaMapPointMutationsTest, AMutationThatWritesNothingChangesNothingAndSaysWhy) {
    struct Case {
        const char* name;
        bool deletedBefore;
        std::function<std::optional<platform::Error>(QuovaMapPointStore&,
                                                     const std::shared_ptr<QuovaMapPoint>&)>
            mutate;
    };
    const Case cases[] = {
        {"delete", false, [](auto& store, const auto& point) { return store.deletePoint(point); }},
        {"hide a valid point", false, [](auto& store, const auto& point) { return store.hidePoint(point); }},
        {"hide a deleted point", true, [](auto& store, const auto& point) { return store.hidePoint(point); }},
    };
    auto& store = QuovaMapPointStore::shared();
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::filesystem::remove_all(pointsFolder());
        auto point = storedPoint();
        if (test.deletedBefore) {
            ASSERT_FALSE(store.deletePoint(point).has_value());
        }
        const std::string file = readText(pointsFolder() + *point->uuid() + ".QuovaMapPoint");
        const auto deletedAt = point->deletedAt();
        const auto savedAt = point->lastSavedAt();
        std::filesystem::rename(pointsFolder(), documents() + "/kept");
        writeText(documents() + "/points", "");
        seen_.clear();
        restartIndexRecording();
        clock_->advance(5);

        const auto error = test.mutate(store, point);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->posixCode, ENOTDIR) << error->fullDescription();
        EXPECT_EQ(point->deletedAt(), deletedAt);
        EXPECT_FALSE(point->hiddenAt().has_value());
        EXPECT_EQ(point->lastSavedAt(), savedAt);
        EXPECT_THAT(seen_, IsEmpty());
        EXPECT_THAT(indexRequests(), Not(Contains(Kind::remove)));
        std::filesystem::remove(documents() + "/points");
        std::filesystem::rename(documents() + "/kept", pointsFolder());
        EXPECT_EQ(readText(pointsFolder() + *point->uuid() + ".QuovaMapPoint"), file);
    }

    // A new point that cannot be written is not taken into the collection.
    std::filesystem::remove_all(pointsFolder());
    writeText(documents() + "/points", "");
    const size_t count = store.points().size();
    auto fresh = QuovaMapPoint::make("Pier");
    fresh->setCoordinate({53.5, 9.9});
    restartIndexRecording();
    EXPECT_TRUE(store.addPoint(fresh).has_value());
    EXPECT_EQ(store.points().size(), count);
    EXPECT_THAT(indexRequests(), ElementsAre(Kind::index, Kind::remove));
    std::filesystem::remove(documents() + "/points");
}

TEST_F(QuovaMapPointMutationsTest, HidingAValidPointDeletesItFirst) {
    auto& store = QuovaMapPointStore::shared();
    auto point = storedPoint();
    store.hidePoint(point);

    ASSERT_THAT(reasons(), ElementsAre("mapPointDeleted", "mapPointHidden"));
    // The deletion is seen before the point has its hiddenAt.
    EXPECT_TRUE(seen_[0].deletedAt.has_value());
    EXPECT_FALSE(seen_[0].hiddenAt.has_value());
    EXPECT_TRUE(seen_[1].deletedAt.has_value() && seen_[1].hiddenAt.has_value());
    EXPECT_THAT(seen_[1].fileOnDisk, ::testing::HasSubstr("\"hiddenAt\":"));
    EXPECT_LE(*point->deletedAt(), *point->hiddenAt());
    // Written twice, each save followed by its removal from the index.
    EXPECT_THAT(indexRequests(), ElementsAre(Kind::index, Kind::remove, Kind::index, Kind::remove));
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info),
                ::testing::IsSupersetOf({"QuovaMapPointStore: hiding point \"Harbour\".",
                                         "QuovaMapPointStore: delete point \"Harbour\"."}));
    EXPECT_THAT(store.validPointsWithFilter(std::nullopt), IsEmpty());
    EXPECT_THAT(store.deletedPointsWithFilter(std::nullopt), IsEmpty());
    EXPECT_THAT(store.allPoints(), ElementsAre(point));
}

TEST_F(QuovaMapPointMutationsTest, HidingADeletedPointKeepsItsDeletionStamp) {
    auto& store = QuovaMapPointStore::shared();
    auto point = storedPoint();
    store.deletePoint(point);
    const auto deletedAt = point->deletedAt();
    seen_.clear();
    restartIndexRecording();
    clock_->advance(30);

    store.hidePoint(point);
    EXPECT_THAT(reasons(), ElementsAre("mapPointHidden"));
    EXPECT_EQ(point->deletedAt(), deletedAt);
    EXPECT_EQ(point->hiddenAt(), platform::Date::now());
    EXPECT_THAT(indexRequests(), ElementsAre(Kind::index, Kind::remove));
}

TEST_F(QuovaMapPointMutationsTest, RestoringADeletedPointPostsNothingAndMakesItValidAgain) {
    auto& store = QuovaMapPointStore::shared();
    auto point = storedPoint();
    store.deletePoint(point);
    seen_.clear();
    // The point list restores a point itself: no store operation clears a stamp.
    point->setDeletedAt(std::nullopt);
    point->save(QuovaMapPointStore::shared());
    store.setNeedsSync();
    EXPECT_THAT(seen_, IsEmpty());
    EXPECT_THAT(store.validPointsWithFilter(std::nullopt), ElementsAre(point));
    EXPECT_THAT(store.deletedPointsWithFilter(std::nullopt), IsEmpty());
}

TEST_F(QuovaMapPointMutationsTest, UntitledPointIsLoggedAsUnknown) {
    auto& store = QuovaMapPointStore::shared();
    auto point = storedPoint(std::nullopt);
    store.deletePoint(point);
    const auto lines = log_->texts(logging::QLLogFlag::info);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "QuovaMapPointStore: delete point unknown.");
    EXPECT_THAT(reasons(), ElementsAre("mapPointDeleted"));
}

// The typed change notification: every add, update, delete and hide, each
// once, with the point already stamped and saved.
TEST_F(QuovaMapPointMutationsTest, TypedObserversSeeEveryChangeOnce) {
    auto& store = QuovaMapPointStore::shared();
    struct Received {
        MapPointChange::Reason reason;
        QuovaMapPoint* point;
        bool deleted, hidden, onDisk;
    };
    std::vector<Received> received;
    auto token = store.observeChanges([&](const MapPointChange& change) {
        const bool onDisk =
            !readText(pointsFolder() + change.point->uuid().value_or("?") + ".QuovaMapPoint").empty();
        received.push_back({change.reason, change.point.get(), change.point->deletedAt().has_value(),
                            change.point->hiddenAt().has_value(), onDisk});
    });
    using Reason = MapPointChange::Reason;
    const auto reasons = [&] {
        std::vector<Reason> result;
        for (const auto& r : received) result.push_back(r.reason);
        return result;
    };

    auto point = QuovaMapPoint::make("Harbour");
    point->save(store);  // not in the store yet: nothing to report
    EXPECT_THAT(reasons(), IsEmpty());
    store.addPoint(point);
    point->setTitle("Old harbour");
    point->save(store);
    point->setTags(std::vector<std::string>{"TAG"});
    point->savePreservingLastModification(store);
    store.deletePoint(point);
    auto other = QuovaMapPoint::make("Bridge");
    store.addPoint(other);
    store.hidePoint(other);

    EXPECT_THAT(reasons(), ElementsAre(Reason::added, Reason::updated, Reason::updated, Reason::deleted,
                                       Reason::added, Reason::deleted, Reason::hidden));
    for (const auto& r : received) EXPECT_TRUE(r.onDisk);
    EXPECT_EQ(received[3].point, point.get());
    EXPECT_TRUE(received[3].deleted && !received[3].hidden);
    EXPECT_TRUE(received[5].deleted && !received[5].hidden);
    EXPECT_TRUE(received[6].deleted && received[6].hidden);
    // The named notices still come for the deletions and the hiding only.
    EXPECT_THAT(this->reasons(), ElementsAre("mapPointDeleted", "mapPointDeleted", "mapPointHidden"));

    token.reset();
    store.addPoint(QuovaMapPoint::make("After"));
    EXPECT_EQ(received.size(), 7u);
}

// The store's list has no lock: debug builds report an operation called off
// the main thread.
TEST_F(QuovaMapPointMutationsTest, OperationsOffTheMainThreadAreReportedInDebugBuilds) {
#ifdef NDEBUG
    GTEST_SKIP() << "release builds do not check the thread";
#else
    auto& store = QuovaMapPointStore::shared();
    std::vector<std::string> messages;
    platform::ScopedAssertionHandler handler(
        [&](std::string_view, std::string_view file, std::string_view message) {
            messages.push_back(std::string(file) + ": " + std::string(message));
        });
    auto point = QuovaMapPoint::make("Harbour");
    store.addPoint(point);
    EXPECT_THAT(messages, IsEmpty());
    std::thread([&] { store.deletePoint(point); }).join();
    EXPECT_THAT(messages, ElementsAre("QuovaMapPointStore: deletePoint must run on the main thread"));
#endif
}

}  // namespace
}  // namespace tervolo::points
