#include "widgets/hud/HUD.hpp"

#include "widgets/hud/ContainerView.hpp"
#include "widgets/hud/HUDController.hpp"

namespace tervolo::widgets::hud {

namespace {
HUDController& shared() {
    return HUDController::sharedHUD();
}
}  // namespace

bool HUD::dimsBackground() {
    return shared().dimsBackground();
}

void HUD::setDimsBackground(bool dims) {
    shared().setDimsBackground(dims);
}

bool HUD::allowsInteraction() {
    return shared().userInteractionOnUnderlyingViewsEnabled();
}

void HUD::setAllowsInteraction(bool allows) {
    shared().setUserInteractionOnUnderlyingViewsEnabled(allows);
}

double HUD::leadingMargin() {
    return shared().leadingMargin();
}

void HUD::setLeadingMargin(double margin) {
    shared().setLeadingMargin(margin);
}

double HUD::trailingMargin() {
    return shared().trailingMargin();
}

void HUD::setTrailingMargin(double margin) {
    shared().setTrailingMargin(margin);
}

bool HUD::isVisible() {
    return shared().isVisible();
}

void HUD::show(const HUDContentType& content, QWidget* onView) {
    shared().setContentView(content.makeContentView());
    shared().show(onView);
}

void HUD::hide(HUDCompletion completion) {
    shared().hide(false, std::move(completion));
}

void HUD::hide(bool animated, HUDCompletion completion) {
    shared().hide(animated, std::move(completion));
}

void HUD::hide(double afterDelay, HUDCompletion completion) {
    shared().hide(afterDelay, std::move(completion));
}

void HUD::flash(const HUDContentType& content, QWidget* onView) {
    show(content, onView);
    hide(true, {});
}

void HUD::flash(const HUDContentType& content, QWidget* onView, double delay, HUDCompletion completion) {
    show(content, onView);
    hide(delay, std::move(completion));
}

void HUD::registerForKeyboardNotifications() {
    shared().container().startObservingKeyboard();
}

void HUD::deregisterFromKeyboardNotifications() {
    shared().container().stopObservingKeyboard();
}

}  // namespace tervolo::widgets::hud
