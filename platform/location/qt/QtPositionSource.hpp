#pragma once

#include <memory>
#include <string>

#include "platform/location/PositionSource.hpp"

class QGeoPositionInfoSource;
class QGeoPositionInfo;

namespace platform {

// A position source over one QGeoPositionInfoSource. Lives on the main
// thread (Qt's signals arrive there). Best accuracy allows satellite
// methods; otherwise only network-based ones. Attributes the service does
// not give (accuracy, speed, course) become -1; a reported altitude is kept.
// An access error means the user refused the position service: it is
// reported as the status denied and as the error CLError::denied.
class QtPositionSource : public PositionSource {
  public:
    // A source from the named Qt plugin ("geoclue2", …; empty: the system's
    // default); null when Qt has no such source.
    static std::shared_ptr<QtPositionSource> make(const std::string& plugin = "");
    ~QtPositionSource() override;

    void setListener(Listener listener) override;
    void start(const Settings& settings) override;
    void stop() override;

    // Installs the factory the application's location managers use: the
    // recorded track of $TERVOLO_NMEA_FILE when set (NMEAReplaySource, at the
    // track's own pace), else the system's default source.
    static void installAsDefault();

    // The fix of one Qt position update (exposed for tests).
    static CLLocation locationFrom(const QGeoPositionInfo& info);

  private:
    explicit QtPositionSource(QGeoPositionInfoSource* source);
    QGeoPositionInfoSource* source_;  // owned
    Listener listener_;
    bool running_ = false;
};

}  // namespace platform
