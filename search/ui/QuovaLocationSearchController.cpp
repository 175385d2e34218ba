#include "search/ui/QuovaLocationSearchController.hpp"

#include <QKeyEvent>
#include <QRectF>
#include <QWidget>

#include <algorithm>
#include <any>

#include "location/QuovaLocationServices.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/KeyboardNotifications.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "search/GeocoderPlacemark.hpp"
#include "search/SearchResultMerge.hpp"
#include "search/ui/SearchResultCell.hpp"

namespace tervolo::search {

namespace {

// Titles come from the geocoders' replies: each is quoted for the log, so a
// title cannot end its record and start a forged one.
std::string describeList(const std::vector<std::string>& list) {
    std::string text = "[";
    for (size_t i = 0; i < list.size(); ++i) text += (i ? ", " : "") + logging::debugQuoted(list[i]);
    return text + "]";
}

std::string describePlaces(const std::vector<points::QuovaPlacemark>& places) {
    std::vector<std::string> titles;
    titles.reserve(places.size());
    for (const auto& place : places) titles.push_back(place.title);
    return describeList(titles);
}

}  // namespace

// The search field's keys that move through the result list reach the
// search before the field: the field keeps the focus (and its caret) while
// the highlight moves. A child of the field, so it goes with it.
class SearchFieldKeys : public QObject {
  public:
    SearchFieldKeys(QObject* field, std::weak_ptr<QuovaLocationSearchController> controller)
        : QObject(field), controller_(std::move(controller)) {}

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        const bool press = event->type() == QEvent::KeyPress;
        if (!press && event->type() != QEvent::ShortcutOverride) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
        auto controller = controller_.lock();
        if (!controller) return false;
        if (!press) {
            // Escape is the search's while it has something to close, before
            // any shortcut of the window.
            if (key->key() != Qt::Key_Escape) return false;
            event->accept();
            return true;
        }
        return controller->searchKeyPressed(key->key());
    }

  private:
    std::weak_ptr<QuovaLocationSearchController> controller_;
};

std::shared_ptr<QuovaLocationSearchController> QuovaLocationSearchController::make() {
    return make(Dependencies{});
}

std::shared_ptr<QuovaLocationSearchController> QuovaLocationSearchController::make(
    Dependencies dependencies) {
    if (!dependencies.makeBackendSearch) {
        dependencies.makeBackendSearch = [] { return forwardGeocoderSearch(QuovaForwardGeocoder::make()); };
    }
    if (!dependencies.bestKnownLocation) {
        dependencies.bestKnownLocation = [] {
            return location::QuovaLocationServices::shared().bestKnownLocation();
        };
    }
    std::shared_ptr<QuovaLocationSearchController> controller(
        new QuovaLocationSearchController(std::move(dependencies)));
    std::weak_ptr<QuovaLocationSearchController> weak = controller;
    controller->keyboardObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        platform::UIKeyboardDidShowNotification, nullptr,
        [weak](const platform::NotificationCenter::Notification& notification) {
            if (auto self = weak.lock()) self->handleKeyboardShowNotification(notification);
        });
    return controller;
}

QuovaLocationSearchController::QuovaLocationSearchController(Dependencies dependencies)
    : dependencies_(std::move(dependencies)), thumbnails_(SearchThumbnailLoader::make()) {
    QLLogInfo("init()");
}

QuovaLocationSearchController::~QuovaLocationSearchController() {
    // Nothing scheduled may reach a controller that is gone.
    if (searchDelayTimer_) searchDelayTimer_->invalidate();
    if (quovaGeocoder_) quovaGeocoder_->cancel();
}

// ---- Text field -----------------------------------------------------------------

