#include "json/JSON.hpp"

namespace tervolo::json {

namespace {

// A JSON value nested anywhere in the object becomes its plain object. O(1)
// for containers that hold no JSON value, which is every container a JSON
// value itself stores.
Any normalizedObject(const Any& object) {
    if (object.isPlain()) return object;
    switch (object.kind()) {
        case Any::Kind::json:
            return normalizedObject(object.json()->object());
        case Any::Kind::array: {
            Array items;
            items.reserve(object.array()->size());
            for (const Any& item : *object.array()) items.push_back(normalizedObject(item));
            return Any(std::move(items));
        }
        case Any::Kind::dictionary: {
            Dictionary entries;
            for (const auto& [key, item] : *object.dictionary()) entries.emplace(key, normalizedObject(item));
            return Any(std::move(entries));
        }
        default:
            return object;
    }
}

}  // namespace

const std::optional<JSONValueError>* JSON::errors() {
    static const std::optional<JSONValueError> table[] = {
        std::nullopt,
        JSONValueError::unsupportedType,
        JSONValueError::indexOutOfBounds,
        JSONValueError::elementTooDeep,
        JSONValueError::wrongType,
        JSONValueError::notExist,
        JSONValueError::invalidJSON,
    };
    return table;
}

void JSON::setError(JSONValueError error) {
    for (uint8_t slot = 1; slot <= 6; ++slot) {
        if (*errors()[slot] == error) {
            errorSlot_ = slot;
            return;
        }
    }
}

void JSON::letGo(void* node, bool isArray) noexcept {
    // A value holding the node takes the count over and gives it up as it goes.
    Any held(isArray ? Any::Kind::array : Any::Kind::dictionary, static_cast<Any::Node*>(node));
}

JSON::JSON(RawObject, const Any& object) {
    setObject(object);
}

void JSON::adoptOther() {
    // Bytes are parsed as JSON text (null, without an error, when they are
    // not JSON); anything else is set as the object.
    Any object = std::move(value_);
    value_ = Any();
    if (const Data* data = object.data()) {
        try {
            setObject(JSONSerialization::jsonObject(*data));
        } catch (const JSONParseError&) {
            setObject(Any());
        }
        return;
    }
    setObject(object);
}

JSON::JSON(const Data& data, ReadingOptions options) {
    setObject(JSONSerialization::jsonObject(data, options));
}

JSON JSON::parseJSON(std::string_view text) {
    try {
        return JSON(RawObject{}, JSONSerialization::jsonObject(text));
    } catch (const JSONParseError&) {
        return JSON(RawObject{}, Any());
    }
}

JSON JSON::null() {
    return JSON(RawObject{}, Any());
}

JSON JSON::arrayLiteral(std::initializer_list<Any> elements) {
    return JSON(Any(Array(elements)));
}

JSON JSON::dictionaryLiteral(std::initializer_list<std::pair<std::string, Any>> elements) {
    Dictionary entries;
    for (const auto& [key, value] : elements) entries.insert_or_assign(key, value);
    return JSON(Any(std::move(entries)));
}

std::optional<JSON> JSON::fromRawValue(const Any& object) {
    JSON value(object);
    if (value.type_ == Type::unknown) return std::nullopt;
    return value;
}

void JSON::setObject(const Any& object) {
    clearError();
    // Plain objects (everything a JSON value stores) are classified as they
    // are; only containers holding JSON values need normalising first.
    if (object.isPlain()) {
        classify(object);
    } else {
        classify(normalizedObject(object));
    }
}

void JSON::classify(const Any& value) {
    // A borrowed object is counted before it is replaced.
    own();
    value_ = value;
    if (!adoptPlain()) {
        // Bytes handed to the setter are not parsed; they are no JSON kind.
        value_ = Any();
        type_ = Type::unknown;
        setError(JSONValueError::unsupportedType);
    }
}

}  // namespace tervolo::json
