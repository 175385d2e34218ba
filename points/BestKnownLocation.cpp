#include "points/BestKnownLocation.hpp"

#include <memory>
#include <mutex>

namespace tervolo::points {

namespace {

struct ProviderSlot {
    std::mutex mutex;
    std::shared_ptr<const BestKnownLocationProvider> provider;
};

ProviderSlot& slot() {
    static auto* slot = new ProviderSlot;  // never destroyed: safe at exit
    return *slot;
}

}  // namespace

void setBestKnownLocationProvider(BestKnownLocationProvider provider) {
    auto installed =
        provider ? std::make_shared<const BestKnownLocationProvider>(std::move(provider)) : nullptr;
    std::lock_guard lock(slot().mutex);
    slot().provider = std::move(installed);
}

std::optional<platform::CLLocation> bestKnownLocation() {
    std::shared_ptr<const BestKnownLocationProvider> provider;
    {
        std::lock_guard lock(slot().mutex);
        provider = slot().provider;
    }
    // Called outside the lock, so a provider may itself install another.
    if (!provider) return std::nullopt;
    return (*provider)();
}

}  // namespace tervolo::points
