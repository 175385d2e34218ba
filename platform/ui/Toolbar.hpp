#pragma once

#include <QAction>
#include <QIcon>
#include <QPointer>
#include <QToolBar>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ToolbarDelegate.hpp"

namespace platform {

// The main window's toolbar ("main"): items in order, each with an
// identifier, shown with icon and label by default; flexible spaces push the
// items after them to the right (so a space on each side centres an item);
// one slot for the search field, which a plug-in fills later.
//
// Items come either from addItem() calls or from a delegate (the platform's
// way): setting one replaces every item with the delegate's default items
// that it also allows, each made by the delegate, plus the centred item. The
// delegate is asked again by reloadItems() and once more when the toolbar is
// first shown after being set, because the platform's toolbar makes its items
// only when it appears (an item that became available in between, such as a
// plug-in's, then shows). Main thread only.
class Toolbar : public QToolBar {
  public:
    enum class DisplayMode { iconAndLabel, iconOnly, labelOnly };
    static constexpr const char* kFlexibleSpaceIdentifier = "NSToolbarFlexibleSpaceItem";
    static constexpr const char* kSearchFieldIdentifier = "searchField";

    explicit Toolbar(QWidget* parent = nullptr);

    DisplayMode displayMode() const { return displayMode_; }
    void setDisplayMode(DisplayMode mode);

    // A button; `action` runs when it is clicked. An identifier already in
    // the toolbar replaces nothing: the old item is returned.
    QAction* addItem(const std::string& identifier, const QIcon& icon, const QString& label,
                     std::function<void()> action);
    // An item made elsewhere (a plug-in's); the toolbar takes it.
    QAction* addItem(const std::string& identifier, QAction* action);
    void addFlexibleSpace();
    // An empty slot where the search field goes.
    void addSearchFieldSlot();
    // Fills the slot (added when missing); the toolbar owns the widget.
    void setSearchFieldWidget(QWidget* widget);
    QWidget* searchFieldWidget() const { return searchField_; }

    QAction* item(const std::string& identifier) const;
    // In order, flexible spaces and the slot included.
    std::vector<std::string> itemIdentifiers() const;
    // The identifier an item was added under; empty for an action that is
    // no item of a toolbar.
    static std::string identifierOf(const QAction* item);

    // Held weakly. Setting one (even the same again) fills the toolbar from it.
    std::shared_ptr<ToolbarDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ToolbarDelegate> delegate);
    // Removes every item and asks the delegate afresh; nothing without one.
    void reloadItems();
    // The item shown in the middle of the toolbar, between flexible spaces,
    // whether or not the default list names it. Takes effect at the next fill.
    const std::string& centeredItemIdentifier() const { return centeredItemIdentifier_; }
    void setCenteredItemIdentifier(std::string identifier) {
        centeredItemIdentifier_ = std::move(identifier);
    }
    // What the delegate allowed at the last fill.
    const std::vector<std::string>& allowedItemIdentifiers() const { return allowed_; }

  protected:
    void showEvent(QShowEvent* event) override;
    // Its buttons are Tab stops (a tool bar's are not by default), so every item is in reach of
    // the keys; a click still leaves the focus where it was.
    void actionEvent(QActionEvent* event) override;

  private:
    void removeAllItems();
    // Adds the centred item after the first flexible space (with one after
    // it), or between two new ones at the end when there is none.
    void placeCenteredItem(QAction* item, const std::string& identifier);

    DisplayMode displayMode_ = DisplayMode::iconAndLabel;
    QPointer<QWidget> slot_;
    QPointer<QWidget> searchField_;
    std::weak_ptr<ToolbarDelegate> delegate_;
    std::string centeredItemIdentifier_;
    std::vector<std::string> allowed_;
    bool reloadOnShow_ = false;
};

}  // namespace platform
