#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Result.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/location/PositionSource.hpp"

namespace platform {

// A position source that replays a recorded NMEA track (NMEATrack) at the
// pace of its own timestamps, for a machine without a GPS: the first fix
// right after start, each next one as many seconds later as the track says
// (a step back in time waits nothing). Fixes keep the track's timestamps, so
// the location services accept only a track whose times are current. A stop
// pauses the replay and the next start goes on from there; the replay ends
// with the track's last fix. With an update interval (the significant-change
// stream) fixes closer in track time than the interval to the last one
// delivered are passed over.
//
// Main thread only: started and stopped there, fixes delivered there through
// the main queue (virtual time in tests).
class NMEAReplaySource : public PositionSource, public std::enable_shared_from_this<NMEAReplaySource> {
  public:
    // A source for a track file; the error when the file cannot be read.
    static Result<std::shared_ptr<NMEAReplaySource>> make(const std::string& path);
    static std::shared_ptr<NMEAReplaySource> make(std::vector<CLLocation> fixes);

    void setListener(Listener listener) override { listener_ = std::move(listener); }
    void start(const Settings& settings) override;
    void stop() override;

    size_t fixCount() const { return fixes_.size(); }

  private:
    explicit NMEAReplaySource(std::vector<CLLocation> fixes) : fixes_(std::move(fixes)) {}
    void scheduleNext(double delaySeconds);
    void deliverNext(uint64_t generation);

    const std::vector<CLLocation> fixes_;
    Listener listener_;
    Settings settings_;
    bool running_ = false;
    uint64_t generation_ = 0;  // blocks scheduled before a stop find it changed
    size_t next_ = 0;
    const CLLocation* lastDelivered_ = nullptr;
};

}  // namespace platform
