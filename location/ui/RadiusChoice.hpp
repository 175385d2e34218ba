#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/AlertController.hpp"

namespace platform {
class BarButtonItem;
}  // namespace platform

namespace tervolo::location {

// The alarm-circle radius choice shared by the screens that set a radius
// (the user's own circle, a point's circle): the sheet of radii, the typed
// entry and its refusal. The screens keep their own lifetime guards in the
// handlers they pass; these only build the alerts, not yet presented.
// Main thread only. Radii in metres, 0 for no circle.

// What the radius sheet's rows lead to.
struct RadiusSheetHandlers {
    // A row's radius, or 0 for "none".
    std::function<void(double metres)> apply;
    // The "Custom" row.
    std::function<void()> promptCustom;
};

// The "Circle Radius" action sheet of the current locale's rows around
// `current`, as a popover anchored at `sender` when there is one.
std::shared_ptr<platform::AlertController> makeRadiusSheet(
    double current, const std::shared_ptr<platform::BarButtonItem>& sender, RadiusSheetHandlers handlers);

// "You may submit a custom radius around <subjectKey's text>, measured in
// meters." ("yards." where the locale is not metric), localized.
std::string customRadiusMessage(const char* leadKey);

// The "Custom Radius" entry with one number field, Cancel and Submit.
// Submit reads the field in the locale's unit of the moment the entry opened
// and hands a usable radius to `apply`; anything else (no field, not a
// positive number, beyond any circle a map can show) calls `refused`.
std::shared_ptr<platform::AlertController> makeCustomRadiusEntry(const std::string& message,
                                                                 std::function<void(double metres)> apply,
                                                                 std::function<void()> refused);

// "Custom Radius Invalid" with Cancel and Retry; Retry calls `retry`.
std::shared_ptr<platform::AlertController> makeInvalidRadiusAlert(const std::string& message,
                                                                  std::function<void()> retry);

}  // namespace tervolo::location
