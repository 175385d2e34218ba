#include "pointscreens/PointTableViewController.hpp"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPdfView>
#include <QPushButton>
#include <QVBoxLayout>

#include <fmt/format.h>

#include "logging/QLLogging.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/SegmentedControl.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "pointscreens/PDFCreator.hpp"
#include "pointscreens/PDFPreviewViewController.hpp"
#include "pointscreens/QuovaMapPointCell.hpp"
#include "pointscreens/WriteFailureAlert.hpp"

namespace tervolo::pointscreens {
namespace {

std::string localized(const char* key) {
    return platform::localizedString(key);
}

// Up and Down typed in the filter field move the list's highlight: the table takes the focus and
// the key, so the keyboard goes from the filter to the rows without a click.
class FilterFieldArrowKeys : public QObject {
  public:
    FilterFieldArrowKeys(QObject* parent, platform::TableView* table) : QObject(parent), table_(table) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !table_) return QObject::eventFilter(watched, event);
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Down && key != Qt::Key_Up) return QObject::eventFilter(watched, event);
        table_->setFocus(Qt::TabFocusReason);
        QCoreApplication::sendEvent(table_, event);
        return true;
    }

  private:
    QPointer<platform::TableView> table_;
};

}  // namespace

PointTableViewController::PointTableViewController() = default;

// The observation goes first: no location fix reaches a list being destroyed.
PointTableViewController::~PointTableViewController() { locationObservation_.reset(); }

void PointTableViewController::loadView() {
    auto* root = new QWidget();
    root->setObjectName(kNibName);
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* controls = new QHBoxLayout();
    const int margin = root->fontMetrics().height() / 2;
    controls->setContentsMargins(margin, margin, margin, margin);
    controls->setSpacing(margin);
    sortOrderControl_ = new platform::SegmentedControl(QStringList{QString(), QString(), QString()}, root);
    sortOrderControl_->setObjectName("sortOrderControl");
    sortOrderControl_->setSelectedSegmentIndex(0);
    printButton_ = new QPushButton(root);
    printButton_->setObjectName("printButton");
    // Return presses it when it has the focus, as Space does (outside a dialog a push button takes
    // only Space unless it is an auto-default one).
    printButton_->setAutoDefault(true);
    controls->addWidget(sortOrderControl_, 1);
    controls->addWidget(printButton_);
    column->addLayout(controls);

    tableView_ = new platform::TableView(root);
    tableView_->setObjectName("tableView");
    tableView_->setRowHeight(platform::TableView::kAutomatic);
    tableView_->setEstimatedRowHeight(root->fontMetrics().height() * 3);
    column->addWidget(tableView_, 1);
    setView(root);
}

std::optional<int> PointTableViewController::selectedSegment() const {
    if (!sortOrderControl_) return std::nullopt;
    return sortOrderControl_->selectedSegmentIndex();
}

std::optional<std::string> PointTableViewController::currentFilter() const {
    if (!searchController_) return std::nullopt;
    std::string text = searchController_->text();
    if (text.empty()) return std::nullopt;
    return text;
}

void PointTableViewController::cachePointStoreWithFilter(const std::optional<std::string>& filter) {
    content_.cachePointStoreWithFilter(filter, selectedSegment());
}

void PointTableViewController::reloadTable() {
    ++reloadCount_;
    if (tableView_) tableView_->reloadData();
}

