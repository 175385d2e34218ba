#pragma once

#include <QLabel>
#include <QPointF>
#include <QPointer>
#include <QSizeF>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "backend/VersionInfo.hpp"
#include "location/QuovaLocationServices.hpp"
#include "location/ui/UserLocationMapScreen.hpp"
#include "mapscreen/MainMapPort.hpp"
#include "mapscreen/MainViewControllerState.hpp"
#include "mapscreen/MainViewLayout.hpp"
#include "mapscreen/MapSearchController.hpp"
#include "mapscreen/QuovaMKMapView.hpp"
#include "mapscreen/QuovaMKMapViewDelegate.hpp"
#include "mapscreen/QuovaScaleView.hpp"
#include "mapscreen/SearchButton.hpp"
#include "mapscreen/SideContainerView.hpp"
#include "mapscreen/StylesAndLayers.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/location/CLAuthorizationStatus.hpp"
#include "platform/location/CLGeocoder.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "platform/ui/ActivityIndicator.hpp"
#include "platform/ui/FeedbackGenerator.hpp"
#include "platform/ui/GestureRecognizer.hpp"
#include "platform/ui/GestureRecognizerDelegate.hpp"
#include "platform/ui/HoverGestureRecognizer.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/LayoutConstraint.hpp"
#include "platform/ui/RestorationCoder.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/TextView.hpp"
#include "platform/ui/Toolbar.hpp"
#include "platform/ui/ViewController.hpp"
#include "points/Shorturl.hpp"
#include "shell/MacToolbarDelegate.hpp"
#include "shell/MapScreenActions.hpp"
#include "widgets/hud/HUDContentType.hpp"
#include "widgets/hud/MultilineLabel.hpp"

class QAbstractButton;

