#include "platform/net/HTTPURLResponse.hpp"

#include <cctype>
#include <cstdlib>

namespace platform {

std::optional<std::string> HTTPURLResponse::value(const std::string& field) const {
    auto it = allHeaderFields_.find(field);
    if (it == allHeaderFields_.end()) return std::nullopt;
    return it->second;
}

int64_t HTTPURLResponse::expectedContentLength() const {
    auto length = value("Content-Length");
    if (!length || length->empty()) return -1;
    char* end = nullptr;
    long long parsed = std::strtoll(length->c_str(), &end, 10);
    if (*end != '\0' || parsed < 0) return -1;
    return parsed;
}

std::optional<std::string> HTTPURLResponse::mimeType() const {
    auto type = value("Content-Type");
    if (!type) return std::nullopt;
    std::string mime = type->substr(0, type->find(';'));
    while (!mime.empty() && std::isspace(static_cast<unsigned char>(mime.back()))) mime.pop_back();
    for (char& c : mime) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return mime;
}

std::string HTTPURLResponse::description() const {
    std::string text = "{ URL: " + url_ + " } { Status Code: " + std::to_string(statusCode_) + ", Headers {";
    bool first = true;
    for (const auto& [name, value] : allHeaderFields_) {
        text += first ? " " : ", ";
        text += "\"" + name + "\": \"" + value + "\"";
        first = false;
    }
    text += first ? "} }" : " } }";
    return text;
}

}  // namespace platform
