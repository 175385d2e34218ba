#include <gtest/gtest.h>

#include <sys/time.h>

#include <QCoreApplication>
#include <QGeoPositionInfo>

#include <cstdlib>
#include <fstream>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/location/CLLocationManager.hpp"
#include "platform/location/qt/QtPositionSource.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/location/NMEASentences.hpp"

namespace platform {
namespace {

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "tervolo_platform_location_qt_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);
    return *app;
}

class Recorder : public CLLocationManagerDelegate {
  public:
    std::vector<CLLocation> fixes;
    void locationManagerDidUpdateLocations(CLLocationManager&,
                                           const std::vector<CLLocation>& locations) override {
        fixes.insert(fixes.end(), locations.begin(), locations.end());
    }
};

// The track TERVOLO_NMEA_FILE names reaches the application's managers
// through the installed source: GGA-only tracks too, every fix with an
// accuracy from its HDOP.
TEST(QtPositionSourceTest, TheTrackOfTheEnvironmentReachesTheManagers) {
    application();
    tervolo::testsupport::VirtualClockScope time;
    tervolo::testsupport::TemporaryFolder folder;
    const double start = time.clock().wallSeconds();
    struct Case {
        const char* name;
        bool withRMC;
    };
    for (const Case c : {Case{"GGA and RMC", true}, Case{"GGA alone", false}}) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.file(std::string(c.withRMC ? "full" : "gga") + ".nmea");
        {
            std::ofstream file(path);
            for (int i = 0; i < 4; ++i) {
                file << tervolo::testsupport::nmeaFix(60.17 + i * 1e-3, 24.94, start + i, c.withRMC, 1.1 + i,
                                                      10.0 + i);
            }
        }
        // Recorded just now: a track of GGA alone is dated by its file.
        const timeval modified[2] = {{static_cast<time_t>(start + 4), 0},
                                     {static_cast<time_t>(start + 4), 0}};
        ASSERT_EQ(::utimes(path.c_str(), modified), 0);
        ::setenv("TERVOLO_NMEA_FILE", path.c_str(), 1);
        QtPositionSource::installAsDefault();
        auto recorder = std::make_shared<Recorder>();
        auto manager = CLLocationManager::make();
        manager->setDelegate(recorder);
        manager->startUpdatingLocation();
        RunLoop::runUntilIdle();
        for (int step = 0; step < 4; ++step) {
            time.advance(1.0);
            RunLoop::runUntilIdle();
        }
        manager->stopUpdatingLocation();
        ::unsetenv("TERVOLO_NMEA_FILE");

        ASSERT_EQ(recorder->fixes.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            const CLLocation& fix = recorder->fixes[i];
            EXPECT_NEAR(fix.coordinate().latitude, 60.17 + double(i) * 1e-3, 1e-6);
            EXPECT_NEAR(fix.horizontalAccuracy(), (1.1 + double(i)) * 5.0, 1e-9);
            EXPECT_NEAR(fix.altitude(), 10.0 + double(i), 1e-9);
            EXPECT_GT(fix.verticalAccuracy(), 0);
            EXPECT_NEAR(fix.timestamp().unixTime(), start + double(i), 1e-6);
        }
    }
    setPositionSourceFactory(nullptr);
    CLLocationManager::resetAuthorizationForTesting();
}

TEST(QtPositionSourceTest, MissingAttributesBecomeMinusOne) {
    QGeoPositionInfo bare(QGeoCoordinate(60.17, 24.94),
                          QDateTime::fromSecsSinceEpoch(978307200 + 100, Qt::UTC));
    const CLLocation fix = QtPositionSource::locationFrom(bare);
    EXPECT_EQ(fix.horizontalAccuracy(), -1);
    EXPECT_EQ(fix.verticalAccuracy(), -1);
    EXPECT_EQ(fix.speed(), -1);
    EXPECT_EQ(fix.course(), -1);
    EXPECT_DOUBLE_EQ(fix.timestamp().secondsSince2001, 100);

    QGeoPositionInfo full(QGeoCoordinate(60.17, 24.94, 15.0), QDateTime::currentDateTimeUtc());
    full.setAttribute(QGeoPositionInfo::HorizontalAccuracy, 8);
    full.setAttribute(QGeoPositionInfo::VerticalAccuracy, 4);
    const CLLocation withAltitude = QtPositionSource::locationFrom(full);
    EXPECT_EQ(withAltitude.horizontalAccuracy(), 8);
    EXPECT_EQ(withAltitude.verticalAccuracy(), 4);
    EXPECT_EQ(withAltitude.altitude(), 15.0);
}

}  // namespace
}  // namespace platform
