// Equality and order of JSON values.
#include <cstring>

#include "json/JSON.hpp"
#include "platform/text/Unicode.hpp"

namespace tervolo::json {

namespace {

enum class Relation { none, less, same, greater, unequal };

bool isASCII(const std::string& text) {
    const char* p = text.data();
    size_t n = text.size(), i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, p + i, 8);
        if (v & 0x8080808080808080ull) return false;
    }
    for (; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
    return true;
}

Relation order(int c) {
    return c < 0 ? Relation::less : (c > 0 ? Relation::greater : Relation::same);
}

// Canonical equivalence; an ASCII text is its own NFC form, so two ASCII
// texts compare by bytes, which is code-point order.
Relation compareTexts(const std::string* a, const std::string* b) {
    if (a == b) return Relation::same;  // the very same storage
    if (isASCII(*a) && isASCII(*b)) return order(a->compare(*b));
    return order(platform::text::compareCodePoints(*a, *b));
}

// Reads only the kind and the raw fields; the error plays no part.
Relation relation(const JSON& a, const JSON& b) {
    if (a.type() != b.type()) return Relation::none;
    switch (a.type()) {
        case Type::number: {
            Number x = *a.number(), y = *b.number();
            // A boolean number never compares with a plain one.
            if (isBooleanNumber(x) != isBooleanNumber(y)) return Relation::none;
            return order(static_cast<int>(x.compare(y)));
        }
        case Type::string: {
            // The texts stay in the values' storage while they are compared.
            const Any x = a.object(), y = b.object();
            return compareTexts(x.string(), y.string());
        }
        case Type::boolValue:
            return *a.optBool() == *b.optBool() ? Relation::same : Relation::unequal;
        case Type::array:
        case Type::dictionary:
            return a.object() == b.object() ? Relation::same : Relation::unequal;
        case Type::null:
            return Relation::same;
        case Type::unknown:
            return Relation::none;
    }
    return Relation::none;
}

}  // namespace

bool operator==(const JSON& a, const JSON& b) {
    return relation(a, b) == Relation::same;
}
bool operator<(const JSON& a, const JSON& b) {
    return relation(a, b) == Relation::less;
}
bool operator<=(const JSON& a, const JSON& b) {
    Relation r = relation(a, b);
    return r == Relation::less || r == Relation::same;
}
bool operator>(const JSON& a, const JSON& b) {
    return relation(a, b) == Relation::greater;
}
bool operator>=(const JSON& a, const JSON& b) {
    Relation r = relation(a, b);
    return r == Relation::greater || r == Relation::same;
}

}  // namespace tervolo::json
