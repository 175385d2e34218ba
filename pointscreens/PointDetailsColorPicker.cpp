// The point details screen's recolouring of a tag: a chip tap opens a colour
// picker in a popup; "Save" stores the colour in the tag, recolours its chips
// and draws the pins of the points carrying it again.
#include <QApplication>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPalette>
#include <QStyle>

#include <algorithm>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/text/Unicode.hpp"
#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "points/QuovaStringRepresentation.hpp"
#include "pointscreens/PointDetailsContent.hpp"
#include "pointscreens/PointDetailsViewController.hpp"
#include "pointscreens/WriteFailureAlert.hpp"
#include "widgets/popup/PopupNavigationBar.hpp"
#include "widgets/popup/PopupViewControllerExtension.hpp"

namespace tervolo::pointscreens {

using platform::localizedString;

namespace {

QColor qColorOf(const platform::Color& color) {
    const auto rgba = color.convertedToSRGB().components();
    return QColor::fromRgbF(static_cast<float>(std::clamp(rgba.red, 0.0, 1.0)),
                            static_cast<float>(std::clamp(rgba.green, 0.0, 1.0)),
                            static_cast<float>(std::clamp(rgba.blue, 0.0, 1.0)),
                            static_cast<float>(std::clamp(rgba.alpha, 0.0, 1.0)));
}

// Eight hex digits, alpha last: each sRGB component x 255, truncated.
std::optional<std::string> hexWithAlpha(const QColor& color) {
    if (!color.isValid()) return std::nullopt;
    const QColor rgb = color.toRgb();
    return points::quovaHexStringRepresentation(
        platform::Color(rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()), true);
}

// "Helvetica light" at 16 points, the system font at 16 where it is missing.
QFont popupBarFont() {
    QFont font;
    if (QFontDatabase::families().contains(QStringLiteral("Helvetica")) &&
        QFontDatabase::styles(QStringLiteral("Helvetica")).contains(QStringLiteral("Light"))) {
        font = QFontDatabase::font(QStringLiteral("Helvetica"), QStringLiteral("Light"), 16);
    } else {
        font = QApplication::font();
    }
    font.setPixelSize(16);  // points are device-independent pixels here
    return font;
}

bool carriesTag(const points::QuovaMapPoint& point, const std::string& uuid) {
    if (!point.tags()) return false;
    const std::string wanted = platform::text::lowercased(uuid);
    return std::any_of(point.tags()->begin(), point.tags()->end(), [&](const std::string& identifier) {
        return identifier == uuid || platform::text::lowercased(identifier) == wanted;
    });
}

}  // namespace

// The picker's calls, passed to the screen while it lives.
class PointDetailsViewController::ColorPickerEvents : public platform::ColorPickerViewControllerDelegate {
  public:
    ColorPickerEvents(PointDetailsViewController* screen, std::weak_ptr<int> alive)
        : screen_(screen), alive_(std::move(alive)) {}
    void colorPickerViewControllerDidSelectColor(platform::ColorPickerViewController& picker) override {
        if (alive_.lock()) screen_->colorPickerViewControllerDidSelectColor(picker);
    }
    void colorPickerViewControllerDidFinish(platform::ColorPickerViewController& picker) override {
        if (alive_.lock()) screen_->colorPickerViewControllerDidFinish(picker);
    }

  private:
    PointDetailsViewController* screen_;
    std::weak_ptr<int> alive_;
};

void PointDetailsViewController::tagPressed(const QString& title, widgets::taglist::TagView* tagView,
                                            widgets::taglist::TagFlowView* sender) {
    (void)tagView;
    QLLogDebug("Tag pressed: " + logging::debugQuoted(title.toStdString()) + ", " +
               (sender ? sender->objectName().toStdString() : std::string("(null)")));
    if (auto tag = points::QuovaPointTagStore::shared().tagWithTitle(title.toStdString()))
        showColorPicker(tag);
}

void PointDetailsViewController::showColorPicker(const std::shared_ptr<points::QuovaPointTag>& tag) {
    if (!tag) return;
    if (!colorPickerEvents_) colorPickerEvents_ = std::make_shared<ColorPickerEvents>(this, lifetime_);
    auto picker = std::make_shared<platform::ColorPickerViewController>();
    picker->setDelegate(colorPickerEvents_);
    if (const auto color = tagColorFromString(tag->colorString())) picker->setSelectedColor(qColorOf(*color));

    // Every popup bar made from now on looks so, this one included.
    auto& look = widgets::popup::PopupNavigationBar::appearance();
    look.barStyle = 0;
    look.titleTextAttributes.font = popupBarFont();
    // Black on the light bar; on a dark desktop theme the bar is dark and
    // black would not read, so the theme's text colour instead.
    const QPalette palette = QApplication::palette();
    look.titleTextAttributes.foregroundColor = palette.color(QPalette::Window).lightness() >= 128
                                                   ? QColor(Qt::black)
                                                   : palette.color(QPalette::WindowText);
    look.barButtonItemFont = popupBarFont();

    auto popup = QuovaPopupController::make(picker);
    popup->setStyle(widgets::popup::PopupStyle::formSheet);
    popup->setQuovaConcernedTag(tag);

    // The picker's own size: the size its fields take (the spectrum, the hue to alpha fields, HTML) as
    // the font lays them out. A phone's nine tenths of the screen would leave wide empty bands around
    // them in a desktop window, and cut them off in a small one. Never more than the window holds:
    // there the fields scroll.
    QSize natural = picker->view()->sizeHint();
    if (QColorDialog* dialog = picker->colorDialog())
        natural = dialog->sizeHint().expandedTo(dialog->minimumSizeHint());
    // What the popup covers (the window's content, below its toolbar), less the popup's bar above the
    // content and a margin on either side.
    QSize window = view()->window() != nullptr ? view()->window()->size() : view()->size();
    if (auto* main = qobject_cast<platform::MainWindow*>(view()->window()); main && main->contentView())
        window = main->contentView()->size();
    const int margin = QFontMetrics(view()->font()).height() / 2;
    const QSize room(window.width() - 2 * margin,
                     window.height() - platform::NavigationBar::kDefaultHeight - 2 * margin);
    // Held to a shorter room the fields scroll up and down: the scroll bar's width comes on top.
    if (natural.height() > room.height())
        natural.rwidth() += view()->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view());
    const QSizeF fitted(std::max(1, std::min(natural.width(), room.width())),
                        std::max(1, std::min(natural.height(), room.height())));
    // The same in either orientation: the fields do not turn with the window.
    widgets::popup::setContentSizeInPopup(*picker, fitted);
    widgets::popup::setLandscapeContentSizeInPopup(*picker, fitted);

