#include "analytics/TallyConnectionManager.hpp"

#include <cmath>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyLocationManager.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallySingleton.hpp"
#include "analytics/TallyText.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/net/URLSession.hpp"

namespace tervolo::analytics {

namespace {

TallySingleton<TallyConnectionManager>& connectionManagerSlot() {
    return platform::SharedInstance<TallySingleton<TallyConnectionManager>>::get();
}

void appendPair(std::string& query, std::string_view key, std::string_view value) {
    query += '&';
    query += key;
    query += '=';
    query += value;
}

void appendEscapedPair(std::string& query, std::string_view key, std::string_view value) {
    query += '&';
    query += key;
    query += '=';
    tly_appendURLEscaped(query, value);
}

std::shared_ptr<TallyConsentManager> consent() {
    return TallyConsentManager::sharedInstance();
}

bool consentFor(bool (TallyConsentManager::*getter)() const) {
    auto manager = consent();
    return manager && (manager.get()->*getter)();
}

std::string lowercased(std::string text) {
    for (auto& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

std::shared_ptr<TallyConnectionManager> TallyConnectionManager::sharedInstance() {
    return connectionManagerSlot().get([] { return new TallyConnectionManager(); });
}

void TallyConnectionManager::resetForTesting() {
    auto old = connectionManagerSlot().reset();
    if (!old) {
        return;
    }
    std::shared_ptr<platform::URLSession> session;
    {
        std::lock_guard lock(old->mutex_);
        session = old->session_;
    }
    if (session) {
        session->invalidateAndCancel();
    }
    old->waitUntilIdle(10);
}

std::string TallyConnectionManager::appKey() const {
    std::lock_guard lock(mutex_);
    return appKey_;
}

void TallyConnectionManager::setAppKey(std::string appKey) {
    std::lock_guard lock(mutex_);
    appKey_ = std::move(appKey);
}

std::string TallyConnectionManager::host() const {
    std::lock_guard lock(mutex_);
    return host_;
}

void TallyConnectionManager::setHost(std::string host) {
    if (!host.empty() && host.back() == '/') {
        TallyLog(TallyLogLevel::Warning,
                 "Host has an extra \"/\" at the end! It will be removed by the SDK.                  But "
                 "please make "
                 "sure you fix it to avoid this warning in the future.");
        host.pop_back();
    }
    std::lock_guard lock(mutex_);
    host_ = std::move(host);
}

std::optional<std::vector<std::string>> TallyConnectionManager::pinnedCertificates() const {
    std::lock_guard lock(mutex_);
    return pinnedCertificates_;
}

void TallyConnectionManager::setPinnedCertificates(std::optional<std::vector<std::string>> names) {
    std::lock_guard lock(mutex_);
    pinnedCertificates_ = std::move(names);
}

std::optional<std::string> TallyConnectionManager::secretSalt() const {
    std::lock_guard lock(mutex_);
    return secretSalt_;
}

void TallyConnectionManager::setSecretSalt(std::optional<std::string> salt) {
    std::lock_guard lock(mutex_);
    secretSalt_ = std::move(salt);
}

platform::URLSessionConfiguration TallyConnectionManager::URLSessionConfiguration() const {
    std::lock_guard lock(mutex_);
    return configuration_;
}

void TallyConnectionManager::setURLSessionConfiguration(platform::URLSessionConfiguration configuration) {
    std::lock_guard lock(mutex_);
    configuration_ = std::move(configuration);
    session_.reset();
}

void TallyConnectionManager::setPushTestMode(std::optional<std::string> mode) {
    std::lock_guard lock(mutex_);
    pushTestMode_ = std::move(mode);
}

std::string TallyConnectionManager::queryEssentials() const {
    auto& common = TallyCommon::sharedInstance();
    const double timestamp = common.uniqueTimestamp();
    std::string query;
    query.reserve(192);
    query += "app_key=";
    tly_appendURLEscaped(query, appKey());
    appendEscapedPair(query, "device_id", TallyDeviceInfo::sharedInstance().deviceID());
    appendPair(query, "timestamp", std::to_string(std::llround(timestamp * 1000.0)));
    const auto calendar = common.calendarNow();
    appendPair(query, "hour", std::to_string(calendar.hourOfDay));
    appendPair(query, "dow", std::to_string(calendar.dayOfWeek));
    appendPair(query, "tz", std::to_string(calendar.timeZone));
    appendPair(query, "sdk_version", common.SDKVersion());
    appendPair(query, "sdk_name", common.SDKName());
    return query;
}

std::optional<std::string> TallyConnectionManager::locationRelatedInfoQueryString() const {
    auto location = TallyLocationManager::sharedInstance();
    if (!consentFor(&TallyConsentManager::consentForLocation) || !location ||
        location->isLocationInfoDisabled()) {
        return std::string("&location=");
    }
    std::string fragment;
    if (auto value = location->location()) appendEscapedPair(fragment, "location", *value);
    if (auto value = location->city()) appendEscapedPair(fragment, "city", *value);
    if (auto value = location->ISOCountryCode()) appendEscapedPair(fragment, "country_code", *value);
    if (auto value = location->IP()) appendEscapedPair(fragment, "ip_address", *value);
    if (fragment.empty()) {
        return std::nullopt;
    }
    return fragment;
}

std::optional<std::string> TallyConnectionManager::attributionQueryString() const {
    auto attributionID = TallyCommon::sharedInstance().attributionID();
    if (!consentFor(&TallyConsentManager::consentForAttribution) || !attributionID) {
        return std::nullopt;
    }
    TallyJSON object = TallyJSON::object();
    object["idfa"] = *attributionID;
    std::string fragment;
    appendPair(fragment, "aid", tly_JSONify(object).value_or(""));
    return fragment;
}

std::string TallyConnectionManager::appendChecksum(const std::string& query) const {
    auto salt = secretSalt();
    if (!salt) {
        return query;
    }
    std::string result = query;
    appendPair(result, "checksum256", tly_SHA256(query + *salt));
    return result;
}

int64_t TallyConnectionManager::sessionLengthInSeconds() {
    const double now = platform::Clock::current()->wallSeconds();
    std::lock_guard lock(mutex_);
    const double total = unsentSessionLength_ + (now - lastSessionStartTime_);
    const auto whole = static_cast<int32_t>(std::trunc(total));
    unsentSessionLength_ = total - whole;
    lastSessionStartTime_ = now;
    return whole;
}

void TallyConnectionManager::queue(const std::string& query) {
    if (auto persistency = TallyPersistency::sharedInstance()) {
        persistency->addToQueue(query);
    }
    proceedOnQueue();
}

void TallyConnectionManager::beginSession() {
    if (!consentFor(&TallyConsentManager::consentForSessions)) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        lastSessionStartTime_ = platform::Clock::current()->wallSeconds();
        unsentSessionLength_ = 0;
    }
    std::string query = queryEssentials();
    appendPair(query, "begin_session", "1");
    appendPair(query, "metrics", TallyDeviceInfo::sharedInstance().metrics());
    if (auto fragment = locationRelatedInfoQueryString()) query += *fragment;
    if (auto fragment = attributionQueryString()) query += *fragment;
    queue(query);
}

void TallyConnectionManager::updateSession() {
    if (!consentFor(&TallyConsentManager::consentForSessions)) {
        return;
    }
    std::string query = queryEssentials();
    appendPair(query, "session_duration", std::to_string(sessionLengthInSeconds()));
    queue(query);
}

void TallyConnectionManager::endSession() {
    if (!consentFor(&TallyConsentManager::consentForSessions)) {
        return;
    }
    std::string query = queryEssentials();
    appendPair(query, "end_session", "1");
    appendPair(query, "session_duration", std::to_string(sessionLengthInSeconds()));
    queue(query);
}

void TallyConnectionManager::sendEvents() {
    auto persistency = TallyPersistency::sharedInstance();
    auto events = persistency ? persistency->serializedRecordedEvents() : std::nullopt;
    if (!events) {
        return;
    }
    std::string query = queryEssentials();
    appendPair(query, "events", *events);
    queue(query);
}

void TallyConnectionManager::sendPushToken(const std::string& token) {
    std::optional<std::string> mode;
    {
        std::lock_guard lock(mutex_);
        mode = pushTestMode_;
    }
    const char* testMode = "0";
    if (mode == "TLYPushTestModeDevelopment") testMode = "1";
    if (mode == "TLYPushTestModeTestFlightOrAdHoc") testMode = "2";
    std::string query = queryEssentials();
    appendPair(query, "token_session", "1");
    appendEscapedPair(query, "ios_token", token);
    appendPair(query, "test_mode", testMode);
    queue(query);
}

void TallyConnectionManager::sendLocationInfo() {
    auto fragment = locationRelatedInfoQueryString();
    if (!fragment) {
        return;
    }
    queue(queryEssentials() + *fragment);
}

void TallyConnectionManager::sendUserDetails(const std::string& userDetails) {
    std::string query = queryEssentials();
    appendPair(query, "user_details", userDetails);  // already escaped JSON
    queue(query);
}

void TallyConnectionManager::sendCrashReport(const std::optional<std::string>& report, bool immediately) {
    if (!report) {
        TallyLog(TallyLogLevel::Warning,
                 "Crash report is nil. Converting to JSON may have failed due to custom objects in initial "
                 "config's "
                 "crashSegmentation property.");
        return;
    }
    if (!immediately) {
        std::string query = queryEssentials();
        appendPair(query, "crash", *report);  // already escaped JSON
        queue(query);
        return;
    }
    // A dying process sends nothing: the record is queued with the session's
    // last events and end, and written to disk before this returns; the next
    // start sends it. No request leaves while isCrashing is set.
    isCrashing_ = true;
    sendEvents();
    if (!TallyCommon::sharedInstance().manualSessionHandling()) {
        endSession();
    }
    std::string query = queryEssentials();
    appendPair(query, "crash", *report);
    if (TallyDeviceInfo::sharedInstance().isDeviceIDTemporary()) {
        TallyLog(TallyLogLevel::Debug,
                 "Device ID is set as TLYTemporaryDeviceID! Crash report stored to be sent later!");
    }
    if (auto persistency = TallyPersistency::sharedInstance()) {
        persistency->addToQueue(query);
        persistency->saveToFileSync();
    }
}

void TallyConnectionManager::sendOldDeviceID(const std::string& oldDeviceID) {
    std::string query = queryEssentials();
    appendEscapedPair(query, "old_device_id", oldDeviceID);
    queue(query);
}

void TallyConnectionManager::sendAttribution() {
    auto fragment = attributionQueryString();
    if (!fragment) {
        return;
    }
    queue(queryEssentials() + *fragment);
}

void TallyConnectionManager::sendDirectAttributionWithCampaignID(const std::string& campaignID,
                                                                 const std::string& campaignUserID) {
    // Both come from campaign data the caller supplies: escaped, so neither
    // can add parameters of its own to the request.
    std::string query = queryEssentials();
    appendEscapedPair(query, "campaign_id", campaignID);
    if (!campaignUserID.empty()) {
        appendEscapedPair(query, "campaign_user", campaignUserID);
    }
    queue(query);
}

void TallyConnectionManager::sendAttributionData(const std::string& attributionData) {
    std::string query = queryEssentials();
    appendEscapedPair(query, "attribution_data", attributionData);
    queue(query);
}

void TallyConnectionManager::sendIndirectAttribution(const TallyJSON& attribution) {
    std::string query = queryEssentials();
    appendPair(query, "aid", tly_JSONify(attribution).value_or(""));
    queue(query);
}

void TallyConnectionManager::sendConsents(const std::string& consents) {
    std::string query = queryEssentials();
    appendPair(query, "consent", consents);  // already escaped JSON
    queue(query);
}

void TallyConnectionManager::sendPerformanceMonitoringTrace(const std::string& trace) {
    std::string query = queryEssentials();
    appendPair(query, "apm", trace);  // already escaped JSON
    queue(query);
}

std::vector<uint8_t> TallyConnectionManager::multipartBody(const std::string& fileName,
                                                           const std::string& mimeSubtype,
                                                           const std::vector<uint8_t>& bytes) {
    std::string head = std::string("--") + kTallyMultipartBoundary + "\r\n";
    head += "Content-Disposition: form-data; name=\"pictureFile\"; filename=\"" + fileName + "\"\r\n";
    head += "Content-Type: image/" + mimeSubtype + "\r\n\r\n";
    const std::string tail = std::string("\r\n--") + kTallyMultipartBoundary + "--\r\n";
    std::vector<uint8_t> body(head.begin(), head.end());
    body.insert(body.end(), bytes.begin(), bytes.end());
    body.insert(body.end(), tail.begin(), tail.end());
    return body;
}

std::optional<std::vector<uint8_t>> TallyConnectionManager::pictureUploadDataForQueryString(
    const std::string& query) const {
    if (query.find("user_details=") == std::string::npos) {
        return std::nullopt;  // the common case, without parsing the query
    }
    auto value = tly_valueForQueryStringKey(query, "user_details");
    auto decoded = value ? tly_percentDecoded(*value) : std::nullopt;
    if (!decoded) {
        return std::nullopt;
    }
    const auto json = TallyJSON::parse(*decoded, nullptr, false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    const auto entry = json.find("kTallyLocalPicturePath");
    if (entry == json.end() || !entry->is_string() || entry->get_ref<const std::string&>().empty()) {
        return std::nullopt;
    }
    const std::string path = entry->get<std::string>();
    TallyLog(TallyLogLevel::Debug, "Local picture path successfully extracted from query string: {}", path);
    const size_t slash = path.rfind('/');
    const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = fileName.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : lowercased(fileName.substr(dot + 1));
    if (extension != "gif" && extension != "png" && extension != "jpg" && extension != "jpeg") {
        TallyLog(TallyLogLevel::Warning, "Unsupported file extension for picture upload: {}", extension);
        return std::nullopt;
    }
    constexpr size_t kMaximumPictureBytes = 16u * 1024u * 1024u;
    auto bytes = platform::FileManager::defaultManager().readFileSafely(path, kMaximumPictureBytes);
    if (!bytes.ok()) {
        TallyLog(TallyLogLevel::Warning, "Local picture data can not be read!");
        return std::nullopt;
    }
    TallyLog(TallyLogLevel::Debug, "Local picture data read successfully.");
    return multipartBody(fileName, extension == "jpg" ? "jpeg" : extension, bytes.value());
}

platform::URLRequest TallyConnectionManager::requestForQuery(const std::string& queued) const {
    const std::string query = appendChecksum(queued);
    const std::string base = host() + "/i";
    platform::URLRequest request(base + "?" + query);
    request.httpMethod = "GET";
    if (auto picture = pictureUploadDataForQueryString(query)) {
        request.setValue(std::string("multipart/form-data; boundary=") + kTallyMultipartBoundary,
                         "Content-Type");
        request.httpMethod = "POST";
        request.httpBody = std::move(*picture);
    } else if (query.size() > 2048 || alwaysUsePOST()) {
        request.url = base;
        request.httpMethod = "POST";
        request.httpBody.assign(query.begin(), query.end());
    }
    return request;
}

}  // namespace tervolo::analytics
