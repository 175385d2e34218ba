#include "platform/ui/SpringParameters.hpp"

#include <algorithm>
#include <cmath>

namespace platform {

SpringParameters SpringParameters::withDuration(double duration, double dampingRatio,
                                                double initialVelocity) {
    const double response = duration > 0 ? duration : 0.001;
    const double omega = 2 * M_PI / response;
    SpringParameters spring;
    spring.mass = 1;
    spring.stiffness = omega * omega;
    spring.damping = 2 * std::max(dampingRatio, 0.0) * omega;
    spring.initialVelocity = initialVelocity;
    return spring;
}

double SpringParameters::dampingRatio() const {
    return damping / (2 * std::sqrt(stiffness * mass));
}

double SpringParameters::valueAt(double t) const {
    if (t <= 0) return 0;
    if (mass <= 0 || stiffness <= 0) return 1;
    const double omega0 = std::sqrt(stiffness / mass);
    const double zeta = dampingRatio();
    const double v0 = initialVelocity;
    // Distance to the target d(t), with d(0) = -1 and d'(0) = v0.
    double d;
    if (std::abs(zeta - 1) < 1e-9) {
        d = std::exp(-omega0 * t) * (-1 + (v0 - omega0) * t);
    } else if (zeta < 1) {
        const double omegaD = omega0 * std::sqrt(1 - zeta * zeta);
        const double b = (v0 - zeta * omega0) / omegaD;
        d = std::exp(-zeta * omega0 * t) * (-std::cos(omegaD * t) + b * std::sin(omegaD * t));
    } else {
        const double root = omega0 * std::sqrt(zeta * zeta - 1);
        const double r1 = -zeta * omega0 + root;
        const double r2 = -zeta * omega0 - root;
        const double c2 = (v0 + r1) / (r2 - r1);
        const double c1 = -1 - c2;
        d = c1 * std::exp(r1 * t) + c2 * std::exp(r2 * t);
    }
    return 1 + d;
}

double SpringParameters::settlingDuration() const {
    constexpr double kStep = 1.0 / 240.0;
    constexpr double kLimit = 60.0;
    constexpr double kThreshold = 0.001;
    double lastOutside = 0;
    // The tail of a damped spring only shrinks, so once it has stayed inside for a full second of
    // samples beyond the slowest oscillation the answer is known.
    for (double t = kStep; t <= kLimit; t += kStep) {
        if (std::abs(valueAt(t) - 1) >= kThreshold) {
            lastOutside = t;
        } else if (t - lastOutside > 1.0 + 2 * M_PI / std::sqrt(std::max(stiffness / mass, 1e-9))) {
            break;
        }
    }
    return std::min(lastOutside + kStep, kLimit);
}

}  // namespace platform
