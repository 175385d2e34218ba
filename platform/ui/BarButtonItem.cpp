#include "platform/ui/BarButtonItem.hpp"

#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

BarButtonItem::BarButtonItem(std::string title, Style style, std::function<void()> action)
    : title_(std::move(title)), style_(style), action_(std::move(action)) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
}

BarButtonItem::BarButtonItem(QIcon image, Style style, std::function<void()> action)
    : image_(std::move(image)), style_(style), action_(std::move(action)) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
}

BarButtonItem::BarButtonItem(QWidget* customView) : customView_(customView) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
}

BarButtonItem::~BarButtonItem() {
    // A custom view no bar has taken is still ours.
    if (customView_ && customView_->parentWidget() == nullptr) delete customView_.data();
}

void BarButtonItem::setTitle(std::string title) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (title == title_) return;
    title_ = std::move(title);
    observers_.notify();
}

void BarButtonItem::setAccessibilityLabel(std::string label) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (label == accessibilityLabel_) return;
    accessibilityLabel_ = std::move(label);
    observers_.notify();
}

void BarButtonItem::setImage(QIcon image) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    image_ = std::move(image);
    observers_.notify();
}

void BarButtonItem::setStyle(Style style) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (style == style_) return;
    style_ = style;
    observers_.notify();
}

void BarButtonItem::setEnabled(bool enabled) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (enabled == enabled_) return;
    enabled_ = enabled;
    observers_.notify();
}

void BarButtonItem::setAction(std::function<void()> action) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    action_ = std::move(action);
}

void BarButtonItem::trigger() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (!enabled_ || !action_) return;
    auto action = action_;  // the action may replace itself
    action();
}

}  // namespace platform
