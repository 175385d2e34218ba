#pragma once

#include <QWidget>

#include <functional>

namespace platform {

class MKMapView;

// The map's own small views, found by class name like the platform's private ones:
// MKCompassView (shown while the map is turned; a click turns it north), MKScaleView, the logo
// (MKAppleLogoImageView: a small "map" mark), the attribution label (MKAttributionLabel) and, above
// it while there is something to say, the map's notice (MKMapNoticeLabel: tiles that cannot be loaded).

class MKCompassView : public QWidget {
    Q_OBJECT
  public:
    explicit MKCompassView(QWidget* parent);
    void setHeading(double heading);
    double heading() const { return heading_; }
    std::function<void()> onClick;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    double heading_ = 0;
};

class MKScaleView : public QWidget {
    Q_OBJECT
  public:
    explicit MKScaleView(QWidget* parent);
    // Metres per view point at the map's centre.
    void setMetersPerPoint(double metersPerPoint);
    double barMeters() const { return barMeters_; }
    double barPoints() const { return barPoints_; }
    // The length the bar stands for, in the locale's units ("500 m", "2 km", "500 ft", "1 mi").
    QString label() const { return label_; }
    // Light ink for dark map types.
    void setDark(bool dark);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double barMeters_ = 0;
    double barPoints_ = 0;
    QString label_;
    bool dark_ = false;
};

class MKAppleLogoImageView : public QWidget {
    Q_OBJECT
  public:
    explicit MKAppleLogoImageView(QWidget* parent);
    void setDark(bool dark);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool dark_ = false;
};

class MKAttributionLabel : public QWidget {
    Q_OBJECT
  public:
    explicit MKAttributionLabel(QWidget* parent);
    QString text() const { return text_; }
    void setText(const QString& text);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString text_;
};

// One short line, as small as the attribution and set just above it; hidden while it has no text.
class MKMapNoticeLabel : public QWidget {
    Q_OBJECT
  public:
    explicit MKMapNoticeLabel(QWidget* parent);
    QString text() const { return text_; }
    void setText(const QString& text);
    // Light ink on a dark plate for dark map types.
    void setDark(bool dark);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString text_;
    bool dark_ = false;
};

}  // namespace platform
