#pragma once

#include <QWidget>

#include "widgets/hud/HUDCompletion.hpp"
#include "widgets/hud/HUDContentType.hpp"

namespace tervolo::widgets::hud {

// The HUD as screens use it: static calls on the shared HUDController. A flash shows a content and
// takes it away again, after `delay` seconds plus the 0.8 s fade:
//
//   HUD::flash(HUDContentType::labeledSuccess("Copied!", std::nullopt), nullptr, 1.6);
//
// Without a target view the HUD covers the active window. Main thread only.
class HUD {
  public:
    HUD() = delete;

    static bool dimsBackground();
    static void setDimsBackground(bool dims);
    // Whether the views below take the mouse while the HUD shows (false by default).
    static bool allowsInteraction();
    static void setAllowsInteraction(bool allows);
    static double leadingMargin();
    static void setLeadingMargin(double margin);
    static double trailingMargin();
    static void setTrailingMargin(double margin);
    static bool isVisible();

    // Shows a new content view for `content` on `onView` (see HUDController::show).
    static void show(const HUDContentType& content, QWidget* onView = nullptr);
    // Hides at once.
    static void hide(HUDCompletion completion = {});
    static void hide(bool animated, HUDCompletion completion);
    static void hide(double afterDelay, HUDCompletion completion);
    // Shows, then starts the fade at once.
    static void flash(const HUDContentType& content, QWidget* onView = nullptr);
    // Shows, then hides (with the fade) after `delay` seconds.
    static void flash(const HUDContentType& content, QWidget* onView, double delay,
                      HUDCompletion completion = {});

    // Keeps the panel above the on-screen keyboard while notifications about it arrive.
    static void registerForKeyboardNotifications();
    static void deregisterFromKeyboardNotifications();
};

}  // namespace tervolo::widgets::hud
