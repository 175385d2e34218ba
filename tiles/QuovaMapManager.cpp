#include "tiles/QuovaMapManager.hpp"

#include <fmt/format.h>

#include "logging/QLLogging.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Bundle.hpp"

namespace tervolo::tiles {

QuovaMapManager& QuovaMapManager::shared() {
    return platform::SharedInstance<QuovaMapManager>::get();
}

std::optional<TileOverlayConfiguration> QuovaMapManager::configurationForMapStyle(
    QuovaBaseMapStyle style) const {
    const std::string base = tileServerBaseURL();
    const std::vector<std::string> prefixes{"a", "b", "d", "e"};
    auto text = [](const char* english) { return platform::Bundle::main().localizedString(english); };
    const std::string osm = text("© OpenStreetMap contributors");
    const std::string thunderforest = text("© OpenStreetMap contributors, Map style © Thunderforest");
    switch (style) {
        case QuovaBaseMapStyle::osm:
            return TileOverlayConfiguration{style,
                                            3,
                                            19,
                                            "OpenStreetMapTiles",
                                            base + "/tiles/osm-standard-cache/%1$@/%2$@/%3$@.png",
                                            prefixes,
                                            9,
                                            2,
                                            osm};
        case QuovaBaseMapStyle::osmRetina:
            return TileOverlayConfiguration{style,
                                            3,
                                            20,
                                            "OpenStreetMapTiles-2x",
                                            base + "/tiles/osm-standard-cache-2x/%1$@/%2$@/%3$@.png",
                                            prefixes,
                                            0,
                                            0,
                                            osm};
        case QuovaBaseMapStyle::openTopoMap:
            return TileOverlayConfiguration{
                style,
                3,
                17,
                "OpenTopoMapTiles",
                base + "/tiles/opentopomap/%1$@/%2$@/%3$@.png",
                prefixes,
                9,
                2,
                text("© OpenStreetMap contributors, SRTM\nMap Display © OpenTopoMap (CC-BY-SA)")};
        case QuovaBaseMapStyle::openCycleMap:
            return TileOverlayConfiguration{
                style,    3, 20, "OpenCycleMapTiles", base + "/tiles/opencyclemap/%1$@/%2$@/%3$@.png",
                prefixes, 9, 2,  thunderforest};
        case QuovaBaseMapStyle::openCycleMapRetina:
            return TileOverlayConfiguration{
                style,    3, 20, "OpenCycleMapTiles2x", base + "/tiles/opencyclemap-2x/%1$@/%2$@/%3$@.png",
                prefixes, 0, 0,  thunderforest};
        case QuovaBaseMapStyle::standard:
        case QuovaBaseMapStyle::satellite:
        case QuovaBaseMapStyle::hybrid:
            break;
    }
    QLLogDebug("no tile overlay configuration available for map style " + displayName(style));
    return std::nullopt;
}

QuovaMapManager::Entry* QuovaMapManager::entryFor(const std::shared_ptr<QuovaTileOverlayDelegate>& mapView) {
    auto it = register_.find(mapView.get());
    if (it == register_.end()) return nullptr;
    if (it->second.mapView.lock() != mapView) {
        register_.erase(it);  // another object now lives where a gone map view was
        return nullptr;
    }
    return &it->second;
}

std::shared_ptr<QuovaTileOverlay> QuovaMapManager::baseMapOverlayForMapView(
    const std::shared_ptr<QuovaTileOverlayDelegate>& mapView, QuovaBaseMapStyle style) {
    if (Entry* entry = entryFor(mapView)) {
        if (auto it = entry->overlays.find(identifier(style)); it != entry->overlays.end()) return it->second;
    }
    if (auto overlay = createTileOverlayForMapView(mapView, style)) {
        storeTileOverlay(overlay, mapView);
        return overlay;
    }
    QLLogDebug("Can't create overlay for mapView with style " + identifier(style));
    return nullptr;
}

std::shared_ptr<QuovaTileOverlay> QuovaMapManager::createTileOverlayForMapView(
    const std::shared_ptr<QuovaTileOverlayDelegate>& mapView, QuovaBaseMapStyle style) const {
    auto configuration = configurationForMapStyle(style);
    if (!configuration) return nullptr;
    auto overlay = QuovaTileOverlay::initOverlayForMap(
        identifier(style), configuration->maxTileZ, configuration->tempDirPrefix,
        configuration->tileDownloadURLPattern, configuration->tileDownloadPrefixes,
        configuration->retinaShiftFrom, configuration->retinaShiftLevel);
    overlay->setReplaceMapContent(true);
    overlay->setDelegate(mapView);
    return overlay;
}

void QuovaMapManager::storeTileOverlay(const std::shared_ptr<QuovaTileOverlay>& overlay,
                                       const std::shared_ptr<QuovaTileOverlayDelegate>& mapView) {
    if (!overlay || !styleWithIdentifier(overlay->map())) return;
    const std::string key = overlay->map();
    if (Entry* entry = entryFor(mapView)) {
        if (entry->overlays.count(key)) return;
        entry->overlays[key] = overlay;
    } else {
        register_[mapView.get()] = Entry{mapView, {{key, overlay}}};
    }
    std::string description;
    for (const auto& [view, entry] : register_) {
        description += fmt::format("{}: [", static_cast<const void*>(view));
        for (const auto& [name, stored] : entry.overlays) description += name + ", ";
        description += "] ";
    }
    QLLogDebug("current overlay register: " + description);
}

std::vector<std::shared_ptr<QuovaTileOverlay>> QuovaMapManager::allTileOverlays() const {
    std::vector<std::shared_ptr<QuovaTileOverlay>> all;
    for (const auto& [view, entry] : register_) {
        if (entry.mapView.expired()) continue;
        for (const auto& [name, overlay] : entry.overlays) all.push_back(overlay);
    }
    return all;
}

void QuovaMapManager::resetForTesting() {
    register_.clear();
}

}  // namespace tervolo::tiles
