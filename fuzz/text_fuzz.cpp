// The text readers on arbitrary bytes (typed coordinates, received links,
// file contents): every call must finish without a crash and keep its
// promises, which are checked here and trap when broken.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text/Numbers.hpp"
#include "platform/text/UUID.hpp"
#include "platform/text/Unicode.hpp"

namespace text = platform::text;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;  // the readers are linear; longer inputs only slow the search
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    if (const auto value = text::parseDouble(bytes)) {
        if (!std::isfinite(*value)) __builtin_trap();
        if (text::parseDouble(text::describe(*value)) != *value) __builtin_trap();  // round trip
    }
    for (auto syntax : {text::NumberSyntax::Decimal, text::NumberSyntax::CStrtod}) {
        if (const auto prefix = text::parseDoublePrefix(bytes, syntax)) {
            if (prefix->second == 0 || prefix->second > size) __builtin_trap();
            if (syntax == text::NumberSyntax::Decimal && !std::isfinite(prefix->first)) __builtin_trap();
        }
    }
    (void)text::doubleValue(bytes);

    const std::string normal = text::nfc(bytes);
    if (text::nfc(normal) != normal) __builtin_trap();  // idempotent
    if (!text::isValidUTF8(normal)) __builtin_trap();
    const size_t half = size / 2;
    const std::string_view a = bytes.substr(0, half), b = bytes.substr(half);
    if (text::compareCodePoints(a, b) != -text::compareCodePoints(b, a)) __builtin_trap();
    if (text::canonicallyEqual(a, b) != (text::compareCodePoints(a, b) == 0)) __builtin_trap();
    if (!text::containsCaseInsensitive(bytes, std::string_view())) __builtin_trap();
    // The prepared comparison forms must agree with the direct test.
    if (text::FoldedText(a).contains(text::FoldedText(b)) != text::containsCaseInsensitive(a, b))
        __builtin_trap();
    (void)text::lowercased(bytes);
    (void)text::uppercased(bytes);
    (void)text::capitalizedFirstGrapheme(bytes);
    const std::string trimmed = text::trimmed(bytes);
    if (trimmed.size() > size || text::trimmed(trimmed) != trimmed) __builtin_trap();
    (void)text::utf16Length(bytes);
    if (text::isValidUTF8(bytes)) {
        for (size_t limit : {size_t(0), half, size}) {
            if (!text::isValidUTF8(text::truncatedUTF8(bytes, limit))) __builtin_trap();
        }
    }
    if (const auto uuid = platform::UUID::fromString(bytes)) {
        if (platform::UUID::fromString(uuid->uuidString()) != uuid) __builtin_trap();
    }
    return 0;
}
