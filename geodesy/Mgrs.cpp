#include "geodesy/Mgrs.hpp"

#include <cmath>

#include "geodesy/detail/Kruger.hpp"
#include "geodesy/detail/TextSupport.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"

namespace tervolo::geodesy {

namespace {

constexpr double kDegree = 3.141592653589793 / 180.0;

// The character used where the text has no letter: it is no band or square letter, so it fails later.
constexpr char32_t kMissingLetter = 0x60;

bool isBandLetter(char32_t c) {
    return c < 0x80 && latBands.find(static_cast<char>(c)) != std::string_view::npos;
}

size_t positionIn(std::string_view letters, char32_t c) {
    return c < 0x80 ? letters.find(static_cast<char>(c)) : std::string_view::npos;
}

// Whole-square multiples of 100 km contain no more than five integer digits.
constexpr unsigned kSquareDigits = 5;

// The number printed for one in-square distance with p digits: the value scaled down by exactly 5 − p
// successive roundings to the nearest integer (halves to even), then rounded and held to p digits, so a
// distance just under 100 km never prints as a sixth digit cut off ("99999.6" is 99999, not "10000").
double gridDigits(double value, unsigned p) {
    double v = value;
    for (unsigned k = p; k < kSquareDigits; ++k) v = std::rint(v / 10.0);
    v = std::nearbyint(v);
    const double limit = std::pow(10.0, static_cast<double>(p)) - 1.0;
    if (v > limit) v = limit;
    return v;
}

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Grid digits of one group scaled to metres within the square. Digit groups are scaled by their length
// (two digits are kilometres, five are metres: "00482" is 482 m), other numbers as before: multiplied by
// ten until above 100 km, then divided by ten once when at or above it. Zero, negative and non-finite
// values of the second kind would scale forever and are refused.
double gridMetres(std::string_view group) {
    static const char* const kNotANumber = "The grid provided could not be converted to a number";
    if (allDigits(group)) {
        // The digits with the decimal point after the fifth (zeros appended to five): read exactly.
        std::string text;
        text.reserve(group.size() + kSquareDigits + 1);
        text.append(group.substr(0, kSquareDigits));
        text.append(kSquareDigits - text.size(), '0');
        text.push_back('.');
        if (group.size() > kSquareDigits) text.append(group.substr(kSquareDigits));
        const auto parsed = platform::text::parseDoublePrefix(text);
        if (!parsed || !std::isfinite(parsed->first)) throw MgrsError::invalidGrid(kNotANumber);
        return parsed->first;
    }
    const auto parsed = platform::text::parseDoublePrefix(group);
    if (!parsed || parsed->second != group.size()) throw MgrsError::invalidGrid(kNotANumber);
    double v = parsed->first;
    if (!std::isfinite(v) || !(v > 0.0)) throw MgrsError::invalidGrid(kNotANumber);
    while (!(v > 100000.0)) v *= 10.0;
    if (v >= 100000.0) v /= 10.0;
    return v;
}

bool parseZoneDigits(std::string_view text, int64_t& zone) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return false;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    zone = negative ? -value : value;
    return true;
}

}  // namespace

Mgrs::Mgrs(int64_t zone, char32_t band, char32_t e100k, char32_t n100k, double easting, double northing,
           const Datum& datum)
    : zone_(zone),
      band_(0),
      e100k_(0),
      n100k_(0),
      easting_(easting),
      northing_(northing),
      datum_(validatedDatum(datumTable(), datum)),
      wgs84Datum_(&wgs84TableDatum()),
      datumStore_(&datumTable()) {
    const auto upperBand = detail::uppercaseCharacter(band);
    if (!upperBand || !isBandLetter(*upperBand)) throw MgrsError::invalidBand("Invalid band provided");
    if (zone < 0 || zone > 60) throw MgrsError::invalidZone("Invalid zone provided");
    const auto upperE = detail::uppercaseCharacter(e100k);
    const auto upperN = detail::uppercaseCharacter(n100k);
    // One stored character per letter: a letter that upper-cases to several cannot be kept.
    if (!upperE || !upperN) throw MgrsError::invalidBand("Invalid band provided");
    band_ = *upperBand;
    e100k_ = *upperE;
    n100k_ = *upperN;
}

