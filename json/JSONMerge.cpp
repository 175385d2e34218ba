// Deep merge of two values.
#include "json/JSON.hpp"

namespace tervolo::json {

void JSON::merge(const JSON& other) {
    mergeWith(other, true);
}

JSON JSON::merged(const JSON& other) const {
    JSON copy = *this;
    copy.mergeWith(other, true);
    return copy;
}

void JSON::mergeWith(const JSON& other, bool strictTypes) {
    if (&other == this) {
        JSON copy = other;
        mergeWith(copy, strictTypes);
        return;
    }
    if (type_ != other.type_) {
        if (strictTypes) throw JSONValueError(JSONValueError::wrongType);
        *this = other;
        return;
    }
    switch (type_) {
        case Type::array: {
            // Both lists pass through JSON values and back, so bytes are parsed
            // and unsupported elements become null, on either side.
            Array joined;
            joined.reserve(count() + other.count());
            for (const Any& item : items()) joined.push_back(JSON(item).object());
            for (const Any& item : other.items()) joined.push_back(JSON(item).object());
            setObject(Any(std::move(joined)));
            return;
        }
        case Type::dictionary: {
            // Key by key in the other's order: read both members, merge them
            // without the top-level strictness, store the result's object.
            // The receiver's member is moved out and back, so a uniquely owned
            // value merges in place without copying its containers.
            for (const auto& [key, item] : other.entries()) {
                JSON otherMember(item);
                Dictionary& entries = mutableDictionary();
                auto found = entries.find(key);
                if (found == entries.end()) {
                    // The missing member reads as null with notExist; merging
                    // gives the other's member either way.
                    entries.emplace(key, otherMember.object());
                    continue;
                }
                Any& slot = found->second;
                JSON member = slot.kind() == Any::Kind::data ? JSON(slot)
                                                             : JSON(RawObject{}, std::exchange(slot, Any()));
                member.mergeWith(otherMember, false);
                slot = member.object();
            }
            return;
        }
        default:
            *this = other;
            return;
    }
}

}  // namespace tervolo::json
