#pragma once

#include <exception>
#include <string>
#include <vector>

namespace platform {

// Why a strict JSON record decode failed, where, and a description for people.
//
// The coding path lists the keys from the top down to the value at fault; an
// array element appears as "Index <n>". For keyNotFound it is the path of the
// object the key is missing from.
class DecodingError : public std::exception {
  public:
    enum class Category { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    DecodingError(Category category, std::string subject, std::vector<std::string> codingPath,
                  std::string debugDescription);

    Category category() const { return category_; }
    // typeMismatch and valueNotFound: the expected type ("String", "Int", "Bool",
    // "Double", "Date", "Array<String>", a record's name); keyNotFound: the key;
    // dataCorrupted: empty.
    const std::string& typeName() const { return subject_; }
    const std::string& key() const { return subject_; }
    const std::vector<std::string>& codingPath() const { return codingPath_; }
    const std::string& debugDescription() const { return debugDescription_; }

    // ["a", "Index 0", "b"]
    std::string codingPathDescription() const;

    // The diagnostic text for standard output, ending with a newline:
    //   Type 'String' mismatch: <debug description>
    //   codingPath: <path>
    // with "Value 'T' not found:" and "Key 'k' not found:" for the next two
    // categories, and for corrupt data the context:
    //   Context(codingPath: <path>, debugDescription: "<debug description>")
    std::string diagnostic() const;

    const char* what() const noexcept override { return what_.c_str(); }

  private:
    Category category_;
    std::string subject_;
    std::vector<std::string> codingPath_;
    std::string debugDescription_;
    std::string what_;
};

}  // namespace platform
