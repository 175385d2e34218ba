#include "geodesy/LatLon.hpp"

#include <cmath>

#include "geodesy/detail/TextSupport.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"

namespace tervolo::geodesy {

namespace {

constexpr double kPi = 3.141592653589793;

bool isLetterIn(char c, std::string_view letters) {
    return letters.find(c) != std::string_view::npos;
}

// Removes every run of the given ASCII letters.
std::string deleteLetters(std::string_view text, std::string_view letters) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (!isLetterIn(c, letters)) result.push_back(c);
    }
    return result;
}

// Hemisphere rules of one side: a leading or final letter of the positive or negative hemisphere, or a
// leading minus, tested in that order; the letter or minus is removed and " P"/" N" appended.
std::string markHemisphere(std::string text, char positiveUpper, char negativeUpper) {
    const auto lower = [](char c) { return static_cast<char>(c - 'A' + 'a'); };
    const auto isLetter = [&](char c, char upper) { return c == upper || c == lower(upper); };
    // `text` is trimmed, so "$" has no final line terminator to skip here.
    char hemisphere = positiveUpper;
    if (!text.empty() && isLetter(text.front(), positiveUpper)) {
        text.erase(0, 1);
    } else if (!text.empty() && isLetter(text.back(), positiveUpper)) {
        text.pop_back();
    } else if (!text.empty() && isLetter(text.front(), negativeUpper)) {
        text.erase(0, 1);
        hemisphere = negativeUpper;
    } else if (!text.empty() && isLetter(text.back(), negativeUpper)) {
        text.pop_back();
        hemisphere = negativeUpper;
    } else if (!text.empty() && text.front() == '-') {
        text.erase(0, 1);
        hemisphere = negativeUpper;
    }
    return platform::text::trimmed(text) + " " + hemisphere;
}

}  // namespace

LatLon::LatLon(double lat, double lon)
    : lat_(lat),
      lon_(lon),
      datum_(wgs84TableDatum()),
      wgs84Datum_(&wgs84TableDatum()),
      datumStore_(&datumTable()) {}

LatLon::LatLon(double lat, double lon, const Datum& datum)
    : lat_(lat),
      lon_(lon),
      datum_(validatedDatum(datumTable(), datum)),
      wgs84Datum_(&wgs84TableDatum()),
      datumStore_(&datumTable()) {}

LatLon LatLon::convertDatum(const Datum& toDatum) const {
    const Datum& target = validatedDatum(*datumStore_, toDatum);
    const bool fromWGS84 = datum_ == *wgs84Datum_;
    const bool toWGS84 = target == *wgs84Datum_;
    if (toWGS84) {
        return makeLatLonE(applyInverseTransform(toCartesian(), datum_.transform), target);
    }
    if (fromWGS84) {
        return makeLatLonE(applyTransform(toCartesian(), target.transform), target);
    }
    // Neither is WGS84: go through WGS84 on a copy, never by changing the receiver.
    const LatLon viaWGS84 = convertDatum(*wgs84Datum_);
    return makeLatLonE(applyTransform(viaWGS84.toCartesian(), target.transform), target);
}

Vector LatLon::toCartesian() const {
    const double phi = lat_ * kPi / 180.0;
    const double lambda = lon_ * kPi / 180.0;
    const double aa = a(datum_.ellipsoid);
    const double ff = f(datum_.ellipsoid);
    const double e2 = 2.0 * ff - ff * ff;
    const double sinPhi = std::sin(phi);
    const double cosPhi = std::cos(phi);
    const double nu = aa / std::sqrt(1.0 - e2 * sinPhi * sinPhi);
    const double h = 0.0;
    return {(nu + h) * cosPhi * std::cos(lambda), (nu + h) * cosPhi * std::sin(lambda),
            (nu * (1.0 - e2) + h) * sinPhi};
}

Vector LatLon::applyTransform(const Vector& point, const Transform& t) {
    const double s1 = t.s / 1e6 + 1.0;
    const double rx = t.rx / 3600.0 * kPi / 180.0;
    const double ry = t.ry / 3600.0 * kPi / 180.0;
    const double rz = t.rz / 3600.0 * kPi / 180.0;
    return {t.tx + s1 * point.x - rz * point.y + ry * point.z,
            t.ty + rz * point.x + s1 * point.y - rx * point.z,
            t.tz - ry * point.x + rx * point.y + s1 * point.z};
}

