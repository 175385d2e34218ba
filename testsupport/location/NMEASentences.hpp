#pragma once

#include <string>
#include <string_view>

namespace tervolo::testsupport {

// Sentences of recorded NMEA tracks for tests, with correct checksums.

// "$" + body + "*" + its checksum + "\r\n".
std::string nmeaSentence(std::string_view body);

// The GGA (quality 1, 8 satellites, `hdop`, `altitude` metres) and, when
// `withRMC`, the RMC (status A, 5 knots, course 90, the date) of one fix at
// `unixSeconds` (UTC, hundredths kept), latitude and longitude in degrees.
std::string nmeaFix(double latitude, double longitude, double unixSeconds, bool withRMC = true,
                    double hdop = 0.9, double altitude = 15.0);

}  // namespace tervolo::testsupport
