#include "mapscreen/UserTrackingModeTexts.hpp"

#include "platform/foundation/Bundle.hpp"

namespace tervolo::mapscreen {

namespace {
struct Texts {
    const char* title;
    const char* description;
};

Texts textsFor(platform::MKUserTrackingMode mode) {
    switch (mode) {
        case platform::MKUserTrackingMode::None:
            return {"none", "The map won't follow your location any more."};
        case platform::MKUserTrackingMode::Follow:
            return {"follow", "The map now keeps your location centered."};
        case platform::MKUserTrackingMode::FollowWithHeading:
            return {"followWithHeading", "The map now tracks your location & heading."};
    }
    // A stored raw value outside the three modes.
    return {"none", "none"};
}
}  // namespace

std::string title(platform::MKUserTrackingMode mode) {
    return platform::Bundle::main().localizedString(textsFor(mode).title);
}

std::string description(platform::MKUserTrackingMode mode) {
    return platform::Bundle::main().localizedString(textsFor(mode).description);
}

}  // namespace tervolo::mapscreen
