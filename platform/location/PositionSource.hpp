#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/foundation/Error.hpp"
#include "platform/location/CLAuthorizationStatus.hpp"
#include "platform/location/CLLocation.hpp"

namespace platform {

// Where a location manager's fixes come from: the desktop's position service
// through Qt Positioning in the application, a scripted source in tests.
// A source may call its listener from any thread; the manager moves every
// call to the main queue.
class PositionSource {
  public:
    enum class Mode {
        continuous,         // every fix the service has, at the accuracy asked for
        significantChange,  // a low-rate stream for coarse, battery-friendly tracking
    };
    struct Settings {
        Mode mode = Mode::continuous;
        bool preferSatellites = true;  // best accuracy: satellite methods allowed
        int updateIntervalMilliseconds = 0;  // 0: as often as the service delivers
    };
    struct Listener {
        std::function<void(const CLLocation& fix)> fix;
        std::function<void(const Error& error)> error;
        // The service answered whether it may be used (access refused: denied).
        std::function<void(CLAuthorizationStatus status)> authorization;
    };

    virtual ~PositionSource() = default;
    virtual void setListener(Listener listener) = 0;
    virtual void start(const Settings& settings) = 0;
    virtual void stop() = 0;
};

// Makes the sources of the process's location managers. The application
// installs the Qt Positioning one at launch; tests install scripted ones.
// With none installed no position service exists: managers report the
// status restricted and never deliver a fix.
using PositionSourceFactory = std::function<std::shared_ptr<PositionSource>()>;
void setPositionSourceFactory(PositionSourceFactory factory);
std::shared_ptr<PositionSource> makePositionSource();
bool hasPositionSourceFactory();

}  // namespace platform
