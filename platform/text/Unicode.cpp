#include "platform/text/Unicode.hpp"

#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/text/detail/ICU.hpp"

namespace platform::text {

namespace detail {

std::u16string toUTF16(std::string_view text) {
    std::u16string out;
    if (text.empty()) return out;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    // Ill-formed sequences become U+FFFD, as the platform's string reading does.
    u_strFromUTF8WithSub(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr,
                         &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return out;
    out.resize(static_cast<size_t>(length));
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), length, &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD,
                         nullptr, &status);
    if (U_FAILURE(status)) out.clear();
    return out;
}

std::string toUTF8(std::u16string_view text) {
    std::string out;
    if (text.empty()) return out;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8WithSub(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr,
                       &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return out;
    out.resize(static_cast<size_t>(length));
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), length, &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD,
                       nullptr, &status);
    if (U_FAILURE(status)) out.clear();
    return out;
}

void failICU(const char* what, UErrorCode status) {
    // ICU fails here only when its data is missing or memory is exhausted;
    // carrying on would give wrong comparisons silently.
    std::fprintf(stderr, "ICU %s failed: %s\n", what, u_errorName(status));
    std::abort();
}

}  // namespace detail

namespace {

using detail::toUTF16;
using detail::toUTF8;

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

const UNormalizer2* nfcInstance() {
    static const UNormalizer2* instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const UNormalizer2* n = unorm2_getNFCInstance(&status);
        if (U_FAILURE(status)) detail::failICU("NFC instance", status);
        return n;
    }();
    return instance;
}

const UNormalizer2* nfdInstance() {
    static const UNormalizer2* instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const UNormalizer2* n = unorm2_getNFDInstance(&status);
        if (U_FAILURE(status)) detail::failICU("NFD instance", status);
        return n;
    }();
    return instance;
}

std::u16string normalize(const UNormalizer2* normalizer, const std::u16string& text) {
    UErrorCode status = U_ZERO_ERROR;
    if (unorm2_isNormalized(normalizer, text.data(), static_cast<int32_t>(text.size()), &status) &&
        U_SUCCESS(status)) {
        return text;
    }
    status = U_ZERO_ERROR;
    const int32_t length =
        unorm2_normalize(normalizer, text.data(), static_cast<int32_t>(text.size()), nullptr, 0, &status);
    std::u16string out(static_cast<size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    unorm2_normalize(normalizer, text.data(), static_cast<int32_t>(text.size()), out.data(), length, &status);
    if (U_FAILURE(status)) detail::failICU("normalization", status);
    return out;
}

// Full case mapping or folding through one of ICU's u_strTo*/u_strFoldCase
// entry points, which share the preflight protocol.
template <class Map>
std::u16string mapCase(const std::u16string& text, Map map) {
    if (text.empty()) return text;
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = map(nullptr, 0, text.data(), static_cast<int32_t>(text.size()), &status);
    std::u16string out(static_cast<size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    map(out.data(), length, text.data(), static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status)) detail::failICU("case mapping", status);
    return out;
}

std::u16string toUpper16(const std::u16string& text) {
    // "" is ICU's root locale: no Turkish or Lithuanian special cases.
    return mapCase(text, [](UChar* d, int32_t c, const UChar* s, int32_t n, UErrorCode* e) {
        return u_strToUpper(d, c, s, n, "", e);
    });
}

std::u16string toLower16(const std::u16string& text) {
    return mapCase(text, [](UChar* d, int32_t c, const UChar* s, int32_t n, UErrorCode* e) {
        return u_strToLower(d, c, s, n, "", e);
    });
}

std::u16string fold16(const std::u16string& text) {
    return mapCase(text, [](UChar* d, int32_t c, const UChar* s, int32_t n, UErrorCode* e) {
        return u_strFoldCase(d, c, s, n, U_FOLD_CASE_DEFAULT, e);
    });
}

// A character (grapheme cluster) break iterator per thread: opening one loads
// rules, so it is kept and only re-pointed at new text.
struct BreakIteratorCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};

