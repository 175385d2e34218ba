#include "tiles/QuovaNetworkActivityManager.hpp"

#include <mutex>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::tiles {

namespace {
std::mutex gProviderMutex;
std::function<int64_t()> gProvider;

bool counts() {
    const int64_t type = quovaDeviceType();
    return type != 2 && type != 3;
}
}  // namespace

int64_t quovaDeviceType() {
    std::lock_guard lock(gProviderMutex);
    return gProvider ? gProvider() : 3;
}

void setDeviceTypeForTesting(std::function<int64_t()> provider) {
    std::lock_guard lock(gProviderMutex);
    gProvider = std::move(provider);
}

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
