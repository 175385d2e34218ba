#include "analytics/TallyRemoteConfig.hpp"

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallySingleton.hpp"
#include "analytics/TallyText.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSession.hpp"

namespace tervolo::analytics {

namespace {

TallySingleton<TallyRemoteConfig>& remoteConfigSlot() {
    return platform::SharedInstance<TallySingleton<TallyRemoteConfig>>::get();
}

bool remoteConfigConsentFor(bool (TallyConsentManager::*getter)() const) {
    auto consent = TallyConsentManager::sharedInstance();
    return consent && (consent.get()->*getter)();
}

platform::Error generalError(const std::string& detail) {
    platform::Error error;
    error.domain = kTallyErrorDomain;
    error.code = kTallyErrorRemoteConfigGeneralAPIError;
    error.description = "Remote config general API error";
    if (!detail.empty()) error.userInfo["reply"] = detail;
    return error;
}

}  // namespace

std::shared_ptr<TallyRemoteConfig> TallyRemoteConfig::sharedInstance() {
    return remoteConfigSlot().get([] { return new TallyRemoteConfig(); });
}

void TallyRemoteConfig::resetForTesting() {
    remoteConfigSlot().reset();
}

TallyRemoteConfig::TallyRemoteConfig() {
    const TallyJSON stored = TallyPersistency::retrieveRemoteConfig();
    if (!stored.empty()) cache_ = stored;
}

void TallyRemoteConfig::setRemoteConfigCompletionHandler(Completion handler) {
    std::lock_guard lock(mutex_);
    completionHandler_ = std::move(handler);
}

std::optional<TallyJSON> TallyRemoteConfig::cachedRemoteConfig() const {
    std::lock_guard lock(mutex_);
    return cache_;
}

void TallyRemoteConfig::store(std::optional<TallyJSON> cache) {
    {
        std::lock_guard lock(mutex_);
        cache_ = cache;
    }
    TallyPersistency::storeRemoteConfig(cache.value_or(TallyJSON::object()));
}

std::optional<TallyJSON> TallyRemoteConfig::remoteConfigValueForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    if (!cache_ || !cache_->contains(key)) return std::nullopt;
    return (*cache_)[key];
}

void TallyRemoteConfig::clearCachedRemoteConfig() {
    store(std::nullopt);
}

platform::URLRequest TallyRemoteConfig::remoteConfigRequest(
    const std::optional<std::vector<std::string>>& keys,
    const std::optional<std::vector<std::string>>& omitKeys) const {
    auto connection = TallyConnectionManager::sharedInstance();
    std::string query = connection->queryEssentials();
    query += "&method=fetch_remote_config";
    if (keys) {
        query += "&keys=" + tly_JSONify(TallyJSON(*keys)).value_or("");
    } else if (omitKeys) {
        query += "&omit_keys=" + tly_JSONify(TallyJSON(*omitKeys)).value_or("");
    }
    if (remoteConfigConsentFor(&TallyConsentManager::consentForSessions)) {
        query += "&metrics=" + TallyDeviceInfo::sharedInstance().metrics();
    }
    query = connection->appendChecksum(query);
    const std::string base = connection->host() + "/o/sdk";
    platform::URLRequest request(base + "?" + query);
    // Stays a GET whatever its length unless POST is forced.
    if (connection->alwaysUsePOST()) {
        request.url = base;
        request.httpMethod = "POST";
        request.httpBody.assign(query.begin(), query.end());
    }
    return request;
}

void TallyRemoteConfig::fetchRemoteConfig(const std::optional<std::vector<std::string>>& keys,
                                          const std::optional<std::vector<std::string>>& omitKeys,
                                          FetchCompletion completion) {
    if (!completion) {
        return;
    }
    platform::URLRequest request = remoteConfigRequest(keys, omitKeys);
    TallyLog(TallyLogLevel::Debug, "Remote Config Request <{}> started:\n[{}] {}", fmt::ptr(this),
             request.httpMethod, request.url);
    auto task = platform::URLSession::shared().dataTask(
        std::move(request), [completion](std::optional<std::vector<uint8_t>> data,
                                         std::optional<platform::HTTPURLResponse> response,
                                         std::optional<platform::Error> error) {
            std::optional<TallyJSON> answer;
            if (!error) {
                const std::string body = data ? std::string(data->begin(), data->end()) : std::string();
                auto parsed = TallyJSON::parse(body, nullptr, false);
                // Only a 200 with a JSON object is an answer; anything else is
                // refused with the client's error, never taken as a config.
                if (!response || response->statusCode() != 200 || !parsed.is_object()) {
                    error = generalError(body);
                } else {
                    answer = std::move(parsed);
                }
            }
            if (error) {
                TallyLog(TallyLogLevel::Debug, "Remote Config Request failed!\nError: {}",
                         error->fullDescription());
            } else {
                TallyLog(TallyLogLevel::Debug, "Remote Config Request successfully completed.");
            }
            platform::DispatchQueue::main()->async(
                [completion, answer, error] { completion(answer, error); });
        });
    task->resume();
}

void TallyRemoteConfig::startRemoteConfig() {
    if (!isEnabledOnInitialConfig() ||
        !remoteConfigConsentFor(&TallyConsentManager::consentForRemoteConfig) ||
        TallyDeviceInfo::sharedInstance().isDeviceIDTemporary()) {
        return;
    }
    TallyLog(TallyLogLevel::Debug, "Fetching remote config on start...");
    fetchRemoteConfig(std::nullopt, std::nullopt,
                      [this, self = shared_from_this()](const std::optional<TallyJSON>& answer,
                                                        const std::optional<platform::Error>& error) {
                          if (answer) {
                              TallyLog(TallyLogLevel::Debug,
                                       "Fetching remote config on start is successful. \n{}", answer->dump());
                              store(answer);
                          } else {
                              TallyLog(TallyLogLevel::Warning, "Fetching remote config on start failed: {}",
                                       error ? error->fullDescription() : std::string());
                          }
                          Completion handler;
                          {
                              std::lock_guard lock(mutex_);
                              handler = completionHandler_;
                          }
                          if (handler) handler(error);
                      });
}

void TallyRemoteConfig::updateRemoteConfig(const std::optional<std::vector<std::string>>& keys,
                                           const std::optional<std::vector<std::string>>& omitKeys,
                                           Completion completion) {
    if (!remoteConfigConsentFor(&TallyConsentManager::consentForRemoteConfig) ||
        TallyDeviceInfo::sharedInstance().isDeviceIDTemporary()) {
        return;
    }
    TallyLog(TallyLogLevel::Debug, "Fetching remote config manually...");
    const bool partial = keys.has_value() || omitKeys.has_value();
    fetchRemoteConfig(
        keys, omitKeys,
        [this, self = shared_from_this(), partial, completion](const std::optional<TallyJSON>& answer,
                                                               const std::optional<platform::Error>& error) {
            if (answer) {
                TallyLog(TallyLogLevel::Debug, "Fetching remote config manually is successful. \n{}",
                         answer->dump());
                TallyJSON merged =
                    partial ? cachedRemoteConfig().value_or(TallyJSON::object()) : TallyJSON::object();
                for (const auto& [key, value] : answer->items()) merged[key] = value;
                store(merged);
            } else {
                TallyLog(TallyLogLevel::Warning, "Fetching remote config manually failed: {}",
                         error ? error->fullDescription() : std::string());
            }
            if (completion) completion(error);
        });
}

}  // namespace tervolo::analytics