UBreakIterator* graphemeIterator(std::u16string_view text) {
    thread_local std::unique_ptr<UBreakIterator, BreakIteratorCloser> iterator;
    UErrorCode status = U_ZERO_ERROR;
    if (!iterator) {
        iterator.reset(ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
        if (U_FAILURE(status)) detail::failICU("break iterator", status);
    }
    status = U_ZERO_ERROR;
    ubrk_setText(iterator.get(), text.data(), static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status)) detail::failICU("break iterator text", status);
    return iterator.get();
}

// The comparison form of containsCaseInsensitive: decomposed, case folded,
// composed again (folding can undo composition, as with "ǅ" or "ΐ").
std::u16string foldedNFC(std::string_view text) {
    return normalize(nfcInstance(), fold16(normalize(nfdInstance(), toUTF16(text))));
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace

// True when the text is well-formed UTF-8 already in NFC, checked on the
// UTF-8 bytes without conversion (most titles are), so callers can use it as
// it stands.
static bool isNFCAsIs(std::string_view text) {
    if (isASCII(text)) return true;
    if (!isValidUTF8(text)) return false;
    static const icu::Normalizer2* normalizer = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
        if (U_FAILURE(status)) detail::failICU("NFC instance", status);
        return n;
    }();
    UErrorCode status = U_ZERO_ERROR;
    const bool normalized = normalizer->isNormalizedUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), status);
    return U_SUCCESS(status) && normalized;
}

std::string nfc(std::string_view text) {
    if (isNFCAsIs(text)) return std::string(text);
    return toUTF8(normalize(nfcInstance(), toUTF16(text)));
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    return compareCodePoints(a, b) == 0;
}

int compareCodePoints(std::string_view a, std::string_view b) {
    // UTF-8 byte order is code point order; std::string_view compares bytes as
    // unsigned char. Texts already in NFC are compared without copies.
    const int c = (isNFCAsIs(a) && isNFCAsIs(b)) ? a.compare(b) : nfc(a).compare(nfc(b));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string lowercased(std::string_view text) {
    if (isASCII(text)) {
        std::string out(text);
        for (char& c : out) c = asciiLower(c);
        return out;
    }
    return toUTF8(toLower16(toUTF16(text)));
}

std::string uppercased(std::string_view text) {
    if (isASCII(text)) {
        std::string out(text);
        for (char& c : out) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
        }
        return out;
    }
    return toUTF8(toUpper16(toUTF16(text)));
}

std::string capitalizedFirstGrapheme(std::string_view text) {
    if (text.empty()) return std::string();
    const std::u16string text16 = toUTF16(text);
    UBreakIterator* iterator = graphemeIterator(text16);
    ubrk_first(iterator);
    int32_t end = ubrk_next(iterator);
    if (end == UBRK_DONE) end = static_cast<int32_t>(text16.size());
    std::u16string out = toUpper16(text16.substr(0, static_cast<size_t>(end)));
    out.append(text16, static_cast<size_t>(end), std::u16string::npos);
    return toUTF8(out);
}

std::string firstGraphemeCluster(std::string_view text) {
    if (text.empty()) return std::string();
    // A single ASCII character followed by another ASCII character is a whole cluster (CR LF aside).
    if (static_cast<unsigned char>(text[0]) < 0x80 && text[0] != '\r' &&
        (text.size() == 1 || static_cast<unsigned char>(text[1]) < 0x80))
        return std::string(text.substr(0, 1));
    const std::u16string text16 = toUTF16(text);
    UBreakIterator* iterator = graphemeIterator(text16);
    ubrk_first(iterator);
    int32_t end = ubrk_next(iterator);
    if (end == UBRK_DONE) end = static_cast<int32_t>(text16.size());
    return toUTF8(text16.substr(0, static_cast<size_t>(end)));
}

