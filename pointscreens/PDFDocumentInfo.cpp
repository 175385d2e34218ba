#include "pointscreens/PDFDocumentInfo.hpp"

#include <charconv>
#include <cstdio>
#include <optional>
#include <utility>

#include "platform/text/Unicode.hpp"

namespace tervolo::pointscreens {

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

bool isWhite(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool isDelimiter(char c) {
    return isWhite(c) || c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
           c == '}' || c == '/' || c == '%';
}

void skipWhite(std::string_view s, size_t& pos) {
    while (pos < s.size()) {
        if (isWhite(s[pos])) {
            ++pos;
        } else if (s[pos] == '%') {
            while (pos < s.size() && s[pos] != '\n' && s[pos] != '\r') ++pos;
        } else {
            break;
        }
    }
}

std::optional<long long> readInteger(std::string_view s, size_t& pos) {
    long long value = 0;
    const auto [end, error] = std::from_chars(s.data() + pos, s.data() + s.size(), value);
    if (error != std::errc() || end == s.data() + pos) return std::nullopt;
    pos = static_cast<size_t>(end - s.data());
    return value;
}

bool skipValue(std::string_view s, size_t& pos, int depth);

// A dictionary at s[pos] == '<'; its entries as (key without "/", raw value).
bool readDictionary(std::string_view s, size_t& pos, Entries* entries, int depth) {
    if (depth > 32 || s.substr(pos, 2) != "<<") return false;
    pos += 2;
    for (;;) {
        skipWhite(s, pos);
        if (pos >= s.size()) return false;
        if (s.substr(pos, 2) == ">>") {
            pos += 2;
            return true;
        }
        if (s[pos] != '/') return false;
        const size_t keyStart = ++pos;
        while (pos < s.size() && !isDelimiter(s[pos])) ++pos;
        std::string key(s.substr(keyStart, pos - keyStart));
        skipWhite(s, pos);
        const size_t valueStart = pos;
        if (!skipValue(s, pos, depth + 1)) return false;
        if (entries)
            entries->emplace_back(std::move(key), std::string(s.substr(valueStart, pos - valueStart)));
    }
}

bool skipValue(std::string_view s, size_t& pos, int depth) {
    if (depth > 32 || pos >= s.size()) return false;
    const char c = s[pos];
    if (c == '<' && s.substr(pos, 2) == "<<") return readDictionary(s, pos, nullptr, depth);
    if (c == '<') {
        const size_t end = s.find('>', pos);
        if (end == std::string_view::npos) return false;
        pos = end + 1;
        return true;
    }
    if (c == '(') {
        int nesting = 0;
        for (; pos < s.size(); ++pos) {
            if (s[pos] == '\\') {
                ++pos;
            } else if (s[pos] == '(') {
                ++nesting;
            } else if (s[pos] == ')' && --nesting == 0) {
                ++pos;
                return true;
            }
        }
        return false;
    }
    if (c == '[') {
        ++pos;
        for (;;) {
            skipWhite(s, pos);
            if (pos >= s.size()) return false;
            if (s[pos] == ']') {
                ++pos;
                return true;
            }
            if (!skipValue(s, pos, depth + 1)) return false;
        }
    }
    if (c == '/') ++pos;
    const size_t start = pos;
    while (pos < s.size() && !isDelimiter(s[pos])) ++pos;
    if (pos == start && c != '/') return false;
    // "12 0 R" is one value: an integer followed by an integer and "R".
    size_t look = start;
    if (readInteger(s, look) && look == pos) {
        size_t next = pos;
        skipWhite(s, next);
        if (readInteger(s, next)) {
            skipWhite(s, next);
            if (next < s.size() && s[next] == 'R' && (next + 1 == s.size() || isDelimiter(s[next + 1]))) {
                pos = next + 1;
            }
        }
    }
    return true;
}

std::optional<std::string> entry(const Entries& entries, std::string_view key) {
    for (const auto& [name, value] : entries) {
        if (name == key) return value;
    }
    return std::nullopt;
}

// The byte offset of object `number` in the cross-reference table at `xref`.
std::optional<size_t> objectOffset(std::string_view s, size_t xref, long long number) {
    size_t pos = xref;
    if (s.substr(pos, 4) != "xref") return std::nullopt;
    pos += 4;
    for (;;) {
        skipWhite(s, pos);
        const auto first = readInteger(s, pos);
        skipWhite(s, pos);
        const auto count = readInteger(s, pos);
        if (!first || !count || *count < 0) return std::nullopt;
        skipWhite(s, pos);
        if (number >= *first && number < *first + *count) {
            size_t at = pos + static_cast<size_t>(number - *first) * 20;
            const auto offset = readInteger(s, at);
            if (!offset || *offset < 0 || static_cast<size_t>(*offset) >= s.size()) return std::nullopt;
            return static_cast<size_t>(*offset);
        }
        pos += static_cast<size_t>(*count) * 20;
        if (pos >= s.size()) return std::nullopt;
    }
}

// The entries of the Info dictionary `reference` ("n g R") names.
Entries oldInfo(std::string_view s, size_t xref, const std::string& reference) {
    size_t pos = 0;
    const auto number = readInteger(reference, pos);
    if (!number) return {};
    const auto offset = objectOffset(s, xref, *number);
    if (!offset) return {};
    pos = *offset;
    const size_t obj = s.find("obj", pos);
    if (obj == std::string_view::npos || obj > pos + 32) return {};
    pos = obj + 3;
    skipWhite(s, pos);
    Entries entries;
    if (!readDictionary(s, pos, &entries, 0)) return {};
    return entries;
}

}  // namespace

std::string PDFDocumentInfo::pdfString(std::string_view utf8) {
    bool plain = true;
    for (char c : utf8) {
        if (c < 0x20 || c > 0x7E) {
            plain = false;
            break;
        }
    }
    if (plain) {
        std::string out = "(";
        for (char c : utf8) {
            if (c == '(' || c == ')' || c == '\\') out += '\\';
            out += c;
        }
        return out + ")";
    }
    std::string out = "<FEFF";
    char hex[8];
    const auto unit = [&](unsigned value) {
        std::snprintf(hex, sizeof hex, "%04X", value);
        out += hex;
    };
    for (size_t i = 0; i < utf8.size();) {
        const auto read = platform::text::nextCodePoint(utf8, i);
        i += read.length;
        const char32_t cp = read.codePoint;
        if (cp > 0xFFFF) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(static_cast<unsigned>(cp));
        }
    }
    return out + ">";
}

