#include "location/ui/UserLocationSettingsViewController.hpp"

#include <QLayout>

#include <filesystem>

#include "location/QuovaUserLocationAnnotation.hpp"
#include "location/RegionMapRect.hpp"
#include "location/ui/ActivityItemSourceAdapter.hpp"
#include "location/ui/UserLocationMapScreen.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/Pasteboard.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/ShareSheetController.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "platform/ui/TextView.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaUserDefaults.hpp"
#include "points/RadiusTables.hpp"
#include "widgets/hud/HUD.hpp"

namespace tervolo::location {

namespace {}  // namespace

UserLocationSettingsViewController::UserLocationSettingsViewController(std::optional<std::string> nibName) {
    // Whatever the map screen names, the screen is always "UserLocationSettingsView".
    (void)nibName;
}

UserLocationSettingsViewController::~UserLocationSettingsViewController() {
    // The map goes with the view after these members: it must not ask a
    // delegate that is half destroyed.
    if (map_) map_->setDelegate({});
}

std::weak_ptr<UserLocationSettingsViewController> UserLocationSettingsViewController::weakSelf() {
    const auto self = weak_from_this().lock();
    return std::static_pointer_cast<UserLocationSettingsViewController>(self);
}

std::function<void()> UserLocationSettingsViewController::guarded(
    std::function<void(UserLocationSettingsViewController&)> action) {
    return [weak = weakSelf(), action = std::move(action)] {
        if (const auto self = weak.lock()) action(*self);
    };
}

void UserLocationSettingsViewController::traceLine(const char* function, int line) const {
    QLLogInfo("{} in {}:{}", function, std::filesystem::path(__FILE__).filename().string(), line);
}

// ---------------------------------------------------------------------------
// Loading

void UserLocationSettingsViewController::viewDidLoad() {
    const auto& bundle = platform::Bundle::main();
    if (bubbleStyleButton_) bubbleStyleButton_->setTitle(bundle.localizedString("Bubble Style"));
    // The text areas are white whatever the desktop theme, with black text
    // so that they read in a dark theme too.
    for (platform::TextView* area : {titleView_.data(), subtitleView_.data()}) {
        if (!area) continue;
        QPalette palette = area->palette();
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Text, Qt::black);
        area->setPalette(palette);
    }

    // The stored coordinate format, told apart as the log lines need: an
    // integer in range, an integer out of range, or nothing usable.
    const auto stored = platform::UserDefaults::standard().object(kCoordinateFormatKey);
    const auto storedInteger = stored && stored->type() == platform::PropertyValue::Type::Integer
                                   ? stored->asInteger()
                                   : std::nullopt;
    if (storedInteger) {
        if (const auto format = geodesy::quovaCoordinateFormatFromRawValue(*storedInteger)) {
            coordinateFormat_ = *format;
            QLLogInfo("found coordinateFormat {} in Defaults", *storedInteger);
        } else {
            QLLogInfo("no valid coordinateFormat found in Defaults");
        }
    } else {
        QLLogInfo("no coordinateFormat value found in Defaults");
    }

    // An opaque bar with large titles in the palette's base and text colours: white and black in a
    // light theme; in a dark one the colours of the other sheets' bars, where a fixed black title
    // would be lightened to a grey that reads as disabled.
    if (auto* navigation = navigationController()) {
        auto& bar = navigation->navigationBar();
        const QPalette palette = view()->palette();
        platform::NavigationBar::Appearance appearance = bar.standardAppearance();
        appearance.backgroundColor = palette.color(QPalette::Base);
        appearance.titleTextAttributes.foregroundColor = palette.color(QPalette::WindowText);
        appearance.largeTitleTextAttributes.foregroundColor = palette.color(QPalette::WindowText);
        bar.setStandardAppearance(appearance);
        bar.setScrollEdgeAppearance(appearance);
        bar.setPrefersLargeTitles(true);
        auto attributes = bar.titleTextAttributes();
        attributes.foregroundColor = palette.color(QPalette::WindowText);
        bar.setTitleTextAttributes(attributes);
    }
    navigationItem().setTitle(bundle.localizedString("My Location"));
    // The bar carries no search field here.
    navigationItem().setRightBarButtonItem(std::make_shared<platform::BarButtonItem>(
        bundle.localizedString("Done"), platform::BarButtonItem::Style::done,
        guarded([](auto& self) { self.dismissView(); })));
    navigationItem().setLeftBarButtonItem(std::make_shared<platform::BarButtonItem>(
        redPinIcon(), platform::BarButtonItem::Style::done, guarded([](auto& self) { self.dropPin(); })));