Vector LatLon::applyInverseTransform(const Vector& point, const Transform& t) {
    // applyTransform is p = T + (s1·I + K)·q with K the cross-product matrix of the rotation vector ω.
    // Its exact inverse is q = (s1²·d − s1·(ω × d) + ω·(ω · d)) / (s1·(s1² + |ω|²)) with d = p − T.
    // Negating the seven values only approximates this (to s² and s·r terms: about 3 mm for OSGB36).
    const double s1 = t.s / 1e6 + 1.0;
    const Vector omega{t.rx / 3600.0 * kPi / 180.0, t.ry / 3600.0 * kPi / 180.0, t.rz / 3600.0 * kPi / 180.0};
    const Vector d{point.x - t.tx, point.y - t.ty, point.z - t.tz};
    const Vector numerator = d.times(s1 * s1) - omega.cross(d).times(s1) + omega.times(omega * d);
    return numerator.divideBy(s1 * (s1 * s1 + omega * omega));
}

LatLon LatLon::makeLatLonE(const Vector& vector, const Datum& datum) {
    const double aa = a(datum.ellipsoid);
    const double bb = b(datum.ellipsoid);
    const double ff = f(datum.ellipsoid);
    const double x = vector.x;
    const double y = vector.y;
    const double z = vector.z;
    const double e2 = 2.0 * ff - ff * ff;
    const double eps2 = e2 / (1.0 - e2);
    const double p = std::sqrt(x * x + y * y);
    const double R = std::sqrt(p * p + z * z);
    double phi = 0.0;
    double lambda = 0.0;
    if (p == 0.0) {
        // On the polar axis Bowring's formula divides zero by zero; the poles are ±90°, the centre 0.
        phi = z > 0.0 ? kPi / 2.0 : (z < 0.0 ? -kPi / 2.0 : 0.0);
    } else {
        const double tanBeta = (bb * z) / (aa * p) * (1.0 + eps2 * bb / R);
        const double sinBeta = tanBeta / std::sqrt(1.0 + tanBeta * tanBeta);
        const double cosBeta = sinBeta / tanBeta;
        // On the equator tan β is 0 and cos β comes out NaN: the latitude is 0 there.
        if (!std::isnan(cosBeta)) {
            phi = std::atan2(z + eps2 * bb * sinBeta * sinBeta * sinBeta,
                             p - e2 * aa * cosBeta * cosBeta * cosBeta);
            // One more Bowring step from the parametric latitude of that estimate: the single step leaves
            // up to 1.5 µm on the ellipsoid, the second well below a micrometre.
            const double tanBeta2 = (1.0 - ff) * std::tan(phi);
            const double cosBeta2 = 1.0 / std::sqrt(1.0 + tanBeta2 * tanBeta2);
            const double sinBeta2 = tanBeta2 * cosBeta2;
            phi = std::atan2(z + eps2 * bb * sinBeta2 * sinBeta2 * sinBeta2,
                             p - e2 * aa * cosBeta2 * cosBeta2 * cosBeta2);
        }
        lambda = std::atan2(y, x);
    }
    return LatLon(phi * 180.0 / kPi, lambda * 180.0 / kPi, datum);
}

LatLon LatLon::parseLatLon(std::string_view stringToParse) {
    const size_t comma = stringToParse.find(',');
    if (comma == std::string_view::npos) throw LatLonError::parseError("Invalid string");
    std::string latText = platform::text::trimmed(stringToParse.substr(0, comma));
    std::string lonText = platform::text::trimmed(stringToParse.substr(comma + 1));
    if (latText.empty() || lonText.empty()) throw LatLonError::parseError("Invalid string");

    latText = deleteLetters(markHemisphere(std::move(latText), 'N', 'S'),
                            "abcdefghijklmopqrtuvwxyzABCDEFGHIJKLMOPQRTUVWXYZ");
    lonText = deleteLetters(markHemisphere(std::move(lonText), 'E', 'W'),
                            "abcdfghijklmnopqrstuvxyzABCDFGHIJKLMNOPQRSTUVXYZ");
    // Minutes or seconds of 60 and more are no angle: refused rather than read as the next degree.
    const auto lat = DMS::parseDMSChecked(latText);
    const auto lon = DMS::parseDMSChecked(lonText);
    if (!lat || !lon) throw LatLonError::parseError("Invalid string");
    return LatLon(*lat, *lon, wgs84TableDatum());
}

std::string LatLon::toString(DMSFormat format, unsigned decimalPlaces) const {
    return toString(format, decimalPlaces, false);
}

std::string LatLon::toString(DMSFormat format, unsigned decimalPlaces, bool newLinesForEachCoord) const {
    return DMS::toLat(lat_, format, decimalPlaces) + (newLinesForEachCoord ? ", \n" : ", ") +
           DMS::toLon(lon_, format, decimalPlaces);
}

std::string LatLon::description() const {
    return toString(DMSFormat::degreesMinutesSeconds, 4);
}

}  // namespace tervolo::geodesy