void QuovaLocationSearchController::prepareTable() {
    if (!tableView_) return;
    auto self = shared_from_this();
    tableView_->setDelegate(std::weak_ptr<platform::TableViewDelegate>(self));
    tableView_->setDataSource(std::weak_ptr<platform::TableViewDataSource>(self));
    // Fixed rows, so the table height rule counts the rows it shows.
    tableView_->setRowHeight(kSearchResultRowHeight);
    std::weak_ptr<QuovaLocationSearchController> weak = self;
    tableView_->registerCell(QString::fromLatin1(kReuseIdentifier), [weak]() -> platform::TableViewCell* {
        auto* cell = new SearchResultCell(QString::fromLatin1(kReuseIdentifier));
        cell->setMapCenterLookup(
            [weak](const QWidget& widget) -> std::optional<platform::CLLocationCoordinate2D> {
                auto self = weak.lock();
                if (!self || !self->parent_) return std::nullopt;
                QWidget* view = self->parent_->view();
                // Only inside the map screen's own window.
                if (!view || !widget.window() || widget.window() != view->window()) return std::nullopt;
                return self->parent_->mapCenter();
            });
        return cell;
    });
}

void QuovaLocationSearchController::textFieldDidBeginEditing(platform::TextField& field) {
    QLLogInfo("textFieldDidBeginEditing(_:)");
    field.setReturnKeyType(platform::ReturnKeyType::Done);
    lastReportedSearchString_.reset();
    if (tableView_) {
        prepareTable();
        tableView_->show();
        clearResults();
        if (searchTableHeight_) searchTableHeight_->setConstant(0);
    }
    const std::string text = searchBar_ ? searchBar_->text().toStdString() : std::string();
    if (text.size() > 2) {
        if (searchBar_) textFieldDidChangeSelection(*searchBar_);
    } else if (text.empty()) {
        QLLogInfo("No search string - nothing to do yet.");
    }
}

void QuovaLocationSearchController::textFieldDidChangeSelection(platform::TextField&) {
    QLLogInfo("textFieldDidChangeSelection(_:)");
    if (!searchBar_) {
        QLLogInfo("No search string - nothing to do.");
        return;
    }
    const std::string text = searchBar_->text().toStdString();
    if (lastReportedSearchString_ && *lastReportedSearchString_ == text) {
        QLLogDebug("textField should be cleared - ignoring last string being repeated.");
        lastReportedSearchString_.reset();
        return;
    }
    lastReportedSearchString_ = text;
    const std::string searchString = trimmingLineBreaks(text);
    QLLogInfo("New search string " + logging::debugQuoted(searchString) +
              " - clearing results & stopping running geocoders.");
    clearResults();
    if (searchTableHeight_) searchTableHeight_->setConstant(0);
    if (iOSGeocoder_ && iOSGeocoder_->isGeocoding()) iOSGeocoder_->cancelGeocode();
    endBackendSearch();
    if (searchString.empty()) {
        QLLogInfo("Empty search string.");
        // An emptied field must not still search for what it held before.
        cancelPendingSearch();
        resetUsingNetwork();
        return;
    }
    if (searchString.size() < kMinimumSearchBytes) {
        QLLogInfo("Search string shorter than " + std::to_string(kMinimumSearchBytes) +
                  " characters - skipping.");
        cancelPendingSearch();
        return;
    }
    if (searchDelayTimer_) {
        QLLogInfo("canceling pending search for outdated string");
        cancelPendingSearch();
    }
    QLLogInfo("scheduling search for " + logging::debugQuoted(searchString));
    std::weak_ptr<QuovaLocationSearchController> weak = weak_from_this();
    searchDelayTimer_ =
        platform::Timer::scheduled(kSearchDelay, false, [weak, searchString](platform::Timer&) {
            auto self = weak.lock();
            if (!self) return;
            QLLogInfo("now starting search for " + logging::debugQuoted(searchString));
            self->startGeocoding(searchString);
        });
}

