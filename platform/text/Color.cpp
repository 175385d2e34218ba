#include "platform/text/Color.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "platform/text/Numbers.hpp"

namespace platform {
namespace {

// Conversion results are exact only to rounding: P3 white comes back as
// 1 - 1e-16 or 1 + 1e-16. Deviations this small are numerical noise, not
// colours outside the sRGB gamut.
constexpr double kConversionTolerance = 1e-9;

using Matrix = std::array<std::array<double, 3>, 3>;
using Vector = std::array<double, 3>;

Vector multiply(const Matrix& m, const Vector& v) {
    return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2],
            m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
            m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
    return r;
}

Matrix inverse(const Matrix& m) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    Matrix r{};
    r[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
    r[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    r[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    r[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
    r[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    r[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    r[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
    r[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    r[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    return r;
}

// Linear RGB → CIE XYZ for primaries given as xy chromaticities and the D65
// white point (the standard construction: scale the primaries' XYZ so that
// RGB (1,1,1) maps to the white).
Matrix rgbToXYZ(double rx, double ry, double gx, double gy, double bx, double by) {
    constexpr double wx = 0.3127, wy = 0.3290;  // D65
    const Matrix primaries{{{rx / ry, gx / gy, bx / by},
                            {1.0, 1.0, 1.0},
                            {(1 - rx - ry) / ry, (1 - gx - gy) / gy, (1 - bx - by) / by}}};
    const Vector white{wx / wy, 1.0, (1 - wx - wy) / wy};
    const Vector s = multiply(inverse(primaries), white);
    Matrix m = primaries;
    for (auto& row : m)
        for (int j = 0; j < 3; ++j) row[j] *= s[j];
    return m;
}

// Display P3 linear → sRGB linear. Both spaces use the D65 white, so relative
// colorimetric matching needs no chromatic adaptation.
const Matrix& p3ToSRGB() {
    static const Matrix m = multiply(inverse(rgbToXYZ(0.64, 0.33, 0.30, 0.60, 0.15, 0.06)),
                                     rgbToXYZ(0.680, 0.320, 0.265, 0.690, 0.150, 0.060));
    return m;
}

// The sRGB transfer curve (Display P3 uses the same), extended to negative
// values by odd symmetry and to values above 1 by the same formula, as the
// extended sRGB space does.
double decode(double v) {
    const double a = std::fabs(v);
    const double linear = a <= 0.04045 ? a / 12.92 : std::pow((a + 0.055) / 1.055, 2.4);
    return std::copysign(linear, v);
}

double encode(double v) {
    const double a = std::fabs(v);
    const double encoded = a <= 0.0031308 ? a * 12.92 : 1.055 * std::pow(a, 1 / 2.4) - 0.055;
    return std::copysign(encoded, v);
}

std::string shortNumber(double v) {
    // "%g" of the platform's colour description: 1 → "1", 0.5 → "0.5".
    return text::formatC("%g", v);
}

}  // namespace

Color::Color(double red, double green, double blue, double alpha)
    : space_(Space::ExtendedSRGB), rgba_{red, green, blue, alpha} {}

Color::Color(Space space, double red, double green, double blue, double alpha)
    : space_(space), rgba_{red, green, blue, alpha} {}

Color Color::displayP3(double red, double green, double blue, double alpha) {
    return Color(Space::DisplayP3, red, green, blue, alpha);
}

const Color& Color::standardRed() {
    static const Color* red = new Color(Space::SRGB, 1, 0, 0, 1);
    return *red;
}

const Color& Color::standardBlue() {
    static const Color* blue = new Color(Space::SRGB, 0, 0, 1, 1);
    return *blue;
}

Color Color::convertedToSRGB() const {
    if (space_ != Space::DisplayP3)
        return Color(Space::SRGB, rgba_.red, rgba_.green, rgba_.blue, rgba_.alpha);
    const Vector linear =
        multiply(p3ToSRGB(), Vector{decode(rgba_.red), decode(rgba_.green), decode(rgba_.blue)});
    return Color(Space::SRGB, encode(linear[0]), encode(linear[1]), encode(linear[2]), rgba_.alpha);
}

bool Color::isWithinSRGBGamut() const {
    const RGBA c = convertedToSRGB().rgba_;
    for (double v : {c.red, c.green, c.blue, c.alpha}) {
        // NaN fails both tests, so it is outside too.
        if (!(v >= -kConversionTolerance && v <= 1.0 + kConversionTolerance)) return false;
    }
    return true;
}

std::optional<std::string> Color::hexString(bool withAlpha) const {
    if (!isWithinSRGBGamut()) return std::nullopt;
    const RGBA c = convertedToSRGB().rgba_;
    auto pair = [](double v) {
        // Truncation toward zero, as the colour texts are defined, but of the
        // value nudged by far less than one step: a component that should be
        // k/255 may come out of the P3 matrix (or of k/255.0 * 255.0) a few
        // ulps below k, and plain truncation would then write k - 1
        // (P3 white would read "FEFEFE").
        const double scaled = std::clamp(v, 0.0, 1.0) * 255.0 + 1e-7;
        return text::formatC("%02X", static_cast<int>(scaled));
    };
    std::string out = pair(c.red) + pair(c.green) + pair(c.blue);
    if (withAlpha) out += pair(c.alpha);
    return out;
}

std::string Color::description() const {
    const char* name = "UIExtendedSRGBColorSpace";
    if (space_ == Space::DisplayP3) name = "UIDisplayP3ColorSpace";
    if (space_ == Space::SRGB) name = "sRGB IEC61966-2.1";
    return std::string(name) + " " + shortNumber(rgba_.red) + " " + shortNumber(rgba_.green) + " " +
           shortNumber(rgba_.blue) + " " + shortNumber(rgba_.alpha);
}

}  // namespace platform