void PointTableViewController::viewDidLoad() {
    QLLogInfo("viewDidLoad()");
    platform::ViewController::viewDidLoad();
    auto self = std::static_pointer_cast<PointTableViewController>(shared_from_this());
    if (tableView_) {
        tableView_->registerCell(QuovaMapPointCell::kReuseIdentifier, [] {
            return new QuovaMapPointCell(platform::TableViewCell::Style::Subtitle,
                                         QuovaMapPointCell::kReuseIdentifier);
        });
        tableView_->setDataSource(std::weak_ptr<platform::TableViewDataSource>(self));
        tableView_->setDelegate(std::weak_ptr<platform::TableViewDelegate>(self));
    }
    if (sortOrderControl_) {
        sortOrderControl_->setTitleForSegment(0, QStringLiteral("A-Z"));
        sortOrderControl_->setImageForSegment(1, platform::NamedImage::named("ruler"));
        sortOrderControl_->setImageForSegment(2, platform::NamedImage::named("clock"));
        sortOrderControl_->setAccessibleName(QString::fromStdString(localized("Sort order")));
        std::weak_ptr<PointTableViewController> weak = self;
        QObject::connect(sortOrderControl_, &platform::SegmentedControl::valueChanged, sortOrderControl_,
                         [weak] {
                             if (auto strong = weak.lock()) strong->sortOrderChanged();
                         });
    }
    if (printButton_) {
        printButton_->setText(QString::fromStdString(localized("Print")));
        std::weak_ptr<PointTableViewController> weak = self;
        QObject::connect(printButton_, &QPushButton::clicked, printButton_, [weak] {
            if (auto strong = weak.lock()) strong->printButtonPressed();
        });
    }
    if (const auto stored = platform::UserDefaults::standard().stringValue(kLastSortOrderKey);
        stored && sortOrderControl_) {
        sortOrderControl_->setSelectedSegmentIndex(*stored == "byDistance"     ? 1
                                                   : *stored == "byLastChange" ? 2
                                                                               : 0);
    }
    navigationItem().setTitle(localized("Locations"));
    navigationItem().setHidesSearchBarWhenScrolling(false);
    if (auto* navigation = navigationController()) {
        // The bar follows the desktop palette (light or dark) rather than fixed white and black, so its
        // texts keep their contrast in both.
        platform::NavigationBar& bar = navigation->navigationBar();
        const QPalette palette = view()->palette();
        platform::NavigationBar::Appearance appearance;
        appearance.backgroundColor = palette.color(QPalette::Base);
        appearance.titleTextAttributes.foregroundColor = palette.color(QPalette::Text);
        appearance.largeTitleTextAttributes.foregroundColor = palette.color(QPalette::Text);
        bar.setPrefersLargeTitles(true);
        bar.setStandardAppearance(appearance);
        bar.setScrollEdgeAppearance(appearance);
    }
    std::weak_ptr<PointTableViewController> weak = self;
    navigationItem().setRightBarButtonItem(std::make_shared<platform::BarButtonItem>(
        localized("Done"), platform::BarButtonItem::Style::done, [weak] {
            if (auto strong = weak.lock()) strong->cancelView();
        }));
}

void PointTableViewController::viewWillAppear(bool animated) {
    platform::ViewController::viewWillAppear(animated);
    auto self = std::static_pointer_cast<PointTableViewController>(shared_from_this());
    // A new field at every appearance, so the stored filter is restored each time the list comes back.
    searchController_ = std::make_shared<platform::SearchController>();
    searchController_->setSearchResultsUpdater(std::weak_ptr<platform::SearchResultsUpdating>(self));
    searchController_->setDelegate(std::weak_ptr<platform::SearchControllerDelegate>(self));
    searchController_->setObscuresBackgroundDuringPresentation(false);
    searchController_->setReturnKeyType(platform::ReturnKeyType::Done);
    searchController_->setPlaceholder(localized("Filter by #tags or text ..."));
    if (QLineEdit* field = searchController_->searchBar(); field != nullptr && tableView_)
        field->installEventFilter(new FilterFieldArrowKeys(field, tableView_));
    navigationItem().setSearchController(searchController_);

    if (const auto stored = platform::UserDefaults::standard().stringValue(kLastFilterKey)) {
        searchController_->setText(*stored);
        cachePointStoreWithFilter(*stored);
    } else {
        cachePointStoreWithFilter(std::nullopt);
    }
    // The content may have changed since the rows were last drawn (a location fix while the PDF
    // preview covered the list): rows must show what selection and Delete act on.
    reloadTable();
    if (sortOrderControl_ && sortOrderControl_->selectedSegmentIndex() != 0 &&
        sortOrderControl_->selectedSegmentIndex() != 2)
        subscribeToLocationUpdates();
}

