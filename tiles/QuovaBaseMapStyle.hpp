#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tervolo::tiles {

// The eight base map styles; the raw value is what is stored. The first three
// are the map view's own map types, the other five raster tile sources.
enum class QuovaBaseMapStyle : int64_t {
    standard = 0,
    satellite = 1,
    hybrid = 2,
    osm = 3,
    osmRetina = 4,
    openTopoMap = 5,
    openCycleMap = 6,
    openCycleMapRetina = 7,
};

// Every style in raw-value order.
const std::array<QuovaBaseMapStyle, 8>& allCases();
// The fixed name: map key of its overlay and cache manager, the stored value.
std::string identifier(QuovaBaseMapStyle style);
// The localized name shown in the style chooser.
std::string displayName(QuovaBaseMapStyle style);
// The style whose identifier is exactly `text` (case-sensitive).
std::optional<QuovaBaseMapStyle> styleWithIdentifier(const std::string& text);

// The tile source behind a tile style.
struct TileOverlayConfiguration {
    QuovaBaseMapStyle style;
    int64_t minTileZ;
    int64_t maxTileZ;
    std::string tempDirPrefix;
    std::string tileDownloadURLPattern;
    std::vector<std::string> tileDownloadPrefixes;
    int64_t retinaShiftFrom;
    int64_t retinaShiftLevel;
    std::string copyrightString;
};

// "<scheme>://<host>" of the tile server, from the information dictionary:
// "QuovaTileServerScheme" (default "https") and "QuovaTileServerHost" (a host
// name, optionally with ":port"; default under the reserved .invalid domain,
// so a fresh install asks no real server).
std::string tileServerBaseURL();

}  // namespace tervolo::tiles