namespace tervolo::mapscreen {

// The one map screen, the root of the application's window for the whole run:
// the map, the column of map buttons beside it, the search field with its
// result table and spinner, the tile-cache status line, the credit line, the
// tile debug text and the scale bar. Its view is built in code; the frames
// come from one hand-written layout (MainViewLayout) over the constants of
// its named constraints.
//
// This class keeps the screen's state and lifecycle (the set-up when its view
// loads, what each appearance does, the once-a-second status line, the button
// look, the version check with its update alert, the hover position) and the
// layout and the handlers of the buttons that act on the screen itself (zoom
// in and out, the search toggle, the pressed look). It is its map's delegate
// and the delegate of the my-location button's recognisers.
//
// What lies above the map screen (the search controller) comes from a
// factory in Services; what lies below it and is not at hand (the toolbar's
// delegate, the plug-in binding) comes through hooks there too. An empty
// factory or hook skips its step. Missing outlets (a subclass may drop them
// from the view) skip the steps that need them.
//
// The definitions lie in one file per concern (MainViewController<Concern>.cpp:
// Lifecycle, View, Status, Points, LegacyImport, MapDelegate, Tracking,
// Restoration); each concern's state is a record of its own
// (MainViewControllerState.hpp).
//
// Main thread only. Lengths in points; times in seconds.
class MainViewController : public platform::ViewController,
                           public platform::MKMapViewDelegate,
                           public platform::GestureRecognizerDelegate,
                           public QuovaMKMapViewDelegate,
                           public shell::MapScreenActions,
                           public MainMapPort,
                           public location::UserLocationMapScreen {
  public:
    using VersionDelivery = std::function<void(std::optional<backend::AppVersionInfo>)>;

    // What the screen is given by the composition. Empty members are filled
    // with the program's own behaviour by the constructor (the shell's toolbar
    // delegate, plug-in binding and About screen among them), except the
    // search controller and point list factories, which stay empty and skip
    // their step.
    struct Services {
        // The search controller (lies above the screen).
        std::function<std::shared_ptr<MapSearchController>()> makeSearchController;
        // Makes the toolbar's delegate for the screen and fills the toolbar
        // (the shell's toolbar delegate lies below the screen).
        std::function<void(MainViewController&, platform::Toolbar&)> installToolbarDelegate;
        // Loads the toolbar plug-in once; silent when it is missing.
        std::function<void()> bindPlugIn;
        // The user-interface idiom of the device: only a phone changes the
        // map margins on a size-class change.
        platform::TraitCollection::UserInterfaceIdiom interfaceIdiom =
            platform::TraitCollection::UserInterfaceIdiom::mac;
        // The location authorisation now (default: the platform's).
        std::function<platform::CLAuthorizationStatus()> authorizationStatus;
        // Loads the version document; the delivery runs on the main queue
        // (default: the backend's version checker on the product's server).
        std::function<void(VersionDelivery)> loadVersionInfo;
        // Whether the document names a newer version than the running one.
        std::function<bool(const backend::AppVersionInfo&)> isNewerVersion;
        // Ends the program in order; the screen flushes the log first
        // (default: the Qt application's event loop is left with status 0).
        std::function<void()> terminate;
        // The status text of the map's current base tile overlay, none with a
        // platform map style or without a status (default: the map's).
        std::function<std::optional<std::string>()> currentTileStatus;
        // The point list, with the screen as its map (it zooms to and selects
        // the chosen point there), and the About screen, opened from their
        // buttons (the point list lies above the screen); empty: the button
        // only logs.
        std::function<std::shared_ptr<platform::ViewController>(std::weak_ptr<MainMapPort>)> makePointList;
        StylesAndLayers::ScreenFactory makeAboutScreen;
        // Following the user's position: the location service whose fixes the
        // screen follows and whose best known location it zooms to (default:
        // the shared one), and the HUD's flash of a content for `delay`
        // seconds (default: the HUD over the active window).
        std::function<std::shared_ptr<location::QuovaLocationServices>()> locationServices;
        std::function<void(const widgets::hud::HUDContentType& content, double delay)> flashHUD;
        // ---- Points on the map
        // Records an analytics event with its properties (default: the
        // shared analytics wrapper).
        std::function<void(const std::string& name, const std::map<std::string, std::string>& properties)>
            trackEvent;
        // The map delegate's: the point details screen for a point, with the
        // screen as its map (lies above the screen; empty: nothing is shown),
        // and the user's best known location (default: the location services').
        std::function<std::shared_ptr<platform::ViewController>(const std::shared_ptr<points::QuovaMapPoint>&,
                                                                std::weak_ptr<MainMapPort>)>
            makePointDetails;
        std::function<std::optional<platform::CLLocation>()> bestKnownLocation;
    };

    // The eight map buttons, in the order the screen treats them as a list.
    enum class MapButton { zoomIn, zoomOut, points, info, mapStyle, mapLayers, myLocation, add };
    static constexpr size_t kMapButtonCount = 8;

    // Seconds of the pressed look and of the fades.
    static constexpr double kFadeDuration = 0.3;
    // The delay between the update alert's "Update App" and the end of the program.
    static constexpr double kUpdateQuitDelay = 2.0;
    static constexpr double kStatusInterval = 1.0;

    MainViewController();
    explicit MainViewController(Services services);
    ~MainViewController() override;

    // ---- platform::ViewController
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillTransition(QSizeF size) override;
    void traitCollectionDidChange(const platform::TraitCollection& previous) override;
    // A trait change coming: on a phone the map margins follow the horizontal
    // size class (regular: -48 and 72, else 0 and 5); elsewhere nothing.
    void willTransition(const platform::TraitCollection& newCollection);

    // ---- Outlets (null when missing)
    QuovaMKMapView* mapView() const { return mapView_.data(); }
    platform::Label* statusLabel() const { return statusLabel_.data(); }
    SideContainerView* sideContainer() const { return sideContainer_.data(); }
    widgets::hud::MultilineLabel* osmCreditLabel() const override { return osmCreditLabel_.data(); }
    // Places the credit line anew (MainViewLayout::creditFrame) for its text.
    void creditLabelDidChange() override;
    platform::TextView* debugTextView() const { return debugTextView_.data(); }
    platform::TextField* searchBar() const { return searchBar_.data(); }
    platform::TableView* searchTable() const { return searchTable_.data(); }
    platform::ActivityIndicator* spinner() const { return spinner_.data(); }
    QWidget* mapButton(MapButton which) const { return buttons_[static_cast<size_t>(which)].data(); }
    QWidget* zoomInButton() const { return mapButton(MapButton::zoomIn); }
    QWidget* zoomOutButton() const { return mapButton(MapButton::zoomOut); }
    QWidget* myLocationButton() const { return mapButton(MapButton::myLocation); }
    SearchButton* searchButton() const { return searchButton_.data(); }
    QuovaScaleView* scaleView() const override { return scaleView_.data(); }
    QWidget* bottomContainerView() const { return bottomContainerView_.data(); }
    QWidget* stackScaleContainer() const { return stackScaleContainer_.data(); }
    QWidget* bottomScaleContainer() const { return bottomScaleContainer_.data(); }

    // Setting an outlet to null drops it (the widget stays where it is).
    void setMapView(QuovaMKMapView* view);
    void setStatusLabel(platform::Label* label) { statusLabel_ = label; }
    void setSideContainer(SideContainerView* view) { sideContainer_ = view; }
    void setOsmCreditLabel(widgets::hud::MultilineLabel* label) { osmCreditLabel_ = label; }
    void setDebugTextView(platform::TextView* view) { debugTextView_ = view; }
    void setSearchBar(platform::TextField* field) { searchBar_ = field; }
    void setSearchTable(platform::TableView* table) { searchTable_ = table; }
    void setSpinner(platform::ActivityIndicator* spinner) { spinner_ = spinner; }
    void setScaleView(QuovaScaleView* view) { scaleView_ = view; }

    // ---- Named constraints (null when missing)
    const std::shared_ptr<platform::LayoutConstraint>& searchBarHeight() const { return searchBarHeight_; }
    const std::shared_ptr<platform::LayoutConstraint>& searchBarWidth() const { return searchBarWidth_; }
    const std::shared_ptr<platform::LayoutConstraint>& searchTableHeight() const {
        return searchTableHeight_;
    }
    const std::shared_ptr<platform::LayoutConstraint>& mapTrailingMargin() const {
        return mapTrailingMargin_;
    }
    const std::shared_ptr<platform::LayoutConstraint>& mapSidecontainerMargin() const {
        return mapSidecontainerMargin_;
    }
    const std::shared_ptr<platform::LayoutConstraint>& statusLabelTrailingMargin() const {
        return statusLabelTrailingMargin_;
    }
    const std::shared_ptr<platform::LayoutConstraint>& scaleBottomSpacing() const {
        return scaleBottomSpacing_;
    }
    const std::shared_ptr<platform::LayoutConstraint>& scaleViewCenterX() const { return scaleViewCenterX_; }
    void setSearchBarHeight(std::shared_ptr<platform::LayoutConstraint> c) {
        searchBarHeight_ = std::move(c);
    }
    void setSearchBarWidth(std::shared_ptr<platform::LayoutConstraint> c) { searchBarWidth_ = std::move(c); }
    void setMapTrailingMargin(std::shared_ptr<platform::LayoutConstraint> c) {
        mapTrailingMargin_ = std::move(c);
    }
    void setMapSidecontainerMargin(std::shared_ptr<platform::LayoutConstraint> c) {
        mapSidecontainerMargin_ = std::move(c);
    }
    void setScaleBottomSpacing(std::shared_ptr<platform::LayoutConstraint> c) {
        scaleBottomSpacing_ = std::move(c);
    }
    void setScaleViewCenterX(std::shared_ptr<platform::LayoutConstraint> c) {
        scaleViewCenterX_ = std::move(c);
    }

    // ---- State
    double statusLabelMaxAlpha() const { return status_.statusLabelMaxAlpha; }
    bool showsScaleView() const { return showsScaleView_; }
    double scaleViewDesiredWidth() const { return scaleViewDesiredWidth_; }
    int64_t retinaShiftLevel() const override { return stylesAndLayers_->retinaShiftLevel(); }
    const std::shared_ptr<shell::MacToolbarDelegate>& macToolbarDelegate() const {
        return macToolbarDelegate_;
    }
    // The part behind the point list, About, map style and map layers buttons.
    StylesAndLayers& stylesAndLayers() const { return *stylesAndLayers_; }
    const std::shared_ptr<platform::Timer>& statusTimer() const { return status_.statusTimer; }
    const std::shared_ptr<MapSearchController>& searchController() const { return searchController_; }
    std::optional<QPointF> lastMouseLocation() const { return lastMouseLocation_; }
    double defaultAlpha() const { return defaultAlpha_; }
    double touchAlpha() const { return touchAlpha_; }
    bool userWantsToZoomInOnUserLocation() const { return tracking_.userWantsToZoomInOnUserLocation; }
    void setUserWantsToZoomInOnUserLocation(bool wants) { tracking_.userWantsToZoomInOnUserLocation = wants; }
    double programmaticRegionChangeAt() const { return tracking_.programmaticRegionChangeAt; }
    void setProgrammaticRegionChangeAt(double seconds) { tracking_.programmaticRegionChangeAt = seconds; }
    std::optional<platform::Date> manuallyZoomedAt() const { return tracking_.manuallyZoomedAt; }
    bool initializationDone() const { return initializationDone_; }
    void setInitializationDone(bool done) { initializationDone_ = done; }
    platform::Toolbar* macToolbar() const { return macToolbar_.data(); }
    // The tap and long press on the my-location button (installed by the
    // following of the user's position).
    platform::GestureRecognizer* locationTapRecognizer() const {
        return tracking_.locationTapRecognizer.data();
    }
    platform::GestureRecognizer* locationLongPressRecognizer() const {
        return tracking_.locationLongPressRecognizer.data();
    }
    void setLocationTapRecognizer(platform::GestureRecognizer* r) { tracking_.locationTapRecognizer = r; }
    void setLocationLongPressRecognizer(platform::GestureRecognizer* r) {
        tracking_.locationLongPressRecognizer = r;
    }

    // ---- Points on the map: every road by which a point reaches the map
    // (long press, dropped pin, short link, another screen), its alarm circle,
    // the user's circle and the zoom to a point.
    platform::MKMapViewModel* mainMapView() const override { return mapView_.data(); }
    QuovaMKMapView* mapView() override { return mapView_.data(); }
    std::shared_ptr<platform::MKOverlay> haloForPoint(
        const std::shared_ptr<points::QuovaMapPoint>& point) const override;
    void removeHaloFromPoint(const std::shared_ptr<points::QuovaMapPoint>& point);
    void addAnnotation(const std::shared_ptr<points::QuovaMapPoint>& point) override;
    void addPoint(const std::shared_ptr<points::QuovaMapPoint>& point) override;
    void zoomInOnPoint(const std::shared_ptr<points::QuovaMapPoint>& point) override;
    void dropPinAtLocation(platform::CLLocationCoordinate2D coordinate,
                           std::optional<std::string> title) override;
    void refreshCircleOverlayForUserLocation() override;
    void handleIncomingShorturl(const points::Shorturl& shorturl);
    void handleIncomingUUID(const std::string& uuid);
    // Tells the user that a new point was not written and is not on the map
    // ("Location Not Saved" with the reason): every road that makes a point
    // ends here when its file is refused, another screen's (a search result) too.
    void presentNewLocationNotSaved(const platform::Error& error);
    // True when no visible stored point lies within 25 m; else the alert.
    bool proximityCheckPassedForPoint(const std::shared_ptr<points::QuovaMapPoint>& point);
    void startReverseGeocodingForPoint(const std::shared_ptr<points::QuovaMapPoint>& point);
    // The action of the map's own long-press recogniser (installed when the
    // view loads); `viewPoint` in the map view's coordinates. Where a press
    // begins on the world, a new point is made, saved, stored, put on the
    // map and zoomed to, with success feedback; off the world nothing.
    void longPressRecognized(platform::MKGestureState state, QPointF viewPoint);
    // The observer of the store's "mapPointChange" (registered when the view
    // loads): a deleted point leaves the map with its alarm circle; a hidden
    // one was deleted before, so that is only logged.
    void mapPointChangeNotificationHandler(const platform::NotificationCenter::Notification& notification);
    // Turns the point list an earlier generation kept in the user defaults
    // ("Points") into stored points, then puts every valid point on the map.
    // Runs when the view loads and the store holds no valid point. Skips an
    // element whose "UID" is already a stored point's (in any state) or an
    // earlier element's, is not a safe file name, or whose coordinate is
    // invalid.
    void importLegacyDataFromDefaults();
    // The generator between the start and the end of a long press (on the
    // map, or on the my-location button).
    const std::shared_ptr<platform::NotificationFeedbackGenerator>& longPressFeedbackGenerator() const {
        return points_.longPressFeedbackGenerator;
    }
    // Reverse geocodings waiting for their geocoder's answer (a retry
    // waiting for its turn is not one).
    size_t reverseGeocodingsUnderWay() const { return points_.reverseGeocoders.size(); }
    // Radius of the proximity check of incoming links, metres.
    static constexpr double kProximityDistance = 25.0;
    // The user's circle is kept while the user moves less than this, metres.
    static constexpr double kUserCircleMoveTolerance = 10.0;
    // A failed reverse geocoding is tried again after 3, 6, 12 … s (at most
    // 60 s apart), at most this many requests in all, and never once the
    // point is deleted or hidden.
    static constexpr int kReverseGeocodingAttempts = 5;

    // ---- Operations
    // Shows the current tile overlay's status, fading the label in when it
    // was hidden; fades it out and empties it without one.
    void updateStatusLabel();
    // The map's notice of tiles that cannot be loaded, from the current tile overlay.
    void updateTileNotice();
    // The common look of the eight buttons (tint, alpha 1, round, border on
    // the my-location view).
    void styleAllButtons();
    // Starts a version check; an update alert follows when the server names a
    // newer version.
    void updateCheck();
    // The update alert for `info`; re-dispatched to the main queue when
    // called elsewhere.
    void newVersionFound(const backend::AppVersionInfo& info);
    // The hover recogniser's action, and the map's hover handler turned into
    // the same states: the position of changes, in the screen view's
    // coordinates, goes into lastMouseLocation.
    void hovering(platform::GestureRecognizer::State state, QPointF location);

    // The column's "sideContainerWidth" constraint, or null.
    std::shared_ptr<platform::LayoutConstraint> sideContainerWidthConstraint() const;
    // 100 when both sides of `size` exceed 500, else 66.
    void setButtonSizeWithSize(QSizeF size);
    // The scale bar centred in the bottom container in landscape (wider than
    // high), on the stack container's bottom in portrait (a square included).
    void setScaleViewConstraintsFor(QSizeF size);
    // Lays every widget out from the view's size and the constraints.
    void layoutMainView();
    // The frames the last layout gave.
    const MainViewLayout& currentLayout() const { return layout_; }

    // ---- Following the user's position, and restoring the screen at launch
    // The my-location button: a tap zooms once onto the user's position
    // (asking for location access first when it is undecided), a long press
    // (0.7 s) cycles the tracking mode kept in the user default
    // "mainViewUserTrackingMode" (0 none, 1 follow, 2 follow with heading; an
    // absent key is 0), which the screen follows by subscribing to the
    // location service's fixes. The map's own tracking mode is never used.

    // The restoration identifier of the screen in the restoration archive.
    static constexpr const char* kRestorationIdentifier = "MainViewController";
    // Seconds: between authorisation polls, how long a poll chain may wait
    // for a decision, between zooms to the user, before following resumes at
    // launch, of the tracking-mode HUD, and of the grace after a zoom step.
    static constexpr double kAuthorizationPollInterval = 0.3;
    static constexpr double kAuthorizationPollLimit = 60.0;
    static constexpr double kUserZoomRetryInterval = 1.0;
    static constexpr double kResumeTrackingDelay = 1.0;
    static constexpr double kTrackingHUDDelay = 1.2;
    static constexpr double kManualZoomGrace = 1.0;
    // Metres: the accuracy at which the zoom to the user stops retrying.
    static constexpr double kSufficientAccuracy = 50.0;

    void myLocationTapRecognized(platform::GestureRecognizer& recognizer);
    void myLocationLongPressRecognized(platform::GestureRecognizer& recognizer);
    // The long press's work: the next tracking mode when authorised.
    void myLocationLongPressBegan();
    // The long press from the keyboard or a right click: its work, begun and ended at once.
    void myLocationAlternateActivated();
    // The tap's work: zoom to the user when authorised, wait for a decision
    // when undecided, lead to the settings when denied.
    void centerButtonPressed(QWidget* sender);
    // One poll of the authorisation while it is not determined (one chain at
    // a time, ended after 60 s); authorised presses the button again.
    void centerIfAuthorized();
    void askUserToAllowLocationAccessInSettings();
    void openLocationSettingsAfterInfoScreen();
    // The mode now, or its successor (0 → 1 → 2 → 0, anything else → 0) when
    // `toggle`; announced in the HUD when `shouldShowHUD`, stored, drawn on the
    // button, and returned.
    int64_t setKeepMapCentered(bool toggle, bool shouldShowHUD);
    // (Re)subscribes the following to the location service's fixes.
    void subscribeToLocationUpdatesForUserTracking();
    // Centres the map on the best known location, zooming so that its
    // accuracy circle fits (the span at least 200 m); retried once a second
    // while no location is known or its accuracy is worse than 50 m, for as
    // long as the zoom is wanted.
    void zoomInOnUserLocation();
    // Resumes following a stored mode 1 or 2: a zoom at once, the HUD and the
    // subscription 1 s later (a newer call replaces one still waiting).
    void resumeUserTrackingAfterRestore();
    // For the map delegate's region-will-change: the user moved the map, so
    // the zoom to the user's position (and its retries) is no longer wanted.
    void userMovedMap();
    // The following's subscription while the screen follows the user.
    const std::optional<location::LocationSubscription>& keepCenteredSubscription() const {
        return tracking_.keepCenteredSubscription.subscription;
    }

    // Restoration: the visible map rect, the style, the selected point and
    // the search text are written at save time and, after a launch, wait as
    // one pending restoration that is applied when the view has loaded (at
    // once when it has). Decoding may come before or after the view loads.
    void encodeRestorableState(platform::RestorationCoder& coder) override;
    void decodeRestorableState(const platform::RestorationCoder& coder) override;
    // Applies the pending restoration now, or leaves it pending until the
    // view has loaded.
    void restoreStateFromGlobals();
    bool isRestorationPending() const { return restoration_.restorationPending; }
    // The decoded values still waiting (map rect in map points).
    std::optional<platform::MKMapRect> restoredRect() const { return restoration_.restoredRect; }
    const std::optional<std::string>& restoredAnnotationID() const {
        return restoration_.restoredAnnotationID;
    }
    const std::optional<std::string>& restoredSearchString() const {
        return restoration_.restoredSearchString;
    }
    const std::optional<std::string>& restoredMapStyle() const { return restoration_.restoredMapStyle; }

    // ---- Button actions
    void buttonDown(QWidget* sender);
    void zoomInButtonPressed(QWidget* sender);
    void zoomOutButtonPressed(QWidget* sender);
    void searchLocationButtonPressed(QWidget* sender);
    // The search button's closing half: fades the open search field, its list and the spinner
    // out, then hides them and ends the search. Nothing while the field is hidden.
    void closeSearchField();
    // Drops a point at the map's centre, the long press's road there.
    void addLocationButtonPressed(QWidget* sender);

    // ---- shell::MapScreenActions (the toolbar and the About screen call these)
    void showMapStyleActionSheetFrom(QAction* anchor) override;
    void clearAllOSMCaches() override;
    // The toolbar's search field drives this screen's search: its text opens
    // the search here, and its arrow, Return and Escape keys move through
    // the one result list.
    void toolbarSearchTextEdited(const QString& text) override;
    bool toolbarSearchKeyPressed(int key) override;

    // ---- QuovaMKMapViewDelegate: the compass hooks (the status line's move
    // beside the compass comes with the map delegate's compass handling).
    void quovaMapViewDidAddCompassView(QuovaMKMapView& mapView, QWidget* compassView) override;
    void quovaMapViewWillRemoveCompassView(QuovaMKMapView& mapView, QWidget* compassView) override;

    // ---- platform::GestureRecognizerDelegate
    bool gestureRecognizerShouldBegin(platform::GestureRecognizer& recognizer) override;
    // True only for the my-location button's tap and long press, in either order.
    bool shouldRecognizeSimultaneously(platform::GestureRecognizer& recognizer,
                                       platform::GestureRecognizer& other) override;

    // ---- The map delegate: the views of the annotations and their callouts,
    // selection, dragging, the screens the callouts open, the overlays'
    // renderers, and what follows every change of the visible region (tile
    // debug text, scale bar, base layer redraw, zoom limit of tile styles).
    // The map calls these on the main thread.

    // The user's location: the user-location model's view with the settings
    // button on the left and the share button on the right of its callout.
    // Any other annotation: a reused or new draggable "MapPoint" pin with a
    // callout, tinted by the point's last tag (red without one), "Icon-Small"
    // on the left of its callout.
    std::shared_ptr<platform::MKAnnotationView> viewForAnnotation(
        platform::MKMapViewModel& mapView,
        const std::shared_ptr<platform::MKAnnotation>& annotation) override;
    // Redraws the user's circle, then refreshes the user's callout texts.
    void didUpdateUserLocation(platform::MKMapViewModel& mapView,
                               const std::shared_ptr<platform::MKUserLocation>& userLocation) override;
    // Only logged: the callout's buttons act through their own actions.
    void annotationViewCalloutAccessoryControlTapped(
        platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKAnnotationView>& view,
        const std::shared_ptr<platform::MKCalloutAccessoryView>& control) override;
    // Only the return to none after a drag that ended moves the point: its
    // new coordinate, no subtitle, its default title unless the user wrote
    // one, saved at once, its alarm circle along, then a reverse geocoding.
    // A cancelled drag changes nothing.
    void annotationViewDidChangeDragState(platform::MKMapViewModel& mapView,
                                          const std::shared_ptr<platform::MKAnnotationView>& view,
                                          platform::MKAnnotationViewDragState newState,
                                          platform::MKAnnotationViewDragState oldState) override;
    // A point's pin: the map zooms to the point and the one callout
    // recogniser moves onto the pin. The user's location: nothing.
    void didSelectAnnotationView(platform::MKMapViewModel& mapView,
                                 const std::shared_ptr<platform::MKAnnotationView>& view) override;
    // A point's pin loses the callout recogniser (which is kept); any other
    // view loses its ghost recognisers.
    void didDeselectAnnotationView(platform::MKMapViewModel& mapView,
                                   const std::shared_ptr<platform::MKAnnotationView>& view) override;
    // Alarm circles red and the user's circle blue, both at 25 %; a new tile
    // renderer for a tile overlay at every ask (the overlay links it).
    std::shared_ptr<platform::MKOverlayRenderer> rendererForOverlay(
        platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKOverlay>& overlay) override;
    // More than 0.05 s after the program last moved the map, the change is
    // the user's: the wish to zoom in on the user's location is dropped.
    void regionWillChangeAnimated(platform::MKMapViewModel& mapView, bool animated) override;
    void regionDidChangeAnimated(platform::MKMapViewModel& mapView, bool animated) override;
    // Chooses the scale table's entry for the map's scale along the bottom
    // container's top edge and sizes the scale bar for it.
    void updateScaleView(platform::MKMapViewModel& mapView);

    // The gear button of the user's callout (36 × 36, round, light grey at
    // half alpha); null when one of its images is missing. Not owned.
    QAbstractButton* makeUserLocationSettingsButton();
    // The user's callout buttons: the settings screen, and the share sheet of
    // the user's position (0.2 s later; nothing without a known position).
    void userLocationLeftCalloutButton(QWidget* sender);
    void userLocationRightCalloutButton(QWidget* sender);
    // The details screen of the last selected point (both do the same).
    void showDetailsForSelectedAnnotation();
    void mapPointDetailsDisclosureButton(QWidget* sender);
    void ghostTapRecognizerTapped();
    void didReceiveMemoryWarning() override;

    // The one recogniser moved from pin to pin; null before the first selection.
    const std::shared_ptr<platform::MKGestureRecognizer>& calloutTapRecognizer() const {
        return mapDelegate_.calloutTapRecognizer;
    }
    // Status label's right edge 10 points left of the compass; made the first
    // time the compass appears, then only switched on and off.
    const std::shared_ptr<platform::LayoutConstraint>& statusLabelCompassMargin() const {
        return mapDelegate_.statusLabelCompassMargin;
    }
    // A screen opened from the map: inside a navigation controller, full
    // screen on a phone (device type 0), else a form sheet half as wide and
    // two thirds as high as the map screen's view; presented animated.
    void presentInNavigationController(const std::shared_ptr<platform::ViewController>& screen,
                                       std::function<void()> completion);

    static constexpr double kCompassAnimationDuration = 0.6;  // seconds
    static constexpr double kStatusLabelCompassGap = -10.0;   // points
    static constexpr double kShareSheetDelay = 0.2;           // seconds
    static constexpr double kBaseLayerRedrawDelay = 0.3;      // seconds
    static constexpr double kZoomOutDelay = 0.1;              // seconds

  private:
    // Puts the screen's Tab stops in reading order.
    void orderTabStops();
    void buildButtons();
    void installToolbar();
    void logRetinaFixLevel();
    void setUpMapView();
    void styleCreditLabel();
    void setUpSearchController();
    void releaseButton(QWidget* sender);
    void reapplyInfoLayers();
    std::optional<std::string> mapTileStatus() const;
    void zoom(QWidget* sender, double factor, const char* logText);
    void showStatusLabel(const std::string& text);
    void hideStatusLabel();
    void finishUpdate(bool urlOpened, bool forced);
    void quitApplication();
    MainViewLayout::Input layoutInput() const;
    void applyLayout();
    // The credit line beside the scale bar (or above it when too narrow there), for its text.
    void placeCreditLabel();
    std::weak_ptr<MainViewController> weakSelf() {
        return std::static_pointer_cast<MainViewController>(shared_from_this());
    }

    Services services_;

    // Outlets
    QPointer<QuovaMKMapView> mapView_;
    QPointer<platform::Label> statusLabel_;
    QPointer<SideContainerView> sideContainer_;
    QPointer<widgets::hud::MultilineLabel> osmCreditLabel_;
    QPointer<platform::TextView> debugTextView_;
    QPointer<platform::TextField> searchBar_;
    QPointer<platform::TableView> searchTable_;
    QPointer<platform::ActivityIndicator> spinner_;
    std::array<QPointer<QWidget>, kMapButtonCount> buttons_;
    QPointer<SearchButton> searchButton_;
    QPointer<QuovaScaleView> scaleView_;
    QPointer<QWidget> bottomContainerView_;
    QPointer<QWidget> stackScaleContainer_;
    QPointer<QWidget> bottomScaleContainer_;

    // Constraints
    std::shared_ptr<platform::LayoutConstraint> searchBarHeight_;
    std::shared_ptr<platform::LayoutConstraint> searchBarWidth_;
    std::shared_ptr<platform::LayoutConstraint> searchBarLeftSpacing_;
    std::shared_ptr<platform::LayoutConstraint> searchBarTopSpacing_;
    std::shared_ptr<platform::LayoutConstraint> searchTableHeight_;
    std::shared_ptr<platform::LayoutConstraint> mapTrailingMargin_;
    std::shared_ptr<platform::LayoutConstraint> mapSidecontainerMargin_;
    std::shared_ptr<platform::LayoutConstraint> statusLabelTrailingMargin_;
    std::shared_ptr<platform::LayoutConstraint> scaleViewWidth_;
    std::shared_ptr<platform::LayoutConstraint> scaleViewHeight_;
    std::shared_ptr<platform::LayoutConstraint> scaleBottomSpacing_;
    std::shared_ptr<platform::LayoutConstraint> scaleViewCenterX_;
    // Which relation the two scale constraints stand for now.
    MainViewLayout::ScaleAnchor scaleAnchor_ = MainViewLayout::ScaleAnchor::none;

    // State
    bool showsScaleView_ = true;
    double scaleViewDesiredWidth_ = 220.0;
    std::unique_ptr<StylesAndLayers> stylesAndLayers_;
    std::shared_ptr<shell::MacToolbarDelegate> macToolbarDelegate_;
    std::shared_ptr<MapSearchController> searchController_;
    QPointer<platform::Toolbar> macToolbar_;
    QPointer<platform::HoverGestureRecognizer> hoverRecognizer_;
    std::optional<QPointF> lastMouseLocation_;
    double defaultAlpha_ = 1.0;
    double touchAlpha_ = 0.7;
    bool initializationDone_ = false;

    MainViewLayout layout_;
    bool layingOut_ = false;

    // Following the user's position, and restoring the screen at launch.
    void installMyLocationRecognizers();
    void restoreOrResumeAfterLoading();
    std::shared_ptr<location::QuovaLocationServices> locationServices() const;
    static bool trackingCallback(const std::weak_ptr<MainViewController>& weak,
                                 const platform::CLLocation& location,
                                 const std::optional<std::string>& guid);
    void scheduleUserZoomRetry();
    void applyRestoredState();
    // ---- Points on the map
    void installMapLongPress();
    void putStoredPointsOnMap();
    // The pins of many points at once, then their alarm circles.
    void addAnnotations(const std::vector<std::shared_ptr<points::QuovaMapPoint>>& points);
    void addHalo(const std::shared_ptr<points::QuovaMapPoint>& point);
    void observeMapPointChanges();
    void trackEvent(const std::string& name, const std::map<std::string, std::string>& properties);
    // Saves, stores, shows and zooms to a new point: the end of every road
    // that makes one. A point whose file is not written is neither stored
    // nor shown; an alert says so and the answer is false.
    bool storeAndShowNewPoint(const std::shared_ptr<points::QuovaMapPoint>& point);
    void selectPointOnMap(const std::shared_ptr<points::QuovaMapPoint>& point, bool animated);
    void reverseGeocode(const std::shared_ptr<points::QuovaMapPoint>& point, int attempt);
    void reverseGeocodingFinished(const std::shared_ptr<points::QuovaMapPoint>& point, int attempt,
                                  const std::optional<std::vector<platform::CLPlacemark>>& placemarks,
                                  const std::optional<platform::Error>& error);

    // The map delegate
    std::shared_ptr<platform::MKAnnotationView> viewForUserLocation(
        platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKUserLocation>& userLocation);
    QAbstractButton* makeUserLocationShareButton();
    void rememberDragOrigin(const std::shared_ptr<platform::MKAnnotationView>& view);
    void dropDraggedPoint(platform::MKMapViewModel& mapView,
                          const std::shared_ptr<platform::MKAnnotationView>& view);
    // "Location Not Saved": why the write was refused (points::writeFailureReason),
    // then `outcome` (localized), what the map shows now; one "OK".
    void presentLocationNotSaved(const platform::Error& error, const char* outcome);
    void moveHaloWithPoint(const std::shared_ptr<points::QuovaMapPoint>& point);
    void scheduleBaseLayerRedraw(const std::shared_ptr<tiles::QuovaTileOverlayRendering>& renderer);
    void runBaseLayerRedraw(const std::shared_ptr<tiles::QuovaTileOverlayRendering>& renderer);
    void limitZoom(QuovaMKMapView& mapView, int64_t zoomLevel, const tiles::QuovaTileOverlay& overlay);
    // Where the status label's right edge lies while it keeps beside the compass.
    std::optional<double> statusLabelRightEdgeBesideCompass() const;
    // The map's compass left of the button column, which lies over the map's right edge.
    void placeCompassBesideColumn();

    // The state of each concern (MainViewControllerState.hpp).
    MainViewStatusLine status_;
    MainViewTracking tracking_;
    MainViewRestoration restoration_;
    MainViewPoints points_;
    MainViewMapDelegate mapDelegate_;
};

// The map screen among the application's windows: the root controller of the
// first main window that has the map screen as its root, or null (before the
// window exists, for example). Main thread only.
std::shared_ptr<MainViewController> mainViewController();

}  // namespace tervolo::mapscreen
