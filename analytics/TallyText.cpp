#include "analytics/TallyText.hpp"

#include <array>

#include <openssl/evp.h>

#include "analytics/TallyCommon.hpp"

namespace tervolo::analytics {

namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";
constexpr char kHexLower[] = "0123456789abcdef";

constexpr std::array<bool, 256> unreservedTable() {
    std::array<bool, 256> table{};
    for (int c = 'a'; c <= 'z'; ++c) table[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) table[c] = true;
    for (int c = '0'; c <= '9'; ++c) table[c] = true;
    table['-'] = table['.'] = table['_'] = table['~'] = true;
    return table;
}
constexpr auto kUnreserved = unreservedTable();

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length in bytes of the well-formed UTF-8 sequence at `i`, 0 when the byte
// there does not start one.
size_t sequenceLength(std::string_view text, size_t i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    char32_t min = 0;
    char32_t cp = 0;
    if (b0 < 0x80) return 1;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        min = 0x80;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        min = 0x800;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        min = 0x10000;
        cp = b0 & 0x07;
    } else
        return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

std::string truncated(std::string_view text, std::string_view name, uint64_t limit) {
    if (tly_utf16Length(text) <= limit) {
        return std::string(text);
    }
    TallyLog(TallyLogLevel::Warning, "{} length is more than the limit ({})! So, it will be truncated: {}.",
             name, limit, text);
    return std::string(tly_prefixOfUTF16Length(text, limit));
}

}  // namespace

void tly_appendURLEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (kUnreserved[byte]) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHexUpper[byte >> 4]);
            out.push_back(kHexUpper[byte & 0x0F]);
        }
    }
}

std::string tly_URLEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    tly_appendURLEscaped(out, text);
    return out;
}

std::string tly_SHA256(std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1 &&
                    EVP_DigestUpdate(context, text.data(), text.size()) == 1 &&
                    EVP_DigestFinal_ex(context, digest.data(), &length) == 1;
    EVP_MD_CTX_free(context);
    std::string hex;
    if (!ok) {
        return hex;
    }
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHexLower[digest[i] >> 4]);
        hex.push_back(kHexLower[digest[i] & 0x0F]);
    }
    return hex;
}

std::vector<uint8_t> tly_dataUTF8(std::string_view text) {
    return {text.begin(), text.end()};
}

std::optional<std::string> tly_stringUTF8(const std::vector<uint8_t>& data) {
    std::string text(data.begin(), data.end());
    for (size_t i = 0; i < text.size();) {
        const size_t n = sequenceLength(text, i);
        if (n == 0) {
            return std::nullopt;
        }
        i += n;
    }
    return text;
}

std::optional<std::string> tly_percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int hi = hexValue(text[i + 1]);
        const int lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

std::optional<std::string> tly_valueForQueryStringKey(std::string_view query, std::string_view key) {
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        const std::string_view item = query.substr(start, end - start);
        const size_t equals = item.find('=');
        const auto name = tly_percentDecoded(item.substr(0, equals));
        if (name && *name == key) {
            if (equals == std::string_view::npos) {
                return std::nullopt;
            }
            return tly_percentDecoded(item.substr(equals + 1));
        }
        start = end + 1;
    }
    return std::nullopt;
}

size_t tly_utf16Length(std::string_view text) {
    size_t units = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t n = sequenceLength(text, i);
        units += n == 4 ? 2 : 1;
        i += n == 0 ? 1 : n;
    }
    return units;
}

std::string_view tly_prefixOfUTF16Length(std::string_view text, size_t maxUnits) {
    size_t units = 0;
    size_t i = 0;
    while (i < text.size()) {
        const size_t n = sequenceLength(text, i);
        const size_t width = n == 4 ? 2 : 1;
        if (units + width > maxUnits) {
            break;
        }
        units += width;
        i += n == 0 ? 1 : n;
    }
    return text.substr(0, i);
}

std::string tly_truncatedKey(std::string_view text, std::string_view name) {
    return truncated(text, name, TallyCommon::sharedInstance().maxKeyLength());
}

std::string tly_truncatedValue(std::string_view text, std::string_view name) {
    return truncated(text, name, TallyCommon::sharedInstance().maxValueLength());
}

}  // namespace tervolo::analytics