bool QuovaLocationSearchController::textFieldShouldReturn(platform::TextField& field) {
    // The map's keys work at once after the search ends.
    if (parent_ && field.hasFocus()) parent_->focusMap();
    field.resignFirstResponder();
    if (tableView_) tableView_->hide();
    // An ended search must not start again when a pending timer fires.
    cancelPendingSearch();
    if (iOSGeocoder_) iOSGeocoder_->cancelGeocode();
    if (quovaGeocoder_) quovaGeocoder_->cancel();
    backendUsesNetwork_ = false;
    resetUsingNetwork();
    return false;
}

void QuovaLocationSearchController::setSearchBar(platform::TextField* searchBar) {
    if (searchBar_ == searchBar) return;
    delete searchFieldKeys_.data();
    searchBar_ = searchBar;
    if (!searchBar_) return;
    searchFieldKeys_ = new SearchFieldKeys(searchBar_, weak_from_this());
    searchBar_->installEventFilter(searchFieldKeys_);
}

// ---- Keyboard ---------------------------------------------------------------------

std::optional<int> QuovaLocationSearchController::highlightedRow() const {
    if (!tableView_) return std::nullopt;
    const auto selected = tableView_->indexPathForSelectedRow();
    if (!selected) return std::nullopt;
    return selected->row;
}

void QuovaLocationSearchController::highlightRow(std::optional<int> row) {
    if (!tableView_) return;
    if (!row) {
        tableView_->selectRow(std::nullopt);
        return;
    }
    tableView_->selectRow(platform::IndexPath{0, *row}, platform::TableView::ScrollPosition::None);
    tableView_->scrollToRow({0, *row}, platform::TableView::ScrollPosition::None);
}

bool QuovaLocationSearchController::searchKeyPressed(int key) {
    const bool listed = tableView_ && !tableView_->isHidden() && !allResults_.empty();
    const std::optional<int> highlighted = listed ? highlightedRow() : std::nullopt;
    switch (key) {
        case Qt::Key_Down: {
            if (!listed) return false;
            const int last = static_cast<int>(allResults_.size()) - 1;
            highlightRow(highlighted ? std::min(*highlighted + 1, last) : 0);
            return true;
        }
        case Qt::Key_Up:
            if (!highlighted) return false;
            highlightRow(*highlighted > 0 ? std::optional<int>(*highlighted - 1) : std::nullopt);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!highlighted) return false;
            QLLogInfo("search result chosen with the keyboard");
            didSelectRow(*tableView_, {0, *highlighted});
            return true;
        case Qt::Key_Escape:
            if (highlighted) {
                highlightRow(std::nullopt);
                return true;
            }
            if (!searchBar_) return false;
            textFieldShouldReturn(*searchBar_);
            if (parent_) {
                parent_->closeSearchField();
                parent_->focusMap();
            }
            return true;
        default:
            return false;
    }
}

void QuovaLocationSearchController::searchForText(const QString& text) {
    if (!searchBar_) return;
    QLLogInfo("search text from another field");
    // The table is made ready as when the screen's field begins editing; the
    // field itself keeps out of the way (the other field has the focus).
    if (tableView_) {
        prepareTable();
        tableView_->show();
    }
    searchBar_->setText(text);
    textFieldDidChangeSelection(*searchBar_);
}

void QuovaLocationSearchController::leaveSearchFocus() {
    if (parent_) parent_->focusMap();
    if (searchBar_ && searchBar_->hasFocus()) searchBar_->resignFirstResponder();
    if (!tableView_) return;
    QWidget* window = tableView_->window();
    QWidget* focused = window ? window->focusWidget() : nullptr;
    if (focused && (focused == tableView_ || tableView_->isAncestorOf(focused))) focused->clearFocus();
}

void QuovaLocationSearchController::cancelPendingSearch() {
    if (searchDelayTimer_) searchDelayTimer_->invalidate();
    searchDelayTimer_.reset();
}

bool QuovaLocationSearchController::hasPendingSearch() const {
    return searchDelayTimer_ && searchDelayTimer_->isValid();
}