std::vector<uint8_t> PDFDocumentInfo::appendedTo(std::vector<uint8_t> pdf) const {
    const std::string_view s(reinterpret_cast<const char*>(pdf.data()), pdf.size());
    const size_t startxref = s.rfind("startxref");
    if (startxref == std::string_view::npos) return pdf;
    size_t pos = startxref + 9;
    skipWhite(s, pos);
    const auto previous = readInteger(s, pos);
    if (!previous || *previous < 0 || static_cast<size_t>(*previous) >= s.size()) return pdf;
    const size_t trailer = s.rfind("trailer", startxref);
    if (trailer == std::string_view::npos) return pdf;
    pos = trailer + 7;
    skipWhite(s, pos);
    Entries trailerEntries;
    if (!readDictionary(s, pos, &trailerEntries, 0)) return pdf;
    const auto sizeText = entry(trailerEntries, "Size");
    const auto root = entry(trailerEntries, "Root");
    if (!sizeText || !root) return pdf;
    size_t at = 0;
    const auto size = readInteger(*sizeText, at);
    if (!size || *size <= 0) return pdf;

    Entries info;
    if (const auto reference = entry(trailerEntries, "Info")) {
        info = oldInfo(s, static_cast<size_t>(*previous), *reference);
    }

    std::string update;
    if (!s.empty() && s.back() != '\n' && s.back() != '\r') update += '\n';
    const long long number = *size;
    const size_t objectOffset = pdf.size() + update.size();
    update += std::to_string(number) + " 0 obj\n<<\n";
    update += "/Title " + pdfString(title) + "\n";
    update += "/Creator " + pdfString(creator) + "\n";
    update += "/Author " + pdfString(author) + "\n";
    for (const auto& [key, value] : info) {
        if (key == "Title" || key == "Creator" || key == "Author") continue;
        update += "/" + key + " " + value + "\n";
    }
    update += ">>\nendobj\n";
    const size_t xrefOffset = pdf.size() + update.size();
    char line[32];
    update += "xref\n0 1\n0000000000 65535 f \n" + std::to_string(number) + " 1\n";
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", objectOffset);
    update += line;
    update += "trailer\n<<\n/Size " + std::to_string(number + 1) + "\n/Root " + *root + "\n/Info " +
              std::to_string(number) + " 0 R\n/Prev " + std::to_string(*previous) + "\n";
    if (const auto id = entry(trailerEntries, "ID")) update += "/ID " + *id + "\n";
    update += ">>\nstartxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
    pdf.insert(pdf.end(), update.begin(), update.end());
    return pdf;
}

}  // namespace tervolo::pointscreens
