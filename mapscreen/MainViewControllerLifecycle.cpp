// The map screen's life: what it is given and fills in when made, the
// set-up when its view loads, what each appearance does, size and trait
// changes, what the shell asks of it, the compass hooks, its recognisers and
// the lookup of the one screen among the windows.

#include "mapscreen/MainViewController.hpp"

#include <QCoreApplication>
#include <QToolBar>
#include <QWidget>

#include "backend/QuovaVersionChecker.hpp"
#include "logging/QLLogging.hpp"
#include "mapscreen/LayerManager.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/location/CLLocationManager.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/HoverGestureRecognizer.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/Toolbar.hpp"
#include "shell/AppKitBridgeBinding.hpp"
#include "shell/InfoViewController.hpp"

namespace tervolo::mapscreen {

namespace {

constexpr const char* kRetinaFixLevelKey = "retinaFixLevel";
constexpr const char* kShowTileDebugInfoKey = "shouldShowTileDebugInfo";

}  // namespace

MainViewController::MainViewController() : MainViewController(Services()) {}

MainViewController::MainViewController(Services services) : services_(std::move(services)) {
    if (!services_.authorizationStatus) {
        services_.authorizationStatus = [] { return platform::CLLocationManager::authorizationStatus(); };
    }
    if (!services_.loadVersionInfo) {
        services_.loadVersionInfo = [](VersionDelivery deliver) {
            backend::QuovaVersionChecker(backend::QuovaVersionChecker::defaultURLString())
                .loadVersionInfo(std::move(deliver));
        };
    }
    if (!services_.isNewerVersion) {
        services_.isNewerVersion = [](const backend::AppVersionInfo& info) {
            return backend::QuovaVersionChecker::compareVersions(info);
        };
    }
    if (!services_.terminate) {
        services_.terminate = [] {
            if (QCoreApplication::instance() != nullptr) QCoreApplication::exit(0);
        };
    }
    // The toolbar's delegate is made with the screen; the screen's view
    // loading hands it the screen and the toolbar.
    macToolbarDelegate_ = std::make_shared<shell::MacToolbarDelegate>();
    if (!services_.installToolbarDelegate) {
        services_.installToolbarDelegate = [](MainViewController& screen, platform::Toolbar& toolbar) {
            const auto delegate = screen.macToolbarDelegate();
            delegate->setMainVC(std::static_pointer_cast<MainViewController>(screen.shared_from_this()));
            toolbar.setDelegate(delegate);
        };
    }
    if (!services_.bindPlugIn) services_.bindPlugIn = [] { shell::bindAppKitBridge(); };
    if (!services_.makeAboutScreen) {
        services_.makeAboutScreen = [] { return std::make_shared<shell::InfoViewController>(); };
    }
    setRestorationIdentifier(kRestorationIdentifier);
    stylesAndLayers_ = std::make_unique<StylesAndLayers>(*this);
    stylesAndLayers_->setLastMouseLocationProvider([this] { return lastMouseLocation_; });
    if (services_.makePointList) {
        stylesAndLayers_->setPointListFactory([this, make = services_.makePointList] {
            return make(std::static_pointer_cast<MainViewController>(shared_from_this()));
        });
    }
    stylesAndLayers_->setAboutScreenFactory(services_.makeAboutScreen);
}

void MainViewController::setMapView(QuovaMKMapView* view) {
    mapView_ = view;
    stylesAndLayers_->setMapView(view);
}

MainViewController::~MainViewController() {
    // The application's screen lives for the whole run; screens made in tests
    // go, and their timer must not fire into them.
    if (status_.statusTimer) status_.statusTimer->invalidate();
    // The constraints may be held longer (the search controller holds one);
    // their changes must no longer reach this screen's layout.
    for (const auto* constraint :
         {&searchBarHeight_, &searchBarWidth_, &searchBarLeftSpacing_, &searchBarTopSpacing_,
          &searchTableHeight_, &mapTrailingMargin_, &mapSidecontainerMargin_, &statusLabelTrailingMargin_,
          &scaleViewWidth_, &scaleViewHeight_, &scaleBottomSpacing_, &scaleViewCenterX_}) {
        if (*constraint) (*constraint)->setOnChange({});
    }
    if (sideContainer_) sideContainer_->constraints().setOnChange({});
}

// ---- Loading

void MainViewController::viewDidLoad() {
    platform::ViewController::viewDidLoad();
    if (mapView_)
        mapView_->setQuovaDelegate(std::static_pointer_cast<MainViewController>(shared_from_this()));
    if (statusLabel_) {
        statusLabel_->hide();
        status_.statusLabelMaxAlpha = platform::alpha(statusLabel_);
    }
    installToolbar();
    // The hover over the whole screen: the view's own recogniser sees the
    // pointer enter and leave the screen and move over everything but the
    // map, which reports its own moves.
    hoverRecognizer_ =
        new platform::HoverGestureRecognizer([weak = weakSelf()](platform::GestureRecognizer& r) {
            if (auto self = weak.lock()) self->hovering(r.state(), r.location());
        });
    platform::addGestureRecognizer(view(), hoverRecognizer_);
    if (mapView_) {
        mapView_->setHoverHandler([weak = weakSelf()](platform::MKGestureState state, QPointF point,
                                                      platform::CLLocationCoordinate2D) {
            auto self = weak.lock();
            if (!self || state != platform::MKGestureState::Changed || !self->mapView_) return;
            self->hovering(platform::GestureRecognizer::State::Changed,
                           self->mapView_->mapTo(self->view(), point));
        });
    }
    if (services_.bindPlugIn) services_.bindPlugIn();
    logRetinaFixLevel();
    setUpMapView();
    QLLogInfo("setButtonSizeWithFrame()");
    setButtonSizeWithSize(QSizeF(view()->size()));
    styleCreditLabel();
    installMapLongPress();
    setUpSearchController();
    putStoredPointsOnMap();
    observeMapPointChanges();
    installMyLocationRecognizers();
    // Restored state may choose another style later.
    if (mapView_) mapView_->setMapStyle(tiles::QuovaBaseMapStyle::osm);
    initializationDone_ = true;
    restoreOrResumeAfterLoading();
}

void MainViewController::installToolbar() {
    // Only the application's first window gets the toolbar "main".
    const auto windows = platform::MainWindow::windows();
    if (windows.empty()) return;
    platform::Toolbar& toolbar = windows.front()->toolbar();
    toolbar.setDisplayMode(platform::Toolbar::DisplayMode::iconAndLabel);
    macToolbar_ = &toolbar;
    if (services_.installToolbarDelegate) services_.installToolbarDelegate(*this, toolbar);
}

void MainViewController::logRetinaFixLevel() {
    // Only logged: the retina shift stays at its start value.
    if (const auto level = platform::UserDefaults::standard().integerValue(kRetinaFixLevelKey)) {
        QLLogInfo("found retinaFixLevel {} in Defaults", *level);
    } else {
        QLLogInfo("no retinaFixLevel found in Defaults");
    }
}

void MainViewController::setUpMapView() {
    if (!mapView_) return;
    mapView_->setDelegate(std::static_pointer_cast<MainViewController>(shared_from_this()));
    const auto status = services_.authorizationStatus();
    mapView_->setShowsUserLocation(status == platform::CLAuthorizationStatus::authorizedAlways ||
                                   status == platform::CLAuthorizationStatus::authorizedWhenInUse);
    stylesAndLayers_->setUpOpenSeaMapOverlay();
    mapView_->setShowsScale(false);
    setScaleViewConstraintsFor(QSizeF(mapView_->size()));
}

void MainViewController::styleCreditLabel() {
    if (!osmCreditLabel_) return;
    widgets::hud::MultilineLabel* label = osmCreditLabel_;
    QPalette palette = label->palette();
    QColor background = palette.color(QPalette::Window);
    background.setAlphaF(0.0);
    palette.setColor(QPalette::Window, background);
    label->setPalette(palette);
    label->setAutoFillBackground(false);
    label->setFont(platform::scaledFont(label->font(), 1.7));
    QColor text = label->textColor();
    text.setAlphaF(0.5);
    label->setTextColor(text);
    layoutMainView();
}

void MainViewController::setUpSearchController() {
    if (services_.makeSearchController) searchController_ = services_.makeSearchController();
    if (!searchController_ || !searchBar_) return;
    searchBar_->setDelegate(searchController_);
    searchController_->setSearchBar(searchBar_);
    searchController_->setTableView(searchTable_);
    searchController_->setSpinner(spinner_);
    searchController_->setSearchTableHeight(searchTableHeight_);
    searchController_->setParent(this);
    searchBar_->hide();
    platform::setAlpha(searchBar_, 0);
    if (searchTable_) {
        searchTable_->hide();
        platform::setAlpha(searchTable_, 0);
    }
    searchBar_->setFont(platform::scaledFont(searchBar_->font(), 1.5));
}

// ---- Appearing

void MainViewController::viewWillAppear(bool animated) {
    platform::ViewController::viewWillAppear(animated);
    if (debugTextView_) {
        debugTextView_->setVisible(platform::UserDefaults::standard().boolValue(kShowTileDebugInfoKey) ==
                                   true);
    }
    setButtonSizeWithSize(QSizeF(view()->size()));
    styleAllButtons();
    reapplyInfoLayers();
}

void MainViewController::reapplyInfoLayers() {
    // Only the sea-mark layer draws anything; its switch may have changed
    // while the screen was away.
    for (const InfoLayer& layer : {LayerManager::shared().openSeaMapLayer()}) {
        stylesAndLayers_->removeLayerFor(layer.key);
        if (isInfoLayerActive(layer.key)) stylesAndLayers_->addLayerFor(layer.key);
    }
}

void MainViewController::viewDidAppear(bool animated) {
    platform::ViewController::viewDidAppear(animated);
    if (restoration_.rectAwaitingAppearance && mapView_) {
        layoutMainView();
        mapView_->setVisibleMapRect(*restoration_.rectAwaitingAppearance, false);
    }
    restoration_.rectAwaitingAppearance.reset();
    styleAllButtons();
    updateCheck();
    if (!status_.statusTimer) {
        // Held weakly: a screen that goes (tests make many) stops its timer.
        status_.statusTimer =
            platform::Timer::scheduled(kStatusInterval, true, [weak = weakSelf()](platform::Timer&) {
                if (auto self = weak.lock()) self->updateStatusLabel();
            });
    }
}

// ---- Size and trait changes

void MainViewController::viewWillTransition(QSizeF size) {
    QLLogInfo("viewWillTransition(to:with:)");
    platform::ViewController::viewWillTransition(size);
    setButtonSizeWithSize(size);
    setScaleViewConstraintsFor(size);
    // The corner radii follow the buttons' new sizes once the layout has run.
    platform::DispatchQueue::main()->async([weak = weakSelf()] {
        if (auto self = weak.lock()) self->styleAllButtons();
    });
}

void MainViewController::willTransition(const platform::TraitCollection& newCollection) {
    if (services_.interfaceIdiom != platform::TraitCollection::UserInterfaceIdiom::phone) return;
    QLLogInfo("new trait collection: horizontal size class {}, vertical size class {}",
              static_cast<int>(newCollection.horizontalSizeClass),
              static_cast<int>(newCollection.verticalSizeClass));
    QLLogInfo("old mapTrailingMargin: " +
              platform::text::describe(mapTrailingMargin_ ? mapTrailingMargin_->constant() : 99999.9));
    QLLogInfo("old sidecontainerMargin: " + platform::text::describe(mapSidecontainerMargin_
                                                                         ? mapSidecontainerMargin_->constant()
                                                                         : 99999.9));
    const bool regular = newCollection.horizontalSizeClass == platform::TraitCollection::SizeClass::regular;
    if (mapTrailingMargin_) mapTrailingMargin_->setConstant(regular ? -48.0 : 0.0);
    if (mapSidecontainerMargin_) mapSidecontainerMargin_->setConstant(regular ? 72.0 : 5.0);
}

void MainViewController::traitCollectionDidChange(const platform::TraitCollection& previous) {
    QLLogInfo("traitCollectionDidChange(_:)");
    platform::ViewController::traitCollectionDidChange(previous);
    if (searchController_) searchController_->traitCollectionDidChange(previous);
}

// ---- What the shell asks

void MainViewController::showMapStyleActionSheetFrom(QAction* anchor) {
    // At the toolbar's button for the item when it shows one; otherwise at the
    // last mouse position (or the map's top edge).
    QWidget* button = nullptr;
    if (anchor != nullptr) {
        for (QObject* object : anchor->associatedObjects()) {
            auto* toolbar = qobject_cast<QToolBar*>(object);
            QWidget* widget = toolbar != nullptr ? toolbar->widgetForAction(anchor) : nullptr;
            if (widget != nullptr && widget->isVisible()) {
                button = widget;
                break;
            }
        }
    }
    stylesAndLayers_->showMapStyleActionSheetFrom(button);
}

void MainViewController::clearAllOSMCaches() {
    stylesAndLayers_->clearAllOSMCaches();
}

// ---- The map's compass

void MainViewController::quovaMapViewDidAddCompassView(QuovaMKMapView&, QWidget* compassView) {
    QLLogDebug("quovaMapView(_:didAddCompassView:)");
    if (!statusLabel_) return;
    mapDelegate_.compassView = compassView;
    if (!mapDelegate_.statusLabelCompassMargin) {
        // Made once, not yet active; its changes lay the screen out again.
        mapDelegate_.statusLabelCompassMargin = std::make_shared<platform::LayoutConstraint>(
            QStringLiteral("statusLabel.right = compass.left"), kStatusLabelCompassGap, false);
        mapDelegate_.statusLabelCompassMargin->setOnChange([weak = weakSelf()] {
            if (auto self = weak.lock()) self->layoutMainView();
        });
    }
    if (!viewIfLoaded() || !statusLabelTrailingMargin_) return;
    QPointer<QWidget> view = viewIfLoaded();
    std::weak_ptr<platform::LayoutConstraint> trailing = statusLabelTrailingMargin_;
    platform::Animator::animate(kCompassAnimationDuration, [weak = weakSelf(), view, trailing] {
        if (auto margin = trailing.lock()) margin->setActive(false);
        if (auto self = weak.lock(); self && self->mapDelegate_.statusLabelCompassMargin)
            self->mapDelegate_.statusLabelCompassMargin->setActive(true);
        if (auto self = weak.lock(); self && view) self->layoutMainView();
    });
}

void MainViewController::quovaMapViewWillRemoveCompassView(QuovaMKMapView& mapView, QWidget*) {
    QLLogDebug("quovaMapView(_:willRemoveCompassView:)");
    if (!mapDelegate_.statusLabelCompassMargin || !statusLabelTrailingMargin_) return;
    QPointer<QuovaMKMapView> map = &mapView;
    platform::Animator::animate(kCompassAnimationDuration, [weak = weakSelf(), map] {
        auto self = weak.lock();
        if (!self) return;
        self->mapDelegate_.statusLabelCompassMargin->setActive(false);
        if (self->statusLabelTrailingMargin_) self->statusLabelTrailingMargin_->setActive(true);
        // The compass goes once this returns: the label keeps its place beside it no longer.
        self->mapDelegate_.compassView = nullptr;
        if (map) self->layoutMainView();
    });
}

// ---- Recognisers

bool MainViewController::gestureRecognizerShouldBegin(platform::GestureRecognizer&) {
    QLLogDebug("gestureRecognizerShouldBegin(_:)");
    return true;
}

bool MainViewController::shouldRecognizeSimultaneously(platform::GestureRecognizer& recognizer,
                                                       platform::GestureRecognizer& other) {
    QLLogDebug("gestureRecognizer(_:shouldRecognizeSimultaneouslyWith:)");
    const platform::GestureRecognizer* tap = tracking_.locationTapRecognizer.data();
    const platform::GestureRecognizer* press = tracking_.locationLongPressRecognizer.data();
    if (tap == nullptr || press == nullptr) return false;
    return (&recognizer == tap && &other == press) || (&recognizer == press && &other == tap);
}

void MainViewController::hovering(platform::GestureRecognizer::State state, QPointF location) {
    switch (state) {
        case platform::GestureRecognizer::State::Began:
            QLLogInfo("mouse hovering began");
            break;
        case platform::GestureRecognizer::State::Changed:
            QLLogInfo("mouse position: (" + platform::text::describe(location.x()) + ", " +
                      platform::text::describe(location.y()) + ")");
            lastMouseLocation_ = location;
            break;
        case platform::GestureRecognizer::State::Ended:
            QLLogInfo("mouse hovering ended");
            break;
        default:
            break;
    }
}

// ---- Finding the screen

std::shared_ptr<MainViewController> mainViewController() {
    for (platform::MainWindow* window : platform::MainWindow::windows()) {
        if (auto controller = std::dynamic_pointer_cast<MainViewController>(window->rootViewController())) {
            return controller;
        }
    }
    return nullptr;
}

}  // namespace tervolo::mapscreen
