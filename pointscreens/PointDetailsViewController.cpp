#include "pointscreens/PointDetailsViewController.hpp"

#include <QEvent>

#include <algorithm>

#include "geodesy/QuovaCoordinateFormat.hpp"
#include "logging/QLLogging.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/NavigationController.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "pointscreens/PointDetailsContent.hpp"

namespace tervolo::pointscreens {

using platform::localizedString;

namespace {

std::string where(const char* function, const char* file, int line) {
    return std::string(function) + " in " + file + ":" + std::to_string(line);
}

}  // namespace

// Forwards the root view's resizes to the screen.
class PointDetailsViewController::ViewEvents : public QObject {
  public:
    ViewEvents(PointDetailsViewController* screen, QObject* parent) : QObject(parent), screen_(screen) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent()) {
            screen_->handleViewEvent(event);
        } else if (screen_->scrollArea_ && watched == screen_->scrollArea_->widget()) {
            // The scrolled content's width is the text's: it narrows by the scroll bar when the
            // content is taller than the sheet.
            if (event->type() == QEvent::Resize) screen_->measureTextViews();
        } else if (event->type() == QEvent::Resize && screen_->tagFlowView_) {
            // The chips flow into more or fewer rows at a new width. Filters
            // run before the list's own resize handling: flow them now, then
            // take the list's new height.
            screen_->tagFlowView_->rearrangeViews();
            screen_->applyConstraints();
        }
        return false;
    }

  private:
    PointDetailsViewController* screen_;
};

PointDetailsViewController::PointDetailsViewController(std::optional<std::string> nibName,
                                                       const platform::Bundle* bundle) {
    // Whatever the creator names, the screen always builds its own view.
    (void)nibName;
    (void)bundle;
    tagTableViewHeight_ = constraints_.add(QStringLiteral("tagTableViewHeight"), 0);
    titleHeight_ = constraints_.add(QStringLiteral("titleHeight"), 36);
    subtitleHeight_ = constraints_.add(QStringLiteral("subtitleHeight"), 36);
    pointInfoTextViewHeight_ = constraints_.add(QStringLiteral("pointInfoTextViewHeight"), 36);
    logoViewWidth_ = constraints_.add(QStringLiteral("logoViewWidth"), 24);
    tagListContainerHeight_ = constraints_.add(QStringLiteral("tagListContainerHeight"), 0, false);
    clearTitleButtonTopDistance_ = constraints_.add(QStringLiteral("clearTitleButtonTopDistance"), 8);
    clearSubtitleButtonTopDistance_ = constraints_.add(QStringLiteral("clearSubtitleButtonTopDistance"), 8);
    constraints_.setOnChange([this] { applyConstraints(); });
}

PointDetailsViewController::~PointDetailsViewController() {
    if (tagTableHeightTimer_) tagTableHeightTimer_->invalidate();
    if (tagTableReloadTimer_) tagTableReloadTimer_->invalidate();
    // The base class deletes the view after this object is gone: the view's
    // last events must not reach it.
    delete events_.data();
}

std::shared_ptr<PointDetailsViewController> PointDetailsViewController::presentForPoint(
    platform::ViewController& presenter, std::shared_ptr<points::QuovaMapPoint> point,
    std::weak_ptr<mapscreen::MainMapPort> mainVC) {
    auto screen = std::make_shared<PointDetailsViewController>(std::string(kViewName));
    screen->setPoint(std::move(point));
    screen->setMainVC(std::move(mainVC));
    auto navigation = std::make_shared<platform::NavigationController>(screen);
    if (presenter.traitCollection().userInterfaceIdiom ==
        platform::TraitCollection::UserInterfaceIdiom::phone) {
        navigation->setModalPresentationStyle(platform::ModalPresentationStyle::fullScreen);
    } else {
        navigation->setModalPresentationStyle(platform::ModalPresentationStyle::formSheet);
        const QSize size = presenter.view()->size();
        screen->setPreferredContentSize(QSizeF(size.width() / 2.0, size.height() * 2.0 / 3.0));
        // The same shares of the presenter's view from then on: the sheet follows the window.
        screen->setPreferredContentSizeShare(QSizeF(0.5, 2.0 / 3.0));
    }
    presenter.present(navigation, true);
    return screen;
}

std::function<void()> PointDetailsViewController::guarded(void (PointDetailsViewController::*action)()) {
    return [this, action, alive = std::weak_ptr<int>(lifetime_)] {
        if (alive.lock()) (this->*action)();
    };
}

// --- the view ---------------------------------------------------------------

void PointDetailsViewController::loadView() {
    auto* root = new QWidget();
    root->setObjectName(kViewName);
    buildView(root);
    setView(root);
    events_ = new ViewEvents(this, root);
    root->installEventFilter(events_);
    if (tagFlowView_) tagFlowView_->installEventFilter(events_);
    if (scrollArea_ && scrollArea_->widget()) scrollArea_->widget()->installEventFilter(events_);
}

void PointDetailsViewController::viewWillAppear(bool animated) {
    (void)animated;
    QLLogInfo(where(__func__, __FILE__, __LINE__));
    setHeightConstraint(titleView_);
    setHeightConstraint(subtitleView_);
    setHeightConstraint(pointInfoTextView_);
}

void PointDetailsViewController::traitCollectionDidChange(const platform::TraitCollection& previous) {
    (void)previous;
    QLLogInfo(where(__func__, __FILE__, __LINE__));
    viewDidResize();
}

bool PointDetailsViewController::handleViewEvent(QEvent* event) {
    if (event->type() == QEvent::Resize) viewDidResize();
    return false;
}

