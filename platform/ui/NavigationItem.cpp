#include "platform/ui/NavigationItem.hpp"

#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

NavigationItem::~NavigationItem() {
    if (titleView_ && titleView_->parentWidget() == nullptr) delete titleView_.data();
}

void NavigationItem::setTitle(std::string title) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (title == title_) return;
    title_ = std::move(title);
    observers_.notify();
}

void NavigationItem::setTitleView(QWidget* view) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    QPointer<QWidget> old = titleView_;
    titleView_ = view;
    observers_.notify();
    // The bar has let go of the old view; nobody else holds it.
    if (old && old != view && old->parentWidget() == nullptr) delete old.data();
}

void NavigationItem::setSearchController(std::shared_ptr<SearchController> controller) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (controller == searchController_) return;
    // The old controller lives until the bar has let go of its field.
    std::shared_ptr<SearchController> old = std::move(searchController_);
    searchController_ = std::move(controller);
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
