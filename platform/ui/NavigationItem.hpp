#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/NavigationObservers.hpp"
#include "platform/ui/SearchController.hpp"

namespace platform {

// What a navigation bar shows for one controller: the title (or a title
// view), the buttons on either side and how the back button looks. Every
// change calls the observers, so the bar showing the item refreshes at once.
// Main thread only.
class NavigationItem {
  public:
    NavigationItem() = default;
    ~NavigationItem();
    NavigationItem(const NavigationItem&) = delete;
    NavigationItem& operator=(const NavigationItem&) = delete;

    enum class LargeTitleDisplayMode : int { automatic = 0, always = 1, never = 2 };

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    // Shown in place of the title; the bar shows the widget while the item is
    // on top, and the item deletes it when no bar shows it at the end.
    QWidget* titleView() const { return titleView_.data(); }
    void setTitleView(QWidget* view);

    const std::vector<std::shared_ptr<BarButtonItem>>& leftBarButtonItems() const { return left_; }
    void setLeftBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items);
    std::shared_ptr<BarButtonItem> leftBarButtonItem() const {
        return left_.empty() ? nullptr : left_.front();
    }
    void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item);
    // Listed right to left, as the platform does: the first is outermost.
    const std::vector<std::shared_ptr<BarButtonItem>>& rightBarButtonItems() const { return right_; }
    void setRightBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items);
    std::shared_ptr<BarButtonItem> rightBarButtonItem() const {
        return right_.empty() ? nullptr : right_.front();
    }
    void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item);

    bool hidesBackButton() const { return hidesBackButton_; }
    void setHidesBackButton(bool hides);
    // The button shown to go back to this item's controller from the one
    // above it (its title; the action is always "pop"). None: the title, or
    // "Back" without one.
    std::shared_ptr<BarButtonItem> backBarButtonItem() const { return back_; }
    void setBackBarButtonItem(std::shared_ptr<BarButtonItem> item);

    // A search field the bar shows under the title row while this item is on
    // top; replacing it lets the bar drop the old field before it goes.
    std::shared_ptr<SearchController> searchController() const { return searchController_; }
    void setSearchController(std::shared_ptr<SearchController> controller);
    // Kept for callers: the field stays in the bar while the content scrolls.
    bool hidesSearchBarWhenScrolling() const { return hidesSearchBarWhenScrolling_; }
    void setHidesSearchBarWhenScrolling(bool hides) { hidesSearchBarWhenScrolling_ = hides; }

    LargeTitleDisplayMode largeTitleDisplayMode() const { return largeTitleDisplayMode_; }
    void setLargeTitleDisplayMode(LargeTitleDisplayMode mode);

    [[nodiscard]] std::unique_ptr<NavigationObservers::Token> observe(
        NavigationObservers::Callback callback) {
        return observers_.add(std::move(callback));
    }

  private:
    std::string title_;
    QPointer<QWidget> titleView_;
    std::vector<std::shared_ptr<BarButtonItem>> left_;
    std::vector<std::shared_ptr<BarButtonItem>> right_;
    bool hidesBackButton_ = false;
    std::shared_ptr<BarButtonItem> back_;
    LargeTitleDisplayMode largeTitleDisplayMode_ = LargeTitleDisplayMode::automatic;
    std::shared_ptr<SearchController> searchController_;
    bool hidesSearchBarWhenScrolling_ = true;
    NavigationObservers observers_;
};

}  // namespace platform
