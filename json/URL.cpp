#include "json/URL.hpp"

#include <cctype>
#include <cstring>

namespace tervolo::json {

namespace {

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// unreserved, gen-delims and sub-delims of RFC 3986
bool isURIChar(char c) {
    if (std::isalnum(static_cast<unsigned char>(c))) return true;
    return c != '\0' && std::strchr("-._~:/?#[]@!$&'()*+,;=", c) != nullptr;
}

}  // namespace

std::optional<URL> URL::fromString(std::string_view text) {
    if (text.empty()) return std::nullopt;
    size_t hashes = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
            i += 2;
            continue;
        }
        if (!isURIChar(c)) return std::nullopt;
        if (c == '#' && ++hashes > 1) return std::nullopt;
    }
    // A scheme, when the text has one, starts with a letter and holds only
    // letters, digits, "+", "-" and ".".
    size_t colon = text.find(':');
    size_t firstDelimiter = text.find_first_of("/?#");
    if (colon != std::string_view::npos && colon < firstDelimiter) {
        if (colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) return std::nullopt;
        for (size_t i = 1; i < colon; ++i) {
            char c = text[i];
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
                return std::nullopt;
        }
    }
    return URL(std::string(text));
}

}  // namespace tervolo::json
