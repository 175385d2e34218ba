#pragma once

#include <optional>

namespace tervolo::points {

// A small shared accessor of one typed value of the standard user defaults.
class QuovaUserDefaults {
  public:
    // Made on first use, when it prints "Initializing shared QuovaUserDefaults."
    // to standard output and "Accessing shared instance of QuovaUserDefaults"
    // to the diagnostic log, once per run. Never destroyed.
    static QuovaUserDefaults& shared();

    // The radius in metres of the circle around the user's own position, from
    // the key "userLocationRadius": an integer or floating-point number that a
    // double holds exactly; none when absent or of any other type (a text, a
    // date, a list, and also a boolean or an integer beyond 2^53).
    std::optional<double> userLocationRadius() const;
    // Stores `radius` (metres; 0 for no circle) as a floating-point number
    // under "userLocationRadius", also when it equals the stored value.
    void setUserLocationRadius(double radius);

    QuovaUserDefaults(const QuovaUserDefaults&) = delete;
    QuovaUserDefaults& operator=(const QuovaUserDefaults&) = delete;

  private:
    QuovaUserDefaults() = default;
};

}  // namespace tervolo::points
