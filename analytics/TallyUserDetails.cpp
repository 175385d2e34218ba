#include "analytics/TallyUserDetails.hpp"

#include <type_traits>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyText.hpp"

namespace tervolo::analytics {

TallyUserDetails& TallyUserDetails::sharedInstance() {
    return platform::SharedInstance<TallyUserDetails>::get();
}

TallyUserDetailsValue TallyUserDetails::get(TallyUserDetailsValue TallyUserDetails::*field) const {
    std::lock_guard lock(mutex_);
    return this->*field;
}

void TallyUserDetails::set(TallyUserDetailsValue TallyUserDetails::*field, TallyUserDetailsValue value) {
    std::lock_guard lock(mutex_);
    this->*field = std::move(value);
}

TallyJSON TallyUserDetails::modifications() const {
    std::lock_guard lock(mutex_);
    return modifications_;
}

std::optional<std::string> TallyUserDetails::serializedUserDetails() {
    std::lock_guard lock(mutex_);
    TallyJSON object = TallyJSON::object();
    const std::pair<const char*, TallyUserDetailsValue*> texts[] = {
        {"name", &name_},   {"username", &username_}, {"email", &email_}, {"organization", &organization_},
        {"phone", &phone_}, {"gender", &gender_}};
    for (const auto& [key, value] : texts) {
        if (!*value) continue;
        object[key] = (*value)->is_string()
                          ? TallyJSON(tly_truncatedValue((*value)->get_ref<const std::string&>(),
                                                         std::string("User details ") + key))
                          : **value;
    }
    if (pictureURL_) object["picture"] = *pictureURL_;
    if (birthYear_) object["byear"] = *birthYear_;
    if (custom_ && custom_->is_object()) {
        custom_ = tly_truncated(*custom_, "User details custom dictionary");
    }
    if (custom_) object["custom"] = *custom_;
    if (object.empty()) {
        return std::nullopt;
    }
    return tly_JSONify(object);
}

void TallyUserDetails::clearUserDetails() {
    std::lock_guard lock(mutex_);
    for (auto* field : {&name_, &username_, &email_, &organization_, &phone_, &gender_, &pictureURL_,
                        &pictureLocalPath_, &birthYear_, &custom_}) {
        field->reset();
    }
    modifications_ = TallyJSON::object();
}

void TallyUserDetails::save() {
    TallyLog(TallyLogLevel::Info, "-[TallyUserDetails save]");
    if (!TallyCommon::sharedInstance().hasStarted()) {
        return;
    }
    auto consent = TallyConsentManager::sharedInstance();
    auto connection = TallyConnectionManager::sharedInstance();
    if (!consent || !consent->consentForUserDetails() || !connection) {
        return;
    }
    if (auto details = serializedUserDetails()) {
        connection->sendUserDetails(*details);
    }
    const auto picturePath = pictureLocalPath();
    if (picturePath && picturePath->is_string() && !pictureURL()) {
        connection->sendUserDetails(
            tly_JSONify(TallyJSON{{kTallyLocalPicturePath, *picturePath}}).value_or(""));
    }
    const TallyJSON pending = modifications();
    if (!pending.empty()) {
        connection->sendUserDetails(tly_JSONify(TallyJSON{{"custom", pending}}).value_or(""));
    }
    clearUserDetails();
}

void TallyUserDetails::modify(const char* operation, const std::string& key, const char* modifier,
                              TallyJSON value) {
    TallyLog(TallyLogLevel::Info, "-[TallyUserDetails {}] {} {}", operation, key, value.dump());
    std::lock_guard lock(mutex_);
    modifications_[key] = modifier != nullptr ? TallyJSON{{modifier, std::move(value)}} : std::move(value);
}

template <typename T>
void TallyUserDetails::modifyOptional(const char* operation, const std::string& key, const char* modifier,
                                      const std::optional<T>& value) {
    if (!value) {
        TallyLog(TallyLogLevel::Warning, "-[TallyUserDetails {}] call will be ignored as value is nil!",
                 operation);
        return;
    }
    if constexpr (std::is_same_v<T, double>) {
        modify(operation, key, modifier, TallyJSONNumber(*value));
    } else {
        modify(operation, key, modifier, TallyJSON(*value));
    }
}

void TallyUserDetails::set(const std::string& key, const std::optional<std::string>& value) {
    if (!value) {
        std::lock_guard lock(mutex_);
        modifications_.erase(key);
        return;
    }
    modify("set:value:", key, nullptr, *value);
}

void TallyUserDetails::setNumberValue(const std::string& key, const std::optional<double>& value) {
    if (!value) {
        std::lock_guard lock(mutex_);
        modifications_.erase(key);
        return;
    }
    modify("set:numberValue:", key, nullptr, TallyJSONNumber(*value));
}

void TallyUserDetails::setBoolValue(const std::string& key, bool value) {
    modify("set:boolValue:", key, nullptr, value);
}
void TallyUserDetails::setOnce(const std::string& key, const std::optional<std::string>& value) {
    modifyOptional("setOnce:value:", key, "$setOnce", value);
}
void TallyUserDetails::setOnceNumberValue(const std::string& key, const std::optional<double>& value) {
    modifyOptional("setOnce:numberValue:", key, "$setOnce", value);
}
void TallyUserDetails::setOnceBoolValue(const std::string& key, bool value) {
    modify("setOnce:boolValue:", key, "$setOnce", value);
}
void TallyUserDetails::unSet(const std::string& key) {
    modify("unSet:", key, nullptr, nullptr);
}
void TallyUserDetails::increment(const std::string& key) {
    incrementBy(key, 1);
}
void TallyUserDetails::incrementBy(const std::string& key, const std::optional<double>& value) {
    modifyOptional("incrementBy:value:", key, "$inc", value);
}
void TallyUserDetails::multiply(const std::string& key, const std::optional<double>& value) {
    modifyOptional("multiply:value:", key, "$mul", value);
}
void TallyUserDetails::max(const std::string& key, const std::optional<double>& value) {
    modifyOptional("max:value:", key, "$max", value);
}
void TallyUserDetails::min(const std::string& key, const std::optional<double>& value) {
    modifyOptional("min:value:", key, "$min", value);
}
void TallyUserDetails::push(const std::string& key, const std::optional<std::string>& value) {
    modifyOptional("push:value:", key, "$push", value);
}
void TallyUserDetails::pushNumberValue(const std::string& key, const std::optional<double>& value) {
    modifyOptional("push:numberValue:", key, "$push", value);
}
void TallyUserDetails::pushBoolValue(const std::string& key, bool value) {
    modify("push:boolValue:", key, "$push", value);
}
void TallyUserDetails::pushValues(const std::string& key,
                                  const std::optional<std::vector<std::string>>& values) {
    modifyOptional("push:values:", key, "$push", values);
}
void TallyUserDetails::pushUnique(const std::string& key, const std::optional<std::string>& value) {
    modifyOptional("pushUnique:value:", key, "$addToSet", value);
}
void TallyUserDetails::pushUniqueNumberValue(const std::string& key, const std::optional<double>& value) {
    modifyOptional("pushUnique:numberValue:", key, "$addToSet", value);
}
void TallyUserDetails::pushUniqueBoolValue(const std::string& key, bool value) {
    modify("pushUnique:boolValue:", key, "$addToSet", value);
}
void TallyUserDetails::pushUniqueValues(const std::string& key,
                                        const std::optional<std::vector<std::string>>& values) {
    modifyOptional("pushUnique:values:", key, "$addToSet", values);
}
void TallyUserDetails::pull(const std::string& key, const std::optional<std::string>& value) {
    modifyOptional("pull:value:", key, "$pull", value);
}
void TallyUserDetails::pullNumberValue(const std::string& key, const std::optional<double>& value) {
    modifyOptional("pull:numberValue:", key, "$pull", value);
}
void TallyUserDetails::pullBoolValue(const std::string& key, bool value) {
    modify("pull:boolValue:", key, "$pull", value);
}
void TallyUserDetails::pullValues(const std::string& key,
                                  const std::optional<std::vector<std::string>>& values) {
    modifyOptional("pull:values:", key, "$pull", values);
}

}  // namespace tervolo::analytics
