#pragma once

#include <QPointF>

// The default pin's size and the place of its needle's tip, shared by the map view's drawing, hit
// testing and callout placement. Internal to the map view.
namespace platform::detail {

// The pin's picture: the needle's tip is the coordinate (view points).
constexpr int kPinWidth = 24;
constexpr int kPinHeight = 40;
constexpr QPointF kPinTip(12, 37);

}  // namespace platform::detail