namespace {

// Containment of two texts in their comparison form (foldedNFC); the needle
// is UTF-16 units or, when it is ASCII, its lower-cased bytes (which are its
// comparison form unit for unit, so they need no widening).
template <class Needle>
bool containsFolded(std::u16string_view h, Needle n) {
    if (n.empty()) return true;
    const auto find = [&](size_t from) -> size_t {
        const auto it =
            std::search(h.begin() + static_cast<std::ptrdiff_t>(from), h.end(), n.begin(), n.end(),
                        [](char16_t unit, auto wanted) { return unit == static_cast<char16_t>(wanted); });
        return it == h.end() ? std::u16string_view::npos : static_cast<size_t>(it - h.begin());
    };
    size_t position = find(0);
    if (position == std::u16string_view::npos) return false;
    // A match must cover whole grapheme clusters: "e" is not in "e\u0323\u0301"
    // any more than it is in "é".
    UBreakIterator* iterator = graphemeIterator(h);
    while (position != std::u16string_view::npos) {
        const auto start = static_cast<int32_t>(position);
        const auto end = static_cast<int32_t>(position + n.size());
        if (ubrk_isBoundary(iterator, start) && ubrk_isBoundary(iterator, end)) return true;
        position = find(position + 1);
    }
    return false;
}

// Lower-cased ASCII bytes as UTF-16 units, in a buffer of the thread's that
// is reused (the folded NFC form of ASCII text is the text lower-cased).
std::u16string_view widened(std::string_view ascii, std::u16string& buffer) {
    buffer.assign(ascii.begin(), ascii.end());
    return buffer;
}

}  // namespace

bool containsCaseInsensitive(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) return true;
    if (isASCII(haystack) && isASCII(needle)) {
        // ASCII text has no combining marks and folds one-to-one, so a plain
        // search on lower-cased bytes gives the same answer, much faster.
        const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                                    [](char x, char y) { return asciiLower(x) == asciiLower(y); });
        return it != haystack.end();
    }
    return containsFolded(std::u16string_view(foldedNFC(haystack)), std::u16string_view(foldedNFC(needle)));
}

FoldedText::FoldedText(std::string_view text) {
    if (isASCII(text)) {
        std::string lowered(text);
        for (char& c : lowered) c = asciiLower(c);
        form_ = std::move(lowered);
    } else {
        form_ = foldedNFC(text);
    }
}

bool FoldedText::contains(const FoldedText& needle) const {
    const auto* asciiNeedle = std::get_if<std::string>(&needle.form_);
    if (asciiNeedle && asciiNeedle->empty()) return true;  // the empty text
    if (const auto* folded = std::get_if<std::u16string>(&form_)) {
        if (asciiNeedle) return containsFolded(std::u16string_view(*folded), std::string_view(*asciiNeedle));
        return containsFolded(std::u16string_view(*folded),
                              std::u16string_view(std::get<std::u16string>(needle.form_)));
    }
    const std::string& lowered = std::get<std::string>(form_);
    if (asciiNeedle) return std::string_view(lowered).find(*asciiNeedle) != std::string_view::npos;
    // Folding never yields non-ASCII from ASCII, so a needle whose form has
    // any other unit cannot occur here; the rest (a Kelvin sign, a long s, a
    // capital sharp s) is searched for in full.
    const std::u16string& foldedNeedle = std::get<std::u16string>(needle.form_);
    if (!std::all_of(foldedNeedle.begin(), foldedNeedle.end(), [](char16_t c) { return c < 0x80; }))
        return false;
    thread_local std::u16string buffer;
    return containsFolded(widened(lowered, buffer), std::u16string_view(foldedNeedle));
}

std::string trimmed(std::string_view text) {
    const auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c = 0;
        U8_NEXT(text.data(), next, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c = 0;
        U8_PREV(text.data(), start, previous, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        end = previous;
    }
    return std::string(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

size_t utf16Length(std::string_view text) {
    const auto length = static_cast<int32_t>(text.size());
    size_t units = 0;
    int32_t i = 0;
    while (i < length) {
        UChar32 c = 0;
        U8_NEXT(text.data(), i, length, c);
        units += (c > 0xFFFF) ? 2 : 1;  // an ill-formed sequence reads as one U+FFFD
    }
    return units;
}

std::string truncatedUTF8(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    size_t cut = maxBytes;
    // Back over continuation bytes (10xxxxxx) to the start of the sequence the
    // cut would split; a sequence is at most four bytes long.
    for (int steps = 0; steps < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;
         ++steps) {
        --cut;
    }
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        cut = maxBytes;  // ill-formed run: no sequence
    return std::string(text.substr(0, cut));
}

bool isValidUTF8(std::string_view text) {
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c = 0;
        U8_NEXT(text.data(), i, length, c);
        if (c < 0) return false;
    }
    return true;
}

void appendUTF8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace platform::text
