#pragma once

#include <QIcon>
#include <QPointer>
#include <QPushButton>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "geodesy/QuovaCoordinateFormat.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/LayoutConstraint.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "platform/ui/TextView.hpp"
#include "platform/ui/TextViewDelegate.hpp"
#include "platform/ui/Toolbar.hpp"
#include "platform/ui/ViewController.hpp"

namespace platform {
class MKCircle;
class Label;
class MKMapView;
class TapGestureRecognizer;
class TextView;
class Toolbar;
}  // namespace platform

namespace tervolo::location {

class QuovaUserLocationAnnotation;
class UserLocationMapScreen;

// The "My Location" sheet: the user's own position as coordinate text in the
// chosen coordinate format (a click on the text cycles the format and stores
// it under "coordinateFormat"), a copy button, a small map of its own with
// the position and the user's circle, a bottom toolbar (share, bubble style,
// circle radius), "Done" and a pin button that drops a stored point at the
// position. The map screen makes it, sets userLocation and mainVC, wraps it
// in a navigation controller and presents that.
//
// It keeps nothing of its own beyond its time on screen: the coordinate
// format, the radius ("userLocationRadius", metres, 0 for no circle) and the
// bubble style ("useExtendedUserLocationDisplay") live in the user defaults.
//
// The view "UserLocationSettingsView" is built in code: the title and
// subtitle areas (collapsed to no height while the bar shows the screen's
// title), the coordinate row, the small map filling the middle and the bottom
// toolbar. Main thread only; sizes in points.
class UserLocationSettingsViewController : public platform::ViewController,
                                           public platform::TextViewDelegate,
                                           public platform::MKMapViewDelegate {
  public:
    static constexpr const char* kViewName = "UserLocationSettingsView";
    static constexpr const char* kCoordinateFormatKey = geodesy::kCoordinateFormatDefaultsKey;
    static constexpr const char* kUseExtendedUserLocationDisplayKey = "useExtendedUserLocationDisplay";
    // Metres each way of the small map's region around the position without a circle.
    static constexpr double kDefaultRegionMetres = 5000;
    // Seconds: the copy confirmation's stay, the main map's user-location
    // refresh after a bubble-style choice, the custom entry's return after Retry.
    static constexpr double kCopiedFlashSeconds = 1.6;
    static constexpr double kUserLocationReshowDelay = 0.3;
    static constexpr double kCustomRadiusRetryDelay = 0.3;

    // What a share request came from: a bar button item (the sheet anchors
    // at it), a widget (the sheet anchors at its bounds), or anything else
    // (no sheet).
    using Sender = std::variant<std::monostate, std::shared_ptr<platform::BarButtonItem>, QWidget*>;

    // The interface name is ignored: the screen always builds
    // "UserLocationSettingsView". Starts in coordinate format 2 (decimal
    // degrees with hemisphere letters), without location or map screen.
    explicit UserLocationSettingsViewController(std::optional<std::string> nibName = std::nullopt);
    ~UserLocationSettingsViewController() override;

    // --- set by the map screen before the screen loads --------------------
    std::shared_ptr<UserLocationMapScreen> mainVC() const { return mainVC_.lock(); }
    void setMainVC(std::weak_ptr<UserLocationMapScreen> screen) { mainVC_ = std::move(screen); }
    const std::optional<platform::CLLocation>& userLocation() const { return userLocation_; }
    void setUserLocation(std::optional<platform::CLLocation> location) {
        userLocation_ = std::move(location);
    }
    // Made by loading (or by the map screen for its share road).
    const std::shared_ptr<QuovaUserLocationAnnotation>& userLocationAnnotation() const {
        return userLocationAnnotation_;
    }
    void setUserLocationAnnotation(std::shared_ptr<QuovaUserLocationAnnotation> annotation) {
        userLocationAnnotation_ = std::move(annotation);
    }

    // --- state and parts (null until the view is loaded) ------------------
    // The circle on the small map, none without a radius.
    const std::shared_ptr<platform::MKCircle>& halo() const { return halo_; }
    geodesy::QuovaCoordinateFormat coordinateFormat() const { return coordinateFormat_; }
    platform::TextView* titleView() const { return titleView_.data(); }
    platform::TextView* subtitleView() const { return subtitleView_.data(); }
    platform::Label* coordinateLabel() const { return coordinateLabel_.data(); }
    QPushButton* copyCoordinatesButton() const { return copyCoordinatesButton_.data(); }
    platform::MKMapView* map() const { return map_.data(); }
    platform::Toolbar* toolbar() const { return toolbar_.data(); }
    const std::shared_ptr<platform::BarButtonItem>& toolbarShareButton() const { return toolbarShareButton_; }
    const std::shared_ptr<platform::BarButtonItem>& bubbleStyleButton() const { return bubbleStyleButton_; }
    const std::shared_ptr<platform::BarButtonItem>& radiusBarButton() const { return radiusBarButton_; }
    const std::shared_ptr<platform::LayoutConstraint>& titleHeight() const { return titleHeight_; }
    const std::shared_ptr<platform::LayoutConstraint>& subtitleHeight() const { return subtitleHeight_; }
    QPushButton* clearTitleButton() const { return clearTitleButton_.data(); }
    QPushButton* clearSubtitleButton() const { return clearSubtitleButton_.data(); }
    platform::TapGestureRecognizer* coordinateTapRecognizer() const {
        return coordinateTapRecognizer_.data();
    }

    // --- lifecycle --------------------------------------------------------
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    // Fits the small map's region again now that the map has its size on screen.
    void viewDidAppear(bool animated) override;
    void traitCollectionDidChange(const platform::TraitCollection& previous) override;

    // --- actions ------------------------------------------------------------
    // Cycles 1 → 2 → 3 → 4 → 5 → 1, refreshes the text and stores the choice.
    void coordinateLabelTapped();
    // The position in the current format, or "(unknown)" without one.
    void updateCoordinateLabel();
    void clearTitleButton(QPushButton* sender);
    void clearSubtitleButton(QPushButton* sender);
    // Collapses the subtitle area, and the title area while the bar has a
    // title (always after loading); otherwise fits the title area to its text.
    void setHeightConstraint(platform::TextView* textView);
    // Copies the coordinate text and flashes "Copied!"; nothing without a
    // known position (there is no coordinate to copy then).
    void copyCoordinatesButton(QPushButton* sender);
    void shareButton(const Sender& sender);
    // The share sheet of the position, anchored at the sender, not yet
    // presented; none without an annotation or for a sender that is neither
    // a bar button item nor a widget.
    std::shared_ptr<platform::ViewController> shareActivityController(const Sender& sender);
    // The bubble-style sheet: traditional or extended callout of the main
    // map's user location.
    void bubbleLayoutButton(const std::shared_ptr<platform::BarButtonItem>& sender);
    void dismissView();
    void dropPin();

    // --- the circle radius ------------------------------------------------
    // The sheet of radii for the current locale, anchored at the sender.
    void radiusButton(const std::shared_ptr<platform::BarButtonItem>& sender);
    // Stores `radius` (metres), asks the main map to redraw its circle and
    // draws the circle on the small map, zoomed to 3 × radius around the
    // position (5000 m without a circle). Nothing for none.
    void applyUserLocationRadius(std::optional<double> radius);
    void promptForCustomRadius();
    void showIllegalRadiusValueUI();
    // "You may submit a custom radius around your location, measured in
    // meters." (or "yards." where the locale is not metric), localized.
    std::string customRadiusMessage() const;

    // --- text areas and the small map ---------------------------------------
    bool textViewShouldChangeText(platform::TextView& textView,
                                  const platform::TextReplacement& change) override;
    void textViewDidBeginEditing(platform::TextView& textView) override;
    void textViewDidEndEditing(platform::TextView& textView) override;
    void textViewDidChange(platform::TextView& textView) override;
    // System blue at 25 % for a circle; a renderer that draws nothing otherwise.
    std::shared_ptr<platform::MKOverlayRenderer> rendererForOverlay(
        platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKOverlay>& overlay) override;

  private:
    // The pin bar button's image ("red_pin.png"), sharp at any pixel ratio.
    static QIcon redPinIcon();
    // The toolbar's share item sends itself.
    void shareFromBar(const std::shared_ptr<platform::BarButtonItem>& sender) { shareButton(sender); }
    // The layout of the parts from the constraints' values.
    void layoutParts();
    void setDoneAndShareEnabled(bool enabled);
    // Whether the user can type into the title area (it has height and takes input).
    bool titleIsEditable() const;
    void showRegion(double metres, bool animated);
    void refreshMainMapUserLocation();
    void traceLine(const char* function, int line) const;
    // `action` on this controller while it exists: bar items, sheets and
    // queued blocks may outlive the screen.
    std::function<void()> guarded(std::function<void(UserLocationSettingsViewController&)> action);
    std::weak_ptr<UserLocationSettingsViewController> weakSelf();

    std::weak_ptr<UserLocationMapScreen> mainVC_;
    std::optional<platform::CLLocation> userLocation_;
    std::shared_ptr<QuovaUserLocationAnnotation> userLocationAnnotation_;
    std::shared_ptr<platform::MKCircle> halo_;
    QPointer<platform::TextView> titleView_;
    QPointer<platform::TextView> subtitleView_;
    QPointer<platform::Label> coordinateLabel_;
    QPointer<QPushButton> copyCoordinatesButton_;
    QPointer<platform::MKMapView> map_;
    QPointer<platform::Toolbar> toolbar_;
    std::shared_ptr<platform::BarButtonItem> toolbarShareButton_;
    std::shared_ptr<platform::BarButtonItem> bubbleStyleButton_;
    std::shared_ptr<platform::BarButtonItem> radiusBarButton_;
    std::shared_ptr<platform::LayoutConstraint> titleHeight_;
    std::shared_ptr<platform::LayoutConstraint> subtitleHeight_;
    QPointer<QPushButton> clearTitleButton_;
    QPointer<QPushButton> clearSubtitleButton_;
    QPointer<platform::TapGestureRecognizer> coordinateTapRecognizer_;
    geodesy::QuovaCoordinateFormat coordinateFormat_ = geodesy::QuovaCoordinateFormat::decimalWithHemisphere;
    std::vector<std::unique_ptr<platform::NavigationObservers::Token>> barItemTokens_;
    // Metres of the region the small map was last asked to show.
    std::optional<double> regionMetres_;
};

}  // namespace tervolo::location