void PointDetailsViewController::viewDidResize() {
    QWidget* root = viewIfLoaded();
    if (!root) return;
    if (bottomStackView_ && pointInfoTextView_) {
        // Side by side only while half the width still holds the map's own lines at its foot (its
        // name at the left, the data credit at the right) apart: a credit never covers a text.
        const bool sideBySide = root->width() > root->height() && root->width() / 2.0 >= mapFootWidth();
        bottomStackView_->setDirection(sideBySide ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
        // Side by side the two share the width equally; above each other the
        // map takes what the status line leaves.
        bottomStackView_->setStretchFactor(pointInfoTextView_, sideBySide ? 1 : 0);
    }
    measureTextViews();
    if (tagTableHeightTimer_) tagTableHeightTimer_->invalidate();
    tagTableHeightTimer_ = platform::Timer::scheduled(
        0.1, false, [this, alive = std::weak_ptr<int>(lifetime_)](platform::Timer&) {
            if (alive.lock()) updateTagTableHeight();
        });
}

double PointDetailsViewController::mapFootWidth() const {
    if (!map_) return 0;
    const QWidget* name = map_->findSubview(QStringLiteral("MKAppleLogoImageView"));
    const QWidget* credit = map_->findSubview(QStringLiteral("MKAttributionLabel"));
    // The map keeps its lines this far from its edges; the same again between them, and the
    // sheet's own margin beside the map.
    constexpr double kGap = 8;
    double width = 4 * kGap;
    for (const QWidget* line : {name, credit}) {
        if (line != nullptr && !line->isHidden()) width += std::max(line->width(), line->sizeHint().width());
    }
    return width;
}

void PointDetailsViewController::measureTextViews() {
    setHeightConstraint(titleView_);
    setHeightConstraint(subtitleView_);
    setHeightConstraint(pointInfoTextView_);
}

// --- coordinate label ---------------------------------------------------------

void PointDetailsViewController::updateCoordinateLabel() {
    if (!coordinateLabel_) return;
    coordinateLabel_->setText(QString::fromStdString(coordinateLabelText(point_.get(), coordinateFormat_)));
}

void PointDetailsViewController::coordinateLabelTapped() {
    QLLogInfo(where(__func__, __FILE__, __LINE__));
    coordinateFormat_ = nextCoordinateFormat(coordinateFormat_);
    updateCoordinateLabel();
    platform::UserDefaults::standard().set(geodesy::kCoordinateFormatDefaultsKey,
                                           platform::PropertyValue(coordinateFormat_));
}

// --- closing ---------------------------------------------------------------------

void PointDetailsViewController::dismissView() {
    if (!point_) return;
    if (pointHasBeenEdited_) {
        PointEdits edits;
        if (titleView_) edits.title = titleView_->text().toStdString();
        if (subtitleView_) edits.subtitle = subtitleView_->text().toStdString();
        edits.newRadius = newRadius_;
        if (tagFlowView_) edits.chipIdentifiers = chipIdentifiers();
        edits.unresolvedIdentifiers = unresolvedTagIdentifiers_;

        // The fields the save changes, to put back when nothing was written:
        // the shared point must not hold edits its file does not.
        points::QuovaMapPoint& point = *point_;
        const auto title = point.title();
        const auto subtitle = point.subtitle();
        const bool handcrafted = point.hasHandcraftedTitle();
        const auto radius = point.alarmCircleDiameter();
        const auto tags = point.tags();
        const auto savedAt = point.lastSavedAt();
        const auto savedBy = point.lastSavedByAppVersion();

        applyEdits(point, edits);
        const auto written = point.save(points::QuovaMapPointStore::shared());
        if (!written.ok()) {
            point.setTitle(title);
            point.setSubtitle(subtitle);
            point.setHasHandcraftedTitle(handcrafted);
            point.setAlarmCircleDiameter(radius);
            point.setTags(tags);
            point.setLastSavedAt(savedAt);
            point.setLastSavedByAppVersion(savedBy);
            showSaveFailure(written.error());
            return;
        }
        putPointBackOnMainMap();
    }
    if (auto* navigation = navigationController()) {
        navigation->dismiss(true, [] { QLLogInfo("QuovaMapPointDetailsVC dismissed"); });
    }
}

void PointDetailsViewController::putPointBackOnMainMap() {
    auto mainVC = mainVC_.lock();
    if (!mainVC) return;
    if (auto* mainMap = mainVC->mainMapView()) {
        if (auto halo = mainVC->haloForPoint(point_)) mainMap->removeOverlay(halo);
        mainMap->removeAnnotation(mapscreen::QuovaMapPointAnnotation::forPoint(point_));
        mainVC->addAnnotation(point_);
    }
    // Selected on the next turn, once the map has the annotation's view.
    platform::DispatchQueue::main()->async(
        [weakMain = std::weak_ptr<mapscreen::MainMapPort>(mainVC), point = point_] {
            auto main = weakMain.lock();
            auto* mainMap = main ? main->mainMapView() : nullptr;
            if (mainMap) mainMap->selectAnnotation(mapscreen::QuovaMapPointAnnotation::forPoint(point), true);
        });
}

void PointDetailsViewController::showSaveFailure(const platform::Error& error) {
    auto alert =
        platform::AlertController::make(localizedString("Location Not Saved"), saveFailureMessage(error),
                                        platform::AlertController::Style::alert);
    alert->addAction(
        platform::AlertAction::make(localizedString("OK"), platform::AlertAction::Style::cancel));
    present(alert, true);
}

void PointDetailsViewController::cancelView() {
    if (auto* navigation = navigationController()) {
        navigation->dismiss(true, [] { QLLogInfo("QuovaMapPointDetailsVC canceled, changes discarded"); });
    }
}

}  // namespace tervolo::pointscreens
