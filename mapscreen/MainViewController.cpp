#include "mapscreen/MainViewController.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetricsF>
#include <QLabel>
#include <QRegularExpression>
#include <QToolBar>
#include <QUrl>
#include <QWidget>

#include <algorithm>

#include "backend/QuovaVersionChecker.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLLogging.hpp"
#include "mapscreen/AddLocationButton.hpp"
#include "mapscreen/CenterButton.hpp"
#include "mapscreen/InfoButton.hpp"
#include "mapscreen/InfoLayerKey.hpp"
#include "mapscreen/LayerManager.hpp"
#include "mapscreen/LocationsButton.hpp"
#include "mapscreen/MapLayersButton.hpp"
#include "mapscreen/MapStyleButton.hpp"
#include "mapscreen/QuovaScaleView.hpp"
#include "mapscreen/SearchButton.hpp"
#include "mapscreen/SideContainerView.hpp"
#include "mapscreen/TervoloButtonKit.hpp"
#include "mapscreen/ZoomInButton.hpp"
#include "mapscreen/ZoomOutButton.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/CanOpenURL.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/location/CLLocationManager.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/ActivityIndicator.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/Contrast.hpp"
#include "platform/ui/HoverGestureRecognizer.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/TextView.hpp"
#include "platform/ui/Toolbar.hpp"
#include "shell/AppKitBridgeBinding.hpp"
#include "shell/InfoViewController.hpp"
#include "shell/QuovaOpenURL.hpp"

