#pragma once

namespace platform {

// A damped spring from 0 to 1: mass (kg-like units), stiffness and damping coefficients, and the
// initial velocity in whole distances per second (positive moves towards the target).
struct SpringParameters {
    double mass = 1.0;
    double stiffness = 100.0;
    double damping = 10.0;
    double initialVelocity = 0.0;

    // The spring a duration-based spring animation uses: it responds within `duration` seconds with
    // `dampingRatio` (1 = no overshoot, 0.7 = a slight one). `initialVelocity` as above.
    static SpringParameters withDuration(double duration, double dampingRatio, double initialVelocity);
    double dampingRatio() const;
    // Seconds until the distance to the target stays below 0.001 of the whole distance (≤ 60 s).
    double settlingDuration() const;
    // Closed form of the motion: the value (0 at t = 0, tending to 1) at `t` seconds.
    double valueAt(double t) const;
};

}  // namespace platform