void PointTableViewController::viewDidAppear(bool animated) {
    QLLogInfo("viewDidAppear(_:)");
    platform::ViewController::viewDidAppear(animated);
    auto search = navigationItem().searchController();
    if (search && !search->text().empty()) {
        search->setActive(true);
    } else if (tableView_) {
        // The keys go to the rows: Up and Down move the highlight at once, Return chooses.
        tableView_->setFocus(Qt::OtherFocusReason);
    }
}

void PointTableViewController::viewDidDisappear(bool animated) {
    platform::ViewController::viewDidDisappear(animated);
    unsubscribeFromLocationUpdates();
}

void PointTableViewController::subscribeToLocationUpdates() {
    QLLogInfo("PointTableVC: SUBSCRIBING to location updates");
    std::weak_ptr<PointTableViewController> weak =
        std::static_pointer_cast<PointTableViewController>(shared_from_this());
    locationObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        "QuovaLocationUpdate", nullptr,
        [weak](const platform::NotificationCenter::Notification& notification) {
            if (auto strong = weak.lock()) strong->onLocationUpdate(notification);
        });
}

void PointTableViewController::unsubscribeFromLocationUpdates() {
    QLLogInfo("PointTableVC: UN-SUBSCRIBING from location updates");
    locationObservation_.reset();
}

void PointTableViewController::didPresentSearchController(platform::SearchController& searchController) {
    QLLogInfo("didPresentSearchController(_:)");
    std::weak_ptr<platform::SearchController> weak;
    if (searchController_.get() == &searchController) weak = searchController_;
    platform::DispatchQueue::main()->async([weak] {
        if (auto strong = weak.lock()) strong->becomeFirstResponder();
    });
}

void PointTableViewController::updateSearchResults(platform::SearchController& searchController) {
    QLLogInfo("updateSearchResults(for:)");
    const std::string text = searchController.text();
    QLLogInfo("searchController text: " + text);
    platform::UserDefaults::standard().set(kLastFilterKey, text);
    cachePointStoreWithFilter(text.empty() ? std::nullopt : std::optional<std::string>(text));
    reloadTable();
}

void PointTableViewController::onLocationUpdate(
    const platform::NotificationCenter::Notification& notification) {
    auto entry = notification.userInfo.find("CLLocation");
    if (entry == notification.userInfo.end()) return;
    const auto* location = std::any_cast<platform::CLLocation>(&entry->second);
    if (!location) return;
    QLLogDebug("PointTableViewController received location: " + location->description());
    if (searchController_) updateSearchResults(*searchController_);
}

void PointTableViewController::sortOrderChanged() {
    QLLogInfo("sortOrderChanged(_:)");
    const auto segment = selectedSegment();
    const char* stored = !segment        ? "alphabetically"
                         : *segment == 2 ? "byLastChange"
                         : *segment == 0 ? "alphabetically"
                                         : "byDistance";
    platform::UserDefaults::standard().set(kLastSortOrderKey, stored);
    cachePointStoreWithFilter(currentFilter());
    reloadTable();
    // A new order starts at its beginning; the old offset would open it somewhere in the middle.
    if (tableView_) tableView_->setContentOffset(0);
    if (segment && *segment != 0 && *segment != 2)
        subscribeToLocationUpdates();
    else
        unsubscribeFromLocationUpdates();
}

int PointTableViewController::numberOfSections(platform::TableView&) {
    return content_.numberOfSections();
}

int PointTableViewController::numberOfRows(platform::TableView&, int section) {
    return content_.numberOfRows(section);
}

QString PointTableViewController::titleForHeader(platform::TableView&, int section) {
    return QString::fromStdString(content_.titleForHeader(section));
}

