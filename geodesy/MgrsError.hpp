#pragma once

#include <stdexcept>
#include <string>

namespace tervolo::geodesy {

// Errors of the MGRS initialiser, conversions and parser; each carries its message.
class MgrsError : public std::runtime_error {
  public:
    enum class Case { invalidBand, invalidZone, invalidEasting, invalidNorthing, invalidGrid, invalidFormat };

    MgrsError(Case kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

    Case kind() const { return kind_; }
    std::string message() const { return what(); }

    static MgrsError invalidBand(const std::string& m) { return {Case::invalidBand, m}; }
    static MgrsError invalidZone(const std::string& m) { return {Case::invalidZone, m}; }
    static MgrsError invalidEasting(const std::string& m) { return {Case::invalidEasting, m}; }
    static MgrsError invalidNorthing(const std::string& m) { return {Case::invalidNorthing, m}; }
    static MgrsError invalidGrid(const std::string& m) { return {Case::invalidGrid, m}; }
    static MgrsError invalidFormat(const std::string& m) { return {Case::invalidFormat, m}; }

  private:
    Case kind_;
};

}  // namespace tervolo::geodesy
