#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "points/QuovaMapPoint.hpp"

namespace tervolo::pointscreens {

// A row of the point list: the point's title, and under it its subtitle
// prefixed with the distance from the user ("1.2 km away - Main Street 5").
// Every cell keeps its own distance current: it observes "QuovaLocationUpdate"
// from creation on (also while it waits for reuse) and rewrites only its own
// detail label. The observation is a token the cell owns, so it ends with the
// cell and no notification reaches a destroyed cell. Main thread only.
class QuovaMapPointCell : public platform::TableViewCell {
    Q_OBJECT
  public:
    static constexpr const char* kReuseIdentifier = "QuovaMapPointTableViewCell";

    // Always the subtitle style, whatever `style` asks for.
    QuovaMapPointCell(Style style, QString reuseIdentifier, QWidget* parent = nullptr);
    ~QuovaMapPointCell() override;

    const std::optional<std::string>& quovaTitle() const { return quovaTitle_; }
    // Stores the text and shows it in the main label.
    void setQuovaTitle(std::optional<std::string> title);
    const std::optional<std::string>& quovaSubtitle() const { return quovaSubtitle_; }
    // Stores the subtitle and shows it with the distance from the best known location.
    void setQuovaSubtitle(std::optional<std::string> subtitle);
    const std::shared_ptr<points::QuovaMapPoint>& quovaPoint() const { return quovaPoint_; }
    // Shows the point's title and subtitle ("(unknown)" for a missing one, or for no point).
    void setQuovaPoint(std::shared_ptr<points::QuovaMapPoint> point);

    // "<distance> away - <subtitle>"; the subtitle alone without a location, a
    // point, or a distance text (a negative distance has none).
    std::string distanceSubtitle(const std::string& subtitle,
                                 const std::optional<platform::CLLocation>& location) const;

    // The image at the row's leading edge; hidden while it has none.
    platform::ImageView* imageView() const { return imageView_; }
    void setImage(const QImage& image);
    // The application image every row shows ("Icon-Small"), read once; null when it is missing.
    static const QImage& rowImage();

    // Empties both labels; the fields keep their values until the next point.
    void prepareForReuse() override;

    // The texts the labels stand for, before any over-long word is cut to the row's width.
    const QString& fullTitleText() const { return titleText_; }
    const QString& fullDetailText() const { return detailText_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void onLocationUpdate(const platform::NotificationCenter::Notification& notification);
    void setTitleText(const QString& text);
    void setDetailText(const QString& text);
    // Puts the texts into the labels, each word that is wider than its label ended with an ellipsis.
    void fitTexts();

    QString titleText_;
    QString detailText_;
    bool laidOut_ = false;  // resized (and so laid out) at least once

    std::optional<std::string> quovaTitle_;
    std::optional<std::string> quovaSubtitle_;
    std::shared_ptr<points::QuovaMapPoint> quovaPoint_;
    std::unique_ptr<platform::NotificationCenter::Token> locationObservation_;
    platform::ImageView* imageView_;
    qint64 imageKey_ = 0;  // QImage::cacheKey of the image shown; 0: none
};

}  // namespace tervolo::pointscreens
