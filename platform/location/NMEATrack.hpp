#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Date.hpp"
#include "platform/foundation/Result.hpp"
#include "platform/location/CLLocation.hpp"

namespace platform {

// The position fixes of a recorded NMEA 0183 track (a GPS receiver's log),
// read from its GGA and RMC sentences of any talker ($GPGGA, $GNRMC, …).
//
// Sentences that share a time of day form one epoch and give at most one fix:
// the position and altitude of a GGA with a fix (quality 1 to 8), else the
// position of an RMC with a fix (status A, mode other than N); speed and
// course from that RMC. Sentences without a fix (GGA quality 0, RMC status V,
// empty or malformed fields), sentences whose checksum is wrong and lines that
// are no sentence at all give nothing and cost no neighbouring fix.
//
// Dates: an epoch is dated by the RMC of its own epoch, else by the most
// recent one before it, rolling over to the next day when the time of day
// steps back by more than 12 hours (midnight); epochs before the first dated
// RMC count back from it. A track without any RMC is dated by `lastDay`, the
// day (UTC) its last fix is taken to fall on: for a file, its modification day.
//
// Accuracy: horizontal accuracy = HDOP × kUserEquivalentRangeError (metres),
// with the epoch's HDOP, else the track's last one, else kAssumedHDOP (RMC
// carries none). A GGA altitude gets a vertical accuracy of
// kVerticalDilutionFactor × the horizontal one (GGA carries no VDOP); without
// an altitude the vertical accuracy is -1. Speed (metres per second) and
// course (degrees) are -1 when unknown.
//
// Pure functions, any thread.
class NMEATrack {
  public:
    // Ranging error of a consumer GPS receiver, one sigma, in metres.
    static constexpr double kUserEquivalentRangeError = 5.0;
    static constexpr double kAssumedHDOP = 2.0;
    static constexpr double kVerticalDilutionFactor = 1.5;
    // Largest track file read (bytes): a day of 10 Hz GGA and RMC is about 60 MB.
    static constexpr size_t kMaximumTrackBytes = 256u * 1024u * 1024u;

    // The fixes of a track's text, in file order.
    static std::vector<CLLocation> fixes(std::string_view text, Date lastDay);
    // The fixes of a track file (regular files only, at most kMaximumTrackBytes),
    // dated by its modification day when it holds no RMC; an error when it cannot be read.
    static Result<std::vector<CLLocation>> read(const std::string& path);
};

}  // namespace platform
