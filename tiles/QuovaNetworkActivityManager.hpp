#pragma once

#include <cstdint>
#include <functional>

#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::tiles {

// The device type code of the user-interface idiom: 0 phone, 2 tablet, 3 the
// Mac idiom, 4 anything else. A desktop answers 3.
int64_t quovaDeviceType();
// Tests choose another idiom; an empty function goes back to the desktop's.
void setDeviceTypeForTesting(std::function<int64_t()> provider);

// Counts the running network activities of the whole process. The count
// changes only on the main queue; start and stop post their change and return
// at once. On the tablet and Mac idioms (so always on the desktop) nothing is
// counted. The count never goes below 0.
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