QStringList PointTableViewController::sectionIndexTitles(platform::TableView&) {
    QStringList titles;
    for (const auto& title : content_.sectionIndexTitles(selectedSegment()))
        titles << QString::fromStdString(title);
    return titles;
}

platform::TableViewCell* PointTableViewController::cellForRow(platform::TableView& tableView,
                                                              platform::IndexPath indexPath) {
    auto* cell = static_cast<QuovaMapPointCell*>(
        tableView.dequeueReusableCell(QuovaMapPointCell::kReuseIdentifier, indexPath));
    if (cell == nullptr) return nullptr;
    if (auto point = content_.pointAtIndexPath(indexPath)) {
        cell->setQuovaPoint(point);
        cell->setImage(QuovaMapPointCell::rowImage());
        // A deleted point is listed to be undeleted or hidden: it must not pass for one on the map.
        cell->setDimmed(point->deletedAt().has_value());
    } else {
        cell->setQuovaTitle(localized("(unknown)"));
        cell->setQuovaSubtitle(localized("(unknown)"));
        cell->setDimmed(false);
    }
    return cell;
}

void PointTableViewController::didSelectRow(platform::TableView&, platform::IndexPath indexPath) {
    QLLogInfo("didSelectRowAtIndexPath [{}, {}]", indexPath.section, indexPath.row);
    auto point = content_.pointAtIndexPath(indexPath);
    if (!point) return;
    if (!point->deletedAt()) {
        if (auto map = mainViewController()) {
            if (auto* mapView = map->mainMapView())
                mapView->selectAnnotation(mapscreen::QuovaMapPointAnnotation::forPoint(point), true);
            map->zoomInOnPoint(point);
        }
        dismissList();
        return;
    }
    auto alert = platform::AlertController::make(
        localized("Undelete location?"),
        localized("If you want to display this location it needs to be undeleted first."),
        platform::AlertController::Style::alert);
    // Cancel is the alert's cancel action, so Escape chooses it; Undelete is what Return chooses.
    // With two actions the cancel one stays on the left, where it is added.
    alert->addAction(platform::AlertAction::make(localized("Cancel"), platform::AlertAction::Style::cancel,
                                                 [] { QLLogInfo("Cancel Button"); }));
    std::weak_ptr<PointTableViewController> weak =
        std::static_pointer_cast<PointTableViewController>(shared_from_this());
    auto undeleteAction = platform::AlertAction::make(
        localized("Undelete"), platform::AlertAction::Style::defaultValue, [weak, point] {
            if (auto strong = weak.lock()) strong->undelete(point);
        });
    alert->addAction(undeleteAction);
    alert->setPreferredAction(undeleteAction);
    present(alert, true, [] { QLLogInfo("display action sheet animation completed"); });
}

std::optional<std::string> PointTableViewController::identifierForRow(platform::TableView&,
                                                                      platform::IndexPath indexPath) {
    const auto point = content_.pointAtIndexPath(indexPath);
    if (!point || !point->uuid()) return std::nullopt;
    return *point->uuid() + (point->deletedAt() ? "/deleted" : "/valid");
}

void PointTableViewController::undelete(const std::shared_ptr<points::QuovaMapPoint>& point) {
    QLLogInfo("Undelete Button");
    // The alert asked about this point as a deleted one; meanwhile it may have been undeleted or
    // hidden elsewhere, and then there is nothing left to undelete.
    if (!point->deletedAt() || point->hiddenAt()) {
        QLLogInfo("point table: the point is no longer deleted - nothing to undelete");
        return;
    }
    const auto deletedAt = point->deletedAt();
    const auto savedAt = point->lastSavedAt();
    const auto savedBy = point->lastSavedByAppVersion();
    point->setDeletedAt(std::nullopt);
    auto& store = points::QuovaMapPointStore::shared();
    auto written = point->save(store);
    if (!written.ok()) {
        // Still deleted on disk: the list keeps it there and stays open.
        point->setDeletedAt(deletedAt);
        point->setLastSavedAt(savedAt);
        point->setLastSavedByAppVersion(savedBy);
        // The save indexed it; a deleted point is found by no search.
        store.removePointFromSpotlight(*point);
        presentWriteFailure(*this, "Location Not Undeleted", written.error(),
                            "It stays among the deleted locations.");
        return;
    }
    store.setNeedsSync();
    if (auto map = mainViewController()) {
        map->addPoint(point);
        map->zoomInOnPoint(point);
    }
    dismissList();
}

