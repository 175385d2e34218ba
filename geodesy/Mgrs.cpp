#include "geodesy/Mgrs.hpp"

#include <algorithm>
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
// Above five digits the extra ones are the fraction of a metre, as the parser reads them: "482519" is
// 48,251.9 m (printing the whole metres zero-padded, "048252", read back 43 km away).
double gridDigits(double value, unsigned p) {
    double v = value;
    for (unsigned k = p; k < kSquareDigits; ++k) v = std::rint(v / 10.0);
    if (p > kSquareDigits) v *= std::pow(10.0, static_cast<double>(p - kSquareDigits));
    v = std::nearbyint(v);
    static constexpr double kLimits[] = {0.0, 9.0, 99.0, 999.0, 9999.0, 99999.0, 999999.0};
    const double limit = p <= 6 ? kLimits[p] : std::pow(10.0, static_cast<double>(p)) - 1.0;
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
    if (allDigits(group) && group.size() <= 15) {
        // Up to fifteen digits are an exact integer; scaling by an exact power of ten rounds once, to the
        // same Double as reading the digits with the point after the fifth.
        double digits = 0.0;
        for (char c : group) digits = digits * 10.0 + (c - '0');
        static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
        return group.size() <= kSquareDigits ? digits * kPowers[kSquareDigits - group.size()]
                                             : digits / kPowers[group.size() - kSquareDigits];
    }
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

// A northing at or below every point of a band's southern edge within a zone, cut to whole 100-km units.
// North of the equator the parallels bend towards the pole, so the edge is lowest on the central
// meridian. South of it they bend the other way and the edge is lowest at the zone's farthest easting
// (380 km from the central meridian: eastings run from 120 to 880 km); near the pole that is far more
// than the 3° of a zone's width (about 20° at 80° S), and a base taken closer in came out above points
// near the band's southern edge, which then read back one whole cycle, 2,000 km, too far north. Every
// point of the band lies less than 2,000 km (one cycle of row letters) above the base. Computed once per
// ellipsoid and band.
double bandBaseNorthing(Ellipsoid ellipsoid, size_t bandIndex) {
    struct Table {
        double northing[kEllipsoidCount][21];
        Table() {
            constexpr double kFarthestOffset = 380000.0;  // metres from the central meridian
            for (int e = 0; e < kEllipsoidCount; ++e) {
                const detail::KrugerSeries& series = detail::krugerSeries(static_cast<Ellipsoid>(e));
                for (size_t band = 0; band < 21; ++band) {
                    const double phi = (static_cast<double>(band) - 10.0) * 8.0 * kDegree;
                    double lambda = 0.0;
                    if (phi < 0.0) {
                        // x grows with the longitude along a parallel: bisect for x = 380 km.
                        double low = 0.0, high = 89.0 * kDegree;
                        for (int step = 0; step < 60; ++step) {
                            const double middle = 0.5 * (low + high);
                            (detail::krugerForward(series, phi, middle).x < kFarthestOffset ? low : high) =
                                middle;
                        }
                        lambda = high;
                    }
                    const detail::Projected edge = detail::krugerForward(series, phi, lambda);
                    const double edgeNorthing = edge.y < 0.0 ? edge.y + 10000000.0 : edge.y;
                    northing[e][band] = std::trunc(edgeNorthing / 100000.0) * 100000.0;
                }
            }
        }
    };
    static const Table table;
    return table.northing[static_cast<int>(ellipsoid)][bandIndex];
}

// fmod(v, 100 km) for a finite v ≥ 0, exactly: v − q·100 km is exact for the whole q, and one correction
// step covers a quotient rounded across an integer.
double remainderOf100km(double v) {
    if (!(v >= 0.0 && v < 1e15)) return std::fmod(v, 100000.0);
    double r = v - std::trunc(v / 100000.0) * 100000.0;
    if (r < 0.0) r += 100000.0;
    if (r >= 100000.0) r -= 100000.0;
    return r;
}

// The latitude that decides the band: toLatLonE()'s. The band changes only where trunc(lat / 8 + 10)
// does, at multiples of 8°. A cheap estimate (the series' leading term and the first-order conformal
// latitude) is never more than 0.05° off anywhere in the UTM range for any of the ellipsoids; when it lies
// more than 0.25° from every multiple of 8° (all but about 6 % of positions) it gives the same band, and
// the full inverse with its Newton iteration is needed only near the band edges.
double bandLatitude(const Utm& utm) {
    const detail::KrugerSeries& k = detail::krugerSeries(utm.datum().ellipsoid);
    const double x = utm.easting() - 500000.0;
    const double y = utm.hemisphere() == Hemisphere::s ? utm.northing() - 10000000.0 : utm.northing();
    const double eta = x / (0.9996 * k.A);
    const double xi = y / (0.9996 * k.A);
    const double sinhEta = std::sinh(eta);
    const double cosXi = std::cos(xi);
    const double tauP = std::sin(xi) / std::sqrt(sinhEta * sinhEta + cosXi * cosXi);
    const double estimate = std::atan(tauP / (1.0 - k.e2)) / kDegree;
    const double toEdge = std::fabs(estimate - 8.0 * std::round(estimate / 8.0));
    // 84° (the top of band X) is a band edge too.
    if (std::fabs(estimate) < 87.0 && toEdge > 0.25 && std::fabs(estimate - 84.0) > 0.25) return estimate;
    return utm.toLatLonE().lat();
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
    // Bands cover 80° S to 84° N; nearer the poles the latitude has no band. Tested on the latitude
    // itself: an index rounded toward zero made 80°–88° S band C and 84°–88° N band X.
    const double lat = bandLatitude(*this);
    if (!(lat >= -80.0 && lat <= 84.0)) throw MgrsError::invalidBand("Invalid band provided");
    const double bandIndex = std::min(std::floor(lat / 8.0 + 10.0), 20.0);
    const char band = latBands[static_cast<size_t>(bandIndex)];

    // For the validated, non-negative distances trunc(fmod(v, 20)) is trunc(v) mod 20 exactly.
    const auto col = static_cast<int64_t>(std::trunc(easting() / 100000.0)) % 20;
    const auto row = static_cast<int64_t>(std::trunc(northing() / 100000.0)) % 20;
    const std::string_view columns = e100kLetters[static_cast<size_t>((zone() - 1) % 3)];
    const std::string_view rows = n100kLetters[static_cast<size_t>((zone() - 1) % 2)];
    // Validated eastings lie in columns 1…8 and northings in rows 0…19; checked all the same.
    if (col < 1 || col > static_cast<int64_t>(columns.size()))
        throw MgrsError::invalidEasting("An invalid easting was provided");
    if (row < 0 || row >= static_cast<int64_t>(rows.size()))
        throw MgrsError::invalidNorthing("An invalid northing was provided");

    const double e = std::round(remainderOf100km(easting()) * 1e6) / 1e6;
    const double n = std::round(remainderOf100km(northing()) * 1e6) / 1e6;
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

    // A northing at or below the whole band in this zone (see bandBaseNorthing).
    const double nBand = bandBaseNorthing(datum_.ellipsoid, bandIndex);

    // Whole 2,000-km cycles of the row letters until the northing reaches the band. In-square values need
    // at most five; the cap only stops absurd northings, which the UTM initialiser then refuses.
    const double base = northing_ + n100kNum;
    double n2M = 0.0;
    for (int cycles = 0; cycles < 10 && base + n2M < nBand; ++cycles) n2M += 2000000.0;
    return Utm(zone_, hemisphere, easting_ + e100kNum, base + n2M, datum_);
}

std::string Mgrs::toString(unsigned precision) const {
    // The cap keeps the field width sane.
    const unsigned p = precision > 300 ? 300 : precision;
    std::string text;
    text.reserve(16 + 2 * p);
    detail::appendWholeNumber(text, static_cast<double>(zone_), 2);
    if (band_ < 0x80) {
        text.push_back(static_cast<char>(band_));
    } else {
        text += detail::utf8(band_);
    }
    text.push_back(' ');
    text += e100k_ < 0x80 ? std::string(1, static_cast<char>(e100k_)) : detail::utf8(e100k_);
    text += n100k_ < 0x80 ? std::string(1, static_cast<char>(n100k_)) : detail::utf8(n100k_);
    text.push_back(' ');
    // Beyond 17 digits a Double has no more to give: the rest are zeros.
    const unsigned significant = std::min(p, 17u);
    const auto appendGrid = [&](double value) {
        detail::appendWholeNumber(text, gridDigits(value, significant), static_cast<int>(significant));
        text.append(p - significant, '0');
    };
    appendGrid(easting_);
    text.push_back(' ');
    appendGrid(northing_);
    return text;
}

Mgrs Mgrs::parse(std::string_view fromString) {
    static const char* const kIncomplete = "Data provided is incomplete or invalid";
    // Text that starts and ends with a visible ASCII character has nothing to trim.
    const auto visibleASCII = [](char c) { return c > ' ' && c < 0x7F; };
    const bool bare =
        !fromString.empty() && visibleASCII(fromString.front()) && visibleASCII(fromString.back());
    std::string trimmedText;
    if (!bare) trimmedText = platform::text::trimmed(fromString);
    const std::string_view text = bare ? fromString : std::string_view(trimmedText);

    size_t whitespaceCount = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t ws = detail::whitespaceLengthAt(text, i);
        whitespaceCount += ws > 0 ? 1 : 0;
        i += ws > 0 ? ws : 1;
    }

    // The four groups: zone and band, square letters, easting digits, northing digits.
    std::string_view groups[4];
    std::string compact;
    if (whitespaceCount == 3) {
        size_t count = 0;
        detail::forEachGroup(text, [&](std::string_view group) {
            if (count < 4) groups[count] = group;
            ++count;
        });
        if (count != 4) throw MgrsError::invalidFormat(kIncomplete);
    } else {
        // Run-together form (white space anywhere is dropped): two zone characters, the band, two square
        // letters, then the grid digits, half for the easting and half for the northing.
        std::string_view run = text;
        if (whitespaceCount > 0) {
            compact.reserve(text.size());
            detail::forEachGroup(text, [&](std::string_view group) { compact.append(group); });
            run = compact;
        }
        size_t characters = 0;
        for (size_t i = 0; i < run.size(); i += detail::characterLength(run, i)) ++characters;
        if (characters < 5) throw MgrsError::invalidFormat(kIncomplete);
        const size_t gridCount = characters - 5;
        if (gridCount % 2 != 0) throw MgrsError::invalidGrid("Grid provided has an odd number of digits");
        // No grid at all leaves two groups.
        if (gridCount == 0) throw MgrsError::invalidFormat(kIncomplete);
        const size_t letters = detail::advance(run, 0, 3);
        const size_t grid = detail::advance(run, letters, 2);
        const size_t half = detail::advance(run, grid, gridCount / 2);
        groups[0] = run.substr(0, letters);
        groups[1] = run.substr(letters, grid - letters);
        groups[2] = run.substr(grid, half - grid);
        groups[3] = run.substr(half);
    }

    // Zone: the first two characters as a decimal integer; band: the third character, if any.
    const std::string_view first = groups[0];
    const size_t second = detail::characterLength(first, 0);
    if (second >= first.size()) throw MgrsError::invalidFormat(kIncomplete);
    const size_t third = second + detail::characterLength(first, second);
    int64_t zone = 0;
    if (!detail::parseInteger(first.substr(0, third), zone))
        throw MgrsError::invalidZone("Zone provided is not a number");
    const char32_t band = third < first.size() ? detail::firstCodePoint(first.substr(third)) : kMissingLetter;

    const std::string_view square = groups[1];
    const size_t next = detail::characterLength(square, 0);
    const char32_t e100k = detail::firstCodePoint(square);
    const char32_t n100k =
        next < square.size() ? detail::firstCodePoint(square.substr(next)) : kMissingLetter;

    const double easting = gridMetres(groups[2]);
    const double northing = gridMetres(groups[3]);
    return Mgrs(zone, band, e100k, n100k, easting, northing, wgs84TableDatum());
}

}  // namespace tervolo::geodesy
