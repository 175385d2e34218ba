#include "logging/LoggerMetadataValue.hpp"

#include <algorithm>
#include <cstdlib>

#include "logging/LoggerMessage.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "platform/text/LogText.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"

namespace tervolo::logging {

namespace {

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

bool MetadataKeyLess::operator()(std::string_view a, std::string_view b) const {
    // ASCII texts are their own NFC form and their bytes are their code points.
    if (isASCII(a) && isASCII(b)) return a < b;
    return platform::text::compareCodePoints(a, b) < 0;
}

bool textsEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isASCII(a) && isASCII(b)) return false;
    return platform::text::canonicallyEqual(a, b);
}

bool operator==(const LoggerMessage& a, const LoggerMessage& b) {
    return textsEqual(a.value, b.value);
}

std::string detail::describeDouble(double value) {
    return platform::text::describe(value);
}

std::string debugQuoted(std::string_view text) {
    return platform::text::logQuoted(text);
}

LoggerMetadataValue LoggerMetadataValue::stringConvertible(
    std::shared_ptr<const CustomStringConvertible> value) {
    return LoggerMetadataValue(Storage(std::in_place_index<1>, std::move(value)));
}

LoggerMetadataValue LoggerMetadataValue::dictionary(LoggerMetadata entries) {
    return LoggerMetadataValue(
        Storage(std::in_place_index<2>, std::make_shared<const LoggerMetadata>(std::move(entries))));
}

LoggerMetadataValue LoggerMetadataValue::dictionary(
    std::initializer_list<std::pair<const std::string, LoggerMetadataValue>> entries) {
    LoggerMetadata metadata;
    for (const auto& entry : entries) {
        if (!metadata.insert(entry).second) {
            // A literal with a repeated key is a programming error the caller
            // cannot handle: stop, naming the key.
            platform::LineWriter::standardError().writeLine("Duplicate values for key: '" + entry.first +
                                                            "'");
            std::abort();
        }
    }
    return dictionary(std::move(metadata));
}

LoggerMetadataValue LoggerMetadataValue::array(std::vector<LoggerMetadataValue> elements) {
    return LoggerMetadataValue(
        Storage(std::in_place_index<3>,
                std::make_shared<const std::vector<LoggerMetadataValue>>(std::move(elements))));
}

const CustomStringConvertible* LoggerMetadataValue::asStringConvertible() const {
    const auto* payload = std::get_if<1>(&storage_);
    return payload == nullptr ? nullptr : payload->get();
}

const LoggerMetadata* LoggerMetadataValue::asDictionary() const {
    const auto* payload = std::get_if<2>(&storage_);
    return payload == nullptr ? nullptr : payload->get();
}

const std::vector<LoggerMetadataValue>* LoggerMetadataValue::asArray() const {
    const auto* payload = std::get_if<3>(&storage_);
    return payload == nullptr ? nullptr : payload->get();
}

std::string LoggerMetadataValue::description() const {
    switch (kind()) {
        case Kind::string:
            return *asString();
        case Kind::stringConvertible: {
            const CustomStringConvertible* payload = asStringConvertible();
            return payload == nullptr ? std::string() : payload->description();
        }
        case Kind::array: {
            std::string out = "[";
            bool first = true;
            for (const LoggerMetadataValue& element : *asArray()) {
                if (!first) out += ", ";
                first = false;
                out += debugQuoted(element.description());
            }
            return out + "]";
        }
        case Kind::dictionary: {
            const LoggerMetadata& entries = *asDictionary();
            if (entries.empty()) return "[:]";
            std::string out = "[";
            bool first = true;
            for (const auto& [key, value] : entries) {
                if (!first) out += ", ";
                first = false;
                out += debugQuoted(key);
                out += ": ";
                out += debugQuoted(value.description());
            }
            return out + "]";
        }
    }
    return {};
}

bool metadataEqual(const LoggerMetadata& a, const LoggerMetadata& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [key, value] : a) {
        const auto other = b.find(key);
        if (other == b.end() || !(other->second == value)) return false;
    }
    return true;
}

bool operator==(const LoggerMetadataValue& a, const LoggerMetadataValue& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case LoggerMetadataValue::Kind::string:
            return textsEqual(*a.asString(), *b.asString());
        case LoggerMetadataValue::Kind::stringConvertible:
            return textsEqual(a.description(), b.description());
        case LoggerMetadataValue::Kind::dictionary:
            return metadataEqual(*a.asDictionary(), *b.asDictionary());
        case LoggerMetadataValue::Kind::array: {
            const auto& x = *a.asArray();
            const auto& y = *b.asArray();
            return std::equal(x.begin(), x.end(), y.begin(), y.end());
        }
    }
    return false;
}

}  // namespace tervolo::logging
