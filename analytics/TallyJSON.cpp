#include "analytics/TallyJSON.hpp"

#include <cmath>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyText.hpp"

namespace tervolo::analytics {

namespace {

bool allNumbersFinite(const TallyJSON& value) {
    if (value.is_number_float()) {
        return std::isfinite(value.get<double>());
    }
    if (value.is_structured()) {
        for (const auto& member : value) {
            if (!allNumbersFinite(member)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

TallyJSON TallyJSONNumber(double value) {
    if (std::isfinite(value) && std::trunc(value) == value && std::fabs(value) < 9007199254740992.0) {
        return static_cast<int64_t>(value);
    }
    return value;
}

std::optional<std::string> TallyJSONFromObject(const TallyJSON& object) {
    if (!object.is_structured() || !allNumbersFinite(object)) {
        TallyLog(TallyLogLevel::Warning, "Object is not valid for converting to JSON!");
        return std::nullopt;
    }
    return object.dump(-1, ' ', false, TallyJSON::error_handler_t::replace);
}

std::optional<std::string> tly_JSONify(const TallyJSON& object) {
    auto text = TallyJSONFromObject(object);
    if (!text) {
        return std::nullopt;
    }
    return tly_URLEscaped(*text);
}

TallyJSON tly_truncated(const TallyJSON& dictionary, std::string_view name) {
    if (!dictionary.is_object()) {
        return dictionary;
    }
    const std::string keyName = std::string(name) + " key";
    const std::string valueName = std::string(name) + " value";
    TallyJSON result = TallyJSON::object();
    for (const auto& [key, value] : dictionary.items()) {
        std::string cutKey = tly_truncatedKey(key, keyName);
        if (value.is_string()) {
            result[cutKey] = tly_truncatedValue(value.get_ref<const std::string&>(), valueName);
        } else {
            result[cutKey] = value;
        }
    }
    return result;
}

TallyJSON tly_limited(const TallyJSON& dictionary, std::string_view name) {
    const uint64_t limit = TallyCommon::sharedInstance().maxSegmentationValues();
    if (!dictionary.is_object() || dictionary.size() <= limit) {
        return dictionary;
    }
    TallyJSON result = TallyJSON::object();
    std::string removed;
    uint64_t kept = 0;
    for (const auto& [key, value] : dictionary.items()) {
        if (kept < limit) {
            result[key] = value;
            ++kept;
        } else {
            removed += removed.empty() ? "" : ", ";
            removed += key;
        }
    }
    TallyLog(TallyLogLevel::Warning,
             "Number of key-value pairs in {} is more than the limit ({})! So, some of them will be "
             "removed:\n [{}]",
             name, limit, removed);
    return result;
}

}  // namespace tervolo::analytics
