#pragma once

#include <QLabel>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

#include "platform/location/CLLocationCoordinate2D.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/LayoutConstraint.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "points/QuovaPlacemark.hpp"

namespace tervolo::search {

// One row of the search result table: "title (source)", the address, the
// distance from the map centre, and a thumbnail area on the right, 100
// points wide or 0 for a result without an image address. Laid out in code:
// the three labels stacked at the left, the thumbnail area filling the row's
// height at the right. The fonts grow by 1.5 once, on the first
// configuration. Main thread only.
class SearchResultCell : public platform::TableViewCell {
    Q_OBJECT

  public:
    static constexpr double kImageWrapperWidth = 100.0;  // points
    static constexpr double kFontFactor = 1.5;

    // The map centre of the map screen the cell is shown on (degrees), or none
    // when the cell is in no window or the window's root is not the map screen.
    using MapCenterLookup =
        std::function<std::optional<platform::CLLocationCoordinate2D>(const QWidget& cell)>;

    explicit SearchResultCell(QString reuseIdentifier, QWidget* parent = nullptr);
    ~SearchResultCell() override;

    void configure(const points::QuovaPlacemark& placemark);
    void prepareForReuse() override;
    // The three lines take the row's colours: text on base, or highlighted
    // text on the highlight while selected (the distance line quieter).
    void setSelected(bool selected) override;
    void setMapCenterLookup(MapCenterLookup lookup) { mapCenterLookup_ = std::move(lookup); }

    QLabel* titleLabel() const { return titleLabel_.data(); }
    QLabel* addressLabel() const { return addressLabel_.data(); }
    QLabel* distanceLabel() const { return distanceLabel_.data(); }
    QWidget* imageWrapperView() const { return imageWrapperView_.data(); }
    platform::ImageView* previewImageView() const { return previewImageView_.data(); }
    const std::shared_ptr<platform::LayoutConstraint>& imageWrapperViewWidth() const {
        return imageWrapperViewWidth_;
    }
    const std::optional<points::QuovaPlacemark>& placemark() const { return placemark_; }
    bool hasBeenPatchedForMac() const { return hasBeenPatchedForMac_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void layoutContent();
    void applyLineColors();

    QPointer<QLabel> titleLabel_;
    QPointer<QLabel> addressLabel_;
    QPointer<QLabel> distanceLabel_;
    QPointer<QWidget> imageWrapperView_;
    QPointer<platform::ImageView> previewImageView_;
    std::shared_ptr<platform::LayoutConstraint> imageWrapperViewWidth_;
    std::optional<points::QuovaPlacemark> placemark_;
    bool hasBeenPatchedForMac_ = false;
    MapCenterLookup mapCenterLookup_;
};

}  // namespace tervolo::search