void PointTableViewController::commitDelete(platform::TableView& tableView, platform::IndexPath indexPath) {
    auto point = content_.pointAtIndexPath(indexPath);
    if (!point) return;
    const std::string& deletedTitle = PointTableContent::deletedPointsSectionTitle();
    const int rowsBefore = content_.numberOfRows(indexPath.section);
    const auto deletedEntry = content_.sectionValues().find(deletedTitle);
    const size_t deletedBefore =
        deletedEntry == content_.sectionValues().end() ? 0 : deletedEntry->second.size();

    auto& store = points::QuovaMapPointStore::shared();
    const bool wasDeleted = point->deletedAt().has_value();
    if (auto error = wasDeleted ? store.hidePoint(point) : store.deletePoint(point)) {
        // Nothing changed on disk, so the row stays where it is.
        presentWriteFailure(*this, "Location Not Deleted", *error,
                            wasDeleted ? "It stays among the deleted locations." : "The location is kept.");
        return;
    }
    cachePointStoreWithFilter(currentFilter());

    const auto newPath = content_.indexPathOfPoint(point);
    // A deleted point must be found again (in the deleted section), a hidden one must not; anything
    // else (the filter no longer matches, say) cannot be told as one row moving: draw it all anew.
    if (wasDeleted == newPath.has_value()) {
        QLLogInfo("point table: the deleted point is not where expected, reloading");
        reloadTable();
        return;
    }
    // The last row of a section goes with its section, and a new "Deleted Points" section comes
    // with its row: a batch names each change once.
    const bool sectionGoes = wasDeleted ? deletedBefore == 1 : rowsBefore == 1;
    tableView.performBatchUpdates([&] {
        if (sectionGoes) {
            tableView.deleteSections({indexPath.section});
        } else {
            tableView.deleteRows({indexPath});
        }
        if (!wasDeleted) {
            if (deletedBefore == 0) {
                tableView.insertSections({newPath->section});
            } else {
                tableView.insertRows({*newPath});
            }
        }
    });
    // The batch reads every section title again, so "N Valid Points" follows the new count; the table
    // itself reloads in full when the counts do not add up.
}

void PointTableViewController::printButtonPressed() {
    const size_t count = content_.pointCount();
    if (count == 0) {
        QLLogDebug("Nothing to print");
        return;
    }
    QLLogDebug("Printing {} points in {} sections.", count, content_.numberOfSections());
    PDFCreator creator;
    creator.setPointsDict(content_.sectionValues());
    creator.setTitleLine(std::to_string(count) + localized(" locations from Tervolo"));
    if (searchController_ && !searchController_->text().empty())
        creator.setSubtitleLine(localized("filtered by \"") + searchController_->text() + "\"");
    auto preview = std::make_shared<PDFPreviewViewController>(PDFPreviewViewController::kViewName);
    preview->setDocumentData(creator.createPDF());
    auto navigation = std::make_shared<platform::NavigationController>(preview);
    navigation->setNavigationBarHidden(false, false);
    navigation->setModalPresentationStyle(platform::ModalPresentationStyle::fullScreen);
    present(navigation, true);
}

void PointTableViewController::dismissList() {
    platform::ViewController* presented = navigationController();
    if (presented == nullptr) presented = this;
    presented->dismiss(true, [] { QLLogInfo("QuovaMapPointTableView canceled"); });
}

void PointTableViewController::cancelView() {
    dismissList();
}

}  // namespace tervolo::pointscreens
