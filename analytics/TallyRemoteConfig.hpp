#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyJSON.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/net/URLRequest.hpp"

namespace tervolo::analytics {

// The code of a remote-config answer that is not a 200 with a JSON object.
inline constexpr int64_t kTallyErrorRemoteConfigGeneralAPIError = 10011;

// Configuration values the analytics server holds for this application and
// device: fetched from "<host>/o/sdk" (on start when enabled, and on
// request), kept in the user defaults, served by key. Answers arrive on the
// URL session's queue; completions and the cache change run on the main
// queue.
class TallyRemoteConfig : public std::enable_shared_from_this<TallyRemoteConfig> {
  public:
    using Completion = std::function<void(const std::optional<platform::Error>& error)>;
    using FetchCompletion = std::function<void(const std::optional<TallyJSON>& answer,
                                               const std::optional<platform::Error>& error)>;

    // None (with the not-started line) before the client has started.
    static std::shared_ptr<TallyRemoteConfig> sharedInstance();
    static void resetForTesting();

    bool isEnabledOnInitialConfig() const { return isEnabledOnInitialConfig_.load(); }
    void setIsEnabledOnInitialConfig(bool v) { isEnabledOnInitialConfig_.store(v); }
    void setRemoteConfigCompletionHandler(Completion handler);

    void startRemoteConfig();
    // Keys given: only those are asked for and merged into the cache; omitted
    // keys given: all others; neither: the answer replaces the cache.
    void updateRemoteConfig(const std::optional<std::vector<std::string>>& keys,
                            const std::optional<std::vector<std::string>>& omitKeys, Completion completion);
    std::optional<TallyJSON> remoteConfigValueForKey(const std::string& key) const;
    void clearCachedRemoteConfig();
    std::optional<TallyJSON> cachedRemoteConfig() const;

    void fetchRemoteConfig(const std::optional<std::vector<std::string>>& keys,
                           const std::optional<std::vector<std::string>>& omitKeys,
                           FetchCompletion completion);
    platform::URLRequest remoteConfigRequest(const std::optional<std::vector<std::string>>& keys,
                                             const std::optional<std::vector<std::string>>& omitKeys) const;

  private:
    TallyRemoteConfig();
    void store(std::optional<TallyJSON> cache);

    std::atomic<bool> isEnabledOnInitialConfig_{false};
    mutable std::mutex mutex_;
    Completion completionHandler_;
    std::optional<TallyJSON> cache_;
};

}  // namespace tervolo::analytics
