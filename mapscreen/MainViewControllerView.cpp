// The map screen's view, built in code: its widgets and buttons, the layout
// that places them from the named constraints, and the buttons' look and the
// actions that act on the screen itself.

#include "mapscreen/MainViewController.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFontMetricsF>
#include <QLabel>
#include <QRegularExpression>
#include <QWidget>

#include <algorithm>

#include "logging/QLLogging.hpp"
#include "mapscreen/AddLocationButton.hpp"
#include "mapscreen/CenterButton.hpp"
#include "mapscreen/InfoButton.hpp"
#include "mapscreen/LocationsButton.hpp"
#include "mapscreen/MapLayersButton.hpp"
#include "mapscreen/MapStyleButton.hpp"
#include "mapscreen/QuovaScaleView.hpp"
#include "mapscreen/SearchButton.hpp"
#include "mapscreen/SideContainerView.hpp"
#include "mapscreen/TervoloButtonKit.hpp"
#include "mapscreen/ZoomInButton.hpp"
#include "mapscreen/ZoomOutButton.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/ui/ActivityIndicator.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/Contrast.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/TextView.hpp"

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

constexpr double kStatusLabelAlpha = 0.9;  // the label's own alpha, the most it fades in to

// Calls back whenever its view gets an event of one type: a resize, to lay the screen out again;
// a move to another parent, since Qt rebuilds the focus order of a view that moves into a window,
// so the screen sets its own order again there.
class EventWatcher : public QObject {
  public:
    EventWatcher(QWidget* view, QEvent::Type type, std::function<void()> onEvent)
        : QObject(view), type_(type), onEvent_(std::move(onEvent)) {
        view->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == type_ && watched == parent()) onEvent_();
        return QObject::eventFilter(watched, event);
    }

  private:
    QEvent::Type type_;
    std::function<void()> onEvent_;
};

// A widget that only groups others for the layout and never takes the mouse.
QWidget* makeContainer(QWidget* parent, const char* name) {
    auto* container = new QWidget(parent);
    container->setObjectName(QString::fromUtf8(name));
    container->setAttribute(Qt::WA_TransparentForMouseEvents);
    container->setAttribute(Qt::WA_NoSystemBackground);
    return container;
}

}  // namespace

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
    // On a plate in the palette's colours, as the map's own credit: map labels never run through it.
    credit->setShowsPlate(true);
    credit->setContentsMargins(widgets::hud::MultilineLabel::kPlatePadding, 1,
                               widgets::hud::MultilineLabel::kPlatePadding, 1);
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
    // Room at the end for the spinner, which stands inside the field (MainViewLayout).
    searchBar_->setTextMargins(8, 0, 4 + static_cast<int>(MainViewLayout::kSpinnerSide) + 8, 0);
    // The field is tall (80 points when open); its text starts a little larger
    // than the interface's, and the search controller enlarges it further.
    searchBar_->setFont(platform::scaledFont(searchBar_->font(), 1.2));
    searchBar_->hide();
    platform::setAlpha(searchBar_, 0);
    spinner_ = new platform::ActivityIndicator(platform::ActivityIndicator::Style::Medium, root);
    spinner_->setObjectName(QStringLiteral("spinner"));
    // It lies over the field: a click there is the field's.
    spinner_->setAttribute(Qt::WA_TransparentForMouseEvents);

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

    // The result list is no Tab stop: Down and Up move through it from the field, which keeps the
    // caret.
    searchTable_->setFocusPolicy(Qt::ClickFocus);
    orderTabStops();
    new EventWatcher(root, QEvent::ParentChange, [this] { orderTabStops(); });

    new EventWatcher(root, QEvent::Resize, [this] { layoutMainView(); });
    layoutMainView();
}

void MainViewController::orderTabStops() {
    // Tab goes through the screen as it reads: the search field (while open), the map, then the
    // column from top to bottom.
    QWidget* previous = searchBar_;
    for (QWidget* next : std::initializer_list<QWidget*>{
             mapView_, searchButton_, mapButton(MapButton::zoomIn), mapButton(MapButton::zoomOut),
             mapButton(MapButton::myLocation), mapButton(MapButton::add), mapButton(MapButton::mapStyle),
             mapButton(MapButton::mapLayers), mapButton(MapButton::points), mapButton(MapButton::info)}) {
        if (next == nullptr) continue;
        if (previous != nullptr) QWidget::setTabOrder(previous, next);
        previous = next;
    }
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
    // The keyboard's press of the my-location control is its tap.
    QObject::connect(myLocation, &CenterButton::activated, myLocation,
                     [this, myLocation] { centerButtonPressed(myLocation); });
    // Its menu key, Shift+F10 and right click are its long press.
    QObject::connect(myLocation, &CenterButton::alternateActivated, myLocation,
                     [this] { myLocationAlternateActivated(); });
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
    // The plate's margins around the text.
    const QMargins margins = label->contentsMargins();
    layout_.osmCreditLabel = MainViewLayout::creditFrame(
        QSizeF(view()->size()), layout_.sideContainer.left(), scale, lineHeight, kCreditLinesBesideScale,
        widestWord + margins.left() + margins.right(), [&](double width) {
            const double height = creditTextHeight(font, text, width - margins.left() - margins.right());
            return height > 0 ? height + margins.top() + margins.bottom() : 0.0;
        });
    label->setGeometry(layout_.osmCreditLabel.toAlignedRect());
    // The map sets its notice of missing tiles above the credit, never over it.
    if (mapView_) {
        const QRect area = label->isHidden() ? QRect() : label->geometry();
        mapView_->setCreditArea(
            area.isEmpty() ? QRect() : QRect(mapView_->mapFrom(view(), area.topLeft()), area.size()));
    }
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
    tracking_.manuallyZoomedAt = platform::Date::now();
    tracking_.userWantsToZoomInOnUserLocation = false;
}

void MainViewController::searchLocationButtonPressed(QWidget* sender) {
    QLLogInfo("searchLocationButtonPressed(sender:)");
    releaseButton(sender);
    if (!searchBar_) return;
    if (!searchBar_->isHidden()) {
        closeSearchField();
        return;
    }
    QPointer<platform::TextField> field = searchBar_;
    QPointer<platform::TableView> table = searchTable_;
    QPointer<platform::ActivityIndicator> spinner = spinner_;
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

void MainViewController::closeSearchField() {
    if (!searchBar_ || searchBar_->isHidden()) return;
    QPointer<platform::TextField> field = searchBar_;
    QPointer<platform::TableView> table = searchTable_;
    QPointer<platform::ActivityIndicator> spinner = spinner_;
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

}  // namespace tervolo::mapscreen
