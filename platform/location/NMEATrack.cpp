#include "platform/location/NMEATrack.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/Result.hpp"

namespace platform {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMillisecondsPerDay = kSecondsPerDay * 1000;
constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::vector<std::string_view> splitFields(std::string_view body) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t comma = body.find(',', start);
        fields.push_back(
            body.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return fields;
}

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

int digitsValue(std::string_view text) {
    int value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value;
}

// A plain decimal number ("12", "-3.5", "0.9"): no exponent, no "inf" or "nan".
std::optional<double> number(std::string_view text) {
    if (text.empty() || text.size() > 32) return std::nullopt;
    size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    bool digits = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digits = true;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    if (text[0] == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// "hhmmss" with optional fractional seconds: milliseconds since midnight.
std::optional<int64_t> timeOfDay(std::string_view text) {
    if (text.size() < 6 || !allDigits(text.substr(0, 6))) return std::nullopt;
    const int hours = digitsValue(text.substr(0, 2));
    const int minutes = digitsValue(text.substr(2, 2));
    const int seconds = digitsValue(text.substr(4, 2));
    if (hours > 23 || minutes > 59 || seconds > 60) return std::nullopt;
    int64_t milliseconds = 0;
    if (text.size() > 6) {
        if (text[6] != '.' || !allDigits(text.substr(7)) || text.size() > 16) return std::nullopt;
        const auto fraction = number(std::string("0") + std::string(text.substr(6)));
        if (!fraction) return std::nullopt;
        milliseconds = std::llround(*fraction * 1000.0);
    }
    return ((int64_t{hours} * 60 + minutes) * 60 + seconds) * 1000 + milliseconds;
}

// "ddmmyy": days since 1970. Two-digit years are 1980 to 2079 (the GPS era).
std::optional<int64_t> dateDays(std::string_view text) {
    if (text.size() != 6 || !allDigits(text)) return std::nullopt;
    const int day = digitsValue(text.substr(0, 2));
    const int month = digitsValue(text.substr(2, 2));
    const int shortYear = digitsValue(text.substr(4, 2));
    static constexpr int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1]) return std::nullopt;
    const int year = shortYear < 80 ? 2000 + shortYear : 1900 + shortYear;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return std::nullopt;
    return daysFromCivil(year, month, day);
}

// "ddmm.mmmm" / "dddmm.mmmm" with its hemisphere letter: signed degrees.
std::optional<double> angle(std::string_view text, std::string_view hemisphere, int degreeDigits,
                            char positive, char negative, double limit) {
    if (hemisphere.size() != 1 || (hemisphere[0] != positive && hemisphere[0] != negative))
        return std::nullopt;
    if (text.size() < size_t(degreeDigits) + 2 || !allDigits(text.substr(0, size_t(degreeDigits)))) {
        return std::nullopt;
    }
    const int degrees = digitsValue(text.substr(0, size_t(degreeDigits)));
    const std::string_view minutesText = text.substr(size_t(degreeDigits));
    if (minutesText[0] == '-' || minutesText[0] == '+') return std::nullopt;
    const auto minutes = number(minutesText);
    if (!minutes || *minutes >= 60.0) return std::nullopt;
    const double value = degrees + *minutes / 60.0;
    if (value > limit) return std::nullopt;
    return hemisphere[0] == negative ? -value : value;
}

// The fields of a sentence whose checksum (when it has one) is right; nothing otherwise.
std::optional<std::vector<std::string_view>> sentenceFields(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.size() < 7 || line[0] != '$') return std::nullopt;
    std::string_view body = line.substr(1);
    if (const size_t star = body.find('*'); star != std::string_view::npos) {
        const std::string_view given = body.substr(star + 1);
        body = body.substr(0, star);
        unsigned expected = 0;
        const auto [end, error] = std::from_chars(given.data(), given.data() + given.size(), expected, 16);
        if (given.size() != 2 || error != std::errc() || end != given.data() + given.size())
            return std::nullopt;
        unsigned sum = 0;
        for (char c : body) sum ^= static_cast<unsigned char>(c);
        if (sum != expected) return std::nullopt;
    }
    for (char c : body) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) return std::nullopt;
    }
    return splitFields(body);
}

struct Position {
    double latitude = 0;
    double longitude = 0;
};

// What one epoch (the sentences of one time of day) said.
struct Epoch {
    int64_t time = 0;  // milliseconds since midnight, UTC
    std::optional<int64_t> rmcDay;
    std::optional<Position> ggaPosition;
    std::optional<double> hdop;
    std::optional<double> altitude;
    std::optional<Position> rmcPosition;
    double speed = -1;
    double course = -1;
};

void readGGA(const std::vector<std::string_view>& f, Epoch& epoch) {
    if (f.size() < 10) return;
    if (f[6].size() != 1 || f[6][0] < '1' || f[6][0] > '8') return;  // 0: no fix
    const auto latitude = angle(f[2], f[3], 2, 'N', 'S', 90.0);
    const auto longitude = angle(f[4], f[5], 3, 'E', 'W', 180.0);
    if (!latitude || !longitude) return;
    epoch.ggaPosition = Position{*latitude, *longitude};
    const auto hdop = number(f[8]);
    epoch.hdop = hdop && *hdop > 0 ? hdop : std::nullopt;
    const bool metres = f.size() < 11 || f[10].empty() || f[10] == "M";
    const auto altitude = number(f[9]);
    epoch.altitude = altitude && metres ? altitude : std::nullopt;
}

