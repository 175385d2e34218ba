#include "platform/location/qt/QtPositionSource.hpp"

#include <QGeoPositionInfoSource>

#include <cmath>
#include <cstdlib>

#include "platform/foundation/OSLog.hpp"
#include "platform/location/CLError.hpp"
#include "platform/location/NMEAReplaySource.hpp"

namespace platform {

std::shared_ptr<QtPositionSource> QtPositionSource::make(const std::string& plugin) {
    QGeoPositionInfoSource* source =
        plugin.empty() ? QGeoPositionInfoSource::createDefaultSource(nullptr)
                       : QGeoPositionInfoSource::createSource(QString::fromStdString(plugin), nullptr);
    if (source == nullptr) return nullptr;
    return std::shared_ptr<QtPositionSource>(new QtPositionSource(source));
}

QtPositionSource::QtPositionSource(QGeoPositionInfoSource* source) : source_(source) {
    QObject::connect(source_, &QGeoPositionInfoSource::positionUpdated, source_,
                     [this](const QGeoPositionInfo& info) {
                         if (!info.isValid() || !listener_.fix) return;
                         listener_.fix(locationFrom(info));
                     });
    QObject::connect(source_, &QGeoPositionInfoSource::errorOccurred, source_,
                     [this](QGeoPositionInfoSource::Error error) {
                         if (error == QGeoPositionInfoSource::NoError) return;
                         if (error == QGeoPositionInfoSource::AccessError) {
                             if (listener_.authorization)
                                 listener_.authorization(CLAuthorizationStatus::denied);
                             if (listener_.error) {
                                 listener_.error(CLError::make(CLError::denied,
                                                               "Access to the position service was refused"));
                             }
                             return;
                         }
                         if (listener_.error) {
                             listener_.error(CLError::make(CLError::locationUnknown,
                                                           error == QGeoPositionInfoSource::ClosedError
                                                               ? "The position service closed"
                                                               : "The position service failed"));
                         }
                     });
}

QtPositionSource::~QtPositionSource() {
    source_->stopUpdates();
    delete source_;
}

void QtPositionSource::setListener(Listener listener) {
    listener_ = std::move(listener);
}

void QtPositionSource::start(const Settings& settings) {
    source_->setPreferredPositioningMethods(settings.preferSatellites
                                                ? QGeoPositionInfoSource::AllPositioningMethods
                                                : QGeoPositionInfoSource::NonSatellitePositioningMethods);
    source_->setUpdateInterval(settings.updateIntervalMilliseconds);
    if (!running_) {
        running_ = true;
        source_->startUpdates();
    }
}

void QtPositionSource::stop() {
    if (!running_) return;
    running_ = false;
    source_->stopUpdates();
}

CLLocation QtPositionSource::locationFrom(const QGeoPositionInfo& info) {
    auto attribute = [&](QGeoPositionInfo::Attribute which) {
        if (!info.hasAttribute(which)) return -1.0;
        const double value = info.attribute(which);
        return std::isfinite(value) ? value : -1.0;
    };
    const QGeoCoordinate coordinate = info.coordinate();
    const bool hasAltitude =
        coordinate.type() == QGeoCoordinate::Coordinate3D && std::isfinite(coordinate.altitude());
    double verticalAccuracy = attribute(QGeoPositionInfo::VerticalAccuracy);
    if (!hasAltitude) verticalAccuracy = -1;
    const double unixSeconds = static_cast<double>(info.timestamp().toMSecsSinceEpoch()) / 1000.0;
    return CLLocation(CLLocationCoordinate2D{coordinate.latitude(), coordinate.longitude()},
                      hasAltitude ? coordinate.altitude() : 0.0,
                      attribute(QGeoPositionInfo::HorizontalAccuracy), verticalAccuracy,
                      attribute(QGeoPositionInfo::Direction), attribute(QGeoPositionInfo::GroundSpeed),
                      Date{unixSeconds - Date::kUnixOffset});
}

void QtPositionSource::installAsDefault() {
    setPositionSourceFactory([]() -> std::shared_ptr<PositionSource> {
        const char* track = std::getenv("TERVOLO_NMEA_FILE");
        if (track != nullptr && *track != '\0') {
            // Our own reader, not Qt's NMEA plugin: it dates tracks of GGA
            // sentences alone, rolls over at midnight, gives fixes their
            // accuracy from HDOP and loses no fix next to a broken sentence.
            auto source = NMEAReplaySource::make(track);
            if (!source.ok()) {
                OSLog::defaultLog()->write(OSLogType::Error,
                                           std::string("TERVOLO_NMEA_FILE: cannot replay ") + track + ": " +
                                               source.error().description);
                return nullptr;
            }
            return std::move(source).value();
        }
        return make();
    });
}

}  // namespace platform
