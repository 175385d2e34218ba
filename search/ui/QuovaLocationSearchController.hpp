#pragma once

#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mapscreen/MapSearchController.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/location/CLGeocoder.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/ui/ActivityIndicator.hpp"
#include "platform/ui/LayoutConstraint.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewDataSource.hpp"
#include "platform/ui/TableViewDelegate.hpp"
#include "platform/ui/TextField.hpp"
#include "points/QuovaPlacemark.hpp"
#include "search/ui/BackendSearch.hpp"
#include "search/ui/MainViewSearchHost.hpp"
#include "search/ui/SearchMapHost.hpp"
#include "search/ui/SearchThumbnailLoader.hpp"

namespace platform {
class Timer;
}

namespace tervolo::search {

class SearchResultCell;

// The location search behind the map screen's search field. Typing waits for
// a 0.7 s pause; then the platform geocoder (within 10 km of the map centre,
// only when a centre or the user's position is known), the backend search and
// the user's own matching points are asked at once. Every answer rebuilds one
// list sorted by distance from the map centre, which the result table shows;
// a spinner turns while a source is at work. Choosing a result shows an own
// point on the map or stores any other result as a new point.
//
// It is the search field's delegate and the result table's data source and
// delegate. Main thread only; lengths in points, times in seconds.
class QuovaLocationSearchController : public mapscreen::MapSearchController,
                                      public platform::TableViewDataSource,
                                      public platform::TableViewDelegate,
                                      public std::enable_shared_from_this<QuovaLocationSearchController> {
  public:
    struct Dependencies {
        // The backend search, made on the first search (default: the forward geocoder).
        std::function<std::shared_ptr<BackendSearch>()> makeBackendSearch;
        // The user's best known position (default: the shared location services').
        std::function<std::optional<platform::CLLocation>()> bestKnownLocation;
        // Debugging only: reverse-geocode the map centre on each search for a
        // log line. Off, so it never takes a search's turn at the geocoder's
        // rate limit.
        bool logMapCenterAddress = false;
        // What a chosen result does on the map screen given by setParent.
        // None (the factory's choice): the screen's own operations
        // (MainViewSearchHost::screenOperations); tests give hooks that
        // record (an empty hook skips its step).
        std::optional<MainViewSearchHost::PointOperations> pointOperations;
    };

    static constexpr double kSearchDelay = 0.7;               // seconds of typing pause
    static constexpr double kGeocoderRegionRadius = 10000.0;  // metres
    static constexpr const char* kAppleGeocoderDomain = "AppleGeocoder";
    static constexpr const char* kQuovaGeocoderDomain = "QuovaGeocoder";
    static constexpr const char* kReuseIdentifier = "basicStyleCell";

    static std::shared_ptr<QuovaLocationSearchController> make();
    static std::shared_ptr<QuovaLocationSearchController> make(Dependencies dependencies);
    ~QuovaLocationSearchController() override;
    QuovaLocationSearchController(const QuovaLocationSearchController&) = delete;
    QuovaLocationSearchController& operator=(const QuovaLocationSearchController&) = delete;

    // ---- Set-up by the map screen
    // The field's Up, Down, Return and Escape keys go to searchKeyPressed first.
    void setSearchBar(platform::TextField* searchBar) override;
    void setTableView(platform::TableView* tableView) override { tableView_ = tableView; }
    void setSpinner(platform::ActivityIndicator* spinner) override { spinner_ = spinner; }
    void setSearchTableHeight(std::shared_ptr<platform::LayoutConstraint> constraint) override {
        searchTableHeight_ = std::move(constraint);
    }
    // The map screen (not owned; it outlives the controller), seen through
    // MainViewSearchHost with the point operations of the dependencies, or
    // else the screen's own.
    void setParent(mapscreen::MainViewController* parent) override;
    // The map screen as a host of the test's or the composition's own.
    void setParent(std::shared_ptr<SearchMapHost> parent) { parent_ = std::move(parent); }

    // ---- Text field
    void textFieldDidBeginEditing(platform::TextField& field) override;
    void textFieldDidChangeSelection(platform::TextField& field) override;
    // Ends the search: focus, table, both sources, spinner and a pending timer.
    bool textFieldShouldReturn(platform::TextField& field) override;

    // ---- Keyboard
    // Down moves from the field into the result list and on through it, Up
    // back towards the field (above the first row the highlight is gone),
    // Return chooses the highlighted result as a click on its row does,
    // Escape drops the highlight and, without one, ends the search. The
    // focus stays in the field meanwhile. Other keys are not taken.
    bool searchKeyPressed(int key) override;
    // The toolbar's field: its text becomes the screen field's and is
    // searched for as if typed there.
    void searchForText(const QString& text) override;
    // The row Up and Down have reached; none while the field's text is the choice.
    std::optional<int> highlightedRow() const;

    // ---- Table
    int numberOfSections(platform::TableView&) override { return 1; }
    int numberOfRows(platform::TableView&, int section) override;
    platform::TableViewCell* cellForRow(platform::TableView& tableView,
                                        platform::IndexPath indexPath) override;
    void didSelectRow(platform::TableView& tableView, platform::IndexPath indexPath) override;

    // ---- Query flow
    void startGeocoding(const std::string& searchString);
    void startQuovaGeocoding(const std::string& searchString, platform::CLLocationCoordinate2D mapCenter,
                             platform::CLLocationCoordinate2D userLocation);
    void mergeResults();
    void clearResults();
    void setSearchTableHeight(size_t numberOfRows) override;
    size_t allResultsCount() const override { return allResults_.size(); }
    void handleKeyboardShowNotification(const platform::NotificationCenter::Notification& notification);
    // Resizes the table 0.5 s later.
    void traitCollectionDidChange(const platform::TraitCollection& previous) override;

    // ---- Network usage and spinner
    void startUsingNetworkForDomain(const std::string& domain);
    void stopUsingNetworkForDomain(const std::string& domain);
    void resetUsingNetwork();

    // ---- Thumbnails
    void loadPreviewImage(const points::QuovaPlacemark& place,
                          SearchThumbnailLoader::ImageCompletion completion);
    SearchThumbnailLoader& thumbnails() { return *thumbnails_; }

    // ---- State (tests)
    const std::vector<points::QuovaPlacemark>& allResults() const { return allResults_; }
    const std::vector<points::QuovaPlacemark>& resultsFromApple() const { return resultsFromApple_; }
    const std::vector<points::QuovaPlacemark>& resultsFromBackend() const { return resultsFromBackend_; }
    int64_t networkUsageCount() const;
    std::vector<std::string> spinnerDomains() const;
    bool hasPendingSearch() const;
    double keyboardOriginY() const { return keyboardOriginY_; }
    const std::optional<std::string>& lastReportedSearchString() const { return lastReportedSearchString_; }
    platform::CLGeocoder* iOSGeocoder() const { return iOSGeocoder_.get(); }

    // The completions of the two sources (main queue).
    void geoHandler(std::optional<std::vector<platform::CLPlacemark>> placemarks,
                    std::optional<platform::Error> error);
    void backendHandler(std::optional<std::vector<points::QuovaPlacemark>> placemarks, bool done,
                        std::optional<platform::Error> error);

  private:
    explicit QuovaLocationSearchController(Dependencies dependencies);
    void cancelPendingSearch();
    // Delegate, data source, row height and cell of the result table.
    void prepareTable();
    void highlightRow(std::optional<int> row);
    // Hands the keyboard focus to the map (or to nobody) before the table
    // hides, so it never falls back into the field, which would begin
    // editing there again and clear the results.
    void leaveSearchFocus();
    void queueSpinner(bool animating);
    std::optional<platform::CLLocationCoordinate2D> mapCenter() const;
    void logCountLine(int64_t before, int64_t after, const std::string& domain);

    Dependencies dependencies_;
    std::unique_ptr<platform::CLGeocoder> iOSGeocoder_;
    std::unique_ptr<platform::CLGeocoder> centerGeocoder_;
    std::shared_ptr<BackendSearch> quovaGeocoder_;
    QPointer<platform::TextField> searchBar_;
    QPointer<QObject> searchFieldKeys_;  // the field's key filter, its child
    QPointer<platform::TableView> tableView_;
    QPointer<platform::ActivityIndicator> spinner_;
    std::vector<points::QuovaPlacemark> allResults_;
    std::vector<points::QuovaPlacemark> resultsFromApple_;
    std::vector<points::QuovaPlacemark> resultsFromBackend_;
    std::shared_ptr<platform::LayoutConstraint> searchTableHeight_;
    std::shared_ptr<SearchMapHost> parent_;
    double keyboardOriginY_ = 0;
    std::shared_ptr<SearchThumbnailLoader> thumbnails_;
    std::shared_ptr<platform::Timer> searchDelayTimer_;
    std::optional<std::string> lastReportedSearchString_;
    // Guards the counter and the domain list (callers may come from any thread).
    mutable std::mutex spinnerMutex_;
    int64_t networkUsageCount_ = 0;
    std::vector<std::string> spinnerDomains_;
    std::unique_ptr<platform::NotificationCenter::Token> keyboardObserver_;
};

}  // namespace tervolo::search
