#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "location/QuovaLocationServices.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/location/ScriptedPositionSource.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::location {
namespace {

using platform::CLLocation;
using platform::Date;

class QuovaLocationServicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        observation_ = platform::NotificationCenter::defaultCenter().addObserver(
            "QuovaLocationUpdate", nullptr, [this](const platform::NotificationCenter::Notification& note) {
                notified_.push_back(std::any_cast<CLLocation>(note.userInfo.at("CLLocation")));
            });
        ::testing::internal::CaptureStdout();
        services_ = QuovaLocationServices::make();
        services_->initLocationServices();
        platform::RunLoop::runUntilIdle();
    }
    void TearDown() override { ::testing::internal::GetCapturedStdout(); }

    // What the service printed since the last call.
    std::vector<std::string> printed() {
        const std::string text = ::testing::internal::GetCapturedStdout();
        ::testing::internal::CaptureStdout();
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }

    // A fix `age` seconds old with the given accuracy.
    CLLocation fix(double latitude, double longitude, double age = 0, double accuracy = 5) {
        return CLLocation({latitude, longitude}, 0, accuracy, -1, -1, -1, Date::now().addingTimeInterval(-age));
    }
    void deliver(const std::vector<CLLocation>& fixes) {
        services_->locationManagerDidUpdateLocations(*services_->permanentLocationManager()->manager, fixes);
    }

    tervolo::testsupport::TestEnvironment environment_;
    tervolo::testsupport::ScriptedPositionSources sources_;
    tervolo::testsupport::SharedLogRecording log_;
    std::shared_ptr<QuovaLocationServices> services_;
    std::unique_ptr<platform::NotificationCenter::Token> observation_;
    std::vector<CLLocation> notified_;
};

TEST_F(QuovaLocationServicesTest, FixFilterDropsWhatCannotBeTrusted) {
    struct Case {
        const char* name;
        CLLocation location;
        bool accepted;
        const char* line;  // printed when dropped
    };
    const Case cases[] = {
        {"zero latitude only", fix(0.0, 12.0), true, ""},
        {"zero/zero", fix(0.0, 0.0), false, "received a zero/zero location, dropping"},
        {"exactly 30 s old", fix(60, 25, 30.0), true, ""},
        {"30.5 s old", fix(60, 25, 30.5), false, "received a location aged -30.5 seconds, dropping"},
        {"in the future", fix(60, 25, -5.0), true, ""},
        {"unknown accuracy", fix(60, 25, 0, -1), false,
         "received a location with an invalid horizontal accuracy, dropping"},
        {"latitude off the globe", fix(91, 25), false, "received a location outside the valid coordinate range, dropping"},
        {"NaN longitude", fix(60, std::nan("")), false,
         "received a location outside the valid coordinate range, dropping"},
    };
    printed();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        notified_.clear();
        deliver({c.location});
        EXPECT_EQ(notified_.size(), c.accepted ? 1u : 0u);
        const auto lines = printed();
        if (c.accepted) {
            EXPECT_TRUE(lines.empty());
        } else {
            EXPECT_EQ(lines, std::vector<std::string>{c.line});
        }
    }
}

TEST_F(QuovaLocationServicesTest, ArrayIsHandledFixByFixInOrder) {
    int subscriberCalls = 0;
    services_->subscribe([&](const CLLocation&, const std::optional<std::string>&) {
        ++subscriberCalls;
        return false;
    });
    printed();
    deliver({fix(60.1, 25, 1), fix(60.2, 25, 40), fix(60.3, 25, 2)});
    ASSERT_EQ(notified_.size(), 2u);
    EXPECT_EQ(notified_[0].coordinate().latitude, 60.1);
    EXPECT_EQ(notified_[1].coordinate().latitude, 60.3);
    EXPECT_EQ(subscriberCalls, 2);
    const auto lines = printed();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("received a location aged ", 0), 0u);
    EXPECT_EQ(services_->permanentLocationManager()->lastLocation->coordinate().latitude, 60.3);
}

