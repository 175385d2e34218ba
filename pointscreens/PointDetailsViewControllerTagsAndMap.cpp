// What the details screen shows of the point besides its texts: the small
// map with its alarm circle, the tag chips and their states, and the data
// source's row.

#include "pointscreens/PointDetailsViewController.hpp"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/mapkit/MKOverlayRenderer.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PointDetailsContent.hpp"

// The logos of the data sources, compiled into this library.
static void initPointScreensImages() {
    static const bool done = [] {
        Q_INIT_RESOURCE(PointScreensImages);
        return true;
    }();
    (void)done;
}

namespace tervolo::pointscreens {

using platform::localizedString;

namespace {

// The platform's system red (#FF3B30): the chips' default and the circle's fill.
const QColor kSystemRed(255, 59, 48);

QColor toQColor(const platform::Color& color) {
    const auto rgba = color.convertedToSRGB().components();
    return QColor::fromRgbF(static_cast<float>(std::clamp(rgba.red, 0.0, 1.0)),
                            static_cast<float>(std::clamp(rgba.green, 0.0, 1.0)),
                            static_cast<float>(std::clamp(rgba.blue, 0.0, 1.0)),
                            static_cast<float>(std::clamp(rgba.alpha, 0.0, 1.0)));
}

}  // namespace

void PointDetailsViewController::loadMap() {
    if (!point_ || !map_) return;
    map_->setDelegate(std::weak_ptr<platform::MKMapViewDelegate>(
        std::dynamic_pointer_cast<PointDetailsViewController>(shared_from_this())));
    const auto coordinate = point_->coordinate();
    if (platform::CLLocationCoordinate2DIsValid(coordinate)) {
        map_->setVisibleMapRect(mapRectForRegion(coordinate, 5000), false);
    }
    const std::string title = point_->title().value_or("");
    map_->addAnnotation(std::make_shared<platform::MKPointAnnotation>(coordinate, title));
    map_->setEnabled(true);
    // A radius that cannot be drawn (not finite) is left as it is: nothing
    // drawn, nothing applied, so a save keeps it.
    if (point_->alarmCircleDiameter() && std::isfinite(*point_->alarmCircleDiameter())) {
        updateRadius(point_->alarmCircleDiameter());
    }
}

void PointDetailsViewController::loadChips() {
    if (!point_ || !tagFlowView_) return;
    QFont chipFont = tagFlowView_->font();
    chipFont.setPointSizeF(chipFont.pointSizeF() * 18.0 / 13.0);
    tagFlowView_->setTextFont(chipFont);
    tagFlowView_->setAlignment(widgets::taglist::TagFlowView::Alignment::left);
    tagFlowView_->setTagBackgroundColor(kSystemRed);
    tagFlowView_->setTagSelectedBackgroundColor(kSystemRed);
    tagFlowView_->setTagHighlightedBackgroundColor(kSystemRed);
    tagFlowView_->setCornerRadius(6);
    tagFlowView_->setPaddingX(8);
    // The chip list sizes a chip from its font's point size; the text needs
    // the font's line height, so the padding makes up the difference.
    const QFontMetricsF metrics(chipFont);
    tagFlowView_->setPaddingY(std::ceil((metrics.height() - chipFont.pointSizeF()) / 2) + 3);
    tagFlowView_->setMarginX(6);
    tagFlowView_->setMarginY(6);
    const auto& identifiers = point_->tags();
    if (!identifiers || identifiers->empty()) {
        showNoTagsState();
        return;
    }
    showChipArea();
    const auto& stored = points::QuovaPointTagStore::shared().tags();
    const PointTagChips chips = chipsForTagIdentifiers(
        *identifiers, stored ? *stored : std::vector<std::shared_ptr<points::QuovaPointTag>>{});
    for (const TagChip& chip : chips.chips) addChip(chip.title, chip.identifier, chip.color);
    unresolvedTagIdentifiers_ = chips.unresolved;
}

void PointDetailsViewController::loadSourceRow() {
    if (!point_ || !point_->dataSourceName()) {
        if (sourceInfoView_) sourceInfoView_->hide();
        return;
    }
    const SourceRow row = sourceRowForPoint(*point_);
    if (sourceInfoView_) sourceInfoView_->setVisible(!row.hidden);
    if (row.hidden) return;
    initPointScreensImages();
    if (logoView_) logoView_->setImageNamed(row.logoImageName);
    if (linkLabel_) linkLabel_->setText(QString::fromStdString(row.linkLabel));
    if (seePageButton_) {
        seePageButton_->setVisible(row.address.has_value());
        seePageButton_->setUrlToOpen(row.address);
        if (row.address) seePageButton_->setText(QString::fromStdString(row.seePageTitle));
    }
}

// --- states -------------------------------------------------------------------

void PointDetailsViewController::markPointAsEdited() {
    navigationItem().setLeftBarButtonItem(std::make_shared<platform::BarButtonItem>(
        localizedString("Cancel"), platform::BarButtonItem::Style::done,
        guarded(&PointDetailsViewController::cancelView)));
    if (auto right = navigationItem().rightBarButtonItem()) right->setTitle(localizedString("Save"));
    setTitle(localizedString("Edit Point Details"));
}

void PointDetailsViewController::showNoTagsState() {
    if (tagFlowView_) tagFlowView_->hide();
    if (tagListContainer_) tagListContainer_->hide();
    tagListContainerHeight_->setConstant(0);
    tagListContainerHeight_->setActive(true);
    if (editTagStackView_ && addTagInfoLabel_) addTagInfoLabel_->setVisible(editTagStackView_->isHidden());
}

void PointDetailsViewController::showChipArea() {
    if (tagListContainer_) tagListContainer_->show();
    if (tagFlowView_) tagFlowView_->show();
    if (addTagInfoLabel_) addTagInfoLabel_->hide();
    tagListContainerHeight_->setActive(false);
}

void PointDetailsViewController::addChip(const std::string& title, const std::string& identifier,
                                         const std::optional<platform::Color>& color) {
    auto* chip = tagFlowView_->addTag(QString::fromStdString(title));
    if (!chip) return;
    // The chip keeps its tag's identifier: the save goes by it, never by the
    // title, which another tag may share in another letter case.
    chip->setProperty(kTagIdentifierProperty, QString::fromStdString(identifier));
    if (color) {
        const QColor shade = toQColor(*color);
        chip->setTagBackgroundColor(shade);
        chip->setHighlightedBackgroundColor(shade);
        chip->setSelectedBackgroundColor(shade);
    }
    applyConstraints();
}

std::vector<std::string> PointDetailsViewController::chipIdentifiers() const {
    std::vector<std::string> identifiers;
    if (!tagFlowView_) return identifiers;
    const auto& stored = points::QuovaPointTagStore::shared().tags();
    for (auto* chip : tagFlowView_->allTags()) {
        const QVariant identifier = chip->property(kTagIdentifierProperty);
        if (identifier.isValid() && !identifier.toString().isEmpty()) {
            identifiers.push_back(identifier.toString().toStdString());
            continue;
        }
        // A chip made elsewhere without an identifier: its title names the tag.
        const std::string title =
            platform::text::nfc(platform::text::lowercased(chip->title().toStdString()));
        if (!stored) continue;
        for (const auto& tag : *stored) {
            if (tag && platform::text::nfc(platform::text::lowercased(tag->title())) == title) {
                identifiers.push_back(tag->uuid());
                break;
            }
        }
    }
    return identifiers;
}

// --- the small map -------------------------------------------------------------

void PointDetailsViewController::updateRadius(std::optional<double> radius) {
    if (!point_ || !radius) return;
    const double r = *radius;
    if (point_->alarmCircleDiameter() != radius) {
        pointHasBeenEdited_ = true;
        markPointAsEdited();
    }
    if (halo_) {
        if (map_) map_->removeOverlay(halo_);
        halo_.reset();
    }
    newRadius_ = r;
    if (!map_) return;
    const auto center = point_->coordinate();
    if (!isDrawableRadius(r)) {
        map_->setVisibleMapRect(mapRectForRegion(center, 5000), true);
        return;
    }
    halo_ = std::make_shared<platform::MKCircle>(center, r);
    map_->insertOverlay(halo_, map_->overlays().size(), platform::MKOverlayLevel::AboveLabels);
    map_->setVisibleMapRect(mapRectForRegion(center, 3 * r), true);
}

std::shared_ptr<platform::MKOverlayRenderer> PointDetailsViewController::rendererForOverlay(
    platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKOverlay>& overlay) {
    (void)mapView;
    if (auto circle = std::dynamic_pointer_cast<platform::MKCircle>(overlay)) {
        auto renderer = std::make_shared<platform::MKCircleRenderer>(circle);
        renderer->setFillColor(platform::Color(1.0, 59.0 / 255, 48.0 / 255, 0.25));
        return renderer;
    }
    QLLogInfo("unknown kind of overlay - nothing to do");
    return std::make_shared<platform::MKOverlayRenderer>(overlay);
}

}  // namespace tervolo::pointscreens
