#include "platform/ui/NavigationItem.hpp"

#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

void NavigationItem::setTitle(std::string title) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (title == title_) return;
    title_ = std::move(title);
    observers_.notify();
}

void NavigationItem::setTitleView(QWidget* view) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    titleView_ = view;
    observers_.notify();
}

void NavigationItem::setLeftBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    left_ = std::move(items);
    observers_.notify();
}

void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item) {
    setLeftBarButtonItems(item ? std::vector{std::move(item)}
                               : std::vector<std::shared_ptr<BarButtonItem>>{});
}

void NavigationItem::setRightBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    right_ = std::move(items);
    observers_.notify();
}

void NavigationItem::setRightBarButtonItem(std::shared_ptr<BarButtonItem> item) {
    setRightBarButtonItems(item ? std::vector{std::move(item)}
                                : std::vector<std::shared_ptr<BarButtonItem>>{});
}

void NavigationItem::setHidesBackButton(bool hides) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (hides == hidesBackButton_) return;
    hidesBackButton_ = hides;
    observers_.notify();
}

void NavigationItem::setBackBarButtonItem(std::shared_ptr<BarButtonItem> item) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    back_ = std::move(item);
    observers_.notify();
}

void NavigationItem::setLargeTitleDisplayMode(LargeTitleDisplayMode mode) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (mode == largeTitleDisplayMode_) return;
    largeTitleDisplayMode_ = mode;
    observers_.notify();
}

}  // namespace platform