void readRMC(const std::vector<std::string_view>& f, Epoch& epoch) {
    if (f.size() < 10 || f[2] != "A") return;                           // V: no fix
    if (f.size() > 12 && f[12].size() == 1 && f[12][0] == 'N') return;  // mode: data not valid
    const auto latitude = angle(f[3], f[4], 2, 'N', 'S', 90.0);
    const auto longitude = angle(f[5], f[6], 3, 'E', 'W', 180.0);
    if (!latitude || !longitude) return;
    epoch.rmcPosition = Position{*latitude, *longitude};
    const auto knots = number(f[7]);
    epoch.speed = knots && *knots >= 0 ? *knots * kMetresPerSecondPerKnot : -1;
    const auto course = number(f[8]);
    epoch.course = course && *course >= 0 && *course < 360 ? *course : -1;
    if (const auto day = dateDays(f[9])) epoch.rmcDay = day;
}

std::vector<Epoch> readEpochs(std::string_view text) {
    std::vector<Epoch> epochs;
    std::optional<int64_t> current;  // time of the epoch being read
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const auto fields = sentenceFields(line);
        if (!fields || (*fields)[0].size() != 5) continue;
        const std::string_view type = (*fields)[0].substr(2);
        if (type != "GGA" && type != "RMC") continue;
        if (fields->size() < 2) continue;
        const auto time = timeOfDay((*fields)[1]);
        if (!time) continue;
        if (!current || *current != *time) {
            epochs.push_back(Epoch{});
            epochs.back().time = *time;
            current = time;
        }
        if (type == "GGA") {
            readGGA(*fields, epochs.back());
        } else {
            readRMC(*fields, epochs.back());
        }
    }
    return epochs;
}

// A step back of more than half a day in the time of day is midnight passing.
bool crossesMidnight(int64_t earlier, int64_t later) {
    return later < earlier - kMillisecondsPerDay / 2;
}

}  // namespace

std::vector<CLLocation> NMEATrack::fixes(std::string_view text, Date lastDay) {
    const std::vector<Epoch> epochs = readEpochs(text);
    if (epochs.empty()) return {};

    // The day of every epoch: from its RMC where it has one; counted forward
    // from the previous epoch (and back from the first dated one) otherwise.
    std::vector<int64_t> days(epochs.size());
    size_t anchor = epochs.size();
    for (size_t i = 0; i < epochs.size(); ++i) {
        if (epochs[i].rmcDay) {
            anchor = i;
            break;
        }
    }
    if (anchor == epochs.size()) {
        anchor = epochs.size() - 1;
        days[anchor] = floorDiv(static_cast<int64_t>(std::floor(lastDay.unixTime())), kSecondsPerDay);
    } else {
        days[anchor] = *epochs[anchor].rmcDay;
    }
    for (size_t i = anchor; i-- > 0;) {
        days[i] = days[i + 1] - (crossesMidnight(epochs[i].time, epochs[i + 1].time) ? 1 : 0);
    }
    for (size_t i = anchor + 1; i < epochs.size(); ++i) {
        days[i] = epochs[i].rmcDay
                      ? *epochs[i].rmcDay
                      : days[i - 1] + (crossesMidnight(epochs[i - 1].time, epochs[i].time) ? 1 : 0);
    }

    std::vector<CLLocation> result;
    std::optional<double> lastHDOP;
    for (size_t i = 0; i < epochs.size(); ++i) {
        const Epoch& epoch = epochs[i];
        if (epoch.hdop) lastHDOP = epoch.hdop;
        const std::optional<Position> position = epoch.ggaPosition ? epoch.ggaPosition : epoch.rmcPosition;
        if (!position) continue;
        const double horizontal = lastHDOP.value_or(kAssumedHDOP) * kUserEquivalentRangeError;
        const bool hasAltitude = epoch.ggaPosition && epoch.altitude;
        const double unixSeconds =
            static_cast<double>(days[i] * kSecondsPerDay) + static_cast<double>(epoch.time) / 1000.0;
        result.emplace_back(CLLocationCoordinate2D{position->latitude, position->longitude},
                            hasAltitude ? *epoch.altitude : 0.0, horizontal,
                            hasAltitude ? horizontal * kVerticalDilutionFactor : -1.0, epoch.course,
                            epoch.speed, Date::fromUnix(unixSeconds));
    }
    return result;
}

Result<std::vector<CLLocation>> NMEATrack::read(const std::string& path) {
    auto& files = FileManager::defaultManager();
    auto attributes = files.attributesOfItem(path);
    if (!attributes.ok()) return attributes.error();
    auto bytes = files.readFileSafely(path, kMaximumTrackBytes);
    if (!bytes.ok()) return bytes.error();
    const auto& data = bytes.value();
    return fixes(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                 attributes.value().modificationDate);
}

}  // namespace platform
