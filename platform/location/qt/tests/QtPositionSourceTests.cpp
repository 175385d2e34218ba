#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGeoPositionInfo>

#include "platform/location/qt/QtPositionSource.hpp"

namespace platform {
namespace {

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "tervolo_platform_location_qt_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);
    return *app;
}

TEST(QtPositionSourceTest, RecordedTrackReplaysInOrderAndSkipsMalformedSentences) {
    application();
    auto source = QtPositionSource::make("", std::string(LOCATION_TEST_DATA_DIR) + "/helsinki.nmea");
    ASSERT_TRUE(source) << "the Qt nmea position plugin is missing";
    std::vector<CLLocation> fixes;
    std::vector<Error> errors;
    PositionSource::Listener listener;
    listener.fix = [&](const CLLocation& fix) { fixes.push_back(fix); };
    listener.error = [&](const Error& error) { errors.push_back(error); };
    source->setListener(listener);
    source->start({});

    QElapsedTimer elapsed;
    elapsed.start();
    while (fixes.size() < 3 && elapsed.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    source->stop();

    ASSERT_GE(fixes.size(), 3u);
    const double expectedLatitudes[] = {60.17, 60.171, 60.172};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(fixes[i].coordinate().latitude, expectedLatitudes[i], 1e-6);
        EXPECT_GT(fixes[i].coordinate().longitude, 24.9);
        if (i > 0) {
            EXPECT_GT(fixes[i].timestamp().secondsSince2001, fixes[i - 1].timestamp().secondsSince2001);
        }
    }
    EXPECT_NEAR(fixes[1].speed(), 5.0 * 1852.0 / 3600.0, 1e-3);  // knots to metres per second
    EXPECT_NEAR(fixes[1].course(), 90.0, 1e-9);
    EXPECT_TRUE(errors.empty());
}

TEST(QtPositionSourceTest, MissingAttributesBecomeMinusOne) {
    QGeoPositionInfo bare(QGeoCoordinate(60.17, 24.94), QDateTime::fromSecsSinceEpoch(978307200 + 100, Qt::UTC));
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
