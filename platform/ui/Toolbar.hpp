#pragma once

#include <QAction>
#include <QIcon>
#include <QToolBar>

#include <functional>
#include <string>
#include <vector>

namespace platform {

// The main window's toolbar ("main"): items in order, each with an
// identifier, shown with icon and label by default; flexible spaces push the
// items after them to the right (so a space on each side centres an item);
// one slot for the search field, which a plug-in fills later. Main thread only.
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

  private:
    DisplayMode displayMode_ = DisplayMode::iconAndLabel;
    QWidget* slot_ = nullptr;
    QWidget* searchField_ = nullptr;
};

}  // namespace platform