    if (userLocation_) {
        const platform::CLLocationCoordinate2D coordinate = userLocation_->coordinate();
        if (platform::CLLocationCoordinate2DIsValid(coordinate)) showRegion(kDefaultRegionMetres, false);
        userLocationAnnotation_ = std::make_shared<QuovaUserLocationAnnotation>();
        userLocationAnnotation_->setCoordinate(coordinate);
        userLocationAnnotation_->setTitle(points::myPositionText());
        if (map_) {
            // The map keeps an invalid coordinate off itself; the annotation is
            // still made (it is what the share sheet shares).
            map_->addAnnotation(userLocationAnnotation_);
            map_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        }
        if (const auto radius = points::QuovaUserDefaults::shared().userLocationRadius()) {
            applyUserLocationRadius(*radius);
        }
    }

    if (coordinateLabel_) {
        updateCoordinateLabel();
        auto* recognizer =
            new platform::TapGestureRecognizer([weak = weakSelf()](platform::GestureRecognizer&) {
                if (const auto self = weak.lock()) self->coordinateLabelTapped();
            });
        platform::addGestureRecognizer(coordinateLabel_, recognizer);
        coordinateTapRecognizer_ = recognizer;
        if (copyCoordinatesButton_) {
            copyCoordinatesButton_->setText(QString::fromStdString(bundle.localizedString("Copy ...")));
            // Without a position there is no coordinate to copy: the label
            // then only says "(unknown)".
            copyCoordinatesButton_->setEnabled(userLocation_.has_value());
        }
    }

    if (titleView_ && userLocationAnnotation_) {
        if (const auto title = userLocationAnnotation_->mapPoint()->title()) {
            titleView_->setText(QString::fromStdString(*title));
            titleView_->setReturnKeyType(platform::ReturnKeyType::Done);
            titleView_->setAttribute(Qt::WA_TransparentForMouseEvents, true);
            titleView_->setFocusPolicy(Qt::NoFocus);
            titleView_->setReadOnly(true);
            QFont font = titleView_->font();
            font.setBold(true);
            font.setPointSizeF(36);
            titleView_->setFont(font);
        }
    }
}

void UserLocationSettingsViewController::viewWillAppear(bool animated) {
    (void)animated;
    traceLine(__func__, __LINE__);
    setHeightConstraint(titleView_);
    setHeightConstraint(subtitleView_);
}

void UserLocationSettingsViewController::viewDidAppear(bool animated) {
    (void)animated;
    // Loading set the region before the sheet had its size; the map keeps
    // its centre and scale through a resize, which could cut the circle off.
    if (auto* root = viewIfLoaded(); root && root->layout()) root->layout()->activate();
    if (regionMetres_) showRegion(*regionMetres_, false);
}

void UserLocationSettingsViewController::traitCollectionDidChange(const platform::TraitCollection& previous) {
    (void)previous;
    traceLine(__func__, __LINE__);
    setHeightConstraint(titleView_);
    setHeightConstraint(subtitleView_);
}

// ---------------------------------------------------------------------------
// Coordinate text and copy

void UserLocationSettingsViewController::updateCoordinateLabel() {
    if (!coordinateLabel_) return;
    const std::string text = userLocation_ ? geodesy::quovaCoordinateDescriptionWithFormat(
                                                 userLocation_->coordinate(), coordinateFormat_)
                                           : platform::localizedString("(unknown)");
    coordinateLabel_->setText(QString::fromStdString(text));
}

void UserLocationSettingsViewController::coordinateLabelTapped() {
    traceLine(__func__, __LINE__);
    using Format = geodesy::QuovaCoordinateFormat;
    switch (coordinateFormat_) {
        case Format::decimal:
            coordinateFormat_ = Format::decimalWithHemisphere;
            break;
        case Format::decimalWithHemisphere:
            coordinateFormat_ = Format::sexagesimal;
            break;
        case Format::sexagesimal:
            coordinateFormat_ = Format::utm;
            break;
        case Format::utm:
            coordinateFormat_ = Format::mgrs;
            break;
        case Format::mgrs:
            coordinateFormat_ = Format::decimal;
            break;
        default:
            coordinateFormat_ = Format::decimalWithHemisphere;
            break;
    }
    updateCoordinateLabel();
    geodesy::storeCoordinateFormat(coordinateFormat_);
}

