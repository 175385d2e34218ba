#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace tervolo::json {

// One step of a subscript path: a position in an array or a key of a dictionary.
class JSONKey {
  public:
    enum class Kind { index, key };

    static JSONKey index(int64_t position) { return JSONKey(position); }
    static JSONKey key(std::string text) { return JSONKey(std::move(text)); }

    Kind kind() const { return value_.index() == 0 ? Kind::index : Kind::key; }
    int64_t indexValue() const { return std::get<0>(value_); }
    const std::string& keyValue() const { return std::get<1>(value_); }
    bool operator==(const JSONKey&) const = default;

  private:
    explicit JSONKey(int64_t position) : value_(position) {}
    explicit JSONKey(std::string text) : value_(std::move(text)) {}
    std::variant<int64_t, std::string> value_;
};

}  // namespace tervolo::json
