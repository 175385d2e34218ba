// Raw data, raw strings and the library's own printer.
#include <cmath>
#include <cstdio>

#include "json/JSON.hpp"

namespace tervolo::json {

namespace {

template <typename T>
std::optional<T> option(const WritingOptionsMap& options, writingOptionsKeys key) {
    auto found = options.find(key);
    if (found == options.end()) return std::nullopt;
    if (const T* value = std::any_cast<T>(&found->second)) return *value;
    return std::nullopt;  // a value of another type counts as missing
}

bool fitsEncoding(const std::string& text, StringEncoding encoding) {
    if (encoding == StringEncoding::ascii)
        for (char c : text)
            if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

Data JSON::rawData(WritingOptions options) const {
    // The serialiser takes only an array or a dictionary at the top.
    if (type_ != Type::array && type_ != Type::dictionary) throw JSONValueError(JSONValueError::invalidJSON);
    return JSONSerialization::data(object(), options);
}

std::optional<std::string> JSON::print(StringEncoding encoding, const WritingOptionsMap& options,
                                       int maxObjectDepth) const {
    if (maxObjectDepth < 1) throw JSONValueError(JSONValueError::invalidJSON);
    switch (type_) {
        case Type::number:
            // "nan" or "inf" would be no JSON: a non-finite number cannot be printed.
            if (numberCell().isFloatingPoint() && !std::isfinite(numberCell().doubleValue()))
                return std::nullopt;
            return numberCell().stringValue();
        case Type::string:
            return text();
        case Type::boolValue:
            return boolCell() ? "true" : "false";
        case Type::null:
            return "null";
        case Type::unknown:
            return std::nullopt;
        case Type::array:
        case Type::dictionary:
            break;
    }
    if (option<bool>(options, writingOptionsKeys::castNilToNSNull) != true) {
        try {
            WritingOptions writing = option<WritingOptions>(options, writingOptionsKeys::jsonSerialization)
                                         .value_or(WritingOptions(WritingOptions::prettyPrinted));
            // The serialiser's text as it is written: no bytes in between.
            std::string text;
            JSONSerialization::write(text, object(), writing);
            if (!fitsEncoding(text, encoding)) return std::nullopt;
            return text;
        } catch (const JSONValueError&) {
            return std::nullopt;
        }
    }
    std::string out;
    if (!appendOwnPrint(out, maxObjectDepth)) return std::nullopt;
    return out;
}

bool JSON::appendOwnPrint(std::string& out, int maxObjectDepth) const {
    // The library's own compact printer for a container, appending to one
    // buffer. Texts and keys are escaped per RFC 8259, so the result is always
    // valid JSON. An element that cannot be printed (unsupported, non-finite,
    // invalid UTF-8, or beyond the depth budget) makes this container absent,
    // and so every container around it: the buffer is cut back and false
    // returned all the way up, without the message of the outermost case.
    const size_t mark = out.size();
    auto absent = [&] {
        out.resize(mark);
        return false;
    };
    const bool isArray = type_ == Type::array;
    out.push_back(isArray ? '[' : '{');
    auto element = [&](const Any& item) {
        if (maxObjectDepth - 1 < 1) return false;  // the element's budget is spent
        // Plain scalars straight from storage; anything else through a JSON
        // value, as the element would be read (bytes are parsed).
        switch (item.kind()) {
            case Any::Kind::number:
                if (isBooleanNumber(*item.number())) {
                    out.append(item.number()->boolValue() ? "true" : "false");
                    return true;
                }
                return JSONSerialization::appendNumber(out, *item.number());  // refuses non-finite numbers
            case Any::Kind::string:
                return JSONSerialization::appendQuoted(out, *item.string(), false);
            case Any::Kind::null:
                out.append("null");
                return true;
            default:
                break;
        }
        JSON value(item);
        switch (value.type_) {
            case Type::number:
                return JSONSerialization::appendNumber(out, value.numberCell());
            case Type::string:
                return JSONSerialization::appendQuoted(out, value.text(), false);
            case Type::boolValue:
                out.append(value.boolCell() ? "true" : "false");
                return true;
            case Type::null:
                out.append("null");
                return true;
            case Type::unknown:
                return false;
            case Type::array:
            case Type::dictionary:
                return value.appendOwnPrint(out, maxObjectDepth - 1);
        }
        return false;
    };
    bool first = true;
    if (isArray) {
        for (const Any& item : items()) {
            if (!first) out.push_back(',');
            first = false;
            if (!element(item)) return absent();
        }
    } else {
        for (const auto& [key, item] : entries()) {
            if (!first) out.push_back(',');
            first = false;
            if (!JSONSerialization::appendQuoted(out, key, false)) return absent();
            out.append(": ");
            if (!element(item)) return absent();
        }
    }
    out.push_back(isArray ? ']' : '}');
    return true;
}

std::optional<std::string> JSON::rawString(const WritingOptionsMap& options) const {
    StringEncoding encoding =
        option<StringEncoding>(options, writingOptionsKeys::encoding).value_or(StringEncoding::utf8);
    int depth = option<int>(options, writingOptionsKeys::maxObjextDepth).value_or(10);
    try {
        return print(encoding, options, depth);
    } catch (const std::exception& error) {
        std::string line = std::string("Could not serialize object to JSON because: ") + error.what() + "\n";
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
        return std::nullopt;
    }
}

std::optional<std::string> JSON::rawString(StringEncoding encoding, WritingOptions options) const {
    return rawString(WritingOptionsMap{{writingOptionsKeys::jsonSerialization, options},
                                       {writingOptionsKeys::encoding, encoding}});
}

std::string JSON::description() const {
    return rawString(StringEncoding::utf8, WritingOptions(WritingOptions::prettyPrinted)).value_or("unknown");
}

}  // namespace tervolo::json
