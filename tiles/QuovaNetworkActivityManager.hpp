#pragma once

#include <cstdint>

#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::tiles {

// Counts the running network activities of the whole process. The count
// changes only on the main queue; start and stop post their change and return
// at once. On the tablet and Mac idioms (so always on the desktop) nothing is
// counted (appinfo::UIDevice_QuovaAdditions::quovaDeviceType 2 or 3). The count
// never goes below 0.
class QuovaNetworkActivityManager {
  public:
    static QuovaNetworkActivityManager& sharedInstance();

    void startUsingNetwork();
    void stopUsingNetwork();
    // True while the count is not 0; read on the main queue.
    bool isNetworkActive() const { return count_ != 0; }
    uint64_t count() const { return count_; }

  private:
    friend class platform::SharedInstance<QuovaNetworkActivityManager>;
    QuovaNetworkActivityManager() = default;
    uint64_t count_ = 0;  // main queue only
};

}  // namespace tervolo::tiles
