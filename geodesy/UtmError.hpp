#pragma once

#include <stdexcept>
#include <string>

namespace tervolo::geodesy {

// Errors of the UTM initialiser, conversion and parsers; each carries its message.
class UtmError : public std::runtime_error {
  public:
    enum class Case { badLatLon, badString, invalidEasting, invalidNorthing, invalidZone };

    UtmError(Case kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

    Case kind() const { return kind_; }
    std::string message() const { return what(); }

    static UtmError badLatLon(const std::string& m) { return {Case::badLatLon, m}; }
    static UtmError badString(const std::string& m) { return {Case::badString, m}; }
    static UtmError invalidEasting(const std::string& m) { return {Case::invalidEasting, m}; }
    static UtmError invalidNorthing(const std::string& m) { return {Case::invalidNorthing, m}; }
    static UtmError invalidZone(const std::string& m) { return {Case::invalidZone, m}; }

  private:
    Case kind_;
};

}  // namespace tervolo::geodesy
