#include "backend/QuovaAnalytics.hpp"

#include <cstdio>
#include <mutex>

#include "backend/BackendHosts.hpp"
#include "backend/TallyAnalyticsClient.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/OSLog.hpp"

namespace tervolo::backend {

namespace {

std::mutex installMutex;
std::shared_ptr<AnalyticsClient>& installedClient() {
    return platform::SharedInstance<std::shared_ptr<AnalyticsClient>>::get();
}

void appendQuoted(std::string& out, const std::string& text) {
    // Values carry links from outside: one line, whatever they hold.
    out += logging::debugQuoted(text);
}

}  // namespace

std::string dictionaryDescription(const std::map<std::string, std::string>& dictionary) {
    if (dictionary.empty()) return "[:]";
    std::string out = "[";
    bool first = true;
    for (const auto& [key, value] : dictionary) {
        if (!first) out += ", ";
        first = false;
        appendQuoted(out, key);
        out += ": ";
        appendQuoted(out, value);
    }
    return out + "]";
}

void QuovaAnalytics::installClient(std::shared_ptr<AnalyticsClient> client) {
    std::lock_guard lock(installMutex);
    installedClient() = std::move(client);
}

QuovaAnalytics& QuovaAnalytics::shared() {
    static QuovaAnalytics* instance = [] {
        std::shared_ptr<AnalyticsClient> client;
        {
            std::lock_guard lock(installMutex);
            client = installedClient();
        }
        if (!client) client = std::make_shared<TallyAnalyticsClient>();
        auto* made = new QuovaAnalytics(std::move(client));
        platform::OSLog::defaultLog()->write(platform::OSLogType::Default,
                                             "Accessing shared instance of QuovaAnalytics");
        return made;
    }();
    return *instance;
}

AnalyticsConfiguration QuovaAnalytics::configuration() {
    AnalyticsConfiguration configuration;
    configuration.appKey = appKey;
    configuration.host = BackendHosts::analyticsBaseURL();
    configuration.enableDebug = false;
    configuration.features = {TLYCrashReporting, TLYAutoViewTracking};
    configuration.alwaysUsePOST = true;
    return configuration;
}

QuovaAnalytics::QuovaAnalytics(std::shared_ptr<AnalyticsClient> client) : client_(std::move(client)) {
    std::fputs("Initializing shared analytics.\n", stdout);
    std::fflush(stdout);
    if (client_) client_->startWithConfig(configuration());
    // Registered for the life of the wrapper; the update itself carries
    // nothing the analytics need.
    locationObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        "QuovaLocationUpdate", nullptr, [](const platform::NotificationCenter::Notification&) {});
}

void QuovaAnalytics::trackEvent(const std::string& name) {
    QLLogInfo("event logged: " + name);
    if (client_) client_->recordEvent(name);
}

void QuovaAnalytics::trackEvent(const std::string& name,
                                const std::map<std::string, std::string>& properties) {
    QLLogInfo("event logged: " + name + " / properties: " + dictionaryDescription(properties));
    if (client_) client_->recordEvent(name, properties);
}

}  // namespace tervolo::backend