// ---- Query flow -------------------------------------------------------------------

std::optional<platform::CLLocationCoordinate2D> QuovaLocationSearchController::mapCenter() const {
    return parent_ ? parent_->mapCenter() : std::nullopt;
}

void QuovaLocationSearchController::startGeocoding(const std::string& searchString) {
    platform::CLLocationCoordinate2D userLocation = platform::kCLLocationCoordinate2DInvalid;
    platform::CLLocationCoordinate2D center = platform::kCLLocationCoordinate2DInvalid;
    std::optional<platform::CLLocationCoordinate2D> regionCenter;

    if (auto mapViewCenter = mapCenter()) {
        QLLogInfo("using mapView centerCoordinate for SearchController");
        center = *mapViewCenter;
        regionCenter = center;
        if (dependencies_.logMapCenterAddress) {
            if (!centerGeocoder_) centerGeocoder_ = std::make_unique<platform::CLGeocoder>();
            centerGeocoder_->reverseGeocodeLocation(
                platform::CLLocation(center.latitude, center.longitude),
                [](std::optional<std::vector<platform::CLPlacemark>> placemarks,
                   std::optional<platform::Error>) {
                    if (placemarks && !placemarks->empty()) {
                        QLLogInfo("location at center: " +
                                  logging::debugQuoted(placemarks->front().name.value_or("")));
                    }
                });
        } else {
            QLLogDebug("reverse geocoding of the map centre skipped");
        }
    }
    if (auto best = dependencies_.bestKnownLocation ? dependencies_.bestKnownLocation() : std::nullopt) {
        QLLogInfo("LocationServices delivered valid location to SearchController");
        userLocation = best->coordinate();
        if (!regionCenter) regionCenter = userLocation;
    }
    if (!iOSGeocoder_) iOSGeocoder_ = std::make_unique<platform::CLGeocoder>();
    if (regionCenter) {
        platform::CLCircularRegion region{*regionCenter, kGeocoderRegionRadius, "surroundingRegion"};
        QLLogInfo("Starting geocoding for search string " + logging::debugQuoted(searchString));
        startUsingNetworkForDomain(kAppleGeocoderDomain);
        std::weak_ptr<QuovaLocationSearchController> weak = weak_from_this();
        iOSGeocoder_->geocodeAddressString(
            searchString, region,
            [weak](std::optional<std::vector<platform::CLPlacemark>> placemarks,
                   std::optional<platform::Error> error) {
                if (auto self = weak.lock()) self->geoHandler(std::move(placemarks), std::move(error));
            });
    }
    startQuovaGeocoding(searchString, center, userLocation);
    mergeResults();
}

void QuovaLocationSearchController::startQuovaGeocoding(const std::string& searchString,
                                                        platform::CLLocationCoordinate2D center,
                                                        platform::CLLocationCoordinate2D userLocation) {
    if (!quovaGeocoder_) quovaGeocoder_ = dependencies_.makeBackendSearch();
    endBackendSearch();
    startUsingNetworkForDomain(kQuovaGeocoderDomain);
    backendUsesNetwork_ = true;
    std::weak_ptr<QuovaLocationSearchController> weak = weak_from_this();
    quovaGeocoder_->geocodeAddressString(searchString, center, userLocation,
                                         [weak](std::optional<std::vector<points::QuovaPlacemark>> placemarks,
                                                bool done, std::optional<platform::Error> error) {
                                             if (auto self = weak.lock())
                                                 self->backendHandler(std::move(placemarks), done,
                                                                      std::move(error));
                                         });
}

void QuovaLocationSearchController::endBackendSearch() {
    if (!quovaGeocoder_) return;
    // In every state, a failed start waiting for its retry included: a
    // search left running would start again and answer under other text.
    if (backendUsesNetwork_ || quovaGeocoder_->isSearching()) quovaGeocoder_->cancel();
    // A cancelled search never calls its handler, so its turn of the spinner ends here.
    if (backendUsesNetwork_) {
        backendUsesNetwork_ = false;
        stopUsingNetworkForDomain(kQuovaGeocoderDomain);
    }
}

