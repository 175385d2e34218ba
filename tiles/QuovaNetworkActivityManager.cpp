#include "tiles/QuovaNetworkActivityManager.hpp"

#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::tiles {

namespace {

// Device types 2 and 3 (the tablet and Mac idioms: a desktop) count nothing.
bool counts() {
    const int32_t type = appinfo::UIDevice_QuovaAdditions::quovaDeviceType();
    return type != 2 && type != 3;
}

}  // namespace

QuovaNetworkActivityManager& QuovaNetworkActivityManager::sharedInstance() {
    return platform::SharedInstance<QuovaNetworkActivityManager>::get();
}

void QuovaNetworkActivityManager::startUsingNetwork() {
    if (!counts()) return;
    platform::DispatchQueue::main()->async([this] { ++count_; });
}

void QuovaNetworkActivityManager::stopUsingNetwork() {
    if (!counts()) return;
    platform::DispatchQueue::main()->async([this] {
        if (count_ > 0) --count_;
    });
}

}  // namespace tervolo::tiles
