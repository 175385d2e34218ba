#pragma once

#include <QPointer>
#include <QPushButton>

#include <memory>
#include <optional>
#include <string>

#include "mapscreen/MainMapPort.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/SearchController.hpp"
#include "platform/ui/SegmentedControl.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewDataSource.hpp"
#include "platform/ui/TableViewDelegate.hpp"
#include "platform/ui/ViewController.hpp"
#include "pointscreens/PointTableContent.hpp"

namespace tervolo::pointscreens {

// The list of the user's points: three sort orders on a segmented control
// (A-Z, distance, last change), a search field filtering by text and #tags,
// sections from PointTableContent, choosing a point to show it on the map,
// undeleting a deleted one, Delete (the row's context menu, which the Delete
// or Backspace key pops up on the highlighted row for a confirmation) which
// deletes a valid point and hides a deleted one, a print button that
// shows the list as a PDF preview, and Done. Sort order and filter text are
// kept in the user defaults ("lastSortOrder", "lastPointTableFilter"). Only
// while the distance order shows does it follow location fixes to keep the
// order current.
//
// The composition's factory makes it with the map screen as
// mainViewController (held weakly: the map screen outlives the list); the map
// screen presents it as the root of a navigation controller. On appearing the
// rows have the keyboard (Up and Down move the highlight, Return chooses); Up
// and Down typed in the filter field move it too. Main thread only.
class PointTableViewController : public platform::ViewController,
                                 public platform::TableViewDataSource,
                                 public platform::TableViewDelegate,
                                 public platform::SearchResultsUpdating,
                                 public platform::SearchControllerDelegate {
  public:
    static constexpr const char* kNibName = "PointTableViewController";
    static constexpr const char* kLastSortOrderKey = "lastSortOrder";
    static constexpr const char* kLastFilterKey = "lastPointTableFilter";

    PointTableViewController();
    ~PointTableViewController() override;

    std::shared_ptr<mapscreen::MainMapPort> mainViewController() const { return mainViewController_.lock(); }
    void setMainViewController(std::weak_ptr<mapscreen::MainMapPort> controller) {
        mainViewController_ = std::move(controller);
    }

    // Outlets, made by loadView.
    platform::TableView* tableView() const { return tableView_.data(); }
    platform::SegmentedControl* sortOrderControl() const { return sortOrderControl_.data(); }
    QPushButton* printButton() const { return printButton_.data(); }
    const std::shared_ptr<platform::SearchController>& searchController() const { return searchController_; }
    const PointTableContent& content() const { return content_; }

    // Recomputes the content with the control's current order.
    void cachePointStoreWithFilter(const std::optional<std::string>& filter);
    // How many times the table was reloaded in full (tests count the recomputes that reached it).
    int reloadCount() const { return reloadCount_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    void didPresentSearchController(platform::SearchController& searchController) override;
    void updateSearchResults(platform::SearchController& searchController) override;
    void onLocationUpdate(const platform::NotificationCenter::Notification& notification);
    void sortOrderChanged();
    void printButtonPressed();
    void cancelView();

    // Table data source and delegate.
    int numberOfSections(platform::TableView&) override;
    int numberOfRows(platform::TableView&, int section) override;
    platform::TableViewCell* cellForRow(platform::TableView& tableView,
                                        platform::IndexPath indexPath) override;
    QString titleForHeader(platform::TableView&, int section) override;
    QStringList sectionIndexTitles(platform::TableView&) override;
    bool canEditRow(platform::TableView&, platform::IndexPath) override { return true; }
    void commitDelete(platform::TableView& tableView, platform::IndexPath indexPath) override;
    // The row's point and whether it is deleted: a Delete asked about a point is answered for that
    // point, wherever a re-sort moved it, and for nothing once it is no longer listed as it was
    // (filtered away, hidden, or deleted meanwhile, when Delete would now hide it).
    std::optional<std::string> identifierForRow(platform::TableView&, platform::IndexPath indexPath) override;
    void didSelectRow(platform::TableView& tableView, platform::IndexPath indexPath) override;

  private:
    std::optional<int> selectedSegment() const;
    std::optional<std::string> currentFilter() const;
    void reloadTable();
    void updateLocationSubscription();
    void subscribeToLocationUpdates();
    void unsubscribeFromLocationUpdates();
    void undelete(const std::shared_ptr<points::QuovaMapPoint>& point);
    void dismissList();

    QPointer<platform::TableView> tableView_;
    QPointer<platform::SegmentedControl> sortOrderControl_;
    QPointer<QPushButton> printButton_;
    PointTableContent content_;
    std::shared_ptr<platform::SearchController> searchController_;
    std::weak_ptr<mapscreen::MainMapPort> mainViewController_;
    std::unique_ptr<platform::NotificationCenter::Token> locationObservation_;
    int reloadCount_ = 0;
};

}  // namespace tervolo::pointscreens
