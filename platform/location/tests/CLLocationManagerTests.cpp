#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/location/CLError.hpp"
#include "platform/location/CLLocationManager.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/location/ScriptedPositionSource.hpp"

namespace platform {
namespace {

using tervolo::testsupport::ScriptedPositionSources;

// Records every delegate call as a line.
class RecordingDelegate : public CLLocationManagerDelegate {
  public:
    std::vector<std::string> calls;
    std::vector<CLLocation> fixes;
    void locationManagerDidUpdateLocations(CLLocationManager&, const std::vector<CLLocation>& locations) override {
        for (const auto& fix : locations) {
            fixes.push_back(fix);
            calls.push_back("fix");
        }
    }
    void locationManagerDidFailWithError(CLLocationManager&, const Error& error) override {
        calls.push_back("error " + std::to_string(error.code));
    }
    void locationManagerDidChangeAuthorization(CLLocationManager&, CLAuthorizationStatus status) override {
        calls.push_back("authorization " + std::to_string(static_cast<int>(status)));
    }
};

class CLLocationManagerTest : public ::testing::Test {
  protected:
    std::shared_ptr<CLLocationManager> makeManager() {
        auto manager = CLLocationManager::make();
        manager->setDelegate(delegate_);
        return manager;
    }
    CLLocation fixAt(double latitude, double longitude, double secondsSince2001) {
        return CLLocation({latitude, longitude}, 0, 5, -1, -1, -1, Date{secondsSince2001});
    }

