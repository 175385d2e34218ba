#pragma once

#include <QPointer>
#include <QString>

#include <cstddef>
#include <memory>

#include "platform/ui/ActivityIndicator.hpp"
#include "platform/ui/LayoutConstraint.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/TextFieldDelegate.hpp"
#include "platform/ui/ViewController.hpp"

namespace tervolo::mapscreen {

class MainViewController;

// What the map screen needs of its location search. The search controller
// lies above the map screen (it calls the screen's point operations), so the
// screen declares this interface and gets the controller from a factory the
// application fills; without one the screen has no search and the search
// button only shows and hides the empty field.
//
// The screen hands it its widgets when its view loads, makes it the search
// field's delegate, and calls it when the field opens and closes. Main thread
// only.
class MapSearchController : public platform::TextFieldDelegate {
  public:
    ~MapSearchController() override = default;

    // The screen's widgets and the height constraint of the result table.
    virtual void setSearchBar(platform::TextField* searchBar) = 0;
    virtual void setTableView(platform::TableView* tableView) = 0;
    virtual void setSpinner(platform::ActivityIndicator* spinner) = 0;
    virtual void setSearchTableHeight(std::shared_ptr<platform::LayoutConstraint> constraint) = 0;
    // The screen; not owned (both live for the whole run).
    virtual void setParent(MainViewController* parent) = 0;

    // The number of merged results shown now.
    virtual size_t allResultsCount() const = 0;
    // Sizes the result table for `numberOfRows` rows.
    virtual void setSearchTableHeight(size_t numberOfRows) = 0;
    virtual void traitCollectionDidChange(const platform::TraitCollection& previous) = 0;

    // A key (Qt::Key) pressed in a search field, the screen's or the
    // toolbar's: true when the search took it (the field then ignores it).
    virtual bool searchKeyPressed(int key) {
        (void)key;
        return false;
    }
    // Text typed into another search field (the toolbar's): the screen's
    // field takes it over and searches for it, so there is one search and
    // one result list.
    virtual void searchForText(const QString& text) { (void)text; }
};

}  // namespace tervolo::mapscreen
