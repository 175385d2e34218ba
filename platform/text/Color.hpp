#pragma once

#include <optional>
#include <string>

namespace platform {

// A colour: red, green, blue and alpha in one of three RGB colour spaces.
// Components are gamma-encoded values of that space; in extended sRGB they may
// lie outside 0…1 (that is how it reaches colours outside the sRGB gamut).
class Color {
  public:
    enum class Space {
        SRGB,          // IEC 61966-2-1, components 0…1
        ExtendedSRGB,  // sRGB primaries and curve extended to any value
        DisplayP3,     // P3 primaries, D65 white, sRGB curve
    };

    struct RGBA {
        double red = 0;
        double green = 0;
        double blue = 0;
        double alpha = 1;
        bool operator==(const RGBA&) const = default;
    };

    // The platform's red-green-blue-alpha initialiser: the colour lands in the
    // extended sRGB space with the components as given.
    Color(double red, double green, double blue, double alpha);
    Color(Space space, double red, double green, double blue, double alpha);
    static Color displayP3(double red, double green, double blue, double alpha);

    // Opaque pure red (1, 0, 0, 1) and pure blue (0, 0, 1, 1) in sRGB: the
    // platform's standard colours, always inside the sRGB gamut.
    static const Color& standardRed();
    static const Color& standardBlue();

    Space space() const { return space_; }
    // The components in the colour's own space.
    RGBA components() const { return rgba_; }

    // The same colour in sRGB by relative colorimetric matching (both spaces
    // have the D65 white, so no adaptation), NOT clamped: a colour outside the
    // sRGB gamut keeps components below 0 or above 1 so callers can detect it.
    // sRGB and extended sRGB share their numbers. Alpha is kept.
    Color convertedToSRGB() const;
    // True when every sRGB component (alpha included) lies in 0…1.
    bool isWithinSRGBGamut() const;

    // Six ("FF0000") or, with alpha, eight ("FF00007F") upper-case hex digits
    // of the sRGB components, each ×255 truncated toward zero; none when the
    // colour lies outside the sRGB gamut.
    std::optional<std::string> hexString(bool withAlpha) const;

    // The space's name and the four components (shortest form, "%g"):
    // "UIExtendedSRGBColorSpace 0.196078 0.392157 0.588235 1",
    // "UIDisplayP3ColorSpace 1 0 0 1", "sRGB IEC61966-2.1 1 0 0 1".
    std::string description() const;

    bool operator==(const Color&) const = default;

  private:
    Space space_ = Space::ExtendedSRGB;
    RGBA rgba_;
};

}  // namespace platform
