#include "platform/text/LogText.hpp"

#include <cstdio>

#include "platform/text/Unicode.hpp"

namespace platform::text {

namespace {

// The escaped form of one character (or of one stray byte), appended to `out`.
void appendLogEscaped(std::string& out, std::string_view text, const CodePointRead& read, size_t index) {
    char escape[16];
    if (!read.valid) {
        std::snprintf(escape, sizeof escape, "\\x{%X}",
                      static_cast<unsigned>(static_cast<unsigned char>(text[index])));
        out += escape;
        return;
    }
    switch (read.codePoint) {
        case U'"':
            out += "\\\"";
            return;
        case U'\\':
            out += "\\\\";
            return;
        case U'\n':
            out += "\\n";
            return;
        case U'\r':
            out += "\\r";
            return;
        case U'\t':
            out += "\\t";
            return;
        case U'\0':
            out += "\\0";
            return;
        default:
            break;
    }
    const char32_t c = read.codePoint;
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
        std::snprintf(escape, sizeof escape, "\\u{%X}", static_cast<unsigned>(c));
        out += escape;
        return;
    }
    out.append(text.substr(index, read.length));
}

}  // namespace

std::string logQuoted(std::string_view text, size_t limit) {
    std::string out;
    out.reserve((text.size() < limit ? text.size() : limit) + 2);
    out += '"';
    std::string piece;
    for (size_t index = 0; index < text.size();) {
        const CodePointRead read = nextCodePoint(text, index);
        piece.clear();
        appendLogEscaped(piece, text, read, index);
        // The quotes are not counted: the limit is the text's share.
        if (out.size() - 1 + piece.size() > limit) {
            out += "\"… (";
            out += std::to_string(text.size());
            out += " bytes)";
            return out;
        }
        out += piece;
        index += read.length;
    }
    out += '"';
    return out;
}

}  // namespace platform::text