TEST_F(QuovaLocationServicesTest, BestKnownLocationRule) {
    struct Case {
        const char* name;
        double storedAccuracy;
        double storedAge;  // seconds, when the new fix arrives
        double newAccuracy;
        bool replaced;
    };
    const Case cases[] = {
        {"stored far more precise and fresh", 10, 10, 60, false},
        {"half the new accuracy equals the stored", 30, 10, 60, true},
        {"new fix below 50 m", 10, 15.9, 49.9, true},
        {"stored 16 s old", 10, 16.0, 500, true},
        {"stored 15.99 s old truncates to 15", 10, 15.99, 500, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto services = QuovaLocationServices::make();
        services->initLocationServices();
        auto& manager = *services->permanentLocationManager()->manager;
        services->locationManagerDidUpdateLocations(manager, {fix(60.0, 25.0, 0, c.storedAccuracy)});
        environment_.advance(c.storedAge);
        notified_.clear();
        log_.clear();
        services->locationManagerDidUpdateLocations(manager, {fix(61.0, 25.0, 0, c.newAccuracy)});
        EXPECT_EQ(services->bestKnownLocation()->coordinate().latitude, c.replaced ? 61.0 : 60.0);
        // Observers get every accepted fix, best known or not.
        ASSERT_EQ(notified_.size(), 1u);
        EXPECT_EQ(notified_[0].coordinate().latitude, 61.0);
        const auto infos = log_.texts(logging::QLLogFlag::info);
        const bool skippedLine = std::find(infos.begin(), infos.end(),
                                           "best known location way more precise, SKIPPING new location") != infos.end();
        EXPECT_EQ(skippedLine, !c.replaced);
    }
}

TEST_F(QuovaLocationServicesTest, SubscribersEndThemselvesAndMaySubscribeDuringDelivery) {
    std::vector<std::string> calls;
    LocationSubscription late;
    services_->subscribe([&](const CLLocation&, const std::optional<std::string>&) {
        calls.push_back("once");
        return true;
    });
    services_->subscribe([&](const CLLocation&, const std::optional<std::string>&) {
        calls.push_back("always");
        if (late.guid.empty()) {
            late = services_->subscribe([&](const CLLocation&, const std::optional<std::string>&) {
                calls.push_back("late");
                return false;
            });
        }
        return false;
    });
    deliver({fix(60, 25)});
    EXPECT_EQ(calls, (std::vector<std::string>{"once", "always"}));  // the late one waits for the next fix
    deliver({fix(60.1, 25)});
    EXPECT_EQ(calls, (std::vector<std::string>{"once", "always", "always", "late"}));
    services_->unsubscribe(late);
    services_->unsubscribe(late);  // twice: harmless
    EXPECT_EQ(services_->subscriptionCount(), 1u);
}

TEST_F(QuovaLocationServicesTest, LifecycleStartsAndStopsTheRightManagers) {
    const auto& burst = *services_->burstLocationManager()->manager;
    const auto& significant = *services_->significantUpdateManager()->manager;
    const auto& permanent = *services_->permanentLocationManager()->manager;
    EXPECT_EQ(services_->burstLocationManager()->managerName, "BURST Update");
    EXPECT_EQ(burst.distanceFilter(), 20.0);
    EXPECT_FALSE(burst.isUpdatingLocation());
    EXPECT_TRUE(significant.isMonitoringSignificantChanges());
    EXPECT_TRUE(permanent.isUpdatingLocation());
    EXPECT_FALSE(permanent.pausesLocationUpdatesAutomatically());

    services_->locationFullSpeedAhead();
    EXPECT_TRUE(burst.isUpdatingLocation());
    EXPECT_EQ(permanent.desiredAccuracy(), platform::kCLLocationAccuracyBest);

    printed();
    services_->locationStop();
    EXPECT_FALSE(burst.isUpdatingLocation());
    EXPECT_FALSE(significant.isMonitoringSignificantChanges());
    EXPECT_FALSE(permanent.isUpdatingLocation());
    EXPECT_EQ(printed(), std::vector<std::string>{"* entering locationStop()"});
    EXPECT_EQ(sources_.made().size(), 3u);  // one source per stream started
}

TEST_F(QuovaLocationServicesTest, InactiveAtCreationStartsThePermanentManagerCoarse) {
    QuovaLocationServices::setApplicationStateProvider([] { return 1; });
    auto services = QuovaLocationServices::make();
    services->initLocationServices();
    EXPECT_EQ(services->permanentLocationManager()->manager->desiredAccuracy(), platform::kCLLocationAccuracyHundredMeters);
    QuovaLocationServices::setApplicationStateProvider(nullptr);
}

TEST_F(QuovaLocationServicesTest, StopBeforeInitOnlyPrintsAndStatusIsPrintedAtInit) {
    auto services = QuovaLocationServices::make();
    printed();
    services->locationStop();
    EXPECT_EQ(printed(), std::vector<std::string>{"* entering locationStop()"});
    services->initLocationServices();
    const auto lines = printed();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "* entering initLocationServices()");
    EXPECT_EQ(lines[1], "location auth status not determined");
}

TEST_F(QuovaLocationServicesTest, FixesFromTheServiceReachSubscribersOnTheMainThread) {
    std::vector<double> seen;
    services_->subscribe([&](const CLLocation& location, const std::optional<std::string>&) {
        seen.push_back(location.coordinate().latitude);
        return false;
    });
    // The permanent manager's source is the second one made (after significant change).
    auto source = sources_.made().at(1);
    source->deliver(fix(60.5, 25.0));
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(seen, std::vector<double>{60.5});
}

TEST_F(QuovaLocationServicesTest, SubscribersComeAndGoFromOtherThreadsWhileFixesArrive) {
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::vector<std::thread> churners;
    for (int t = 0; t < 4; ++t) {
        churners.emplace_back([&] {
            while (!stop.load()) {
                auto subscription = services_->subscribe([&](const CLLocation&, const std::optional<std::string>&) {
                    ++calls;
                    return false;
                });
                services_->unsubscribe(subscription);
            }
        });
    }
    for (int i = 0; i < 500; ++i) deliver({fix(60.0 + i * 1e-5, 25.0)});
    stop = true;
    for (auto& thread : churners) thread.join();
    EXPECT_EQ(services_->subscriptionCount(), 0u);
    EXPECT_EQ(notified_.size(), 500u);
}

}  // namespace
}  // namespace tervolo::location