    picker->setTitle("#" + tag->title());
    picker->navigationItem().setRightBarButtonItem(std::make_shared<platform::BarButtonItem>(
        localizedString("Save"), platform::BarButtonItem::Style::plain,
        [this, alive = std::weak_ptr<int>(lifetime_)] {
            if (alive.lock()) colorPickerDidTapOK();
        }));

    // No blur behind a desktop popup: a dark translucent cover instead; a
    // click on it closes the picker without applying anything.
    auto* cover = new QWidget();
    cover->setObjectName(QStringLiteral("colorPickerBackground"));
    cover->setAttribute(Qt::WA_StyledBackground, true);
    cover->setStyleSheet(QStringLiteral("QWidget#colorPickerBackground { background: rgba(0, 0, 0, 140); }"));
    popup->setBackgroundView(cover);
    if (QWidget* background = popup->backgroundView()) {
        auto* tap = new platform::TapGestureRecognizer(
            [this, alive = std::weak_ptr<int>(lifetime_)](platform::GestureRecognizer&) {
                if (alive.lock()) backgroundViewDidTap();
            });
        tap->setObjectName(QStringLiteral("backgroundTap"));
        platform::addGestureRecognizer(background, tap);
    }

    popup->present(*this);
    colorPickerPopupController_ = popup;
}

void PointDetailsViewController::colorPickerViewControllerDidSelectColor(
    platform::ColorPickerViewController& picker) {
    const QColor color = picker.selectedColor();
    if (const auto hex = hexWithAlpha(color)) {
        QLLogDebug("colorPicker did select color #" + *hex);
    } else {
        QLLogDebug("colorPicker did select color " + color.name(QColor::HexArgb).toStdString());
    }
    lastColorPickerColor_ = color;
}

void PointDetailsViewController::colorPickerDidTapOK() {
    QLLogDebug("colorPickerDidTapOK");
    auto popup = colorPickerPopupController_;
    if (!popup) return;
    // Taken before the dismissal: the picker's finish clears both fields.
    const auto color = lastColorPickerColor_;
    const auto tag = popup->quovaConcernedTag();
    popup->dismiss();
    if (tag && color) {
        const auto colorString = tag->colorString();
        const auto savedAt = tag->lastSavedAt();
        const auto savedBy = tag->lastSavedByAppVersion();
        tag->setColorString(hexWithAlpha(*color));
        if (auto error = tag->save()) {
            // The file keeps the old colour, so chips and pins keep it too.
            tag->setColorString(colorString);
            tag->setLastSavedAt(savedAt);
            tag->setLastSavedByAppVersion(savedBy);
            colorPickerPopupController_.reset();
            lastColorPickerColor_.reset();
            presentWriteFailure(*this, "Tag Colour Not Saved", *error, "The tag keeps its colour.",
                                points::RecordKind::tag);
            return;
        }
        if (tagFlowView_) {
            for (auto* chip : tagFlowView_->allTags()) {
                if (chip->title().toStdString() != tag->title()) continue;
                chip->setTagBackgroundColor(*color);
                chip->setHighlightedBackgroundColor(*color);
                chip->setSelectedBackgroundColor(*color);
            }
        }
        if (auto mainVC = mainVC_.lock()) {
            for (const auto& point : points::QuovaMapPointStore::shared().allPoints()) {
                if (!point || !carriesTag(*point, tag->uuid()) || point->deletedAt() || point->hiddenAt())
                    continue;
                auto* mainMap = mainVC->mainMapView();
                if (!mainMap) break;
                if (auto halo = mainVC->haloForPoint(point)) mainMap->removeOverlay(halo);
                mainMap->removeAnnotation(mapscreen::QuovaMapPointAnnotation::forPoint(point));
                mainVC->addAnnotation(point);
            }
        }
    }
    colorPickerPopupController_.reset();
    lastColorPickerColor_.reset();
}

void PointDetailsViewController::backgroundViewDidTap() {
    QLLogDebug("backgroundViewDidTap");
    if (auto popup = colorPickerPopupController_) popup->dismiss();
    colorPickerPopupController_.reset();
    lastColorPickerColor_.reset();
}

void PointDetailsViewController::colorPickerViewControllerDidFinish(
    platform::ColorPickerViewController& picker) {
    (void)picker;
    QLLogDebug("colorPickerViewControllerDidFinish");
    colorPickerPopupController_.reset();
    lastColorPickerColor_.reset();
}

}  // namespace tervolo::pointscreens
