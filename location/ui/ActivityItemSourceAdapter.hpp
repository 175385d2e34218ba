#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ShareSheetController.hpp"

namespace tervolo::location {

class QuovaUserLocationAnnotation;

// Hands a share item of the program (a map point, the user's position: any
// type with the three activityViewController… requests) to the desktop share
// sheet (platform::ShareSheetController) as its item source:
//
//   auto sheet = std::make_shared<platform::ShareSheetController>(
//       ActivityItemSourceAdapter::makeForUserLocation(annotation));
//
// The sheet asks for the placeholder and the subject on the main thread and
// for the item on a worker thread; the adapter passes each request on, on the
// thread it came on, and keeps the item source alive while the sheet lives.
class ActivityItemSourceAdapter : public platform::ActivityItemSource {
  public:
    struct Requests {
        std::function<std::string()> placeholderItem;
        std::function<std::string(const std::optional<std::string>& activityType)> subject;
        std::function<std::string(const std::optional<std::string>& activityType)> item;
        // Runs after every item request, on the item's thread (empty: nothing).
        std::function<void()> itemDidFinish;
    };

    explicit ActivityItemSourceAdapter(Requests requests) : requests_(std::move(requests)) {}

    // The adapter of any item source with the share sheet's three requests.
    template <class Source>
    static std::shared_ptr<ActivityItemSourceAdapter> make(std::shared_ptr<Source> source) {
        Requests requests;
        requests.placeholderItem = [source] {
            return source->activityViewControllerPlaceholderItem(nullptr);
        };
        requests.subject = [source](const std::optional<std::string>& type) {
            return source->activityViewControllerSubjectForActivityType(nullptr, type);
        };
        requests.item = [source](const std::optional<std::string>& type) {
            return source->activityViewControllerItemForActivityType(nullptr, type);
        };
        return std::make_shared<ActivityItemSourceAdapter>(std::move(requests));
    }

    // The user's position: as make, and once the item is made the HUD overlay
    // is hidden (animated, posted to the main thread), whatever the item
    // request found.
    static std::shared_ptr<ActivityItemSourceAdapter> makeForUserLocation(
        std::shared_ptr<QuovaUserLocationAnnotation> annotation);

    std::string placeholderItem() override;
    std::string subject(const std::optional<std::string>& activityType) override;
    std::string item(const std::optional<std::string>& activityType) override;

  private:
    Requests requests_;
};

}  // namespace tervolo::location
