#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyJSON.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::analytics {

inline constexpr const char* kTallyLocalPicturePath = "kTallyLocalPicturePath";

// A profile value that may be absent (nothing: not sent), an explicit null
// (TallyJSON(nullptr): sent as null) or a value.
using TallyUserDetailsValue = std::optional<TallyJSON>;

// What the application tells the analytics server about its user: profile
// properties, custom properties and pending modifications of custom
// properties. Nothing leaves before save(), which queues up to three
// "user_details" requests (profile, picture, modifications) and forgets it
// all. Made on first use, before start too. Any thread (one lock).
class TallyUserDetails {
  public:
    static TallyUserDetails& sharedInstance();

    TallyUserDetailsValue name() const { return get(&TallyUserDetails::name_); }
    void setName(TallyUserDetailsValue v) { set(&TallyUserDetails::name_, std::move(v)); }
    TallyUserDetailsValue username() const { return get(&TallyUserDetails::username_); }
    void setUsername(TallyUserDetailsValue v) { set(&TallyUserDetails::username_, std::move(v)); }
    TallyUserDetailsValue email() const { return get(&TallyUserDetails::email_); }
    void setEmail(TallyUserDetailsValue v) { set(&TallyUserDetails::email_, std::move(v)); }
    TallyUserDetailsValue organization() const { return get(&TallyUserDetails::organization_); }
    void setOrganization(TallyUserDetailsValue v) { set(&TallyUserDetails::organization_, std::move(v)); }
    TallyUserDetailsValue phone() const { return get(&TallyUserDetails::phone_); }
    void setPhone(TallyUserDetailsValue v) { set(&TallyUserDetails::phone_, std::move(v)); }
    TallyUserDetailsValue gender() const { return get(&TallyUserDetails::gender_); }
    void setGender(TallyUserDetailsValue v) { set(&TallyUserDetails::gender_, std::move(v)); }
    TallyUserDetailsValue pictureURL() const { return get(&TallyUserDetails::pictureURL_); }
    void setPictureURL(TallyUserDetailsValue v) { set(&TallyUserDetails::pictureURL_, std::move(v)); }
    TallyUserDetailsValue pictureLocalPath() const { return get(&TallyUserDetails::pictureLocalPath_); }
    void setPictureLocalPath(TallyUserDetailsValue v) {
        set(&TallyUserDetails::pictureLocalPath_, std::move(v));
    }
    TallyUserDetailsValue birthYear() const { return get(&TallyUserDetails::birthYear_); }
    void setBirthYear(TallyUserDetailsValue v) { set(&TallyUserDetails::birthYear_, std::move(v)); }
    TallyUserDetailsValue custom() const { return get(&TallyUserDetails::custom_); }
    void setCustom(TallyUserDetailsValue v) { set(&TallyUserDetails::custom_, std::move(v)); }
    TallyJSON modifications() const;

    // Escaped JSON of the profile and "custom"; none when nothing is set.
    std::optional<std::string> serializedUserDetails();
    void clearUserDetails();
    void save();

    // Modifications of custom property `key`; a later one replaces an earlier.
    void set(const std::string& key, const std::optional<std::string>& value);
    void setNumberValue(const std::string& key, const std::optional<double>& value);
    void setBoolValue(const std::string& key, bool value);
    void setOnce(const std::string& key, const std::optional<std::string>& value);
    void setOnceNumberValue(const std::string& key, const std::optional<double>& value);
    void setOnceBoolValue(const std::string& key, bool value);
    void unSet(const std::string& key);
    void increment(const std::string& key);
    void incrementBy(const std::string& key, const std::optional<double>& value);
    void multiply(const std::string& key, const std::optional<double>& value);
    void max(const std::string& key, const std::optional<double>& value);
    void min(const std::string& key, const std::optional<double>& value);
    void push(const std::string& key, const std::optional<std::string>& value);
    void pushNumberValue(const std::string& key, const std::optional<double>& value);
    void pushBoolValue(const std::string& key, bool value);
    void pushValues(const std::string& key, const std::optional<std::vector<std::string>>& values);
    void pushUnique(const std::string& key, const std::optional<std::string>& value);
    void pushUniqueNumberValue(const std::string& key, const std::optional<double>& value);
    void pushUniqueBoolValue(const std::string& key, bool value);
    void pushUniqueValues(const std::string& key, const std::optional<std::vector<std::string>>& values);
    void pull(const std::string& key, const std::optional<std::string>& value);
    void pullNumberValue(const std::string& key, const std::optional<double>& value);
    void pullBoolValue(const std::string& key, bool value);
    void pullValues(const std::string& key, const std::optional<std::vector<std::string>>& values);

  private:
    friend class platform::SharedInstance<TallyUserDetails>;
    TallyUserDetails() = default;
    TallyUserDetailsValue get(TallyUserDetailsValue TallyUserDetails::*field) const;
    void set(TallyUserDetailsValue TallyUserDetails::*field, TallyUserDetailsValue value);
    void modify(const char* operation, const std::string& key, const char* modifier, TallyJSON value);
    template <typename T>
    void modifyOptional(const char* operation, const std::string& key, const char* modifier,
                        const std::optional<T>& value);

    mutable std::mutex mutex_;
    TallyUserDetailsValue name_, username_, email_, organization_, phone_, gender_, pictureURL_,
        pictureLocalPath_, birthYear_, custom_;
    TallyJSON modifications_ = TallyJSON::object();
};

}  // namespace tervolo::analytics
