#include "mapscreen/ScaleBarChoice.hpp"

#include <cmath>

namespace tervolo::mapscreen {

std::optional<ScaleBarChoice> ScaleBarChoice::choose(const points::ScaleDistances& table, double metresAcross,
                                                     double widthPoints, double desiredWidth) {
    // A zero span gives infinite ratios that no entry could beat anyway; a
    // zero width would give a bar of no length.
    if (!(widthPoints > 0) || !std::isfinite(metresAcross) || !(metresAcross > 0)) return std::nullopt;
    const double metresPerPoint = metresAcross / widthPoints;
    const double target = metresAcross * desiredWidth / widthPoints;
    std::optional<ScaleBarChoice> best;
    double bestBadness = 9999.0;
    for (const auto& [label, metres] : table) {
        const double ratio = metres / target;
        const double badness = ratio < 1 ? 2 - ratio : ratio;
        if (badness < bestBadness) {
            bestBadness = badness;
            best = ScaleBarChoice{label, metres, badness, metres / metresPerPoint};
        }
    }
    return best;
}

}  // namespace tervolo::mapscreen
