// Strict JSON record coding: the non-template parts of JSONDecoder,
// JSONEncoder and their errors.
#include <cstdio>

#include "platform/coding/DecodingError.hpp"
#include "platform/coding/EncodingError.hpp"
#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"

namespace platform {

namespace {

std::string pathText(const std::vector<std::string>& path) {
    std::string text = "[";
    for (size_t i = 0; i < path.size(); ++i) {
        if (i) text += ", ";
        text += "\"" + path[i] + "\"";
    }
    return text + "]";
}

const char* foundText(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::null:
            return "null";
        case nlohmann::json::value_t::boolean:
            return "a boolean";
        case nlohmann::json::value_t::string:
            return "a string";
        case nlohmann::json::value_t::array:
            return "an array";
        case nlohmann::json::value_t::object:
            return "a dictionary";
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
        case nlohmann::json::value_t::number_float:
            return "a number";
        default:
            return "an unsupported value";
    }
}

std::string numberText(const nlohmann::json& value) {
    if (value.is_number_float()) {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%.17g", value.get<double>());
        return buffer;
    }
    return value.dump();
}

}  // namespace

DecodingError::DecodingError(Category category, std::string subject, std::vector<std::string> codingPath,
                             std::string debugDescription)
    : category_(category),
      subject_(std::move(subject)),
      codingPath_(std::move(codingPath)),
      debugDescription_(std::move(debugDescription)) {
    what_ = diagnostic();
    if (!what_.empty() && what_.back() == '\n') what_.pop_back();
}

std::string DecodingError::codingPathDescription() const {
    return pathText(codingPath_);
}

std::string DecodingError::diagnostic() const {
    std::string path = codingPathDescription();
    switch (category_) {
        case Category::typeMismatch:
            return "Type '" + subject_ + "' mismatch: " + debugDescription_ + "\ncodingPath: " + path + "\n";
        case Category::valueNotFound:
            return "Value '" + subject_ + "' not found: " + debugDescription_ + "\ncodingPath: " + path +
                   "\n";
        case Category::keyNotFound:
            return "Key '" + subject_ + "' not found: " + debugDescription_ + "\ncodingPath: " + path + "\n";
        case Category::dataCorrupted:
            return "Context(codingPath: " + path + ", debugDescription: \"" + debugDescription_ + "\")\n";
    }
    return "";
}

EncodingError::EncodingError(std::vector<std::string> codingPath, std::string debugDescription)
    : codingPath_(std::move(codingPath)), debugDescription_(std::move(debugDescription)) {
    what_ = "Invalid value: " + debugDescription_ + " codingPath: " + pathText(codingPath_);
}

namespace coding_detail {

void throwTypeMismatch(const std::string& expected, const nlohmann::json& found, const Path& path) {
    throw DecodingError(DecodingError::Category::typeMismatch, expected, path,
                        "Expected to decode " + expected + " but found " + foundText(found) + " instead.");
}

void throwValueNotFound(const std::string& expected, const Path& path) {
    throw DecodingError(DecodingError::Category::valueNotFound, expected, path,
                        "Expected " + expected + " value but found null instead.");
}

void throwNumberDoesNotFit(const nlohmann::json& found, const std::string& expected, const Path& path) {
    throw DecodingError(DecodingError::Category::dataCorrupted, "", path,
                        "Parsed JSON number <" + numberText(found) + "> does not fit in " + expected + ".");
}

void throwDataCorrupted(const Path& path, const std::string& description) {
    throw DecodingError(DecodingError::Category::dataCorrupted, "", path, description);
}

void throwInvalidValue(double value, const Path& path) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    throw EncodingError(path, std::string("Unable to encode ") + buffer + " directly in JSON.");
}

std::string indexKey(size_t index) {
    return "Index " + std::to_string(index);
}

}  // namespace coding_detail

std::vector<std::string> KeyedDecodingContainer::allKeys() const {
    std::vector<std::string> keys;
    for (auto it = object_->begin(); it != object_->end(); ++it) keys.push_back(it.key());
    return keys;
}

bool KeyedDecodingContainer::decodeNil(const std::string& key) const {
    auto it = object_->find(key);
    return it == object_->end() || it->is_null();
}

KeyedDecodingContainer KeyedDecodingContainer::nestedContainer(const std::string& key) const {
    auto it = object_->find(key);
    if (it == object_->end()) throwKeyNotFound(key);
    auto path = pathWith(key);
    if (it->is_null()) coding_detail::throwValueNotFound("Dictionary<String, Any>", path);
    if (!it->is_object()) coding_detail::throwTypeMismatch("Dictionary<String, Any>", *it, path);
    return KeyedDecodingContainer(*it, path);
}

const nlohmann::json& KeyedDecodingContainer::rawValue(const std::string& key) const {
    auto it = object_->find(key);
    if (it == object_->end()) throwKeyNotFound(key);
    return *it;
}

void KeyedDecodingContainer::throwKeyNotFound(const std::string& key) const {
    throw DecodingError(DecodingError::Category::keyNotFound, key, codingPath_,
                        "No value associated with key \"" + key + "\".");
}

nlohmann::json JSONDecoder::parse(std::string_view text) const {
    if (text.size() > maximumBytes) {
        coding_detail::throwDataCorrupted({}, "The given data was not valid JSON: it is larger than " +
                                                  std::to_string(maximumBytes) + " bytes.");
    }
    bool tooDeep = false;
    int limit = maximumDepth;
    // The parser is iterative, so depth costs no stack; the limit keeps a hostile
    // reply from building a value that later recursive walks would choke on.
    auto callback = [&](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        if (depth > limit) tooDeep = true;
        return !tooDeep;
    };
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(text.begin(), text.end(), callback);
    } catch (const nlohmann::json::exception& error) {
        coding_detail::throwDataCorrupted({},
                                          std::string("The given data was not valid JSON. ") + error.what());
    }
    if (tooDeep) {
        coding_detail::throwDataCorrupted({}, "The given data was not valid JSON: nested deeper than " +
                                                  std::to_string(limit) + " levels.");
    }
    return root;
}

}  // namespace platform
