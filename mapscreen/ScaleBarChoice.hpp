#pragma once

#include <optional>
#include <string>

#include "points/RadiusTables.hpp"

namespace tervolo::mapscreen {

// Which entry of a scale table the scale bar shows and how long its bar is,
// for a map on which `widthPoints` points along the bottom edge span
// `metresAcross` metres. The bar aims at `desiredWidth` points: each entry's
// ratio is its metres over the distance a bar of that width would show; its
// badness is 2 - ratio below 1, else the ratio; the least bad entry wins (a
// later entry only when strictly better, and none that is not better than
// 9999). Any thread; nothing is kept.
struct ScaleBarChoice {
    std::string label;  // the table's text, "500 m"
    double metres = 0;
    double badness = 0;
    double barLength = 0;  // points

    // None when the table is empty, the distance across is 0 or not a finite
    // number (the map's edge reaches past the world), or the width is not
    // above 0: the scale bar is then left as it is.
    static std::optional<ScaleBarChoice> choose(const points::ScaleDistances& table, double metresAcross,
                                                double widthPoints, double desiredWidth);
};

}  // namespace tervolo::mapscreen
