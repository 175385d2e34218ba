#include "json/Any.hpp"

#include "json/JSON.hpp"

namespace tervolo::json {

Any::Any(std::string text) : storage_(std::make_shared<const std::string>(std::move(text))) {}

Any::Any(std::shared_ptr<const std::string> text) {
    if (text) storage_ = std::move(text);
}

Any::Any(Array items) {
    auto node = std::make_shared<ArrayNode>();
    for (const Any& item : items) {
        if (!item.isPlain()) {
            node->plain = false;
            break;
        }
    }
    node->items = std::move(items);
    storage_ = std::move(node);
}

Any::Any(Dictionary entries) {
    auto node = std::make_shared<DictionaryNode>();
    for (const auto& entry : entries) {
        if (!entry.second.isPlain()) {
            node->plain = false;
            break;
        }
    }
    node->entries = std::move(entries);
    storage_ = std::move(node);
}

Any::Any(Array items, PlainTag) {
    auto node = std::make_shared<ArrayNode>();
    node->items = std::move(items);
    storage_ = std::move(node);
}

Any::Any(Dictionary entries, PlainTag) {
    auto node = std::make_shared<DictionaryNode>();
    node->entries = std::move(entries);
    storage_ = std::move(node);
}

Any Any::emptyArray() {
    // Never destroyed, so values released during exit still find it.
    static const auto* node = new std::shared_ptr<ArrayNode>(std::make_shared<ArrayNode>());
    return Any(*node);
}

Any Any::emptyDictionary() {
    static const auto* node = new std::shared_ptr<DictionaryNode>(std::make_shared<DictionaryNode>());
    return Any(*node);
}

Any::Any(Data bytes) : storage_(std::make_shared<const Data>(std::move(bytes))) {}

Any::Any(const JSON& json) : storage_(std::make_shared<const JSON>(json)) {}

Any Any::other(std::any object) {
    Any any;
    any.storage_ = std::make_shared<const OtherNode>(OtherNode{std::move(object)});
    return any;
}

const JSON* Any::json() const {
    auto p = std::get_if<std::shared_ptr<const JSON>>(&storage_);
    return p ? p->get() : nullptr;
}

const std::any* Any::otherObject() const {
    auto p = std::get_if<std::shared_ptr<const OtherNode>>(&storage_);
    return p ? &(*p)->object : nullptr;
}

bool operator==(const Any& a, const Any& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case Any::Kind::null:
            return true;
        case Any::Kind::number: {
            const Number &x = *a.number(), &y = *b.number();
            // A boolean never equals a number, at any depth.
            if (isBooleanNumber(x) != isBooleanNumber(y)) return false;
            return x.compare(y) == Number::Order::same;
        }
        case Any::Kind::string: {
            auto x = a.stringStorage(), y = b.stringStorage();
            return x->get() == y->get() || **x == **y;
        }
        case Any::Kind::array: {
            auto x = a.arrayNode(), y = b.arrayNode();
            return x->get() == y->get() || (*x)->items == (*y)->items;
        }
        case Any::Kind::dictionary: {
            auto x = a.dictionaryNode(), y = b.dictionaryNode();
            return x->get() == y->get() || (*x)->entries == (*y)->entries;
        }
        case Any::Kind::data:
            return *a.data() == *b.data();
        case Any::Kind::json:
            return *a.json() == *b.json();
        case Any::Kind::other:
            return a.otherObject() == b.otherObject();
    }
    return false;
}

}  // namespace tervolo::json
