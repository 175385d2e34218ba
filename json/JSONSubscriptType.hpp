#pragma once

#include <concepts>
#include <string>
#include <string_view>

#include "json/JSONKey.hpp"

namespace tervolo::json {

// What a subscript or path element can be: an integer (an array position) or
// a text (a dictionary key). Nothing else converts.
class JSONSubscriptType {
  public:
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>) JSONSubscriptType(T position)
        : key_(JSONKey::index(static_cast<int64_t>(position))) {}
    JSONSubscriptType(const char* text) : key_(JSONKey::key(text)) {}
    JSONSubscriptType(std::string text) : key_(JSONKey::key(std::move(text))) {}
    JSONSubscriptType(std::string_view text) : key_(JSONKey::key(std::string(text))) {}

    const JSONKey& jsonKey() const { return key_; }

  private:
    JSONKey key_;
};

}  // namespace tervolo::json
