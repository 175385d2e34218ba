#pragma once

#include <exception>
#include <string>
#include <vector>

namespace platform {

// A value JSON cannot carry (a NaN or infinite number), with the coding path
// of the member that held it.
class EncodingError : public std::exception {
  public:
    enum class Category { invalidValue };

    EncodingError(std::vector<std::string> codingPath, std::string debugDescription);

    Category category() const { return Category::invalidValue; }
    const std::vector<std::string>& codingPath() const { return codingPath_; }
    const std::string& debugDescription() const { return debugDescription_; }
    const char* what() const noexcept override { return what_.c_str(); }

  private:
    std::vector<std::string> codingPath_;
    std::string debugDescription_;
    std::string what_;
};

}  // namespace platform