    tervolo::testsupport::VirtualClockScope time_;
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
};

TEST_F(CLLocationManagerTest, AuthorisationIsAnsweredAsynchronouslyAndFollowsTheService) {
    ScriptedPositionSources sources;
    auto manager = makeManager();
    EXPECT_TRUE(delegate_->calls.empty());  // never inside make()
    RunLoop::runUntilIdle();
    EXPECT_EQ(delegate_->calls, std::vector<std::string>{"authorization 0"});

    manager->requestWhenInUseAuthorization();
    RunLoop::runUntilIdle();
    EXPECT_EQ(CLLocationManager::authorizationStatus(), CLAuthorizationStatus::authorizedWhenInUse);

    manager->startUpdatingLocation();
    sources.made().at(0)->answerAuthorization(CLAuthorizationStatus::denied);
    sources.made().at(0)->fail(CLError::make(CLError::denied, "refused"));
    RunLoop::runUntilIdle();
    EXPECT_EQ(delegate_->calls, (std::vector<std::string>{"authorization 0", "authorization 4", "authorization 2",
                                                          "error 1"}));
}

TEST_F(CLLocationManagerTest, FirstFixAnswersAnUndecidedStatus) {
    ScriptedPositionSources sources;
    auto manager = makeManager();
    manager->startUpdatingLocation();
    RunLoop::runUntilIdle();
    sources.made().at(0)->deliver(fixAt(60.17, 24.94, 100));
    RunLoop::runUntilIdle();
    EXPECT_EQ(delegate_->calls, (std::vector<std::string>{"authorization 0", "authorization 4", "fix"}));
}

TEST_F(CLLocationManagerTest, WithoutAPositionServiceTheStatusIsRestricted) {
    ScriptedPositionSources sources(false);
    auto manager = makeManager();
    manager->startUpdatingLocation();
    RunLoop::runUntilIdle();
    EXPECT_EQ(CLLocationManager::authorizationStatus(), CLAuthorizationStatus::restricted);
    EXPECT_EQ(delegate_->calls, (std::vector<std::string>{"authorization 1", "error 1"}));
}

TEST_F(CLLocationManagerTest, DistanceFilterDropsFixesCloserThanItToTheLastDelivered) {
    struct Case {
        double filter;
        std::vector<double> northMetres;  // each fix's distance north of the start
        size_t delivered;
    };
    const Case cases[] = {
        {kCLDistanceFilterNone, {0, 1, 2, 3}, 4},
        {20, {0, 10, 19, 25, 40, 46}, 3},  // 0, 25, 46
        {20, {0, 20.5, 41}, 3},
        {100, {0, 50, 99}, 1},
    };
    constexpr double metresPerDegree = 111195.0;  // about one degree of latitude here
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        ScriptedPositionSources sources;
        delegate_->fixes.clear();
        auto manager = makeManager();
        manager->setDistanceFilter(c.filter);
        manager->startUpdatingLocation();
        double t = 1000;
        for (double metres : c.northMetres) {
            sources.made().at(0)->deliver(fixAt(60.0 + metres / metresPerDegree, 25.0, t += 1));
        }
        RunLoop::runUntilIdle();
        EXPECT_EQ(delegate_->fixes.size(), c.delivered);
    }
}

TEST_F(CLLocationManagerTest, SignificantChangesAreALowRateStreamWithA500MetreFilter) {
    ScriptedPositionSources sources;
    auto manager = makeManager();
    manager->startMonitoringSignificantLocationChanges();
    auto source = sources.made().at(0);
    ASSERT_EQ(source->starts().size(), 1u);
    EXPECT_EQ(source->starts()[0].mode, PositionSource::Mode::significantChange);
    EXPECT_EQ(source->starts()[0].updateIntervalMilliseconds, 300000);

    const double metresNorth[] = {0, 300, 499, 520, 900, 1100};  // delivered: 0, 520, 1100
    double t = 0;
    for (double metres : metresNorth) source->deliver(fixAt(60.0 + metres / 111195.0, 25.0, t += 60));
    RunLoop::runUntilIdle();
    ASSERT_EQ(delegate_->fixes.size(), 3u);
    EXPECT_NEAR(delegate_->fixes[1].coordinate().latitude, 60.0 + 520 / 111195.0, 1e-12);

    manager->stopMonitoringSignificantLocationChanges();
    EXPECT_EQ(source->stopCount(), 1);
}

TEST_F(CLLocationManagerTest, FixesQueuedBeforeStopAreNotDeliveredAndTimeOnlyMovesForward) {
    ScriptedPositionSources sources;
    auto manager = makeManager();
    manager->startUpdatingLocation();
    auto source = sources.made().at(0);
    source->deliver(fixAt(60.0, 25.0, 200));
    source->deliver(fixAt(60.1, 25.0, 150));  // older than the one before
    RunLoop::runUntilIdle();
    EXPECT_EQ(delegate_->fixes.size(), 1u);

    source->deliver(fixAt(60.2, 25.0, 300));
    manager->stopUpdatingLocation();
    RunLoop::runUntilIdle();
    EXPECT_EQ(delegate_->fixes.size(), 1u);
    EXPECT_FALSE(source->isRunning());
}

TEST_F(CLLocationManagerTest, AccuracyChoosesTheMethodsOfTheRunningStream) {
    ScriptedPositionSources sources;
    auto manager = makeManager();
    manager->setDesiredAccuracy(kCLLocationAccuracyHundredMeters);
    manager->startUpdatingLocation();
    manager->setDesiredAccuracy(kCLLocationAccuracyBest);
    const auto starts = sources.made().at(0)->starts();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_FALSE(starts[0].preferSatellites);
    EXPECT_TRUE(starts[1].preferSatellites);
}

TEST_F(CLLocationManagerTest, FixesFromAnotherThreadArriveOnTheMainThreadInOrder) {
    ScriptedPositionSources sources;
    auto manager = makeManager();
    manager->startUpdatingLocation();
    auto source = sources.made().at(0);
    std::thread service([&] {
        for (int i = 0; i < 200; ++i) source->deliver(fixAt(60.0 + i * 1e-4, 25.0, 1000 + i));
    });
    service.join();
    RunLoop::runUntilIdle();
    ASSERT_EQ(delegate_->fixes.size(), 200u);
    for (size_t i = 1; i < delegate_->fixes.size(); ++i) {
        EXPECT_GT(delegate_->fixes[i].timestamp().secondsSince2001, delegate_->fixes[i - 1].timestamp().secondsSince2001);
    }
}

}  // namespace
}  // namespace platform
