#include "tiles/QuovaImageTile.hpp"

#include <array>

#include <fmt/format.h>

namespace tervolo::tiles {

QuovaImageTile::QuovaImageTile(MapRect frame, uint64_t x, uint64_t y, uint64_t z, QXTileQuadrant quadrant,
                               uint64_t xShift, uint64_t yShift)
    : quadrant_(quadrant), x_(x), y_(y), z_(z), xShift_(xShift), yShift_(yShift), frame_(frame) {}

std::string tileStoragePath(uint64_t z, uint64_t x, uint64_t y) {
    return fmt::format("{}-{}-{}", z, x, y);
}

std::string QuovaImageTile::storagePath() const {
    return tileStoragePath(z_, x_, y_);
}

std::string QuovaImageTile::urlStringWithPattern(std::string_view pattern) const {
    const std::array<std::string, 3> values{std::to_string(z_), std::to_string(x_), std::to_string(y_)};
    std::string url;
    url.reserve(pattern.size() + 16);
    size_t i = 0;
    while (i < pattern.size()) {
        // Placeholders are exactly "%<1..3>$@"; anything else is copied as it stands.
        if (pattern[i] == '%' && i + 3 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '3' &&
            pattern[i + 2] == '$' && pattern[i + 3] == '@') {
            url += values[size_t(pattern[i + 1] - '1')];
            i += 4;
        } else {
            url += pattern[i++];
        }
    }
    return url;
}

std::shared_ptr<QuovaImageTile> QuovaImageTile::tileAbove() const {
    if (quadrant() != QXTileQuadrant::QXTileQuadrantWholeTile || z_ < 1) return nullptr;
    static constexpr QXTileQuadrant byRemainder[2][2] = {
        {QXTileQuadrant::QXTileQuadrantNW, QXTileQuadrant::QXTileQuadrantSW},
        {QXTileQuadrant::QXTileQuadrantNE, QXTileQuadrant::QXTileQuadrantSE}};
    return std::make_shared<QuovaImageTile>(frame_, x_ / 2, y_ / 2, z_ - 1, byRemainder[x_ % 2][y_ % 2], 0,
                                            0);
}

std::string quadrantName(uint64_t quadrant) {
    static constexpr const char* names[] = {"QXTileQuadrantNW",        "QXTileQuadrantNE",
                                            "QXTileQuadrantSW",        "QXTileQuadrantSE",
                                            "QXTileQuadrantWholeTile", "QXTileQuadrantUseScale"};
    return quadrant <= 5 ? names[quadrant] : "(unspecified)";
}

std::string QuovaImageTile::quadrantDescription() const {
    return quadrantName(uint64_t(quadrant()));
}

std::string QuovaImageTile::description() const {
    return fmt::format(
        "coordinates: x={}/y={}/z={}, origin: {:.0f}/{:.0f} / width: {:.0f} / height: {:.0f} / "
        "quadrant: {}",
        x_, y_, z_, frame_.origin.x, frame_.origin.y, frame_.size.width, frame_.size.height,
        quadrantDescription());
}

}  // namespace tervolo::tiles