void UserLocationSettingsViewController::copyCoordinatesButton(QPushButton* sender) {
    (void)sender;
    QLLogInfo("copyCoordinatesButton tapped");
    // Without a position the label's "(unknown)" is no coordinate: copying it
    // and confirming "Copied!" would report a failure as success.
    if (!userLocation_ || !coordinateLabel_) return;
    const std::string text = coordinateLabel_->text().toStdString();
    if (text.empty()) return;
    platform::Pasteboard::general().setString(text);
    widgets::hud::HUD::flash(
        widgets::hud::HUDContentType::labeledSuccess(
            platform::localizedString("Copied!"),
            platform::localizedString("Coordinates can now be pasted into any application.")),
        nullptr, kCopiedFlashSeconds);
}

// ---------------------------------------------------------------------------
// Title and subtitle areas

bool UserLocationSettingsViewController::titleIsEditable() const {
    return titleView_ && !titleView_->isReadOnly() && titleView_->isEnabled() && titleHeight_ &&
           titleHeight_->constant() > 0;
}

void UserLocationSettingsViewController::setDoneAndShareEnabled(bool enabled) {
    // "Done" is never left off while the title cannot be typed into: the user
    // could not switch it back on.
    if (!enabled && !titleIsEditable()) enabled = true;
    if (const auto done = navigationItem().rightBarButtonItem()) done->setEnabled(enabled);
    if (toolbarShareButton_) toolbarShareButton_->setEnabled(enabled);
}

bool UserLocationSettingsViewController::textViewShouldChangeText(platform::TextView& textView,
                                                                  const platform::TextReplacement& change) {
    if (change.text == QStringLiteral("\n")) {
        textView.clearFocus();
        return false;
    }
    return true;
}

void UserLocationSettingsViewController::textViewDidBeginEditing(platform::TextView& textView) {
    if (&textView == titleView_) {
        if (clearTitleButton_) clearTitleButton_->show();
    } else if (&textView == subtitleView_) {
        if (clearSubtitleButton_) clearSubtitleButton_->show();
    } else {
        QLLogInfo("Editing in unknown textView, nothing to do.");
    }
}

void UserLocationSettingsViewController::textViewDidEndEditing(platform::TextView& textView) {
    if (&textView == titleView_) {
        if (clearTitleButton_) clearTitleButton_->hide();
    } else if (&textView == subtitleView_) {
        if (clearSubtitleButton_) clearSubtitleButton_->hide();
    } else {
        QLLogInfo("Editing ended in unknown textView, nothing to do.");
    }
}

void UserLocationSettingsViewController::textViewDidChange(platform::TextView& textView) {
    setHeightConstraint(&textView);
    if (&textView != titleView_) return;
    const std::string text = textView.text().toStdString();
    if (userLocationAnnotation_) userLocationAnnotation_->setTitle(text);
    setDoneAndShareEnabled(!text.empty());
}

void UserLocationSettingsViewController::clearTitleButton(QPushButton* sender) {
    QLLogInfo("clearTitleButton(sender:)");
    if (titleView_) titleView_->setText(QString());
    if (sender) sender->hide();
    setDoneAndShareEnabled(false);
}

void UserLocationSettingsViewController::clearSubtitleButton(QPushButton* sender) {
    QLLogInfo("clearSubtitleButton(sender:)");
    if (subtitleView_) subtitleView_->setText(QString());
    if (sender) sender->hide();
}

void UserLocationSettingsViewController::setHeightConstraint(platform::TextView* textView) {
    if (subtitleHeight_) subtitleHeight_->setConstant(0);
    if (!navigationItem().title().empty()) {
        if (titleHeight_) titleHeight_->setConstant(0);
    } else if (textView) {
        const double width = viewIfLoaded() ? viewIfLoaded()->width() : textView->width();
        const double height = textView->heightThatFits(width);
        if (textView == titleView_) {
            if (titleHeight_) titleHeight_->setConstant(height);
            QLLogInfo("Setting title height constraint to {}.", platform::text::describe(height));
        } else {
            QLLogInfo("Can't set height constraint for unknown view.");
        }
    }
    layoutParts();
    if (auto* root = viewIfLoaded()) root->update();
}

// ---------------------------------------------------------------------------
// Share, bubble style, circle renderer, Done and the pin

std::shared_ptr<platform::ViewController> UserLocationSettingsViewController::shareActivityController(
    const Sender& sender) {
    if (!userLocationAnnotation_) return nullptr;
    if (std::holds_alternative<std::monostate>(sender)) return nullptr;
    if (const auto* widget = std::get_if<QWidget*>(&sender); widget && !*widget) return nullptr;
    const auto* item = std::get_if<std::shared_ptr<platform::BarButtonItem>>(&sender);
    if (item && !*item) return nullptr;

    auto sheet = std::make_shared<platform::ShareSheetController>(
        ActivityItemSourceAdapter::makeForUserLocation(userLocationAnnotation_));
    sheet->setModalPresentationStyle(platform::ModalPresentationStyle::popover);
    auto* popover = sheet->popoverPresentationController();
    if (item) {
        popover->setBarButtonItem(*item);
    } else {
        // The whole widget: the popover's rect is in the widget's own coordinates.
        QWidget* widget = std::get<QWidget*>(sender);
        popover->setSourceView(widget);
        popover->setSourceRect(QRectF(widget->rect()));
    }
    return sheet;
}

