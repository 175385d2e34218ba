#include "points/AppTextsAndColors.hpp"

#include "platform/foundation/Bundle.hpp"
#include "points/QuovaStringRepresentation.hpp"

namespace tervolo::points {

// Each value is a function-local static: made once, thread-safe, and
// deliberately leaked so that no reader meets a destroyed value at exit.

const std::string& sharedLocationTitle() {
    static const auto* text =
        new std::string(platform::Bundle::main().localizedString("Location Shared By Tervolo"));
    return *text;
}

const std::string& newLocationTitle() {
    static const auto* text = new std::string(platform::Bundle::main().localizedString("New Location"));
    return *text;
}

const std::string& myPositionText() {
    static const auto* text = new std::string(platform::Bundle::main().localizedString("My Position"));
    return *text;
}

const std::string& unknownSpeedBearingText() {
    static const auto* text =
        new std::string(platform::Bundle::main().localizedString("(unknown speed/bearing)"));
    return *text;
}

const std::string& localDataSourceName() {
    static const auto* text = new std::string(platform::Bundle::main().localizedString("local data"));
    return *text;
}

const platform::Color& appTintColor() {
    static const auto* color =
        new platform::Color(quovaInitWithHexString("326496").value_or(platform::Color::standardBlue()));
    return *color;
}

const platform::Color& defaultPointColor() {
    return platform::Color::standardRed();
}

platform::Color::Space sRGBColorSpace() {
    return platform::Color::Space::SRGB;
}
platform::Color::Space extendedSRGBColorSpace() {
    return platform::Color::Space::ExtendedSRGB;
}
platform::Color::Space displayP3ColorSpace() {
    return platform::Color::Space::DisplayP3;
}

}  // namespace tervolo::points
