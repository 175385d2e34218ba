#include "geodesy/Utm.hpp"

#include <cmath>
#include <limits>
#include <numbers>

#include "geodesy/detail/Kruger.hpp"
#include "geodesy/detail/TextSupport.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"

namespace tervolo::geodesy {

namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
constexpr double k0 = 0.9996;                  // central meridian scale factor
constexpr double kFalseEasting = 500000.0;     // metres
constexpr double kFalseNorthing = 10000000.0;  // metres, southern hemisphere
// Newton's method for the latitude converges in two or three steps; the cap only guards against inputs
// (non-finite or absurd) on which it would never settle.
constexpr int kMaxNewtonIterations = 50;

const char* const kEastingMessage = "Invalid Easting provided. Easting must be between 120,000 and 880,000";
const char* const kNorthingMessage = "Invalid Northing provided. Northing must be between 0 and 10,000,000";
const char* const kZoneMessage = "Invalid Zone provided.  Zone must be between 0 and 60";
const char* const kSpacesMessage =
    "Invalid UTM Coordinate provided.  Ensure you have spaces between the items";
const char* const kFieldsMessage =
    "Invalid UTM Coordinate provided. The system could not parse the zone, easting or northing fields";

double roundTo(double value, double factor) {
    return std::round(value * factor) / factor;
}

// sin/cos of 2jx and sinh/cosh of 2jy for j = 1…6, by the angle-addition recurrences (one sin/cos and one
// sinh evaluation instead of twenty-four).
struct Multiples {
    double s[7], c[7], sh[7], ch[7];
    Multiples(double x, double y) {
        const double sh1 = std::sinh(2.0 * y);
        fill(std::sin(2.0 * x), std::cos(2.0 * x), sh1, std::sqrt(1.0 + sh1 * sh1));
    }
    // From sin, cos, sinh and cosh of the doubled angles, when the caller has them already.
    Multiples(double s1, double c1, double sh1, double ch1) { fill(s1, c1, sh1, ch1); }

  private:
    void fill(double s1, double c1, double sh1, double ch1) {
        s[1] = s1;
        c[1] = c1;
        sh[1] = sh1;
        ch[1] = ch1;
        for (int j = 2; j <= 6; ++j) {
            s[j] = s[j - 1] * c1 + c[j - 1] * s1;
            c[j] = c[j - 1] * c1 - s[j - 1] * s1;
            sh[j] = sh[j - 1] * ch1 + ch[j - 1] * sh1;
            ch[j] = ch[j - 1] * ch1 + sh[j - 1] * sh1;
        }
    }
};

// τ′ of τ: the tangent of the conformal latitude.
double conformalTau(double tau, double e) {
    const double sigma = std::sinh(e * std::atanh(e * tau / std::sqrt(1.0 + tau * tau)));
    return tau * std::sqrt(1.0 + sigma * sigma) - sigma * std::sqrt(1.0 + tau * tau);
}

bool parseNumber(std::string_view text, double& value) {
    const auto parsed = platform::text::parseDoublePrefix(text);
    if (!parsed || parsed->second != text.size()) return false;
    value = parsed->first;
    return true;
}

}  // namespace

namespace detail {

Projected krugerForward(const KrugerSeries& k, double phi, double lambda) {
    const double cosLambda = std::cos(lambda);
    const double sinLambda = std::sin(lambda);
    // sin/cos pairs share one evaluation; the tangents follow from them.
    const double tanLambda = sinLambda / cosLambda;
    const double sinPhi = std::sin(phi);
    const double tau = sinPhi / std::cos(phi);
    const double tauP = conformalTau(tau, k.e);
    const double xiP = std::atan2(tauP, cosLambda);
    const double hyp = std::sqrt(tauP * tauP + cosLambda * cosLambda);
    const double etaP = std::asinh(sinLambda / hyp);

    // sin/cos of 2ξ′ and sinh/cosh of 2η′ straight from τ′, cos λ and sin λ (ξ′ = atan2(τ′, cos λ),
    // sinh η′ = sin λ / hyp), instead of four more transcendental evaluations.
    const double hyp2 = hyp * hyp;
    const double sinhEtaP = sinLambda / hyp;
    const double coshEtaP = std::sqrt(1.0 + sinhEtaP * sinhEtaP);
    const Multiples m(2.0 * tauP * cosLambda / hyp2, (cosLambda * cosLambda - tauP * tauP) / hyp2,
                      2.0 * sinhEtaP * coshEtaP, 1.0 + 2.0 * sinhEtaP * sinhEtaP);
    double xi = xiP, eta = etaP, pP = 1.0, qP = 0.0;
    for (int j = 1; j <= 6; ++j) {
        xi += k.alpha[j] * m.s[j] * m.ch[j];
        eta += k.alpha[j] * m.c[j] * m.sh[j];
        pP += 2.0 * j * k.alpha[j] * m.c[j] * m.ch[j];
        qP += 2.0 * j * k.alpha[j] * m.s[j] * m.sh[j];
    }
    Projected result{};
    result.x = k0 * k.A * eta;
    result.y = k0 * k.A * xi;

    const double gammaP = std::atan(tauP / std::sqrt(1.0 + tauP * tauP) * tanLambda);
    const double gammaPP = std::atan2(qP, pP);
    result.gamma = (gammaP + gammaPP) / kRadiansPerDegree;

    const double kP = std::sqrt(1.0 - k.e2 * sinPhi * sinPhi) * std::sqrt(1.0 + tau * tau) / hyp;
    const double kPP = k.A / k.a * std::sqrt(pP * pP + qP * qP);
    result.k = k0 * kP * kPP;
    return result;
}

}  // namespace detail

