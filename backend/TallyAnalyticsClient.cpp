#include "backend/TallyAnalyticsClient.hpp"

#include "analytics/Tally.hpp"
#include "analytics/TallyConfig.hpp"
#include "logging/QLLogging.hpp"

namespace tervolo::backend {

void TallyAnalyticsClient::startWithConfig(const AnalyticsConfiguration& configuration) {
    analytics::TallyConfig config;
    config.appKey = configuration.appKey;
    config.host = configuration.host;
    config.enableDebug = configuration.enableDebug;
    config.features = configuration.features;
    config.alwaysUsePOST = configuration.alwaysUsePOST;
    try {
        analytics::Tally::sharedInstance().startWithConfig(config);
    } catch (const analytics::TallyConfigError& error) {
        // A key or host left at a placeholder is a build mistake; the
        // application still runs, without analytics.
        QLLogError("analytics not started: " + std::string(error.what()));
    }
}

void TallyAnalyticsClient::recordEvent(const std::string& name) { analytics::Tally::sharedInstance().recordEvent(name); }

void TallyAnalyticsClient::recordEvent(const std::string& name, const std::map<std::string, std::string>& segmentation) {
    analytics::TallyJSON object = analytics::TallyJSON::object();
    for (const auto& [key, value] : segmentation) object[key] = value;
    analytics::Tally::sharedInstance().recordEvent(name, object);
}

}  // namespace tervolo::backend
