#include <gtest/gtest.h>

#include <sys/time.h>

#include <cmath>
#include <fstream>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/location/CLLocationManager.hpp"
#include "platform/location/NMEAReplaySource.hpp"
#include "platform/location/NMEATrack.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/location/NMEASentences.hpp"

namespace platform {
namespace {

using tervolo::testsupport::nmeaSentence;

constexpr double kKnot = 1852.0 / 3600.0;
// 2026-12-09 00:00:00 UTC and 2026-12-10 00:00:00 UTC, in Unix seconds.
constexpr double kDecember9 = 1796774400.0;
constexpr double kDecember10 = kDecember9 + 86400.0;

struct Expected {
    double latitude;
    double longitude;
    double unixTime;
    double horizontalAccuracy;
    double altitude = 0;
    double verticalAccuracy = -1;
    double speed = -1;
    double course = -1;
};

std::string track(std::initializer_list<std::string_view> bodies) {
    std::string text;
    for (auto body : bodies) text += nmeaSentence(body);
    return text;
}

void expectFixes(const std::vector<CLLocation>& fixes, const std::vector<Expected>& expected) {
    ASSERT_EQ(fixes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const CLLocation& fix = fixes[i];
        const Expected& e = expected[i];
        EXPECT_NEAR(fix.coordinate().latitude, e.latitude, 1e-9);
        EXPECT_NEAR(fix.coordinate().longitude, e.longitude, 1e-9);
        EXPECT_NEAR(fix.timestamp().unixTime(), e.unixTime, 1e-6);
        EXPECT_NEAR(fix.horizontalAccuracy(), e.horizontalAccuracy, 1e-9);
        EXPECT_NEAR(fix.altitude(), e.altitude, 1e-9);
        EXPECT_NEAR(fix.verticalAccuracy(), e.verticalAccuracy, 1e-9);
        EXPECT_NEAR(fix.speed(), e.speed, 1e-9);
        EXPECT_NEAR(fix.course(), e.course, 1e-9);
    }
}

TEST(NMEATrackTest, TracksGiveTheirFixes) {
    const double noon9 = kDecember9 + 12 * 3600;
    const double noon10 = kDecember10 + 12 * 3600;
    struct Case {
        const char* name;
        std::string text;
        double lastDay;  // the file's day (Unix seconds)
        std::vector<Expected> fixes;
    };
    const Case cases[] = {
        {"clean, GGA before RMC",
         track({"GPGGA,120000.00,6010.200,N,02456.400,E,1,08,0.9,15.0,M,19.0,M,,",
                "GPRMC,120000.00,A,6010.200,N,02456.400,E,0.0,0.0,091226,,,A",
                "GPGGA,120001.00,6010.260,N,02456.460,E,1,08,1.2,16.0,M,19.0,M,,",
                "GPRMC,120001.00,A,6010.260,N,02456.460,E,5.0,90.0,091226,,,A"}),
         kDecember10 + 3600,
         {{60.17, 24.94, noon9, 4.5, 15.0, 6.75, 0.0, 0.0},
          {60.171, 24.941, noon9 + 1, 6.0, 16.0, 9.0, 5 * kKnot, 90.0}}},
        {"RMC before GGA, other talkers, south and west",
         track({"GNRMC,083000.00,A,3352.200,S,15112.600,W,1.0,270.0,091226,,,D",
                "GNGGA,083000.00,3352.200,S,15112.600,W,2,12,0.6,3.0,M,,,,"}),
         kDecember10,
         {{-(33 + 52.2 / 60), -(151 + 12.6 / 60), kDecember9 + 8.5 * 3600, 3.0, 3.0, 4.5, kKnot, 270.0}}},
        {"GGA only: dated by the file's day",
         track({"GPGGA,120000.00,6010.200,N,02456.400,E,1,08,0.9,15.0,M,19.0,M,,",
                "GPGGA,120001.00,6010.260,N,02456.460,E,1,08,0.9,,M,19.0,M,,"}),
         kDecember10 + 20 * 3600,
         {{60.17, 24.94, noon10, 4.5, 15.0, 6.75}, {60.171, 24.941, noon10 + 1, 4.5}}},
        {"RMC only: an assumed HDOP, no altitude",
         track({"GPRMC,120000.00,A,6010.200,N,02456.400,E,,,091226,,,A"}),
         kDecember10,
         {{60.17, 24.94, noon9, NMEATrack::kAssumedHDOP * NMEATrack::kUserEquivalentRangeError}}},
        {"epochs without a fix give nothing and cost no neighbour",
         track({"GPGGA,115959.00,,,,,0,00,99.9,,M,,M,,", "GPRMC,115959.00,V,,,,,,,091226,,,N",
                "GPGGA,120000.00,6010.200,N,02456.400,E,1,08,0.9,15.0,M,19.0,M,,",
                "GPRMC,120000.00,A,6010.200,N,02456.400,E,0.0,0.0,091226,,,A",
                "GPGGA,120001.00,6010.260,N,02456.460,E,0,00,,,M,,M,,",
                "GPRMC,120001.00,V,6010.260,N,02456.460,E,,,091226,,,N",
                "GPGGA,120002.00,,N,,E,1,08,0.9,15.0,M,19.0,M,,",
                "GPRMC,120003.00,A,6010.320,N,02456.520,E,5.0,90.0,091226,,,N",
                "GPGGA,120004.00,6010.380,N,02456.580,E,1,08,0.9,15.0,M,19.0,M,,",
                "GPRMC,120004.00,A,6010.380,N,02456.580,E,5.0,90.0,091226,,,A"}),
         kDecember10,
         {{60.17, 24.94, noon9, 4.5, 15.0, 6.75, 0.0, 0.0},
          {60.173, 24.943, noon9 + 4, 4.5, 15.0, 6.75, 5 * kKnot, 90.0}}},
        {"garbage after the last fix",
         track({"GPGGA,120000.00,6010.200,N,02456.400,E,1,08,0.9,15.0,M,19.0,M,,",
                "GPRMC,120000.00,A,6010.200,N,02456.400,E,0.0,0.0,091226,,,A"}) +
             "\x01\x02\xff\xfe binary noise \x7f\r\n$GPGGA,garbage*00\r\nnot a sentence",
         kDecember10,
         {{60.17, 24.94, noon9, 4.5, 15.0, 6.75, 0.0, 0.0}}},
        {"broken sentences between fixes",
         track({"GPGGA,120000.00,6010.200,N,02456.400,E,1,08,0.9,15.0,M,19.0,M,,"}) +
             "$GPRMC,120000.10,A,9999.999,N,garbage*00\r\nnot a sentence at all\r\n" +
             "$GPGGA,120000.20,6010.260,N,02456.460,E,1,08,0.9,15.0,M,19.0,M,,*00\r\n" +  // wrong checksum
             track({"GPGGA,120000.40,6010.320,N,02456.520,E,1,08,0.9,15.0,M,19.0,M,,",
                    "GPGGA,120000.50,6099.000,N,02456.520,E,1,08,0.9,15.0,M,19.0,M,,"}),
         kDecember9,
         {{60.17, 24.94, noon9, 4.5, 15.0, 6.75}, {60.172, 24.942, noon9 + 0.4, 4.5, 15.0, 6.75}}},
        {"midnight with RMC: the new day keeps its GGA data",
         track({"GPGGA,235959.00,6010.200,N,02456.400,E,1,08,0.9,15.0,M,19.0,M,,",
                "GPRMC,235959.00,A,6010.200,N,02456.400,E,0.0,0.0,091226,,,A",
                "GPGGA,000000.00,6010.260,N,02456.460,E,1,08,0.9,12.0,M,19.0,M,,",
                "GPRMC,000000.00,A,6010.260,N,02456.460,E,5.0,90.0,101226,,,A",
                "GPGGA,000001.00,6010.320,N,02456.520,E,1,08,0.9,11.0,M,19.0,M,,"}),
         kDecember10,
         {{60.17, 24.94, kDecember10 - 1, 4.5, 15.0, 6.75, 0.0, 0.0},
          {60.171, 24.941, kDecember10, 4.5, 12.0, 6.75, 5 * kKnot, 90.0},
          {60.172, 24.942, kDecember10 + 1, 4.5, 11.0, 6.75}}},
        {"midnight with GGA alone: the file's day is the last fix's",
         track({"GPGGA,235959.00,6010.200,N,02456.400,E,1,08,0.9,15.0,M,19.0,M,,",
                "GPGGA,000000.00,6010.260,N,02456.460,E,1,08,0.9,12.0,M,19.0,M,,"}),
         kDecember10 + 3600,
         {{60.17, 24.94, kDecember10 - 1, 4.5, 15.0, 6.75}, {60.171, 24.941, kDecember10, 4.5, 12.0, 6.75}}},
        {"GGA before the first RMC counts back from its date",
         track({"GPGGA,235959.00,6010.200,N,02456.400,E,1,08,0.9,15.0,M,19.0,M,,",
                "GPGGA,000000.00,6010.260,N,02456.460,E,1,08,0.9,12.0,M,19.0,M,,",
                "GPRMC,000000.00,A,6010.260,N,02456.460,E,5.0,90.0,101226,,,A"}),
         kDecember9 + 400 * 86400,
         {{60.17, 24.94, kDecember10 - 1, 4.5, 15.0, 6.75},
          {60.171, 24.941, kDecember10, 4.5, 12.0, 6.75, 5 * kKnot, 90.0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectFixes(NMEATrack::fixes(c.text, Date::fromUnix(c.lastDay)), c.fixes);
    }
}

TEST(NMEATrackTest, TenHertzTrackKeepsEveryTenthOfASecond) {
    std::string text;
    for (int i = 0; i < 25; ++i) {
        text += tervolo::testsupport::nmeaFix(60.17 + i * 1e-5, 24.94, kDecember9 + 12 * 3600 + i * 0.1);
    }
    const auto fixes = NMEATrack::fixes(text, Date::fromUnix(kDecember10));
    ASSERT_EQ(fixes.size(), 25u);
    for (size_t i = 0; i < fixes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(fixes[i].timestamp().unixTime(), kDecember9 + 12 * 3600 + double(i) * 0.1, 1e-6);
        EXPECT_NEAR(fixes[i].coordinate().latitude, 60.17 + double(i) * 1e-5, 1e-6);
        EXPECT_NEAR(fixes[i].horizontalAccuracy(), 4.5, 1e-9);
    }
}

TEST(NMEATrackTest, AFileIsReadWithItsModificationDay) {
    tervolo::testsupport::TemporaryFolder folder;
    const std::string path = folder.file("gga-only.nmea");
    std::ofstream(path) << track({"GPGGA,120000.00,6010.200,N,02456.400,E,1,08,0.9,15.0,M,19.0,M,,"});
    const timeval times[2] = {{static_cast<time_t>(kDecember10 + 18 * 3600), 0},
                              {static_cast<time_t>(kDecember10 + 18 * 3600), 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
    auto fixes = NMEATrack::read(path);
    ASSERT_TRUE(fixes.ok());
    ASSERT_EQ(fixes->size(), 1u);
    EXPECT_DOUBLE_EQ(fixes->at(0).timestamp().unixTime(), kDecember10 + 12 * 3600);

    EXPECT_FALSE(NMEATrack::read(folder.file("missing.nmea")).ok());
    EXPECT_FALSE(NMEATrack::read(folder.path()).ok()) << "a folder is no track";
}

TEST(NMEATrackTest, ARecordedTrackSkipsMalformedSentences) {
    auto fixes = NMEATrack::read(std::string(LOCATION_TEST_DATA_DIR) + "/helsinki.nmea");
    ASSERT_TRUE(fixes.ok());
    ASSERT_EQ(fixes->size(), 3u);
    const double expectedLatitudes[] = {60.17, 60.171, 60.172};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(fixes->at(i).coordinate().latitude, expectedLatitudes[i], 1e-9);
        EXPECT_GT(fixes->at(i).coordinate().longitude, 24.9);
        EXPECT_NEAR(fixes->at(i).timestamp().unixTime(), kDecember9 + 12 * 3600 + double(i) * 0.2, 1e-6);
    }
    EXPECT_NEAR(fixes->at(1).speed(), 5.0 * kKnot, 1e-9);  // knots to metres per second
    EXPECT_NEAR(fixes->at(1).course(), 90.0, 1e-9);
}

TEST(NMEAReplaySourceTest, ReplaysAtTheTracksPaceAndAStopPauses) {
    tervolo::testsupport::VirtualClockScope time;
    std::string text;
    for (int i = 0; i < 5; ++i)
        text += tervolo::testsupport::nmeaFix(60.17, 24.94 + i * 1e-3, kDecember9 + i * 0.5);
    auto source = NMEAReplaySource::make(NMEATrack::fixes(text, Date::fromUnix(kDecember9)));
    std::vector<double> delivered;  // longitudes
    PositionSource::Listener listener;
    listener.fix = [&](const CLLocation& fix) { delivered.push_back(fix.coordinate().longitude); };
    source->setListener(listener);

    source->start({});
    EXPECT_TRUE(delivered.empty()) << "never inside start()";
    RunLoop::runUntilIdle();
    ASSERT_EQ(delivered.size(), 1u);
    time.advance(0.49);
    EXPECT_EQ(delivered.size(), 1u);
    time.advance(0.01);
    EXPECT_EQ(delivered.size(), 2u);
    source->stop();
    time.advance(5);
    EXPECT_EQ(delivered.size(), 2u);
    source->start({});
    RunLoop::runUntilIdle();
    EXPECT_EQ(delivered.size(), 3u) << "a start goes on where the stop left it";
    time.advance(5);
    ASSERT_EQ(delivered.size(), 5u);
    for (size_t i = 0; i < delivered.size(); ++i) EXPECT_NEAR(delivered[i], 24.94 + double(i) * 1e-3, 1e-6);

    // The significant-change stream asks for a fix every few minutes: the others are passed over.
    auto sparse = NMEAReplaySource::make(NMEATrack::fixes(text, Date::fromUnix(kDecember9)));
    delivered.clear();
    sparse->setListener(listener);
    PositionSource::Settings settings;
    settings.updateIntervalMilliseconds = 1000;
    sparse->start(settings);
    RunLoop::runUntilIdle();
    time.advance(5);
    EXPECT_EQ(delivered.size(), 3u);  // at 0, 1 and 2 s of track time
}

TEST(NMEAReplaySourceTest, ManagersGetTheTracksFixesWithTheirAccuracy) {
    tervolo::testsupport::VirtualClockScope time;
    tervolo::testsupport::TemporaryFolder folder;
    const std::string path = folder.file("track.nmea");
    std::ofstream(path) << tervolo::testsupport::nmeaFix(60.17, 24.94, kDecember9, true, 1.2, 20.0)
                        << tervolo::testsupport::nmeaFix(60.171, 24.94, kDecember9 + 1, true, 1.2, 21.0);
    setPositionSourceFactory([path]() -> std::shared_ptr<PositionSource> {
        auto source = NMEAReplaySource::make(path);
        return source.ok() ? source.value() : nullptr;
    });
    struct Recorder : CLLocationManagerDelegate {
        std::vector<CLLocation> fixes;
        void locationManagerDidUpdateLocations(CLLocationManager&,
                                               const std::vector<CLLocation>& locations) override {
            fixes.insert(fixes.end(), locations.begin(), locations.end());
        }
    };
    auto recorder = std::make_shared<Recorder>();
    auto manager = CLLocationManager::make();
    manager->setDelegate(recorder);
    manager->startUpdatingLocation();
    RunLoop::runUntilIdle();
    time.advance(1.0);
    RunLoop::runUntilIdle();
    ASSERT_EQ(recorder->fixes.size(), 2u);
    EXPECT_NEAR(recorder->fixes[1].horizontalAccuracy(), 6.0, 1e-9);
    EXPECT_NEAR(recorder->fixes[1].altitude(), 21.0, 1e-9);
    EXPECT_NEAR(recorder->fixes[1].verticalAccuracy(), 9.0, 1e-9);
    manager->stopUpdatingLocation();
    setPositionSourceFactory(nullptr);
    CLLocationManager::resetAuthorizationForTesting();
}

}  // namespace
}  // namespace platform
