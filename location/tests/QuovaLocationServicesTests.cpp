#include <gtest/gtest.h>

#include <sys/time.h>

#include <cmath>
#include <fstream>
#include <thread>

#include "location/QuovaLocationServices.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/location/NMEAReplaySource.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/location/NMEASentences.hpp"
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
        return CLLocation({latitude, longitude}, 0, accuracy, -1, -1, -1,
                          Date::now().addingTimeInterval(-age));
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
        {"latitude off the globe", fix(91, 25), false,
         "received a location outside the valid coordinate range, dropping"},
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
        const bool skippedLine =
            std::find(infos.begin(), infos.end(),
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
    EXPECT_EQ(services->permanentLocationManager()->manager->desiredAccuracy(),
              platform::kCLLocationAccuracyHundredMeters);
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
                auto subscription =
                    services_->subscribe([&](const CLLocation&, const std::optional<std::string>&) {
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

// Recorded tracks replayed as the application replays TERVOLO_NMEA_FILE,
// through the location managers into the service's filter: every valid fix of
// a track whose times are current is accepted, in order, and none is dropped.
TEST(QuovaLocationServicesReplayTest, LiveDatedTracksReachTheObserversWholeAndInOrder) {
    using tervolo::testsupport::nmeaFix;
    using tervolo::testsupport::nmeaSentence;
    constexpr double kMidnight = 1700006400.0;  // 2023-11-15 00:00:00 UTC
    constexpr double kEvening = kMidnight - 3600.0;
    struct Fix {
        double latitude;
        double offset;  // seconds after the track's start
    };
    struct Case {
        const char* name;
        double start;  // wall time of the first fix (and of the virtual clock)
        std::string text;
        std::vector<Fix> fixes;
        bool recent = true;  // the track was recorded just now, not yesterday
    };
    auto fixes = [](double start, std::initializer_list<std::pair<double, double>> list,
                    bool withRMC = true) {
        std::string text;
        for (auto [latitude, offset] : list) text += nmeaFix(latitude, 24.94, start + offset, withRMC);
        return text;
    };
    std::string tenHertz;
    std::vector<Fix> tenHertzFixes;
    for (int i = 0; i < 30; ++i) {
        tenHertz += nmeaFix(60.17 + i * 1e-4, 24.94, kEvening + i * 0.1);
        tenHertzFixes.push_back({60.17 + i * 1e-4, i * 0.1});
    }
    const Case cases[] = {
        {"clean",
         kEvening,
         fixes(kEvening, {{60.17, 0}, {60.171, 1}, {60.172, 2}}),
         {{60.17, 0}, {60.171, 1}, {60.172, 2}}},
        {"GGA alone",
         kEvening,
         fixes(kEvening, {{60.17, 0}, {60.171, 1}, {60.172, 2}}, false),
         {{60.17, 0}, {60.171, 1}, {60.172, 2}}},
        {"epochs without a fix",
         kEvening,
         fixes(kEvening, {{60.17, 0}}) + nmeaSentence("GPGGA,230001.00,,,,,0,00,99.9,,M,,M,,") +
             nmeaSentence("GPRMC,230001.00,V,,,,,,,141123,,,N") + fixes(kEvening, {{60.172, 2}}) +
             nmeaSentence("GPGGA,230003.00,6010.380,N,02456.400,E,0,00,,,M,,M,,") +
             fixes(kEvening, {{60.174, 4}}),
         {{60.17, 0}, {60.172, 2}, {60.174, 4}}},
        {"garbage after the last fix",
         kEvening,
         fixes(kEvening, {{60.17, 0}, {60.171, 1}}) + "\x13\x37\xff not NMEA at all \x01",
         {{60.17, 0}, {60.171, 1}}},
        {"across midnight",
         kMidnight - 2,
         fixes(kMidnight - 2, {{60.17, 0}, {60.171, 1}, {60.172, 2}, {60.173, 3}}),
         {{60.17, 0}, {60.171, 1}, {60.172, 2}, {60.173, 3}}},
        {"across midnight, GGA alone",
         kMidnight - 2,
         fixes(kMidnight - 2, {{60.17, 0}, {60.171, 1}, {60.172, 2}, {60.173, 3}}, false),
         {{60.17, 0}, {60.171, 1}, {60.172, 2}, {60.173, 3}}},
        {"10 Hz", kEvening, tenHertz, tenHertzFixes},
        {"recorded yesterday: dropped as aged",
         kEvening + 86400,
         fixes(kEvening, {{60.17, 0}, {60.171, 1}}),
         {},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tervolo::testsupport::TestEnvironment environment(
            tervolo::testsupport::TestEnvironment::Options{c.start, 1000.0});
        const std::string path = environment.folder().file("track.nmea");
        std::ofstream(path, std::ios::binary) << c.text;
        // A track of GGA alone is dated by its file: written when its last fix came.
        const double lastFix = c.fixes.empty() ? c.start : c.start + c.fixes.back().offset;
        const timeval modified[2] = {{static_cast<time_t>(lastFix), 0}, {static_cast<time_t>(lastFix), 0}};
        ASSERT_EQ(::utimes(path.c_str(), modified), 0);
        platform::CLLocationManager::resetAuthorizationForTesting();
        platform::setPositionSourceFactory([path]() -> std::shared_ptr<platform::PositionSource> {
            auto source = platform::NMEAReplaySource::make(path);
            return source.ok() ? source.value() : nullptr;
        });
        std::vector<CLLocation> notified;
        auto observation = platform::NotificationCenter::defaultCenter().addObserver(
            "QuovaLocationUpdate", nullptr, [&](const platform::NotificationCenter::Notification& note) {
                const auto fix = std::any_cast<CLLocation>(note.userInfo.at("CLLocation"));
                // The significant-change stream replays the track too: each fix counts once.
                if (notified.empty() || fix.timestamp() > notified.back().timestamp())
                    notified.push_back(fix);
            });
        ::testing::internal::CaptureStdout();
        auto services = QuovaLocationServices::make();
        services->initLocationServices();
        platform::RunLoop::runUntilIdle();
        for (int step = 0; step < 40; ++step) {
            environment.advance(0.1);
            platform::RunLoop::runUntilIdle();
        }
        services->locationStop();
        const std::string printed = ::testing::internal::GetCapturedStdout();
        platform::setPositionSourceFactory(nullptr);

        ASSERT_EQ(notified.size(), c.fixes.size()) << printed;
        for (size_t i = 0; i < c.fixes.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_NEAR(notified[i].coordinate().latitude, c.fixes[i].latitude, 1e-6);
            EXPECT_NEAR(notified[i].timestamp().unixTime(), c.start + c.fixes[i].offset, 1e-6);
            EXPECT_GT(notified[i].horizontalAccuracy(), 0);
        }
        if (c.recent) {
            EXPECT_EQ(printed.find("dropping"), std::string::npos) << printed;
            ASSERT_TRUE(services->bestKnownLocation());
        } else {
            EXPECT_NE(printed.find("received a location aged "), std::string::npos) << printed;
        }
    }
    platform::CLLocationManager::resetAuthorizationForTesting();
}

}  // namespace
}  // namespace tervolo::location