Utm::Utm(int64_t zone, Hemisphere hemisphere, double easting, double northing, const Datum& datum,
         std::optional<double> convergence, std::optional<double> scale)
    : wgs84Datum_(&wgs84TableDatum()),
      datumStore_(&datumTable()),
      zone_(zone),
      hemisphere_(hemisphere),
      easting_(easting),
      northing_(northing),
      datum_(validatedDatum(datumTable(), datum)),
      convergence_(convergence),
      scale_(scale) {
    // Comparisons written so that NaN fails them.
    if (!(easting >= 120000.0 && easting <= 880000.0)) throw UtmError::invalidEasting(kEastingMessage);
    if (!(northing >= 0.0 && northing <= kFalseNorthing)) throw UtmError::invalidNorthing(kNorthingMessage);
    if (zone < 0 || zone > 60) throw UtmError::invalidZone(kZoneMessage);
}

void Utm::setZone(int64_t zone) {
    if (zone >= 0 && zone <= 60) zone_ = zone;
}

Utm LatLon::toUTM() const {
    const double lat = this->lat();
    double lon = this->lon();
    if (!(lat >= -80.0 && lat <= 84.0)) throw UtmError::badLatLon("Outside UTM Limits");
    // A longitude must be a finite value in −180…180 to have a zone; 180 is the same meridian as −180
    // and belongs to zone 1.
    if (!(lon >= -180.0 && lon <= 180.0)) throw UtmError::badLatLon("Outside UTM Limits");
    if (lon == 180.0) lon = -180.0;

    const char band = latBands[static_cast<size_t>(std::trunc(lat / 8.0 + 10.0))];
    // The zone from the whole degrees: (lon + 180) / 6 rounds up to 60 for longitudes a hair below 180
    // (179.99999999999997), which would give a zone 61.
    int64_t zone = (static_cast<int64_t>(std::floor(lon)) + 180) / 6 + 1;
    double lambda0 = static_cast<double>((zone - 1) * 6 - 180 + 3) * kRadiansPerDegree;

    // Norway and Svalbard exceptions; each moves the central meridian with the zone.
    if (zone == 31 && band == 'V' && lon >= 3.0) {
        zone += 1;
        lambda0 += 6.0 * kRadiansPerDegree;
    } else if (zone == 32 && band == 'X' && lon < 9.0) {
        zone -= 1;
        lambda0 -= 6.0 * kRadiansPerDegree;
    } else if (zone == 32 && band == 'X' && lon >= 9.0) {
        zone += 1;
        lambda0 += 6.0 * kRadiansPerDegree;
    } else if (zone == 34 && band == 'X' && lon < 21.0) {
        zone -= 1;
        lambda0 -= 6.0 * kRadiansPerDegree;
    } else if (zone == 34 && band == 'X' && lon >= 21.0) {
        zone += 1;
        lambda0 += 6.0 * kRadiansPerDegree;
    } else if (zone == 36 && band == 'X' && lon < 33.0) {
        zone -= 1;
        lambda0 -= 6.0 * kRadiansPerDegree;
    } else if (zone == 36 && band == 'X' && lon >= 33.0) {
        zone += 1;
        lambda0 += 6.0 * kRadiansPerDegree;
    }

    const detail::Projected projected = detail::krugerForward(
        detail::krugerSeries(datum().ellipsoid), lat * kRadiansPerDegree, lon * kRadiansPerDegree - lambda0);
    const double x = projected.x;
    const double y = projected.y;
    const double gamma = projected.gamma;
    const double scale = projected.k;

    // Hemisphere and false northing from one test: a latitude just below zero whose radians underflow to
    // −0 (−4.94e-324°) projects to y = −0, and a separate test of y would put it in the south at northing
    // 0, 10,000 km off.
    const Hemisphere hemisphere = lat < 0.0 ? Hemisphere::s : Hemisphere::n;
    double easting = x + kFalseEasting;
    double northing = hemisphere == Hemisphere::s ? y + kFalseNorthing : y;

    easting = roundTo(easting, 1e6);
    northing = roundTo(northing, 1e6);
    return Utm(zone, hemisphere, easting, northing, datum(), roundTo(gamma, 1e9), roundTo(scale, 1e12));
}

