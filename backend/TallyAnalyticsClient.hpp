#pragma once

#include "backend/QuovaAnalytics.hpp"

namespace tervolo::backend {

// The analytics wrapper's door to the application's analytics client: the
// wrapper's settings become a TallyConfig for Tally::sharedInstance(), and
// events are recorded with count 1, no sum and no duration. Any thread.
class TallyAnalyticsClient : public AnalyticsClient {
  public:
    void startWithConfig(const AnalyticsConfiguration& configuration) override;
    void recordEvent(const std::string& name) override;
    void recordEvent(const std::string& name, const std::map<std::string, std::string>& segmentation) override;
};

}  // namespace tervolo::backend
