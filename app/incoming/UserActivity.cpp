#include "app/incoming/UserActivity.hpp"

#include "platform/text/Numbers.hpp"
#include "logging/LoggerMetadataValue.hpp"

namespace tervolo::app {

namespace {

std::string quoted(const std::string& text) {
    return logging::debugQuoted(text);
}

std::string describeValue(const platform::PropertyValue& value) {
    using Type = platform::PropertyValue::Type;
    switch (value.type()) {
        case Type::Bool:
            return *value.asBool() ? "true" : "false";
        case Type::Integer:
            return std::to_string(*value.asInteger());
        case Type::Double:
            return platform::text::describe(*value.asDouble());
        case Type::String:
            return quoted(*value.asString());
        case Type::Date:
            return platform::text::describe(value.asDate()->secondsSince2001);
        case Type::List: {
            std::string text = "[";
            for (const auto& item : *value.asList())
                text += (text.size() > 1 ? ", " : "") + describeValue(item);
            return text + "]";
        }
        case Type::Dictionary:
            return describeUserInfo(*value.asDictionary());
    }
    return {};
}

}  // namespace

std::string describeUserInfo(const platform::PropertyValue::Dictionary& userInfo) {
    if (userInfo.empty()) return "[:]";
    std::string text = "[";
    for (const auto& [key, value] : userInfo) {
        if (text.size() > 1) text += ", ";
        text += quoted(key) + ": " + describeValue(value);
    }
    return text + "]";
}

std::string UserActivity::debugDescription() const {
    std::string text = "<UserActivity: type " + quoted(activityType);
    if (webpageURL) text += ", URL " + quoted(*webpageURL);
    if (userInfo) text += ", userInfo " + describeUserInfo(*userInfo);
    return text + ">";
}

}  // namespace tervolo::app
