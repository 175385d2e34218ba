// Parser of outside JSON text: parse, read and write through paths, print,
// and check that what was printed parses back to an equal value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/JSON.hpp"

using namespace tervolo::json;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Any object;
    try {
        object = JSONSerialization::jsonObject(text);
    } catch (const JSONParseError&) {
        return 0;
    }
    JSON value(object);
    // Paths made of the first members found, then a few missing ones.
    std::vector<JSONSubscriptType> path;
    JSON cursor = value;
    for (int depth = 0; depth < 4 && !cursor.isEmpty(); ++depth) {
        auto [key, element] = *cursor.begin();
        if (cursor.type() == Type::array)
            path.emplace_back(0);
        else
            path.emplace_back(key);
        cursor = element;
    }
    (void)value[path].stringValue();
    (void)value[{"missing", 3, -1}].exists();
    // The coercions that read outside text: decimal numbers, booleans, URLs.
    for (const auto& [key, element] : value) {
        (void)element.intValue();
        (void)element.doubleValue();
        (void)element.uInt8Value();
        (void)element.boolValue();
        (void)element.url();
        (void)JSON(key).numberValue();
    }
    JSON changed = value;
    changed.set(path, JSON("changed"));
    changed.set({"new"}, JSON::arrayLiteral({1, "x"}));
    // Elements changed while they are walked leave the walked value alone; a
    // value written into itself is stored as it was.
    const JSON beforeWalk = changed;
    for (auto [key, element] : changed) {
        element.set(0, JSON(key));
        element.set({"k"}, element);
    }
    if (!(changed == beforeWalk) && changed.rawString()) std::abort();
    changed.set({"self"}, changed);

    for (const JSON& v : {value, changed}) {
        auto printed = v.rawString(StringEncoding::utf8, WritingOptions(WritingOptions::fragmentsAllowed));
        WritingOptionsMap own{{writingOptionsKeys::castNilToNSNull, true}};
        (void)v.rawString(own);
        (void)v.description();
        if (v.type() == Type::array || v.type() == Type::dictionary) {
            Data bytes = v.rawData(WritingOptions());
            JSON again(bytes, ReadingOptions());
            if (!(again == v) && printed) {
                // Texts compare under canonical equivalence and numbers by value,
                // so a printed value always reads back equal.
                std::abort();
            }
        }
    }
    JSON merged = value;
    try {
        merged.merge(changed);
    } catch (const JSONValueError&) {
    }
    return 0;
}
