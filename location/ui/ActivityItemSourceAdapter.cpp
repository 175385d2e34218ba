#include "location/ui/ActivityItemSourceAdapter.hpp"

#include "location/QuovaUserLocationAnnotation.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "widgets/hud/HUD.hpp"

namespace tervolo::location {

std::shared_ptr<ActivityItemSourceAdapter> ActivityItemSourceAdapter::makeForUserLocation(
    std::shared_ptr<QuovaUserLocationAnnotation> annotation) {
    auto adapter = make(std::move(annotation));
    // The HUD belongs to the main thread; the item is made on the sheet's
    // worker thread.
    adapter->requests_.itemDidFinish = [] {
        platform::DispatchQueue::main()->async([] { widgets::hud::HUD::hide(true, {}); });
    };
    return adapter;
}

std::string ActivityItemSourceAdapter::placeholderItem() {
    return requests_.placeholderItem ? requests_.placeholderItem() : std::string();
}

std::string ActivityItemSourceAdapter::subject(const std::optional<std::string>& activityType) {
    return requests_.subject ? requests_.subject(activityType) : std::string();
}

std::string ActivityItemSourceAdapter::item(const std::optional<std::string>& activityType) {
    std::string text = requests_.item ? requests_.item(activityType) : std::string();
    if (requests_.itemDidFinish) requests_.itemDidFinish();
    return text;
}

}  // namespace tervolo::location
