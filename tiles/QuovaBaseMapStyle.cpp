#include "tiles/QuovaBaseMapStyle.hpp"

#include "platform/foundation/Bundle.hpp"

namespace tervolo::tiles {

namespace {
struct StyleNames {
    const char* identifier;
    const char* displayName;
};
constexpr StyleNames kNames[] = {
    {"Standard", "Standard"},
    {"Satellite", "Satellite"},
    {"Hybrid", "Hybrid"},
    {"OpenStreetMap", "OpenStreetMap"},
    {"OpenStreetMapRetina", "OpenStreetMap Retina"},
    {"OpenTopoMap", "OpenTopoMap"},
    {"OpenCycleMap", "OpenCycleMap"},
    {"OpenCycleMapRetina", "OpenCycleMap Retina"},
};
}  // namespace

const std::array<QuovaBaseMapStyle, 8>& allCases() {
    static constexpr std::array<QuovaBaseMapStyle, 8> cases{
        QuovaBaseMapStyle::standard,     QuovaBaseMapStyle::satellite,         QuovaBaseMapStyle::hybrid,
        QuovaBaseMapStyle::osm,          QuovaBaseMapStyle::osmRetina,         QuovaBaseMapStyle::openTopoMap,
        QuovaBaseMapStyle::openCycleMap, QuovaBaseMapStyle::openCycleMapRetina};
    return cases;
}

std::string identifier(QuovaBaseMapStyle style) {
    return kNames[size_t(style)].identifier;
}

std::string displayName(QuovaBaseMapStyle style) {
    return platform::Bundle::main().localizedString(kNames[size_t(style)].displayName);
}

std::optional<QuovaBaseMapStyle> styleWithIdentifier(const std::string& text) {
    for (QuovaBaseMapStyle style : allCases()) {
        if (text == kNames[size_t(style)].identifier) return style;
    }
    return std::nullopt;
}

std::string tileServerBaseURL() {
    auto& bundle = platform::Bundle::main();
    return bundle.infoString("QuovaTileServerScheme").value_or("https") + "://" +
           bundle.infoString("QuovaTileServerHost").value_or("tiles.tervolo.invalid");
}

}  // namespace tervolo::tiles
