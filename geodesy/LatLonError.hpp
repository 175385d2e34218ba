#pragma once

#include <stdexcept>
#include <string>

namespace tervolo::geodesy {

// Thrown by LatLon::parseLatLon.
class LatLonError : public std::runtime_error {
  public:
    enum class Case { parseError };

    LatLonError(Case kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    static LatLonError parseError(const std::string& message) { return {Case::parseError, message}; }

    Case kind() const { return kind_; }
    std::string message() const { return what(); }

  private:
    Case kind_;
};

}  // namespace tervolo::geodesy