void QuovaLocationSearchController::backendHandler(
    std::optional<std::vector<points::QuovaPlacemark>> placemarks, bool done,
    std::optional<platform::Error> error) {
    if (done && backendUsesNetwork_) {
        backendUsesNetwork_ = false;
        stopUsingNetworkForDomain(kQuovaGeocoderDomain);
    }
    if (error) {
        QLLogInfo("error: " + logging::debugQuoted(error->description));
        return;
    }
    if (placemarks && !placemarks->empty()) {
        QLLogInfo("places: " + describePlaces(*placemarks));
        resultsFromBackend_ = std::move(*placemarks);
        mergeResults();
        return;
    }
    QLLogInfo("No places received from backend, nothing to do.");
}

void QuovaLocationSearchController::geoHandler(std::optional<std::vector<platform::CLPlacemark>> placemarks,
                                               std::optional<platform::Error> error) {
    stopUsingNetworkForDomain(kAppleGeocoderDomain);
    if (error) {
        QLLogInfo("geoHandler called with error " + logging::debugQuoted(error->description));
        return;
    }
    if (!placemarks) {
        QLLogInfo("Geocoding completed without results - clearing results.");
        resultsFromApple_.clear();
        // The merge sizes the table for what the other sources listed; a
        // collapse to 0 here would hide their results.
        mergeResults();
        return;
    }
    if (placemarks->empty()) return;
    QLLogInfo("Geocoding found " + std::to_string(placemarks->size()) + " places:");
    std::vector<points::QuovaPlacemark> converted;
    for (const auto& placemark : *placemarks) {
        if (auto place = makeQuovaPlacemark(placemark)) converted.push_back(std::move(*place));
    }
    QLLogInfo(describePlaces(converted));
    resultsFromApple_ = std::move(converted);
    mergeResults();
}

void QuovaLocationSearchController::mergeResults() {
    std::vector<points::QuovaPlacemark> own;
    if (searchBar_ && !searchBar_->text().isEmpty()) {
        const std::string filter = trimmingWhitespaceAndLineBreaks(searchBar_->text().toStdString());
        own = ownPointResults(points::QuovaMapPointStore::shared().validPointsWithFilter(filter));
    }
    allResults_ = mergeSearchResults(resultsFromBackend_, resultsFromApple_, std::move(own), mapCenter());
    setSearchTableHeight(allResults_.size());
    if (tableView_) tableView_->reloadData();
}

void QuovaLocationSearchController::clearResults() {
    allResults_.clear();
    resultsFromApple_.clear();
    resultsFromBackend_.clear();
    if (tableView_) tableView_->reloadData();
}

void QuovaLocationSearchController::setSearchTableHeight(size_t numberOfRows) {
    if (!tableView_) return;
    SearchTableLimits limits;
    limits.keyboardOriginY = keyboardOriginY_;
    limits.tableOriginY = tableView_->geometry().y();
    if (keyboardOriginY_ == 0) {
        QLLogInfo("keyboard height not set");
        if (QWidget* window = tableView_->window(); window && window != tableView_.data()) {
            limits.windowHeight = window->height();
            QLLogInfo("window height: " + std::to_string(window->height()));
            QLLogInfo("table view Y position: " + std::to_string(tableView_->geometry().y()));
        }
    }
    const double height = searchTableHeight(numberOfRows, limits);
    QLLogInfo("setting heigt to " + platform::text::describe(height));
    if (searchTableHeight_) searchTableHeight_->setConstant(height);
}

