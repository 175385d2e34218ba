#pragma once

#include <QWidget>

#include <functional>

namespace platform {

class MKMapView;

// The map's own small views, found by class name like the platform's private ones:
// MKCompassView (shown while the map is turned; a click turns it north), MKScaleView, the logo
// (MKAppleLogoImageView: a small "map" mark) and the attribution label (MKAttributionLabel).

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
    // Light ink for dark map types.
    void setDark(bool dark);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double barMeters_ = 0;
    double barPoints_ = 0;
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

}  // namespace platform
