#pragma once

#include <stdexcept>
#include <string>

namespace tervolo::points {

// Thrown by the strict decoders of point and tag files. `category` says what
// kind of failure it was, `codingPath` names the member that failed
// ("coordinate[1]", "tags[3]", "" for the whole document).
class DecodingError : public std::runtime_error {
  public:
    enum class Category { dataCorrupted, keyNotFound, valueNotFound, typeMismatch };

    DecodingError(Category category, std::string codingPath, const std::string& message)
        : std::runtime_error(message), category_(category), codingPath_(std::move(codingPath)) {}

    Category category() const { return category_; }
    const std::string& codingPath() const { return codingPath_; }

  private:
    Category category_;
    std::string codingPath_;
};

// Thrown when a record cannot be represented as JSON text: a number that is
// not finite (JSON has no form for it) or a text that is not valid UTF-8.
class EncodingError : public std::runtime_error {
  public:
    EncodingError(std::string codingPath, const std::string& message)
        : std::runtime_error(message), codingPath_(std::move(codingPath)) {}

    const std::string& codingPath() const { return codingPath_; }

  private:
    std::string codingPath_;
};

}  // namespace tervolo::points