void QuovaLocationSearchController::handleKeyboardShowNotification(
    const platform::NotificationCenter::Notification& notification) {
    QLLogInfo("handleKeyboardShowNotification(notification:)");
    auto found = notification.userInfo.find(platform::UIKeyboardFrameEndUserInfoKey);
    if (found == notification.userInfo.end()) return;
    const auto* rect = std::any_cast<QRectF>(&found->second);
    if (!rect) return;
    QLLogInfo("keyboardRect: " + platform::text::describe(rect->y()));
    keyboardOriginY_ = rect->y();
    setSearchTableHeight(allResults_.size());
}

void QuovaLocationSearchController::setParent(mapscreen::MainViewController* parent) {
    if (!parent) {
        parent_ = nullptr;
        return;
    }
    parent_ = std::make_shared<MainViewSearchHost>(
        parent, dependencies_.pointOperations.value_or(MainViewSearchHost::screenOperations(parent)));
}

void QuovaLocationSearchController::traitCollectionDidChange(const platform::TraitCollection&) {
    QLLogInfo("traitCollectionDidChange(_:)");
    std::weak_ptr<QuovaLocationSearchController> weak = weak_from_this();
    platform::DispatchQueue::main()->asyncAfter(0.5, [weak] {
        if (auto self = weak.lock()) self->setSearchTableHeight(self->allResults_.size());
    });
}

// ---- Network usage and spinner ---------------------------------------------------

void QuovaLocationSearchController::logCountLine(int64_t before, int64_t after, const std::string& domain) {
    QLLogInfo("network usage count: " + std::to_string(before) + " -> " + std::to_string(after) +
              " - caller: " + domain + " - \nlisted domains: " + describeList(spinnerDomains_));
}

void QuovaLocationSearchController::startUsingNetworkForDomain(const std::string& domain) {
    std::lock_guard lock(spinnerMutex_);
    const int64_t before = networkUsageCount_++;
    spinnerDomains_.push_back(domain);
    logCountLine(before, networkUsageCount_, domain);
    if (networkUsageCount_ == 1) {
        QLLogInfo("starting spinner");
        queueSpinner(true);
    }
}

void QuovaLocationSearchController::stopUsingNetworkForDomain(const std::string& domain) {
    std::lock_guard lock(spinnerMutex_);
    // The count on entry; 0 after an underrun.
    const int64_t before = networkUsageCount_;
    if (networkUsageCount_ == 0) {
        QLLogInfo("Logic error: stopUsingNetwork invoked while network usage is zero.");
        QLLogInfo("Network usage count: adding one to prevent underrun");
        networkUsageCount_ = 1;
    }
    --networkUsageCount_;
    if (auto found = std::find(spinnerDomains_.begin(), spinnerDomains_.end(), domain);
        found != spinnerDomains_.end()) {
        spinnerDomains_.erase(found);
    }
    logCountLine(before, networkUsageCount_, domain);
    if (networkUsageCount_ == 0) {
        QLLogInfo("stopping spinner");
        queueSpinner(false);
    }
}

void QuovaLocationSearchController::resetUsingNetwork() {
    std::lock_guard lock(spinnerMutex_);
    networkUsageCount_ = 0;
    QLLogInfo("network usage count reset; stopping spinner");
    queueSpinner(false);
}

void QuovaLocationSearchController::queueSpinner(bool animating) {
    // Always through the main queue, so starts and stops run in the order queued.
    QPointer<platform::ActivityIndicator> spinner = spinner_;
    platform::DispatchQueue::main()->async([spinner, animating] {
        if (!spinner) return;
        if (animating) {
            spinner->startAnimating();
        } else {
            spinner->stopAnimating();
        }
    });
}

int64_t QuovaLocationSearchController::networkUsageCount() const {
    std::lock_guard lock(spinnerMutex_);
    return networkUsageCount_;
}

std::vector<std::string> QuovaLocationSearchController::spinnerDomains() const {
    std::lock_guard lock(spinnerMutex_);
    return spinnerDomains_;
}