namespace tervolo::mapscreen {

namespace {

// The icons are thin lines in the kit's blue: straight on the map they vanish over satellite imagery
// or a dark sea (1.5:1). Each button gets an opaque face: the palette's base colour where the blue
// reads on it (white: 6.2:1), else that colour lightened until it does (a dark palette's base is
// 1.8:1 under the blue, the kit's icons keep their colour).
struct MapButtonColours {
    QColor face;
    QColor tint;
};

MapButtonColours mapButtonColours(const QWidget* view) {
    const QColor base = view != nullptr ? view->palette().color(QPalette::Base)
                                        : QApplication::palette().color(QPalette::Base);
    const QColor blue = TervoloButtonKit::buttonBlue();
    return {platform::legibleBackground(base, blue), blue};
}

// The credit line keeps beside the scale bar while it takes at most this many lines there.
constexpr int kCreditLinesBesideScale = 3;

// The height `text` takes at `width` when it wraps as the credit label wraps it.
double creditTextHeight(const QFont& font, const QString& text, double width) {
    if (text.isEmpty() || width <= 0) return 0;
    return widgets::hud::MultilineLabel::lineCount(font, text, width) * QFontMetricsF(font).lineSpacing();
}

constexpr const char* kRetinaFixLevelKey = "retinaFixLevel";
constexpr const char* kShowTileDebugInfoKey = "shouldShowTileDebugInfo";
constexpr double kStatusLabelAlpha = 0.9;  // the label's own alpha, the most it fades in to

// Lays the screen out again whenever its root view changes size.
class ResizeWatcher : public QObject {
  public:
    ResizeWatcher(QWidget* view, std::function<void()> onResize)
        : QObject(view), onResize_(std::move(onResize)) {
        view->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize && watched == parent()) onResize_();
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> onResize_;
};

bool parsesAsURL(const std::string& text) {
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty();
}

// Whether a URL that came from a server may be opened: a web page only. The
// desktop would open a local file, or start a launcher, as readily as a page.
bool isWebURL(const std::string& text) {
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

// A widget that only groups others for the layout and never takes the mouse.
QWidget* makeContainer(QWidget* parent, const char* name) {
    auto* container = new QWidget(parent);
    container->setObjectName(QString::fromUtf8(name));
    container->setAttribute(Qt::WA_TransparentForMouseEvents);
    container->setAttribute(Qt::WA_NoSystemBackground);
    return container;
}

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
    if (statusTimer_) statusTimer_->invalidate();
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

std::weak_ptr<MainViewController> MainViewController::weakSelf() {
    return std::static_pointer_cast<MainViewController>(shared_from_this());
}

// ---- The view

void MainViewController::loadView() {
    auto* root = new QWidget;
    root->setObjectName(QStringLiteral("MainView"));
    root->resize(1024, 768);
    setView(root);

    setMapView(new QuovaMKMapView(root));
    mapView_->setObjectName(QStringLiteral("mapView"));
    // The screen's keys (arrows, + and -) are the map's: focus given back to the screen, when a
    // screen presented over it closes, goes to the map.
    root->setFocusProxy(mapView_);

    bottomContainerView_ = makeContainer(root, "bottomContainerView");
    bottomScaleContainer_ = makeContainer(bottomContainerView_, "bottomScaleContainer");
    stackScaleContainer_ = makeContainer(root, "stackScaleContainer");
    scaleView_ = new QuovaScaleView(root);
    scaleView_->setObjectName(QStringLiteral("scaleView"));
    scaleView_->setAttribute(Qt::WA_TransparentForMouseEvents);

    debugTextView_ = new platform::TextView(root);
    debugTextView_->setObjectName(QStringLiteral("debugTextView"));
    debugTextView_->setReadOnly(true);
    debugTextView_->hide();

    auto* credit = new widgets::hud::MultilineLabel(root);
    credit->setObjectName(QStringLiteral("osmCreditLabel"));
    credit->setAttribute(Qt::WA_TransparentForMouseEvents);
    credit->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    // A long attribution shrinks to its place rather than being cut.
    credit->setAdjustsFontSizeToFitWidth(true);
    credit->setMinimumScaleFactor(0.5);
    // Dark ink: the line lies on the map, which is light in either desktop palette.
    credit->setTextColor(QColor(20, 20, 20));
    credit->hide();
    osmCreditLabel_ = credit;
    // The scale bar and the credit line let the mouse through to the map, but
    // a press on them is no press to drop a point with.
    if (mapView_) {
        mapView_->addLongPressExclusion(scaleView_);
        mapView_->addLongPressExclusion(credit);
    }

    statusLabel_ = new platform::Label(QString(), root);
    statusLabel_->setObjectName(QStringLiteral("statusLabel"));
    statusLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    statusLabel_->setAlignment(Qt::AlignCenter);
    {
        // A rounded plate of the window colour keeps the line readable over any map.
        const QPalette palette = statusLabel_->palette();
        const QColor plate = palette.color(QPalette::Window);
        const QColor ink = palette.color(QPalette::WindowText);
        statusLabel_->setStyleSheet(
            QStringLiteral("QLabel { background-color: rgba(%1, %2, %3, 220); color: %4; "
                           "border-radius: 6px; padding: 4px 10px; }")
                .arg(plate.red())
                .arg(plate.green())
                .arg(plate.blue())
                .arg(ink.name()));
    }
    platform::setAlpha(statusLabel_, kStatusLabelAlpha);

    sideContainer_ = new SideContainerView(root);
    sideContainer_->constraints().add(SideContainerView::kWidthConstraintIdentifier, 100);
    sideContainer_->constraints().setOnChange([this] { layoutMainView(); });
    buildButtons();

    searchTable_ = new platform::TableView(root);
    searchTable_->setObjectName(QStringLiteral("searchTable"));
    searchTable_->hide();
    platform::setAlpha(searchTable_, 0);
    searchBar_ = new platform::TextField(root);
    searchBar_->setObjectName(QStringLiteral("searchBar"));
    searchBar_->setPlaceholderText(QString::fromStdString(platform::localizedString("Search for places")));
    searchBar_->setClearButtonShown(true);
    searchBar_->setTextMargins(8, 0, 4, 0);
    // The field is tall (80 points when open); its text starts a little larger
    // than the interface's, and the search controller enlarges it further.
    searchBar_->setFont(platform::scaledFont(searchBar_->font(), 1.2));
    searchBar_->hide();
    platform::setAlpha(searchBar_, 0);
    spinner_ = new platform::ActivityIndicator(platform::ActivityIndicator::Style::Medium, root);
    spinner_->setObjectName(QStringLiteral("spinner"));

    // The named constraints and their first constants.
    const auto relayout = [this] { layoutMainView(); };
    const auto make = [&](const char* identifier, double constant) {
        auto constraint =
            std::make_shared<platform::LayoutConstraint>(QString::fromUtf8(identifier), constant);
        constraint->setOnChange(relayout);
        return constraint;
    };
    searchBarHeight_ = make("searchBarHeight", 80);
    searchBarWidth_ = make("searchBarWidth", 600);
    searchBarLeftSpacing_ = make("searchBarLeftSpacing", 20);
    searchBarTopSpacing_ = make("searchBarTopSpacing", 20);
    searchTableHeight_ = make("searchTableHeight", 0);
    mapTrailingMargin_ = make("mapTrailingMargin", 0);
    mapSidecontainerMargin_ = make("mapSidecontainerMargin", 5);
    statusLabelTrailingMargin_ = make("statusLabelTrailingMargin", 8);
    scaleViewWidth_ = make("scaleViewWidth", scaleViewDesiredWidth_);
    scaleViewHeight_ = make("scaleViewHeight", 30);
    scaleBottomSpacing_ = make("scaleBottomSpacing", 0);
    scaleViewCenterX_ = make("scaleViewCenterX", 0);
    scaleAnchor_ = MainViewLayout::ScaleAnchor::bottomScaleContainer;

    // Stacking, bottom to top: map, containers and scale, texts, column, search.
    scaleView_->raise();
    debugTextView_->raise();
    credit->raise();
    statusLabel_->raise();
    sideContainer_->raise();
    searchTable_->raise();
    searchBar_->raise();
    spinner_->raise();

    new ResizeWatcher(root, [this] { layoutMainView(); });
    layoutMainView();
}

void MainViewController::buildButtons() {
    auto* column = sideContainer_.data();
    auto add = [&](MapButton which, QWidget* widget, const char* name) {
        widget->setObjectName(QString::fromUtf8(name));
        buttons_[static_cast<size_t>(which)] = widget;
    };
    auto* search = new SearchButton(column);
    search->setObjectName(QStringLiteral("searchButton"));
    searchButton_ = search;
    auto* zoomIn = new ZoomInButton(column);
    add(MapButton::zoomIn, zoomIn, "zoomInButton");
    auto* zoomOut = new ZoomOutButton(column);
    add(MapButton::zoomOut, zoomOut, "zoomOutButton");
    auto* myLocation = new CenterButton(column);
    add(MapButton::myLocation, myLocation, "myLocationButton");
    auto* addButton = new AddLocationButton(column);
    add(MapButton::add, addButton, "addButton");
    auto* mapStyle = new MapStyleButton(column);
    add(MapButton::mapStyle, mapStyle, "mapStyleButton");
    auto* mapLayers = new MapLayersButton(column);
    add(MapButton::mapLayers, mapLayers, "mapLayersButton");
    auto* points = new LocationsButton(column);
    add(MapButton::points, points, "pointsButton");
    auto* info = new InfoButton(column);
    add(MapButton::info, info, "infoButton");

    // Every kit button dims while pressed; the actions fade it back.
    for (QAbstractButton* kitButton : std::initializer_list<QAbstractButton*>{
             search, zoomIn, zoomOut, addButton, mapStyle, mapLayers, points, info}) {
        QObject::connect(kitButton, &QAbstractButton::pressed, kitButton,
                         [this, kitButton] { buttonDown(kitButton); });
    }
    QObject::connect(search, &QAbstractButton::clicked, search,
                     [this, search] { searchLocationButtonPressed(search); });
    QObject::connect(zoomIn, &QAbstractButton::clicked, zoomIn,
                     [this, zoomIn] { zoomInButtonPressed(zoomIn); });
    QObject::connect(zoomOut, &QAbstractButton::clicked, zoomOut,
                     [this, zoomOut] { zoomOutButtonPressed(zoomOut); });
    QObject::connect(mapStyle, &QAbstractButton::clicked, mapStyle,
                     [this, mapStyle] { stylesAndLayers_->mapStyleButtonPressed(mapStyle); });
    QObject::connect(mapLayers, &QAbstractButton::clicked, mapLayers,
                     [this, mapLayers] { stylesAndLayers_->mapLayersButtonPressed(mapLayers); });
    QObject::connect(points, &QAbstractButton::clicked, points,
                     [this, points] { stylesAndLayers_->pointsButtonPressed(points); });
    QObject::connect(info, &QAbstractButton::clicked, info,
                     [this, info] { stylesAndLayers_->infoButtonPressed(info); });
    QObject::connect(addButton, &QAbstractButton::clicked, addButton,
                     [this, addButton] { addLocationButtonPressed(addButton); });
}

// ---- Layout

MainViewLayout::Input MainViewController::layoutInput() const {
    MainViewLayout::Input in;
    in.viewSize = QSizeF(viewIfLoaded() != nullptr ? viewIfLoaded()->size() : QSize());
    const auto value = [](const std::shared_ptr<platform::LayoutConstraint>& c, double fallback) {
        return c ? c->valueOr(fallback) : fallback;
    };
    if (sideContainer_) {
        const auto width = sideContainer_->constraints().find(SideContainerView::kWidthConstraintIdentifier);
        in.sideContainerWidth = width ? width->valueOr(in.sideContainerWidth) : in.sideContainerWidth;
    }
    in.mapTrailingMargin = value(mapTrailingMargin_, 0);
    in.mapSidecontainerMargin = value(mapSidecontainerMargin_, 5);
    in.statusLabelTrailingMargin = value(statusLabelTrailingMargin_, 8);
    in.statusLabelRightEdge = statusLabelRightEdgeBesideCompass();
    in.searchBarHeight = value(searchBarHeight_, 80);
    in.searchBarWidth = value(searchBarWidth_, 600);
    in.searchBarLeftSpacing = value(searchBarLeftSpacing_, 20);
    in.searchBarTopSpacing = value(searchBarTopSpacing_, 20);
    in.searchTableHeight = value(searchTableHeight_, 0);
    in.searchBarVisible = searchBar_ && !searchBar_->isHidden();
    in.scaleViewWidth = value(scaleViewWidth_, scaleViewDesiredWidth_);
    in.scaleViewHeight = value(scaleViewHeight_, 30);
    const bool tied = scaleBottomSpacing_ && scaleBottomSpacing_->isActive() && scaleViewCenterX_ &&
                      scaleViewCenterX_->isActive();
    in.scaleAnchor = tied ? scaleAnchor_ : MainViewLayout::ScaleAnchor::none;
    if (scaleView_) in.previousScaleFrame = QRectF(scaleView_->geometry());
    if (statusLabel_ && !statusLabel_->text().isEmpty())
        in.statusLabelSize = QSizeF(statusLabel_->sizeHint());
    if (osmCreditLabel_) in.creditLabelHeight = 2 * QFontMetricsF(osmCreditLabel_->font()).lineSpacing() + 2;
    in.buttonCount = static_cast<int>(kMapButtonCount) + 1;
    return in;
}

void MainViewController::layoutMainView() {
    if (!isViewLoaded() || layingOut_) return;
    layingOut_ = true;
    layout_ = MainViewLayout::make(layoutInput());
    applyLayout();
    layingOut_ = false;
}

void MainViewController::applyLayout() {
    const auto place = [](QWidget* widget, const QRectF& frame) {
        if (widget != nullptr) widget->setGeometry(frame.toAlignedRect());
    };
    place(mapView_, layout_.map);
    place(sideContainer_, layout_.sideContainer);
    // The column, top to bottom: search, zoom in, zoom out, my location, add,
    // map style, map layers, point list, About.
    const std::array<QWidget*, kMapButtonCount + 1> column{searchButton_.data(),
                                                           mapButton(MapButton::zoomIn),
                                                           mapButton(MapButton::zoomOut),
                                                           mapButton(MapButton::myLocation),
                                                           mapButton(MapButton::add),
                                                           mapButton(MapButton::mapStyle),
                                                           mapButton(MapButton::mapLayers),
                                                           mapButton(MapButton::points),
                                                           mapButton(MapButton::info)};
    for (size_t i = 0; i < column.size(); ++i) {
        if (column[i] != nullptr && column[i]->parentWidget() == sideContainer_.data()) {
            place(column[i], layout_.buttons[i]);
        }
    }
    // The search button is not one of the eight outlets the screen restyles;
    // it gets the same round look with its frame.
    if (searchButton_) {
        const MapButtonColours colours = mapButtonColours(view());
        ButtonLayer layer = searchButton_->layer();
        layer.cornerRadius = layout_.buttonSide / 2;
        layer.clipsToBounds = true;
        layer.backgroundColor = colours.face;
        searchButton_->setLayer(layer);
        searchButton_->setTintColor(colours.tint);
    }
    place(statusLabel_, layout_.statusLabel);
    place(debugTextView_, layout_.debugTextView);
    place(searchBar_, layout_.searchBar);
    place(searchTable_, layout_.searchTable);
    place(spinner_, layout_.spinner);
    place(bottomContainerView_, layout_.bottomContainerView);
    place(bottomScaleContainer_, layout_.bottomScaleContainer);
    place(stackScaleContainer_, layout_.stackScaleContainer);
    place(scaleView_, layout_.scaleView);
    placeCreditLabel();
    placeCompassBesideColumn();
}

void MainViewController::placeCreditLabel() {
    if (!osmCreditLabel_ || !isViewLoaded()) return;
    widgets::hud::MultilineLabel* label = osmCreditLabel_;
    const QFont font = label->font();
    const QString text = label->text();
    const double lineHeight = QFontMetricsF(font).lineSpacing();
    const QRectF scale = scaleView_ ? QRectF(scaleView_->geometry()) : QRectF();
    double widestWord = 0;
    const QFontMetricsF metrics(font);
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        widestWord = std::max(widestWord, metrics.horizontalAdvance(word) + 1);
    layout_.osmCreditLabel = MainViewLayout::creditFrame(
        QSizeF(view()->size()), layout_.sideContainer.left(), scale, lineHeight, kCreditLinesBesideScale,
        widestWord, [&](double width) { return creditTextHeight(font, text, width); });
    label->setGeometry(layout_.osmCreditLabel.toAlignedRect());
}

void MainViewController::creditLabelDidChange() {
    placeCreditLabel();
}

std::shared_ptr<platform::LayoutConstraint> MainViewController::sideContainerWidthConstraint() const {
    QLLogInfo("sideContainerWidthConstraint()");
    if (!sideContainer_) return nullptr;
    return sideContainer_->constraints().find(SideContainerView::kWidthConstraintIdentifier);
}

void MainViewController::setButtonSizeWithSize(QSizeF size) {
    QLLogInfo("setButtonSizeWithSize(size:)");
    if (const auto constraint = sideContainerWidthConstraint()) {
        // A side of exactly 500 counts as small.
        constraint->setConstant(size.width() > 500.0 && size.height() > 500.0 ? 100.0 : 66.0);
    }
    layoutMainView();
}

void MainViewController::setScaleViewConstraintsFor(QSizeF size) {
    if (!scaleView_ || !scaleBottomSpacing_ || !scaleViewCenterX_) return;
    scaleBottomSpacing_->setActive(false);
    scaleViewCenterX_->setActive(false);
    const auto relayout = [this] { layoutMainView(); };
    const auto tie = [&](QWidget* container,
                         const char* identifier) -> std::shared_ptr<platform::LayoutConstraint> {
        if (container == nullptr) return nullptr;
        auto constraint =
            std::make_shared<platform::LayoutConstraint>(QString::fromUtf8(identifier), 0.0, false);
        constraint->setOnChange(relayout);
        return constraint;
    };
    if (size.width() > size.height()) {
        QLLogInfo("scaleView: setting constraints for landscape");
        scaleBottomSpacing_ = tie(bottomScaleContainer_, "scaleView.centerY = bottomScaleContainer.centerY");
        scaleViewCenterX_ = tie(bottomScaleContainer_, "bottomScaleContainer.centerX = scaleView.centerX");
        scaleAnchor_ = MainViewLayout::ScaleAnchor::bottomScaleContainer;
    } else {
        QLLogInfo("scaleView: setting constraints for portrait");
        scaleBottomSpacing_ =
            tie(stackScaleContainer_, "scaleView.bottomMargin = stackScaleContainer.bottomMargin");
        scaleViewCenterX_ = tie(stackScaleContainer_, "stackScaleContainer.centerX = scaleView.centerX");
        scaleAnchor_ = MainViewLayout::ScaleAnchor::stackScaleContainerBottom;
    }
    if (scaleBottomSpacing_) scaleBottomSpacing_->setActive(true);
    if (scaleViewCenterX_) scaleViewCenterX_->setActive(true);
    layoutMainView();
}

// ---- Loading

void MainViewController::viewDidLoad() {
    platform::ViewController::viewDidLoad();
    if (mapView_)
        mapView_->setQuovaDelegate(std::static_pointer_cast<MainViewController>(shared_from_this()));
    if (statusLabel_) {
        statusLabel_->hide();
        statusLabelMaxAlpha_ = platform::alpha(statusLabel_);
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
    if (rectAwaitingAppearance_ && mapView_) {
        layoutMainView();
        mapView_->setVisibleMapRect(*rectAwaitingAppearance_, false);
    }
    rectAwaitingAppearance_.reset();
    styleAllButtons();
    updateCheck();
    if (!statusTimer_) {
        // Held weakly: a screen that goes (tests make many) stops its timer.
        statusTimer_ =
            platform::Timer::scheduled(kStatusInterval, true, [weak = weakSelf()](platform::Timer&) {
                if (auto self = weak.lock()) self->updateStatusLabel();
            });
    }
}

// ---- The status line

void MainViewController::updateStatusLabel() {
    updateTileNotice();
    const auto status = services_.currentTileStatus ? services_.currentTileStatus() : mapTileStatus();
    if (status && statusLabel_) {
        QLLogInfo("Tile cache status: " + *status);
        showStatusLabel(*status);
        return;
    }
    if (statusLabel_ && !statusLabel_->isHidden()) hideStatusLabel();
}

void MainViewController::updateTileNotice() {
    if (!mapView_) return;
    const auto overlay = mapView_->currentTileOverlay();
    // Small, beside the credits: the map stays usable, the user learns why parts stay blank.
    const bool failing = overlay && overlay->tilesCannotBeLoaded();
    mapView_->setNotice(
        failing ? QString::fromStdString(platform::localizedString("Map tiles can't be loaded")) : QString());
}

std::optional<std::string> MainViewController::mapTileStatus() const {
    if (!mapView_) return std::nullopt;
    const auto overlay = mapView_->currentTileOverlay();
    return overlay ? overlay->statusString() : std::nullopt;
}

void MainViewController::showStatusLabel(const std::string& text) {
    platform::Label* label = statusLabel_;
    label->setText(QString::fromStdString(text));
    if (label->isHidden() || statusFadingOut_) {
        // A fade-out still running yields: its completion belongs to an older flip.
        ++statusFlip_;
        statusFadingOut_ = false;
        if (label->isHidden())
            platform::Animator::performWithoutAnimation([label] { platform::setAlpha(label, 0); });
        const double target = statusLabelMaxAlpha_;
        platform::Animator::animate(kFadeDuration, [label, target] { platform::setAlpha(label, target); });
    }
    label->show();
    layoutMainView();
}

void MainViewController::hideStatusLabel() {
    if (statusFadingOut_) return;
    platform::Label* label = statusLabel_;
    const uint64_t flip = ++statusFlip_;
    statusFadingOut_ = true;
    platform::Animator::animate(
        kFadeDuration, [label] { platform::setAlpha(label, 0); },
        [weak = weakSelf(), flip](bool) {
            auto self = weak.lock();
            if (!self || self->statusFlip_ != flip || !self->statusLabel_) return;
            self->statusFadingOut_ = false;
            self->statusLabel_->setText(QString());
            self->statusLabel_->hide();
        });
}

// ---- Buttons

void MainViewController::styleAllButtons() {
    QLLogInfo("styleAllButtons()");
    const MapButtonColours colours = mapButtonColours(view());
    const QColor face = colours.face;
    const QColor blue = colours.tint;
    for (const auto& widget : buttons_) {
        if (!widget) continue;
        platform::setAlpha(widget, 1.0);
        const double radius = widget->height() / 2.0;
        if (auto* kit = qobject_cast<StyleKitButton*>(widget)) {
            kit->setTintColor(blue);
            ButtonLayer layer = kit->layer();
            layer.cornerRadius = radius;
            layer.clipsToBounds = true;
            layer.backgroundColor = face;
            kit->setLayer(layer);
        } else if (auto* center = qobject_cast<CenterButton*>(widget)) {
            // The my-location control is a plain view, so it gets a border.
            center->setTintColor(blue);
            ButtonLayer layer = center->layer();
            layer.cornerRadius = radius;
            layer.clipsToBounds = true;
            layer.backgroundColor = face;
            layer.borderColor = blue;
            layer.borderWidth = 2.0;
            center->setLayer(layer);
        }
    }
}

void MainViewController::buttonDown(QWidget* sender) {
    QLLogInfo("buttonDown");
    if (sender == nullptr) return;
    const double alpha = touchAlpha_;
    platform::Animator::animate(kFadeDuration, [sender, alpha] { platform::setAlpha(sender, alpha); });
}

void MainViewController::releaseButton(QWidget* sender) {
    if (sender == nullptr) return;
    const double alpha = defaultAlpha_;
    platform::Animator::animate(kFadeDuration, [sender, alpha] { platform::setAlpha(sender, alpha); });
}

void MainViewController::zoomInButtonPressed(QWidget* sender) {
    zoom(sender, 0.5, "zoomInButtonPressed");
}

void MainViewController::zoomOutButtonPressed(QWidget* sender) {
    zoom(sender, 2.0, "zoomOutButtonPressed");
}

void MainViewController::zoom(QWidget* sender, double factor, const char* logText) {
    QLLogInfo(logText);
    releaseButton(sender);
    if (!mapView_) return;
    // No limit here: the map delegate's zoom limit applies afterwards.
    platform::MKMapCamera camera = mapView_->camera();
    camera.centerCoordinateDistance *= factor;
    mapView_->setCamera(camera, true);
    manuallyZoomedAt_ = platform::Date::now();
    userWantsToZoomInOnUserLocation_ = false;
}

void MainViewController::searchLocationButtonPressed(QWidget* sender) {
    QLLogInfo("searchLocationButtonPressed(sender:)");
    releaseButton(sender);
    if (!searchBar_) return;
    QPointer<platform::TextField> field = searchBar_;
    QPointer<platform::TableView> table = searchTable_;
    QPointer<platform::ActivityIndicator> spinner = spinner_;
    if (!field->isHidden()) {
        platform::Animator::animate(
            kFadeDuration,
            [field, table, spinner] {
                platform::setAlpha(field, 0);
                if (table) platform::setAlpha(table, 0);
                if (spinner) platform::setAlpha(spinner, 0);
            },
            [weak = weakSelf(), field, table](bool) {
                if (field) field->hide();
                if (table) table->hide();
                auto self = weak.lock();
                if (!self) return;
                if (self->searchController_ && field) self->searchController_->textFieldShouldReturn(*field);
                self->layoutMainView();
            });
        return;
    }
    field->show();
    if (table) table->show();
    if (searchController_) searchController_->setSearchTableHeight(searchController_->allResultsCount());
    if (searchBarHeight_) searchBarHeight_->setConstant(80.0);
    if (searchBarWidth_) searchBarWidth_->setConstant(600.0);
    layoutMainView();
    platform::Animator::animate(kFadeDuration, [field, table, spinner] {
        platform::setAlpha(field, 1);
        if (table) platform::setAlpha(table, 1);
        if (spinner) platform::setAlpha(spinner, 1);
    });
}

void MainViewController::addLocationButtonPressed(QWidget* sender) {
    QLLogInfo("addLocationButtonPressed(sender:)");
    releaseButton(sender);
    // The button's pin with its "+" adds a point where the user looks: the
    // map's centre, stored, shown and named as a long press there would be.
    if (!mapView_) return;
    dropPinAtLocation(mapView_->centerCoordinate(), std::nullopt);
}

void MainViewController::toolbarSearchTextEdited(const QString& text) {
    if (!searchController_ || !searchBar_) return;
    if (searchBar_->isHidden()) searchLocationButtonPressed(nullptr);
    searchController_->searchForText(text);
}

bool MainViewController::toolbarSearchKeyPressed(int key) {
    if (!searchController_ || !searchBar_ || searchBar_->isHidden()) return false;
    return searchController_->searchKeyPressed(key);
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
    compassView_ = compassView;
    if (!statusLabelCompassMargin_) {
        // Made once, not yet active; its changes lay the screen out again.
        statusLabelCompassMargin_ = std::make_shared<platform::LayoutConstraint>(
            QStringLiteral("statusLabel.right = compass.left"), kStatusLabelCompassGap, false);
        statusLabelCompassMargin_->setOnChange([weak = weakSelf()] {
            if (auto self = weak.lock()) self->layoutMainView();
        });
    }
    if (!viewIfLoaded() || !statusLabelTrailingMargin_) return;
    QPointer<QWidget> view = viewIfLoaded();
    std::weak_ptr<platform::LayoutConstraint> trailing = statusLabelTrailingMargin_;
    platform::Animator::animate(kCompassAnimationDuration, [weak = weakSelf(), view, trailing] {
        if (auto margin = trailing.lock()) margin->setActive(false);
        if (auto self = weak.lock(); self && self->statusLabelCompassMargin_)
            self->statusLabelCompassMargin_->setActive(true);
        if (auto self = weak.lock(); self && view) self->layoutMainView();
    });
}

void MainViewController::quovaMapViewWillRemoveCompassView(QuovaMKMapView& mapView, QWidget*) {
    QLLogDebug("quovaMapView(_:willRemoveCompassView:)");
    if (!statusLabelCompassMargin_ || !statusLabelTrailingMargin_) return;
    QPointer<QuovaMKMapView> map = &mapView;
    platform::Animator::animate(kCompassAnimationDuration, [weak = weakSelf(), map] {
        auto self = weak.lock();
        if (!self) return;
        self->statusLabelCompassMargin_->setActive(false);
        if (self->statusLabelTrailingMargin_) self->statusLabelTrailingMargin_->setActive(true);
        // The compass goes once this returns: the label keeps its place beside it no longer.
        self->compassView_ = nullptr;
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
    const platform::GestureRecognizer* tap = locationTapRecognizer_.data();
    const platform::GestureRecognizer* press = locationLongPressRecognizer_.data();
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

// ---- Version check

void MainViewController::updateCheck() {
    services_.loadVersionInfo([weak = weakSelf()](std::optional<backend::AppVersionInfo> info) {
        auto self = weak.lock();
        if (!self) return;
        if (!info) {
            QLLogDebug("Loading version info failed.");
            return;
        }
        QLLogDebug("Loading version info finished: " + logging::debugQuoted(info->description()));
        if (self->services_.isNewerVersion(*info)) self->newVersionFound(*info);
    });
}

void MainViewController::newVersionFound(const backend::AppVersionInfo& info) {
    if (!platform::isMainThread()) {
        platform::DispatchQueue::main()->async([weak = weakSelf(), info] {
            if (auto self = weak.lock()) self->newVersionFound(info);
        });
        QLLogInfo("newVersionFound called on other than main thread - re-scheduling.");
        return;
    }
    const bool forced = info.forceUpdate;
    QLLogInfo(std::string("Newer app version info found on server - ") +
              (forced ? "forcing update." : "just informing user."));
    auto alert = platform::AlertController::make(
        platform::localizedString("Update Required"),
        platform::localizedString("Your app version is outdated - please update."),
        platform::AlertController::Style::alert);
    const auto weak = weakSelf();
    if (forced) {
        alert->addAction(platform::AlertAction::make(platform::localizedString("Quit App"),
                                                     platform::AlertAction::Style::destructive, [weak] {
                                                         QLLogInfo("Quit App Button");
                                                         if (auto self = weak.lock()) self->quitApplication();
                                                     }));
    } else {
        alert->addAction(platform::AlertAction::make(platform::localizedString("Cancel"),
                                                     platform::AlertAction::Style::destructive,
                                                     [] { QLLogInfo("Cancel Button"); }));
    }
    alert->addAction(platform::AlertAction::make(platform::localizedString("Update App"),
                                                 platform::AlertAction::Style::defaultValue, [weak, info] {
                                                     QLLogInfo("Update App Button");
                                                     bool opened = false;
                                                     // Both addresses come from the version
                                                     // document: only web pages are opened.
                                                     if (parsesAsURL(info.updateURL)) {
                                                         if (isWebURL(info.updateURL) &&
                                                             platform::canOpenURL(info.updateURL)) {
                                                             shell::quovaOpen(info.updateURL);
                                                             opened = true;
                                                         } else if (isWebURL(info.fallbackURL)) {
                                                             opened = shell::quovaOpen(info.fallbackURL);
                                                         }
                                                     }
                                                     if (auto self = weak.lock())
                                                         self->finishUpdate(opened, info.forceUpdate);
                                                 }));
    present(alert, true, [] { QLLogInfo("Display action sheet animation completed."); });
}

void MainViewController::finishUpdate(bool urlOpened, bool forced) {
    // The program ends only when the update page was handed to a browser or the
    // update is forced, and then later, without blocking the screen meanwhile.
    if (!urlOpened && !forced) {
        QLLogInfo("Update App Button: no update page could be opened - the program goes on.");
        return;
    }
    if (quitScheduled_) return;
    quitScheduled_ = true;
    platform::DispatchQueue::main()->asyncAfter(kUpdateQuitDelay, [weak = weakSelf()] {
        if (auto self = weak.lock()) self->quitApplication();
    });
}

void MainViewController::quitApplication() {
    logging::QLLog::sharedInstance().flushLog();
    services_.terminate();
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
