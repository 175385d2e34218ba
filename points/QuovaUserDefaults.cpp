#include "points/QuovaUserDefaults.hpp"

#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/UserDefaults.hpp"

namespace tervolo::points {

QuovaUserDefaults& QuovaUserDefaults::shared() {
    static QuovaUserDefaults* instance = [] {
        auto* made = new QuovaUserDefaults();
        platform::LineWriter::standardOutput().writeLine("Initializing shared QuovaUserDefaults.");
        platform::LineWriter::standardError().writeLine("Accessing shared instance of QuovaUserDefaults");
        return made;
    }();
    return *instance;
}

std::optional<double> QuovaUserDefaults::userLocationRadius() const {
    const auto value = platform::UserDefaults::standard().object("userLocationRadius");
    if (!value) return std::nullopt;
    // A boolean is not a number here, and an integer a double cannot hold
    // exactly (beyond 2^53) gives none rather than a rounded radius.
    return value->asDouble();
}

void QuovaUserDefaults::setUserLocationRadius(double radius) {
    platform::UserDefaults::standard().set("userLocationRadius", platform::PropertyValue(radius));
}

}  // namespace tervolo::points