LatLon Utm::toLatLonE() const {
    const detail::KrugerSeries& k = detail::krugerSeries(datum_.ellipsoid);
    const double x = easting_ - kFalseEasting;
    const double y = hemisphere_ == Hemisphere::s ? northing_ - kFalseNorthing : northing_;
    const double eta = x / (k0 * k.A);
    const double xi = y / (k0 * k.A);

    const Multiples m(xi, eta);
    double xiP = xi, etaP = eta;
    for (int j = 1; j <= 6; ++j) {
        xiP -= k.beta[j] * m.s[j] * m.ch[j];
        etaP -= k.beta[j] * m.c[j] * m.sh[j];
    }
    const double sinhEtaP = std::sinh(etaP);
    const double sinXiP = std::sin(xiP);
    const double cosXiP = std::cos(xiP);
    const double tauP = sinXiP / std::sqrt(sinhEtaP * sinhEtaP + cosXiP * cosXiP);

    double tau = tauP;
    const double oneMinusE2 = 1.0 - k.e2;
    for (int iteration = 0; iteration < kMaxNewtonIterations; ++iteration) {
        // conformalTau(τi) with √(1 + τi²) evaluated once for it and the step.
        const double root = std::sqrt(1.0 + tau * tau);
        const double sigma = std::sinh(k.e * std::atanh(k.e * tau / root));
        const double tauIP = tau * std::sqrt(1.0 + sigma * sigma) - sigma * root;
        const double delta = (tauP - tauIP) / std::sqrt(1.0 + tauIP * tauIP) *
                             (1.0 + oneMinusE2 * tau * tau) / (oneMinusE2 * root);
        tau += delta;
        if (!(std::fabs(delta) > 1e-12)) break;
    }
    const double phi = std::atan(tau);
    const double lambda = std::atan2(sinhEtaP, cosXiP);
    const double lambda0 = static_cast<double>((zone_ - 1) * 6 - 180 + 3) * kRadiansPerDegree;
    return LatLon(roundTo(phi / kRadiansPerDegree, 1e11),
                  roundTo((lambda0 + lambda) / kRadiansPerDegree, 1e11), datum_);
}

std::string Utm::toString(unsigned precision) const {
    const double factor = precision > 308 ? HUGE_VAL : std::pow(10.0, static_cast<double>(precision));
    const double e = std::round(easting_ * factor) / factor;
    const double n = std::round(northing_ * factor) / factor;
    // An infinite factor gives NaN here; the unrounded values are then the ones meant.
    const double eText = std::isnan(e) ? easting_ : e;
    const double nText = std::isnan(n) ? northing_ : n;
    std::string text;
    text.reserve(24);
    detail::appendWholeNumber(text, static_cast<double>(zone_), 2);
    text += hemisphere_ == Hemisphere::n ? " N " : " S ";
    detail::appendWholeNumber(text, eText, 0);
    text.push_back(' ');
    detail::appendWholeNumber(text, nText, 0);
    return text;
}

Utm Utm::parseUTM(std::string_view utmCoord) {
    return parseUTM(utmCoord, wgs84TableDatum());
}

Utm Utm::parseUTM(std::string_view utmCoord, const Datum& datum) {
    const Datum found = DatumFinder::getDatum(datum);
    const std::string text = platform::text::trimmed(utmCoord);
    std::string_view groups[4];
    size_t count = 0;
    detail::forEachGroup(text, [&](std::string_view group) {
        if (count < 4) groups[count] = group;
        ++count;
    });
    if (count != 4) throw UtmError::badString(kSpacesMessage);

    int64_t zone = 0;
    double easting = 0.0;
    double northing = 0.0;
    std::optional<Hemisphere> hemisphere;
    if (groups[1] == "N" || groups[1] == "n") hemisphere = Hemisphere::n;
    if (groups[1] == "S" || groups[1] == "s") hemisphere = Hemisphere::s;
    if (!detail::parseInteger(groups[0], zone) || !hemisphere || !parseNumber(groups[2], easting) ||
        !parseNumber(groups[3], northing)) {
        throw UtmError::badString(kFieldsMessage);
    }
    return Utm(zone, *hemisphere, easting, northing, found);
}

}  // namespace tervolo::geodesy
