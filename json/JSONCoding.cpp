// Encoding into and decoding from single-value containers.
#include <cmath>
#include <limits>

#include "json/JSON.hpp"

namespace tervolo::json {

namespace {

// Converting to the integer type and back gives the same number.
bool isExactInt64(const Number& n) {
    if (!n.isFloatingPoint()) return !n.isUnsignedInteger() || n.unsignedLongLongValue() <= INT64_MAX;
    double d = n.doubleValue();
    return std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0;
}

bool isExactUInt64(const Number& n) {
    if (!n.isFloatingPoint()) return n.isUnsignedInteger() || n.longLongValue() >= 0;
    double d = n.doubleValue();
    return std::isfinite(d) && d == std::trunc(d) && d >= 0 && d < 18446744073709551616.0;
}

template <typename T>
bool attempt(SingleValueDecodingContainer& container, T& out) {
    try {
        container.decode(out);
        return true;
    } catch (...) {
        return false;  // this type is refused; the next one is tried
    }
}

}  // namespace

void JSON::encode(Encoder& encoder) const {
    auto container = encoder.singleValueContainer();
    switch (type_) {
        case Type::null:
        case Type::unknown:
            container->encodeNil();
            return;
        case Type::boolValue:
            container->encode(boolCell());
            return;
        case Type::string:
            container->encode(text());
            return;
        case Type::array:
            container->encode(arrayValue());
            return;
        case Type::dictionary:
            container->encode(dictionaryValue());
            return;
        case Type::number:
            // The first row that holds: the platform word (rows 2 to 4 never
            // take a value it refused), the unsigned word (likewise rows 6 to
            // 9), then a double. -0.0 is exactly the integer 0.
            if (isExactInt64(numberCell())) {
                container->encode(numberCell().isFloatingPoint()
                                      ? static_cast<int64_t>(numberCell().doubleValue())
                                      : numberCell().longLongValue());
            } else if (isExactUInt64(numberCell())) {
                container->encode(numberCell().isFloatingPoint()
                                      ? static_cast<uint64_t>(numberCell().doubleValue())
                                      : numberCell().unsignedLongLongValue());
            } else {
                container->encode(numberCell().doubleValue());
            }
            return;
    }
}

namespace {

// The first item of the decoding table that decodes, or the null marker.
Any decodedItem(Decoder& decoder) {
    std::unique_ptr<SingleValueDecodingContainer> container;
    try {
        container = decoder.singleValueContainer();
        if (!container || container->decodeNil()) return Any();
    } catch (...) {
        return Any();
    }
    SingleValueDecodingContainer& c = *container;
    // The signed and unsigned platform words are the same C++ types as the
    // 64-bit integers of the table and are tried once, in the words' place.
    if (bool b; attempt(c, b)) return Any(b);
    if (int64_t i; attempt(c, i)) return Any(Number::fromInt64(i));
    if (int8_t i; attempt(c, i)) return Any(Number::fromInt8(i));
    if (int32_t i; attempt(c, i)) return Any(Number::fromInt32(i));
    if (uint64_t u; attempt(c, u)) return Any(Number::fromUInt64(u));
    if (uint8_t u; attempt(c, u)) return Any(Number::fromUInt8(u));
    if (uint16_t u; attempt(c, u)) return Any(Number::fromUInt16(u));
    if (uint32_t u; attempt(c, u)) return Any(Number::fromUInt32(u));
    if (double d; attempt(c, d)) return Any(d);
    if (std::string s; attempt(c, s)) return Any(std::move(s));
    if (std::vector<JSON> values; attempt(c, values)) {
        Array items;
        items.reserve(values.size());
        for (const JSON& value : values) items.push_back(value.object());
        return Any(std::move(items));
    }
    if (std::map<std::string, JSON> values; attempt(c, values)) {
        Dictionary entries;
        for (const auto& [key, value] : values) entries.emplace_hint(entries.end(), key, value.object());
        return Any(std::move(entries));
    }
    return Any();
}

}  // namespace

JSON::JSON(Decoder& decoder) {
    setObject(decodedItem(decoder));
}

}  // namespace tervolo::json
