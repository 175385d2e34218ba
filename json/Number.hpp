#pragma once

#include <cstdint>
#include <string>

namespace tervolo::json {

// A boxed number that remembers how it was made: a boolean, an integer of a
// given width and signedness, or a floating value. The type code tells these
// apart the way the platform's number objects do, with one deliberate
// difference: a number made from a boolean has its own code ("B"), so an
// 8-bit integer 1 is never mistaken for true.
class Number {
  public:
    enum class Kind : uint8_t {
        boolean,
        int8,
        uint8,
        int16,
        uint16,
        int32,
        uint32,
        int64,
        uint64,
        float32,
        float64
    };

    // The integer 0 (kind int64), as the platform's default number.
    Number() = default;

    static Number fromBool(bool value);
    static Number fromInt8(int8_t value);
    static Number fromUInt8(uint8_t value);
    static Number fromInt16(int16_t value);
    static Number fromUInt16(uint16_t value);
    static Number fromInt32(int32_t value);
    static Number fromUInt32(uint32_t value);
    static Number fromInt64(int64_t value);
    static Number fromUInt64(uint64_t value);
    static Number fromFloat(float value);
    static Number fromDouble(double value);

    Kind kind() const { return kind_; }
    // One-letter code of the stored width: "B" boolean, "c"/"C" 8-bit, "s"/"S" 16-bit,
    // "i"/"I" 32-bit, "q"/"Q" 64-bit, "f" float, "d" double.
    const char* objCType() const;

    bool isFloatingPoint() const { return kind_ == Kind::float32 || kind_ == Kind::float64; }
    bool isUnsignedInteger() const {
        return kind_ == Kind::uint8 || kind_ == Kind::uint16 || kind_ == Kind::uint32 ||
               kind_ == Kind::uint64;
    }

    // Conversions as the platform's number object does them: an integer source
    // converts to a narrower integer modulo 2^n (300 -> int8 44); a floating
    // source saturates at the target's range and NaN gives 0.
    bool boolValue() const;
    int8_t charValue() const;
    uint8_t unsignedCharValue() const;
    int16_t shortValue() const;
    uint16_t unsignedShortValue() const;
    int32_t intValue() const;
    uint32_t unsignedIntValue() const;
    int64_t longLongValue() const;
    uint64_t unsignedLongLongValue() const;
    int64_t integerValue() const { return longLongValue(); }
    uint64_t unsignedIntegerValue() const { return unsignedLongLongValue(); }
    float floatValue() const;
    double doubleValue() const {
        if (isFloatingPoint()) return v_.d;
        return isUnsignedInteger() ? static_cast<double>(v_.u) : static_cast<double>(v_.i);
    }

    // Decimal text: integers in full, floating values in their shortest
    // round-trip form ("1.5", "3", "1e+20", "nan"), booleans "1" or "0".
    std::string stringValue() const;

    enum class Order { ascending = -1, same = 0, descending = 1 };
    // Exact comparison by numeric value across widths and kinds (1 and 1.0 are
    // the same; INT64_MAX is below 9223372036854775808.0). NaN orders below
    // every other value and is the same as NaN, so the order stays total.
    Order compare(const Number& other) const;

  private:
    // A platform value is one 16-byte cell: a number as it is, anything else
    // as a pointer in the number's place. The byte after the kind tells which.
    friend class Any;

    Kind kind_ = Kind::int64;
    uint8_t holder_ = 0;
    union {
        int64_t i;
        uint64_t u;
        double d;
        void* p;
    } v_{0};
};

// The platform's boolean test: a number is a boolean when it compares the same
// as the boolean true (false) number and carries that number's type code.
bool isBooleanNumber(const Number& number);

}  // namespace tervolo::json