void UserLocationSettingsViewController::shareButton(const Sender& sender) {
    QLLogInfo("shareButton tapped");
    if (auto sheet = shareActivityController(sender)) present(std::move(sheet), true);
}

void UserLocationSettingsViewController::bubbleLayoutButton(
    const std::shared_ptr<platform::BarButtonItem>& sender) {
    QLLogInfo("bubbleLayoutButton tapped");
    const bool extended =
        platform::UserDefaults::standard().boolValue(kUseExtendedUserLocationDisplayKey).value_or(false);
    std::string traditional = platform::localizedString("Traditional Style");
    std::string extendedTitle = platform::localizedString("Extended Style");
    (extended ? extendedTitle : traditional) += points::kCurrentChoiceMark;

    auto sheet =
        platform::AlertController::make(platform::localizedString("Bubble Style"),
                                        platform::localizedString("Please Select Style For Location Bubble."),
                                        platform::AlertController::Style::actionSheet);
    sheet->setModalPresentationStyle(platform::ModalPresentationStyle::popover);
    if (sender) sheet->popoverPresentationController()->setBarButtonItem(sender);
    const auto choose = [this](bool useExtended) {
        return guarded([useExtended](auto& self) {
            QLLogInfo(useExtended ? "extended style selected" : "classic style selected");
            platform::UserDefaults::standard().set(kUseExtendedUserLocationDisplayKey,
                                                   platform::PropertyValue(useExtended));
            self.refreshMainMapUserLocation();
        });
    };
    sheet->addAction(
        platform::AlertAction::make(traditional, platform::AlertAction::Style::defaultValue, choose(false)));
    sheet->addAction(
        platform::AlertAction::make(extendedTitle, platform::AlertAction::Style::defaultValue, choose(true)));
    sheet->addAction(platform::AlertAction::make(platform::localizedString("Cancel"),
                                                 platform::AlertAction::Style::cancel,
                                                 [] { QLLogInfo("Cancel button"); }));
    present(sheet, true, [] { QLLogInfo("display action sheet animation completed"); });
}

void UserLocationSettingsViewController::refreshMainMapUserLocation() {
    const auto screen = mainVC();
    auto* mapView = screen ? screen->mapView() : nullptr;
    if (!mapView) return;
    for (const auto& annotation : mapView->selectedAnnotations()) mapView->deselectAnnotation(annotation);
    mapView->setShowsUserLocation(false);
    // Shown again a moment later, so the map makes the user's view anew in
    // the chosen style; the map screen and its map are looked up again then.
    platform::DispatchQueue::main()->asyncAfter(kUserLocationReshowDelay, [weakScreen = mainVC_] {
        const auto later = weakScreen.lock();
        if (auto* map = later ? later->mapView() : nullptr) {
            map->setShowsUserLocation(true);
        }
    });
}

std::shared_ptr<platform::MKOverlayRenderer> UserLocationSettingsViewController::rendererForOverlay(
    platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKOverlay>& overlay) {
    (void)mapView;
    if (auto circle = std::dynamic_pointer_cast<platform::MKCircle>(overlay)) {
        auto renderer = std::make_shared<platform::MKCircleRenderer>(std::move(circle));
        // The platform's system blue at a quarter opacity; no outline.
        renderer->setFillColor(platform::Color(0, 122.0 / 255, 1, 0.25));
        return renderer;
    }
    QLLogInfo("unknown kind of overlay - nothing to do");
    return std::make_shared<platform::MKOverlayRenderer>(overlay);
}

void UserLocationSettingsViewController::dismissView() {
    if (auto* navigation = navigationController()) {
        navigation->dismiss(true, [] { QLLogInfo("UserLocationSettingsViewController dismissed"); });
    }
}

void UserLocationSettingsViewController::dropPin() {
    QLLogInfo("dropPin tapped");
    const auto screen = mainVC();
    if (userLocation_ && screen) {
        std::optional<std::string> title;
        if (titleView_) title = titleView_->text().toStdString();
        screen->dropPinAtLocation(userLocation_->coordinate(), std::move(title));
    }
    dismissView();
}

}  // namespace tervolo::location