void Mgrs::setZone(int64_t zone) {
    if (zone >= 0 && zone <= 60) zone_ = zone;
}

Mgrs Utm::toMGRS() const {
    // Zone 0 has no letter sets ((zone − 1) mod 3 would be negative).
    if (zone() < 1) throw MgrsError::invalidZone("Invalid zone provided");
    const LatLon position = toLatLonE();
    // Near the poles (a northing close to 10,000 km) the latitude has no band.
    const double bandIndex = std::trunc(position.lat() / 8.0 + 10.0);
    if (!(bandIndex >= 0.0 && bandIndex <= 20.0)) throw MgrsError::invalidBand("Invalid band provided");
    const char band = latBands[static_cast<size_t>(bandIndex)];

    const auto col = static_cast<int64_t>(std::trunc(std::fmod(easting() / 100000.0, 20.0)));
    const auto row = static_cast<int64_t>(std::trunc(std::fmod(northing() / 100000.0, 20.0)));
    const std::string_view columns = e100kLetters[static_cast<size_t>((zone() - 1) % 3)];
    const std::string_view rows = n100kLetters[static_cast<size_t>((zone() - 1) % 2)];
    // Validated eastings lie in columns 1…8 and northings in rows 0…19; checked all the same.
    if (col < 1 || col > static_cast<int64_t>(columns.size()))
        throw MgrsError::invalidEasting("An invalid easting was provided");
    if (row < 0 || row >= static_cast<int64_t>(rows.size()))
        throw MgrsError::invalidNorthing("An invalid northing was provided");

    const double e = std::round(std::fmod(easting(), 100000.0) * 1e6) / 1e6;
    const double n = std::round(std::fmod(northing(), 100000.0) * 1e6) / 1e6;
    return Mgrs(zone(), static_cast<char32_t>(band),
                static_cast<char32_t>(columns[static_cast<size_t>(col - 1)]),
                static_cast<char32_t>(rows[static_cast<size_t>(row)]), e, n, datum());
}

Utm Mgrs::toUTM() const {
    if (zone_ < 1) throw MgrsError::invalidZone("Invalid zone provided");
    const Hemisphere hemisphere = band_ < U'N' ? Hemisphere::s : Hemisphere::n;
    const size_t colPosition = positionIn(e100kLetters[static_cast<size_t>((zone_ - 1) % 3)], e100k_);
    if (colPosition == std::string_view::npos)
        throw MgrsError::invalidEasting("An invalid easting was provided");
    const size_t rowPosition = positionIn(n100kLetters[static_cast<size_t>((zone_ - 1) % 2)], n100k_);
    if (rowPosition == std::string_view::npos)
        throw MgrsError::invalidNorthing("An invalid northing was provided");
    const size_t bandIndex = positionIn(latBands, band_);
    if (bandIndex == std::string_view::npos) throw MgrsError::invalidBand("An invalid band was provided");

    const double e100kNum = static_cast<double>(colPosition + 1) * 100000.0;
    const double n100kNum = static_cast<double>(rowPosition) * 100000.0;

    // The lowest northing of the band's southern edge within a zone, cut to whole 100-km units: on the
    // central meridian north of the equator, on the zone's edge (3° off) south of it, where the parallels
    // bend the other way. Every point of the band lies less than 2,000 km (one cycle of row letters) above
    // it. (Taking the edge at longitude 0, as the first version did, put points near a band's southern
    // edge far from longitude 0 one whole cycle, 2,000 km, too far north.)
    const double latBand = (static_cast<double>(bandIndex) - 10.0) * 8.0;
    const detail::Projected edge = detail::krugerForward(
        detail::krugerSeries(datum_.ellipsoid), latBand * kDegree, latBand < 0.0 ? 3.0 * kDegree : 0.0);
    const double edgeNorthing = edge.y < 0.0 ? edge.y + 10000000.0 : edge.y;
    const double nBand = std::trunc(edgeNorthing / 100000.0) * 100000.0;

    // Whole 2,000-km cycles of the row letters until the northing reaches the band. In-square values need
    // at most five; the cap only stops absurd northings, which the UTM initialiser then refuses.
    const double base = northing_ + n100kNum;
    double n2M = 0.0;
    for (int cycles = 0; cycles < 10 && base + n2M < nBand; ++cycles) n2M += 2000000.0;
    return Utm(zone_, hemisphere, easting_ + e100kNum, base + n2M, datum_);
}

