#include "testsupport/location/NMEASentences.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace tervolo::testsupport {

namespace {

// "ddmm.mmmm,N" / "dddmm.mmmm,E".
std::string angle(double degrees, int degreeDigits, char positive, char negative) {
    const double magnitude = std::abs(degrees);
    int whole = static_cast<int>(magnitude);
    double minutes = std::round((magnitude - whole) * 60.0 * 10000.0) / 10000.0;
    if (minutes >= 60.0) {
        ++whole;
        minutes -= 60.0;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%0*d%07.4f,%c", degreeDigits, whole, minutes,
                  degrees < 0 ? negative : positive);
    return text;
}

}  // namespace

std::string nmeaSentence(std::string_view body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "*%02X\r\n", sum & 0xffu);
    std::string text;
    text.reserve(body.size() + 8);
    text.push_back('$');
    text.append(body);
    text.append(checksum);
    return text;
}

std::string nmeaFix(double latitude, double longitude, double unixSeconds, bool withRMC, double hdop,
                    double altitude) {
    const long long centiseconds = std::llround(unixSeconds * 100.0);
    const auto whole = static_cast<std::time_t>(centiseconds / 100);
    const int hundredths = static_cast<int>(centiseconds % 100);
    std::tm utc{};
    ::gmtime_r(&whole, &utc);
    char time[48];
    std::snprintf(time, sizeof time, "%02d%02d%02d.%02d", utc.tm_hour, utc.tm_min, utc.tm_sec, hundredths);
    char date[48];
    std::snprintf(date, sizeof date, "%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    const std::string position = angle(latitude, 2, 'N', 'S') + "," + angle(longitude, 3, 'E', 'W');
    char gga[160];
    std::snprintf(gga, sizeof gga, "GPGGA,%s,%s,1,08,%.1f,%.1f,M,19.0,M,,", time, position.c_str(), hdop,
                  altitude);
    std::string text = nmeaSentence(gga);
    if (withRMC) {
        char rmc[160];
        std::snprintf(rmc, sizeof rmc, "GPRMC,%s,A,%s,5.0,90.0,%s,,,A", time, position.c_str(), date);
        text += nmeaSentence(rmc);
    }
    return text;
}

}  // namespace tervolo::testsupport
