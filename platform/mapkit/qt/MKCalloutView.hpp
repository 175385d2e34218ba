#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

#include "platform/mapkit/MKAnnotationView.hpp"

namespace platform {

// A callout accessory made of a Qt widget; the accessory owns the widget. Buttons (QAbstractButton)
// count as controls: after a click has run the button's own action the map reports
// calloutAccessoryControlTapped.
class MKCalloutAccessoryWidget : public MKCalloutAccessoryView {
  public:
    explicit MKCalloutAccessoryWidget(QWidget* widget);
    ~MKCalloutAccessoryWidget() override;
    QWidget* widget() const { return widget_; }
    bool isControl() const override;
    // The widget's place in the map view that shows it, while shown there.
    std::optional<Rect> frameInMapView() const override;
    // Shown there, enabled and containing the point.
    bool hitTest(Point point) const override;
    // Delivers a click at `point` (the widget's own points): a button clicks (its own action runs),
    // any other widget gets a press and a release there.
    void click(Point point) const;

  private:
    QPointer<QWidget> widget_;
};

// The bubble above the selected pin: title, subtitle (or the detail accessory) and the left and right
// accessories. It belongs to the annotation's view: a click on its body reaches the view's recognisers.
class MKCalloutView : public QWidget {
    Q_OBJECT
  public:
    explicit MKCalloutView(QWidget* parent);
    void setContent(const std::shared_ptr<MKAnnotationView>& view);
    const std::shared_ptr<MKAnnotationView>& annotationView() const { return view_; }
    QString title() const { return title_; }
    QString subtitle() const { return subtitle_; }
    // Lays the bubble out with its pointer's tip at `tip` (parent coordinates). With an `area` (parent
    // coordinates) the bubble keeps inside it across: it is at most as wide as the area, and slides
    // sideways with its pointer still on the tip (the pointer stays clear of the rounded corners).
    void placeAt(QPointF tip, const QRectF& area = QRectF());
    // Where the pointer's tip is, in the callout's own coordinates.
    QPointF pointerTip() const;
    std::function<void()> onBodyClick;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void relayout();
    std::shared_ptr<MKAnnotationView> view_;
    QString title_;
    QString subtitle_;
    QSize bubble_;
    int maxWidth_ = 0;      // 0: no limit beyond the texts' own
    double pointerX_ = -1;  // negative: the middle
};

}  // namespace platform
