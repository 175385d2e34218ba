#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/NotificationCenter.hpp"

namespace tervolo::backend {

// The start settings the wrapper gives the analytics client.
struct AnalyticsConfiguration {
    std::string appKey;
    std::string host;  // base address, no path, no trailing "/"
    bool enableDebug = false;
    std::vector<std::string> features;
    bool alwaysUsePOST = false;
};

// Feature names the client understands.
inline constexpr const char* TLYCrashReporting = "TLYCrashReporting";
inline constexpr const char* TLYAutoViewTracking = "TLYAutoViewTracking";

// What the wrapper calls of the analytics client. Any thread.
class AnalyticsClient {
  public:
    virtual ~AnalyticsClient() = default;
    virtual void startWithConfig(const AnalyticsConfiguration& configuration) = 0;
    virtual void recordEvent(const std::string& name) = 0;
    virtual void recordEvent(const std::string& name, const std::map<std::string, std::string>& segmentation) = 0;
};

// The application's only door to the analytics client: the first use
// configures and starts the client once; every event is logged before it is
// handed on. Any thread.
class QuovaAnalytics {
  public:
    // The client the shared wrapper starts, in place of the application's
    // analytics client (Tally); install it before the first shared().
    static void installClient(std::shared_ptr<AnalyticsClient> client);
    static QuovaAnalytics& shared();

    // Configures and starts `client` (tests make their own wrapper).
    explicit QuovaAnalytics(std::shared_ptr<AnalyticsClient> client);

    void trackEvent(const std::string& name);
    void trackEvent(const std::string& name, const std::map<std::string, std::string>& properties);

    // The settings the wrapper starts the client with.
    static AnalyticsConfiguration configuration();
    static constexpr const char* appKey = "5c1d7e2a90b34f6d8a17e0c3b9f4d26a71e8c05b";

  private:
    std::shared_ptr<AnalyticsClient> client_;
    std::unique_ptr<platform::NotificationCenter::Token> locationObservation_;
};

// The platform's text of a string dictionary, as the event log line shows it:
// ["key": "value", ...] in key order, "[:]" when empty.
std::string dictionaryDescription(const std::map<std::string, std::string>& dictionary);

}  // namespace tervolo::backend
