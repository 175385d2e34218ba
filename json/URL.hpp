#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tervolo::json {

// A URL reference (absolute or relative) as RFC 3986 writes it.
class URL {
  public:
    // Absent when the text is empty or not a well-formed URI reference
    // (a character outside the URI set, a malformed percent escape or scheme).
    static std::optional<URL> fromString(std::string_view text);

    const std::string& absoluteString() const { return text_; }
    bool operator==(const URL&) const = default;

  private:
    explicit URL(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

}  // namespace tervolo::json
