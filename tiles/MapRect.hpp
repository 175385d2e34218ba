#pragma once

namespace tervolo::tiles {

// A rectangle of the spherical-Mercator map plane, in map points (the world is
// 2^28 map points wide and high, origin at the north-west corner, y growing
// south). The tile engine's frames and requested areas.
struct MapRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    bool operator==(const MapRect&) const = default;
};

// Width and height of the world in map points.
inline constexpr double kMapWorldSize = 268435456.0;

}  // namespace tervolo::tiles