// ---- Table ------------------------------------------------------------------------

int QuovaLocationSearchController::numberOfRows(platform::TableView&, int) {
    return static_cast<int>(allResults_.size());
}

platform::TableViewCell* QuovaLocationSearchController::cellForRow(platform::TableView& tableView,
                                                                   platform::IndexPath indexPath) {
    QLLogInfo("tableView(_:cellForRowAt:)");
    auto* cell = dynamic_cast<SearchResultCell*>(
        tableView.dequeueReusableCell(QString::fromLatin1(kReuseIdentifier), indexPath));
    if (!cell) return nullptr;
    const auto& place = allResults_.at(static_cast<size_t>(indexPath.row));
    cell->configure(place);
    if (cell->previewImageView()) cell->previewImageView()->setImage(QImage());
    if (place.imageUrl && !place.imageUrl->empty()) {
        QPointer<SearchResultCell> guarded = cell;
        loadPreviewImage(place, [guarded](const points::QuovaPlacemark& result, std::optional<QImage> image) {
            if (!image) {
                QLLogDebug("Can't download image for search result, skipping.");
                return;
            }
            if (!guarded || !guarded->placemark() || !(*guarded->placemark() == result)) {
                QLLogDebug("Cell placemark changed during image download, skipping image.");
                return;
            }
            if (guarded->previewImageView()) guarded->previewImageView()->setImage(*image);
        });
    } else if (cell->imageWrapperViewWidth()) {
        cell->imageWrapperViewWidth()->setConstant(0);
    }
    return cell;
}

void QuovaLocationSearchController::loadPreviewImage(const points::QuovaPlacemark& place,
                                                     SearchThumbnailLoader::ImageCompletion completion) {
    thumbnails_->loadPreviewImage(place, std::move(completion));
}

void QuovaLocationSearchController::didSelectRow(platform::TableView&, platform::IndexPath indexPath) {
    QLLogInfo("tableView(_:didSelectRowAt:)");
    // The chosen result is read first: whatever the focus does next must not
    // decide which result (if any) is chosen.
    std::optional<points::QuovaPlacemark> chosen;
    if (indexPath.row >= 0 && static_cast<size_t>(indexPath.row) < allResults_.size()) {
        chosen = allResults_[static_cast<size_t>(indexPath.row)];
    }
    leaveSearchFocus();
    if (tableView_) {
        tableView_->selectRow(std::nullopt);
        tableView_->hide();
    }
    if (!chosen) return;
    const points::QuovaPlacemark place = *chosen;
    auto& store = points::QuovaMapPointStore::shared();

    if (place.datasource == points::localDataSourceName()) {
        if (!place.uniqueID) return;
        std::shared_ptr<points::QuovaMapPoint> match;
        for (const auto& point : store.allPoints()) {
            if (point && point->uuid() == place.uniqueID) match = point;
        }
        if (!match) return;
        clearResults();
        if (parent_) {
            parent_->zoomInOnPoint(match);
            parent_->selectPoint(match);
        }
        return;
    }

    auto point = points::QuovaMapPoint::make(place);
    if (!point || !platform::CLLocationCoordinate2DIsValid(point->coordinate())) {
        QLLogInfo("Invalid location, can't add to map.");
        clearResults();
        return;
    }
    QLLogInfo("Adding placemark to models & view: " + logging::debugQuoted(place.title));
    point->setHasHandcraftedTitle(true);
    point->save(store);
    if (auto error = store.addPoint(point)) {
        // Not on disk: no pin that would be gone at the next start, and the
        // user is told, as on every road that makes a point.
        QLLogError("Search result not stored: " + error->fullDescription());
        clearResults();
        if (parent_) parent_->pointNotSaved(*error);
        return;
    }
    clearResults();
    if (parent_) {
        parent_->addPoint(point);
        parent_->zoomInOnPoint(point);
    }
}

}  // namespace tervolo::search
