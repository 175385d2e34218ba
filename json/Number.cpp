#include "json/Number.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace tervolo::json {

namespace {

template <typename T>
T saturate(double d) {
    if (std::isnan(d)) return 0;
    // Compare in long double: on x86-64 it holds every 64-bit integer exactly.
    long double x = d;
    if (x <= static_cast<long double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (x >= static_cast<long double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(d);
}

}  // namespace

Number Number::fromBool(bool value) {
    Number n;
    n.kind_ = Kind::boolean;
    n.v_.i = value ? 1 : 0;
    return n;
}

#define TERVOLO_SIGNED_FACTORY(name, type, k) \
    Number Number::name(type value) {         \
        Number n;                             \
        n.kind_ = Kind::k;                    \
        n.v_.i = value;                       \
        return n;                             \
    }
#define TERVOLO_UNSIGNED_FACTORY(name, type, k) \
    Number Number::name(type value) {           \
        Number n;                               \
        n.kind_ = Kind::k;                      \
        n.v_.u = value;                         \
        return n;                               \
    }
TERVOLO_SIGNED_FACTORY(fromInt8, int8_t, int8)
TERVOLO_SIGNED_FACTORY(fromInt16, int16_t, int16)
TERVOLO_SIGNED_FACTORY(fromInt32, int32_t, int32)
TERVOLO_SIGNED_FACTORY(fromInt64, int64_t, int64)
TERVOLO_UNSIGNED_FACTORY(fromUInt8, uint8_t, uint8)
TERVOLO_UNSIGNED_FACTORY(fromUInt16, uint16_t, uint16)
TERVOLO_UNSIGNED_FACTORY(fromUInt32, uint32_t, uint32)
TERVOLO_UNSIGNED_FACTORY(fromUInt64, uint64_t, uint64)
#undef TERVOLO_SIGNED_FACTORY
#undef TERVOLO_UNSIGNED_FACTORY

Number Number::fromFloat(float value) {
    Number n;
    n.kind_ = Kind::float32;
    n.v_.d = value;
    return n;
}

Number Number::fromDouble(double value) {
    Number n;
    n.kind_ = Kind::float64;
    n.v_.d = value;
    return n;
}

const char* Number::objCType() const {
    switch (kind_) {
        case Kind::boolean:
            return "B";
        case Kind::int8:
            return "c";
        case Kind::uint8:
            return "C";
        case Kind::int16:
            return "s";
        case Kind::uint16:
            return "S";
        case Kind::int32:
            return "i";
        case Kind::uint32:
            return "I";
        case Kind::int64:
            return "q";
        case Kind::uint64:
            return "Q";
        case Kind::float32:
            return "f";
        case Kind::float64:
            return "d";
    }
    return "q";
}

bool Number::boolValue() const {
    if (isFloatingPoint()) return v_.d != 0;
    return v_.u != 0;
}

// Integer sources keep their bit pattern in the 64-bit payload (signed ones
// sign-extended), so a plain cast gives the modulo-2^n conversion.
#define TERVOLO_CONVERSION(name, type)                      \
    type Number::name() const {                             \
        if (isFloatingPoint()) return saturate<type>(v_.d); \
        return static_cast<type>(v_.u);                     \
    }
TERVOLO_CONVERSION(charValue, int8_t)
TERVOLO_CONVERSION(unsignedCharValue, uint8_t)
TERVOLO_CONVERSION(shortValue, int16_t)
TERVOLO_CONVERSION(unsignedShortValue, uint16_t)
TERVOLO_CONVERSION(intValue, int32_t)
TERVOLO_CONVERSION(unsignedIntValue, uint32_t)
TERVOLO_CONVERSION(longLongValue, int64_t)
TERVOLO_CONVERSION(unsignedLongLongValue, uint64_t)
#undef TERVOLO_CONVERSION

float Number::floatValue() const {
    return static_cast<float>(doubleValue());
}

std::string Number::stringValue() const {
    char buffer[64];
    std::to_chars_result r{};
    switch (kind_) {
        case Kind::float32:
            r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(v_.d));
            break;
        case Kind::float64:
            r = std::to_chars(buffer, buffer + sizeof buffer, v_.d);
            break;
        case Kind::uint8:
        case Kind::uint16:
        case Kind::uint32:
        case Kind::uint64:
            r = std::to_chars(buffer, buffer + sizeof buffer, v_.u);
            break;
        default:
            r = std::to_chars(buffer, buffer + sizeof buffer, v_.i);
            break;
    }
    return std::string(buffer, r.ptr);
}

Number::Order Number::compare(const Number& other) const {
    auto order = [](auto a, auto b) {
        return a < b ? Order::ascending : (b < a ? Order::descending : Order::same);
    };
    if (!isFloatingPoint() && !other.isFloatingPoint()) {
        __int128 a = isUnsignedInteger() ? static_cast<__int128>(v_.u) : static_cast<__int128>(v_.i);
        __int128 b =
            other.isUnsignedInteger() ? static_cast<__int128>(other.v_.u) : static_cast<__int128>(other.v_.i);
        return order(a, b);
    }
    auto wide = [](const Number& n) -> long double {
        if (n.isFloatingPoint()) return n.v_.d;
        if (n.isUnsignedInteger()) return static_cast<long double>(n.v_.u);
        return static_cast<long double>(n.v_.i);
    };
    long double a = wide(*this), b = wide(other);
    bool an = std::isnan(a), bn = std::isnan(b);
    if (an || bn) return an && bn ? Order::same : (an ? Order::ascending : Order::descending);
    return order(a, b);
}

bool isBooleanNumber(const Number& number) {
    // Made once and kept for the run, as the platform's boolean singletons are.
    static const Number booleanTrueNumber = Number::fromBool(true);
    static const Number booleanFalseNumber = Number::fromBool(false);
    static const std::string booleanTrueTypeCode = booleanTrueNumber.objCType();
    static const std::string booleanFalseTypeCode = booleanFalseNumber.objCType();
    // Only the boolean kind carries the boolean type code: every other number
    // is out at once.
    if (number.kind() != Number::Kind::boolean) return false;
    // The type code is checked first: it is cheaper than the value comparison.
    const char* code = number.objCType();
    if (booleanTrueTypeCode == code && number.compare(booleanTrueNumber) == Number::Order::same) return true;
    if (booleanFalseTypeCode == code && number.compare(booleanFalseNumber) == Number::Order::same)
        return true;
    return false;
}

}  // namespace tervolo::json