std::string Mgrs::toString(unsigned precision) const {
    // More digits than a Double carries add nothing but zeros; the cap keeps the field width sane.
    const unsigned p = precision > 300 ? 300 : precision;
    const int width = static_cast<int>(p);
    std::string text = platform::text::formatC("%02lld", static_cast<long long>(zone_));
    text += detail::utf8(band_);
    text += ' ';
    text += detail::utf8(e100k_);
    text += detail::utf8(n100k_);
    text += platform::text::formatC(" %0*.0f %0*.0f", width, gridDigits(easting_, p), width,
                                    gridDigits(northing_, p));
    return text;
}

Mgrs Mgrs::parse(std::string_view fromString) {
    static const char* const kIncomplete = "Data provided is incomplete or invalid";
    std::string text = platform::text::trimmed(fromString);

    size_t whitespaceCount = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t ws = detail::whitespaceLengthAt(text, i);
        if (ws > 0) {
            ++whitespaceCount;
            i += ws;
        } else {
            ++i;
        }
    }
    std::vector<std::string_view> characters;
    if (whitespaceCount != 3) {
        // Run-together form: two zone characters, the band, two square letters, then the grid digits.
        std::string compact;
        compact.reserve(text.size());
        detail::forEachGroup(text, [&](std::string_view group) { compact.append(group); });
        detail::splitCharacters(compact, characters);
        if (characters.size() < 5) throw MgrsError::invalidFormat(kIncomplete);
        const size_t gridCount = characters.size() - 5;
        if (gridCount % 2 != 0) throw MgrsError::invalidGrid("Grid provided has an odd number of digits");
        std::string rebuilt;
        rebuilt.reserve(compact.size() + 3);
        for (size_t k = 0; k < characters.size(); ++k) {
            if (k == 3 || k == 5 || k == 5 + gridCount / 2) rebuilt += ' ';
            rebuilt.append(characters[k]);
        }
        if (gridCount == 0) rebuilt += "  ";
        text = std::move(rebuilt);
    }

    std::string_view groups[4];
    size_t count = 0;
    detail::forEachGroup(text, [&](std::string_view group) {
        if (count < 4) groups[count] = group;
        ++count;
    });
    if (count != 4) throw MgrsError::invalidFormat(kIncomplete);

    detail::splitCharacters(groups[0], characters);
    if (characters.size() < 2) throw MgrsError::invalidFormat(kIncomplete);
    int64_t zone = 0;
    const std::string_view zoneText(characters[0].data(), characters[0].size() + characters[1].size());
    if (!parseZoneDigits(zoneText, zone)) throw MgrsError::invalidZone("Zone provided is not a number");
    const char32_t band = characters.size() > 2 ? detail::firstCodePoint(characters[2]) : kMissingLetter;

    detail::splitCharacters(groups[1], characters);
    const char32_t e100k = detail::firstCodePoint(characters[0]);
    const char32_t n100k = characters.size() > 1 ? detail::firstCodePoint(characters[1]) : kMissingLetter;

    const double easting = gridMetres(groups[2]);
    const double northing = gridMetres(groups[3]);
    return Mgrs(zone, band, e100k, n100k, easting, northing, wgs84TableDatum());
}

}  // namespace tervolo::geodesy
