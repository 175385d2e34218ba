#include "json/JSON.hpp"

#include <atomic>

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

JSON::JSON(RawObject, const Any& object) {
    setObject(object);
}

JSON::JSON(const Any& object) {
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

Any JSON::object() const {
    switch (type_) {
        case Type::number:
            return Any(rawNumber_);
        case Type::string:
            return Any(rawString_ ? rawString_ : std::make_shared<const std::string>());
        case Type::boolValue:
            return Any(rawBool_);
        case Type::array:
            return Any(rawArray_ ? rawArray_ : std::make_shared<Any::ArrayNode>());
        case Type::dictionary:
            return Any(rawDictionary_ ? rawDictionary_ : std::make_shared<Any::DictionaryNode>());
        case Type::null:
        case Type::unknown:
            return Any();
    }
    return Any();
}

void JSON::setObject(const Any& object) {
    error_.reset();
    // Plain objects (everything a JSON value stores) are classified as they
    // are; only containers holding JSON values need normalising first.
    if (object.isPlain()) {
        classify(object);
    } else {
        classify(normalizedObject(object));
    }
}

void JSON::classify(const Any& value) {
    switch (value.kind()) {
        case Any::Kind::number:
            if (isBooleanNumber(*value.number())) {
                type_ = Type::boolValue;
                rawBool_ = value.number()->boolValue();
            } else {
                type_ = Type::number;
                rawNumber_ = *value.number();
            }
            return;
        case Any::Kind::string:
            type_ = Type::string;
            rawString_ = *value.stringStorage();
            return;
        case Any::Kind::null:
            type_ = Type::null;
            return;
        case Any::Kind::array:
            type_ = Type::array;
            rawArray_ = *value.arrayNode();
            return;
        case Any::Kind::dictionary:
            type_ = Type::dictionary;
            rawDictionary_ = *value.dictionaryNode();
            return;
        default:
            // Bytes handed to the setter are not parsed; they are no JSON kind.
            type_ = Type::unknown;
            error_ = JSONValueError::unsupportedType;
            return;
    }
}

namespace {

// Copy on write: a container shared with any other value or platform value
// is copied (shallowly: its elements stay shared) before it changes.
template <typename Node>
Node& uniquelyOwned(std::shared_ptr<Node>& node) {
    if (!node) {
        node = std::make_shared<Node>();
    } else if (node.use_count() > 1) {
        node = std::make_shared<Node>(*node);
    } else {
        // A copy released on another thread (its count decrement is a
        // release) happens before the changes made here. ThreadSanitizer
        // does not model fences; it sees the reference counts themselves.
#if !defined(__SANITIZE_THREAD__)
        std::atomic_thread_fence(std::memory_order_acquire);
#endif
    }
    return *node;
}

}  // namespace

Array& JSON::mutableArray() {
    return uniquelyOwned(rawArray_).items;
}

Dictionary& JSON::mutableDictionary() {
    return uniquelyOwned(rawDictionary_).entries;
}

}  // namespace tervolo::json
