#pragma once

#include <QPointer>
#include <QString>

#include <memory>
#include <string>

#include "platform/ui/ReturnKeyType.hpp"

#include <QLineEdit>
class QAction;
class QObject;

namespace platform {

class SearchController;

// Told of every change of the search text, and when the search becomes active.
// Like the delegate's call, it does nothing unless the screen overrides it.
class SearchResultsUpdating {
  public:
    virtual ~SearchResultsUpdating() = default;
    virtual void updateSearchResults(SearchController&) {}
};

class SearchControllerDelegate {
  public:
    virtual ~SearchControllerDelegate() = default;
    virtual void didPresentSearchController(SearchController&) {}
};

// A search field that a navigation item shows in its bar, under the title row
// (NavigationItem::setSearchController). It becomes active when the user
// focuses it or a program activates it: the delegate hears
// didPresentSearchController, then the results updater updateSearchResults;
// each edit of the text calls the updater again. The Done key ends the
// editing (the field loses focus) and leaves the search active. Main thread
// only.
class SearchController {
  public:
    SearchController();
    ~SearchController();
    SearchController(const SearchController&) = delete;
    SearchController& operator=(const SearchController&) = delete;

    // The field itself; the controller owns it (a bar shows it without owning it).
    QLineEdit* searchBar() const { return searchBar_.data(); }
    std::string text() const;
    // A program's change: no update call.
    void setText(const std::string& text);
    std::string placeholder() const;
    void setPlaceholder(const std::string& placeholder);
    ReturnKeyType returnKeyType() const { return returnKeyType_; }
    void setReturnKeyType(ReturnKeyType type) { returnKeyType_ = type; }
    // Kept for callers: the field never dims what lies under it.
    bool obscuresBackgroundDuringPresentation() const { return obscuresBackground_; }
    void setObscuresBackgroundDuringPresentation(bool obscures) { obscuresBackground_ = obscures; }

    void setSearchResultsUpdater(std::weak_ptr<SearchResultsUpdating> updater) {
        updater_ = std::move(updater);
    }
    void setDelegate(std::weak_ptr<SearchControllerDelegate> delegate) { delegate_ = std::move(delegate); }

    bool isActive() const { return active_; }
    // Activating tells the delegate and then the updater; deactivating clears nothing.
    void setActive(bool active);
    // Gives the field the keyboard focus.
    void becomeFirstResponder();

  private:
    void textEdited();

    QPointer<QLineEdit> searchBar_;
    QAction* clearAction_ = nullptr;    // owned by the field
    std::unique_ptr<QObject> context_;  // the field's connections end with the controller
    ReturnKeyType returnKeyType_ = ReturnKeyType::Search;
    bool obscuresBackground_ = true;
    bool active_ = false;
    std::weak_ptr<SearchResultsUpdating> updater_;
    std::weak_ptr<SearchControllerDelegate> delegate_;
};

}  // namespace platform
