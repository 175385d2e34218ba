// Positions, collection behaviour, subscripts and typed accessors.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "json/JSON.hpp"

namespace tervolo::json {

// ---- positions and collection ------------------------------------------------

Index JSON::index(const Index& after) const {
    return advanced(after);
}

Index JSON::index(const Index& i, ptrdiff_t offsetBy) const {
    if (i.kind() == Index::Kind::array) return Index::array(i.arrayOffset() + offsetBy);
    Index result = i;
    for (ptrdiff_t step = 0; step < offsetBy; ++step) formIndex(result);
    return result;
}

std::optional<Index> JSON::index(const Index& i, ptrdiff_t offsetBy, const Index& limitedBy) const {
    Index result = i;
    for (ptrdiff_t step = 0; step < offsetBy; ++step) {
        if (result == limitedBy) return std::nullopt;
        formIndex(result);
    }
    return result;
}

ptrdiff_t JSON::distance(const Index& from, const Index& to) const {
    if (from.kind() != to.kind()) return 0;  // a caller's error; no walk without an end
    if (from.kind() == Index::Kind::array) return to.arrayOffset() - from.arrayOffset();
    ptrdiff_t steps = 0;
    for (Index i = from; !(i == to) && !(i == index(i)); formIndex(i)) ++steps;
    return steps;
}

std::pair<std::string, JSON> JSON::operator[](const Index& position) const {
    switch (position.kind()) {
        case Index::Kind::array:
            return {std::to_string(position.arrayOffset()),
                    JSON(items().at(static_cast<size_t>(position.arrayOffset())))};
        case Index::Kind::dictionary: {
            const auto& entry = *position.dictionaryPosition();
            return {entry.first, JSON(entry.second)};
        }
        case Index::Kind::null:
            return {std::string(), JSON::null()};
    }
    return {std::string(), JSON::null()};
}

JSON::Slice JSON::operator[](std::pair<Index, Index> range) const {
    return Slice(*this, range.first, range.second);
}

bool JSON::isEmpty() const {
    switch (type_) {
        case Type::dictionary:
            return startIndex() == endIndex();
        case Type::array:
            return items().empty();
        default:
            return true;
    }
}

size_t JSON::count() const {
    switch (type_) {
        case Type::array:
            return items().size();
        case Type::dictionary:
            return entries().size();
        default:
            return 0;
    }
}

std::vector<Index> JSON::indices() const {
    std::vector<Index> result;
    for (Index i = startIndex(), end = endIndex(); !(i == end); formIndex(i)) result.push_back(i);
    return result;
}

JSON::Iterator JSON::makeIterator() const {
    return begin();
}

// ---- subscripts -----------------------------------------------------------------

JSON JSON::readStep(const JSONKey& step) const {
    auto failed = [this](JSONValueError::Case fallback) {
        JSON result = JSON::null();
        if (errorSlot_ != 0)
            result.errorSlot_ = errorSlot_;
        else
            result.setError(fallback);
        return result;
    };
    if (step.kind() == JSONKey::Kind::index) {
        if (type_ != Type::array) return failed(JSONValueError::wrongType);
        int64_t i = step.indexValue();
        if (i >= 0 && static_cast<uint64_t>(i) < items().size()) return JSON(items()[static_cast<size_t>(i)]);
        JSON result = JSON::null();
        result.setError(JSONValueError::indexOutOfBounds);
        return result;
    }
    if (type_ == Type::dictionary) {
        auto found = entries().find(step.keyValue());
        if (found != entries().end()) return JSON(found->second);
        JSON result = JSON::null();
        result.setError(JSONValueError::notExist);
        return result;
    }
    return failed(JSONValueError::wrongType);
}

JSON JSON::operator[](const JSONSubscriptType& step) const {
    return readStep(step.jsonKey());
}

JSON JSON::readPath(const JSONSubscriptType* first, const JSONSubscriptType* last) const {
    // Walk the stored elements by pointer and wrap only the one reached. Any
    // step that is not a plain hit (a miss, a wrong kind, bytes to parse, an
    // unsupported element) hands over to the step-by-step reads, which give
    // the exact result and error from there on.
    const Any* element = nullptr;  // nullptr: still at this value
    for (; first != last; ++first) {
        const JSONKey& step = first->jsonKey();
        const Array* items = nullptr;
        const Dictionary* entries = nullptr;
        if (element == nullptr) {
            if (type_ == Type::array) items = &this->items();
            if (type_ == Type::dictionary) entries = &this->entries();
        } else {
            items = element->array();
            entries = element->dictionary();
        }
        const Any* next = nullptr;
        if (step.kind() == JSONKey::Kind::index) {
            int64_t i = step.indexValue();
            if (items && i >= 0 && static_cast<uint64_t>(i) < items->size())
                next = &(*items)[static_cast<size_t>(i)];
        } else if (entries) {
            auto found = entries->find(step.keyValue());
            if (found != entries->end()) next = &found->second;
        }
        if (next == nullptr || next->kind() == Any::Kind::data || next->kind() == Any::Kind::other) break;
        element = next;
    }
    JSON current = element ? JSON(*element) : *this;
    for (; first != last; ++first) current = current.readStep(first->jsonKey());
    return current;
}

JSON JSON::operator[](std::initializer_list<JSONSubscriptType> path) const {
    return readPath(path.begin(), path.end());
}

JSON JSON::operator[](const std::vector<JSONSubscriptType>& path) const {
    return readPath(path.data(), path.data() + path.size());
}

void JSON::writeStep(const JSONKey& step, const JSON& newValue) {
    // Reading the step, setting the object of the result and writing it back
    // comes down to storing the new value's object where the step exists (a
    // dictionary key is added). The object of any value is a JSON kind, so
    // the temporary never carries an error that would refuse the write.
    Any object = newValue.object();
    if (step.kind() == JSONKey::Kind::index) {
        int64_t i = step.indexValue();
        if (type_ != Type::array || i < 0 || static_cast<uint64_t>(i) >= items().size()) return;
        mutableArray()[static_cast<size_t>(i)] = std::move(object);
        return;
    }
    if (type_ != Type::dictionary) return;
    mutableDictionary().insert_or_assign(step.keyValue(), std::move(object));
}

void JSON::writePath(const JSONSubscriptType* first, const JSONSubscriptType* last, const JSON& newValue) {
    if (first == last) return;
    const JSONKey& step = first->jsonKey();
    if (last - first == 1) {
        writeStep(step, newValue);
        return;
    }
    // The element must exist: a missing one reads as null with an error, and
    // the write back of an erring temporary is refused.
    Any* slot = nullptr;
    if (step.kind() == JSONKey::Kind::index) {
        int64_t i = step.indexValue();
        if (type_ != Type::array || i < 0 || static_cast<uint64_t>(i) >= items().size()) return;
        slot = &mutableArray()[static_cast<size_t>(i)];
    } else {
        if (type_ != Type::dictionary) return;
        if (entries().find(step.keyValue()) == entries().end()) return;
        slot = &mutableDictionary().find(step.keyValue())->second;
    }
    // An unsupported element reads as unknown with an error: refused.
    if (slot->kind() == Any::Kind::other) return;
    // Move the element out into a temporary (so its storage stays uniquely
    // owned and changes in place), write into it, move its object back. Bytes
    // are parsed on the way, as every read parses them.
    JSON temporary =
        slot->kind() == Any::Kind::data ? JSON(*slot) : JSON(RawObject{}, std::exchange(*slot, Any()));
    try {
        temporary.writePath(first + 1, last, newValue);
    } catch (...) {
        *slot = temporary.object();
        throw;
    }
    *slot = temporary.object();
}

// Each write stores the new value as it is when the write starts: the new
// value may be this very value, or share containers the write changes.

void JSON::set(const JSONSubscriptType& step, const JSON& newValue) {
    const JSON value = newValue;
    writePath(&step, &step + 1, value);
}

void JSON::set(std::initializer_list<JSONSubscriptType> path, const JSON& newValue) {
    const JSON value = newValue;
    writePath(path.begin(), path.end(), value);
}

void JSON::set(const std::vector<JSONSubscriptType>& path, const JSON& newValue) {
    const JSON value = newValue;
    writePath(path.data(), path.data() + path.size(), value);
}

void JSON::modify(const std::vector<JSONSubscriptType>& path, const std::function<void(JSON&)>& change) {
    if (path.empty()) {
        change(*this);
        return;
    }
    JSON value = (*this)[path];
    change(value);
    set(path, value);
}

// ---- typed accessors --------------------------------------------------------------

namespace {

bool equalsIgnoringCase(const std::string& text, const char* word) {
    size_t n = std::strlen(word);
    if (text.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    return true;
}

// The platform's decimal-number reading of a text: leading white space, a
// sign, digits, a fraction and an exponent, stopping at the first character
// that does not fit ("12abc" is 12). Absent (not a number) when there are no
// digits. Integral values within 64 bits stay exact integers.
std::optional<Number> decimalNumber(const std::string& text) {
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* start = p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* digits = p;
    while (p < end && std::isdigit(static_cast<unsigned char>(*p))) ++p;
    const char* integerEnd = p;
    bool fraction = false;
    if (p < end && *p == '.') {
        const char* q = p + 1;
        while (q < end && std::isdigit(static_cast<unsigned char>(*q))) ++q;
        if (q > p + 1 || integerEnd > digits) {
            fraction = q > p + 1;
            p = q;
        }
    }
    if (p == digits || (p == digits + 1 && *digits == '.')) return std::nullopt;
    bool exponent = false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        if (q < end && (*q == '+' || *q == '-')) ++q;
        if (q < end && std::isdigit(static_cast<unsigned char>(*q))) {
            while (q < end && std::isdigit(static_cast<unsigned char>(*q))) ++q;
            p = q;
            exponent = true;
        }
    }
    std::string literal(start, p);
    if (!literal.empty() && literal[0] == '+') literal.erase(0, 1);
    if (!fraction && !exponent) {
        std::string integral(digits, integerEnd);
        uint64_t magnitude = 0;
        auto r = std::from_chars(integral.data(), integral.data() + integral.size(), magnitude);
        if (r.ec == std::errc() && r.ptr == integral.data() + integral.size()) {
            if (!negative && magnitude <= static_cast<uint64_t>(INT64_MAX))
                return Number::fromInt64(static_cast<int64_t>(magnitude));
            if (!negative) return Number::fromUInt64(magnitude);
            if (magnitude <= uint64_t{1} << 63) return Number::fromInt64(static_cast<int64_t>(0 - magnitude));
        }
    }
    double value = 0;
    auto r = std::from_chars(literal.data(), literal.data() + literal.size(), value);
    if (r.ec == std::errc::result_out_of_range) {
        value = std::strtod(literal.c_str(), nullptr);
    } else if (r.ec != std::errc()) {
        return std::nullopt;
    }
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 9.2e18)
        return Number::fromInt64(static_cast<int64_t>(value));
    return Number::fromDouble(value);
}

// The characters a URL query may hold unescaped.
bool isQueryAllowed(unsigned char c) {
    return std::isalnum(c) || std::strchr("!$&'()*+,-./:;=?@_~", c) != nullptr;
}

bool hasPercentEscape(const std::string& text) {
    for (size_t i = 0; i + 2 < text.size(); ++i)
        if (text[i] == '%' && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return true;
    return false;
}

std::optional<std::string> percentEncodedForQuery(const std::string& text) {
    // Encoding needs whole characters: invalid UTF-8 cannot be encoded.
    if (!JSONSerialization::isValidUTF8(text)) return std::nullopt;
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c != 0 && c < 0x80 && isQueryAllowed(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

}  // namespace

std::optional<std::vector<JSON>> JSON::array() const {
    if (type_ != Type::array) return std::nullopt;
    std::vector<JSON> result;
    result.reserve(items().size());
    for (const Any& item : items()) result.emplace_back(item);
    return result;
}

std::vector<JSON> JSON::arrayValue() const {
    return array().value_or(std::vector<JSON>());
}

std::optional<Array> JSON::arrayObject() const {
    if (type_ != Type::array) return std::nullopt;
    return items();
}

void JSON::setArrayObject(std::optional<Array> value) {
    setObject(value ? Any(std::move(*value)) : Any());
}

std::optional<std::map<std::string, JSON>> JSON::dictionary() const {
    if (type_ != Type::dictionary) return std::nullopt;
    std::map<std::string, JSON> result;
    for (const auto& [key, item] : entries()) result.emplace_hint(result.end(), key, JSON(item));
    return result;
}

std::map<std::string, JSON> JSON::dictionaryValue() const {
    return dictionary().value_or(std::map<std::string, JSON>());
}

std::optional<Dictionary> JSON::dictionaryObject() const {
    if (type_ != Type::dictionary) return std::nullopt;
    return entries();
}

void JSON::setDictionaryObject(std::optional<Dictionary> value) {
    setObject(value ? Any(std::move(*value)) : Any());
}

std::optional<bool> JSON::optBool() const {
    if (type_ != Type::boolValue) return std::nullopt;
    return boolCell();
}

void JSON::setOptBool(std::optional<bool> value) {
    setObject(value ? Any(*value) : Any());
}

bool JSON::boolValue() const {
    switch (type_) {
        case Type::boolValue:
            return boolCell();
        case Type::number:
            return numberCell().boolValue();
        case Type::string:
            for (const char* word : {"true", "y", "t", "yes", "1"})
                if (equalsIgnoringCase(text(), word)) return true;
            return false;
        default:
            return false;
    }
}

void JSON::setBoolValue(bool value) {
    setObject(Any(value));
}

std::optional<std::string> JSON::string() const {
    if (type_ != Type::string) return std::nullopt;
    return text();
}

void JSON::setString(std::optional<std::string> value) {
    setObject(value ? Any(std::move(*value)) : Any());
}

std::string JSON::stringValue() const {
    switch (type_) {
        case Type::string:
            return text();
        case Type::number:
            return numberCell().stringValue();
        case Type::boolValue:
            return boolCell() ? "true" : "false";
        default:
            return std::string();
    }
}

void JSON::setStringValue(std::string value) {
    setObject(Any(std::move(value)));
}

std::optional<Number> JSON::number() const {
    switch (type_) {
        case Type::number:
            return numberCell();
        case Type::boolValue:
            return Number::fromInt64(boolCell() ? 1 : 0);
        default:
            return std::nullopt;
    }
}

void JSON::setNumber(std::optional<Number> value) {
    setObject(value ? Any(*value) : Any());
}

Number JSON::numberValue() const {
    switch (type_) {
        case Type::string:
            return decimalNumber(text()).value_or(Number::fromInt64(0));
        case Type::number:
            return numberCell();
        case Type::boolValue:
            return Number::fromInt64(boolCell() ? 1 : 0);
        default:
            return Number::fromDouble(0.0);
    }
}

void JSON::setNumberValue(Number value) {
    setObject(Any(value));
}

std::optional<Null> JSON::optNull() const {
    if (type_ != Type::null) return std::nullopt;
    return Null{};
}

void JSON::setOptNull(std::optional<Null>) {
    setObject(Any());
}

std::optional<URL> JSON::url() const {
    if (type_ != Type::string) return std::nullopt;
    if (hasPercentEscape(text())) return URL::fromString(text());
    auto encoded = percentEncodedForQuery(text());
    if (!encoded) return std::nullopt;
    return URL::fromString(*encoded);
}

void JSON::setURL(std::optional<URL> value) {
    setObject(value ? Any(value->absoluteString()) : Any());
}

#define TERVOLO_JSON_NUMERIC_ACCESSORS(opt, value, setOpt, setValue, T, conversion, make) \
    std::optional<T> JSON::opt() const {                                                  \
        auto n = number();                                                                \
        if (!n) return std::nullopt;                                                      \
        return n->conversion();                                                           \
    }                                                                                     \
    void JSON::setOpt(std::optional<T> v) {                                               \
        setObject(v ? Any(make(*v)) : Any());                                             \
    }                                                                                     \
    T JSON::value() const {                                                               \
        return numberValue().conversion();                                                \
    }                                                                                     \
    void JSON::setValue(T v) {                                                            \
        setObject(Any(make(v)));                                                          \
    }

namespace {
Number widenedToInteger(int8_t v) {
    return Number::fromInt64(v);
}
}  // namespace

TERVOLO_JSON_NUMERIC_ACCESSORS(optFloat, floatValue, setOptFloat, setFloatValue, float, floatValue,
                               Number::fromFloat)
TERVOLO_JSON_NUMERIC_ACCESSORS(optInt, intValue, setOptInt, setIntValue, int64_t, integerValue,
                               Number::fromInt64)
TERVOLO_JSON_NUMERIC_ACCESSORS(uInt, uIntValue, setUInt, setUIntValue, uint64_t, unsignedIntegerValue,
                               Number::fromUInt64)
TERVOLO_JSON_NUMERIC_ACCESSORS(int8, int8Value, setInt8, setInt8Value, int8_t, charValue, widenedToInteger)
TERVOLO_JSON_NUMERIC_ACCESSORS(uInt8, uInt8Value, setUInt8, setUInt8Value, uint8_t, unsignedCharValue,
                               Number::fromUInt8)
TERVOLO_JSON_NUMERIC_ACCESSORS(int16, int16Value, setInt16, setInt16Value, int16_t, shortValue,
                               Number::fromInt16)
TERVOLO_JSON_NUMERIC_ACCESSORS(uInt16, uInt16Value, setUInt16, setUInt16Value, uint16_t, unsignedShortValue,
                               Number::fromUInt16)
TERVOLO_JSON_NUMERIC_ACCESSORS(int32, int32Value, setInt32, setInt32Value, int32_t, intValue,
                               Number::fromInt32)
TERVOLO_JSON_NUMERIC_ACCESSORS(uInt32, uInt32Value, setUInt32, setUInt32Value, uint32_t, unsignedIntValue,
                               Number::fromUInt32)
TERVOLO_JSON_NUMERIC_ACCESSORS(int64, int64Value, setInt64, setInt64Value, int64_t, longLongValue,
                               Number::fromInt64)
TERVOLO_JSON_NUMERIC_ACCESSORS(uInt64, uInt64Value, setUInt64, setUInt64Value, uint64_t,
                               unsignedLongLongValue, Number::fromUInt64)
#undef TERVOLO_JSON_NUMERIC_ACCESSORS

// doubleValue() itself is inline: walks read every number through it.
std::optional<double> JSON::optDouble() const {
    auto n = number();
    if (!n) return std::nullopt;
    return n->doubleValue();
}

void JSON::setOptDouble(std::optional<double> v) {
    setObject(v ? Any(Number::fromDouble(*v)) : Any());
}

void JSON::setDoubleValue(double v) {
    setObject(Any(Number::fromDouble(v)));
}

}  // namespace tervolo::json
