#pragma once

#include <QColor>
#include <QLineF>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <array>

#include "platform/ui/Label.hpp"

namespace platform {
class GraphicsContext;
}

namespace tervolo::mapscreen {

// The map screen's scale bar: four segments alternating blue and white with
// five tick marks, and over the bar's right end a label with the distance the
// whole bar stands for. The view only draws: the map delegate writes the
// label's text and sizes the view, the map view switches the light mode (on
// over satellite imagery), the screen places it. All lengths are view points
// (Qt's device-independent pixels). Main thread only.
class QuovaScaleView : public QWidget {
    Q_OBJECT

  public:
    // The bar's horizontal inset from each side of the view.
    static constexpr double kScaleInset = 24.0;

    // Where everything of the bar lies in a view of `size` with inset `inset`:
    // bar height h = 0.4 H at the bottom, the bar B = W - 2 inset wide in four
    // segments of B / 4, ticks at the five segment edges from H - 1.5 h down to
    // H, the label over the right end (x W - 2 inset, width 2 inset, height H / 3).
    struct Geometry {
        QRectF bar;
        double segmentWidth = 0;
        std::array<QRectF, 4> segments;  // left to right; 0 and 2 blue, 1 and 3 white
        std::array<QLineF, 5> ticks;     // top to bottom
        QRectF label;
    };
    static Geometry geometryFor(QSizeF size, double inset = kScaleInset);

    explicit QuovaScaleView(QWidget* parent = nullptr);

    // The bar's colour, the application tint taken when the view was made.
    const QColor& buttonBlue() const { return buttonBlue_; }
    double scaleInset() const { return scaleInset_; }
    Geometry barGeometry() const { return geometryFor(QSizeF(size()), scaleInset_); }

    // The distance label, made and added on first use with a 12-point
    // semibold font ("AppleSDGothicNeo-SemiBold" where installed, else the
    // interface font in semibold), centred, on a clear background, tightening
    // its letters before it truncates; the same label afterwards. With the
    // stand-in face, which is wider, a text too long for the label first
    // shrinks, to 3/4 of its size at most.
    platform::Label* maxLabel();
    // The label's frame as laid out: the view's layout sets it, the map
    // delegate moves it with the bar. The label widget keeps this frame's
    // centre and width but is at least one line of its font tall, inside the
    // view, so its text is never clipped (the frame is only H / 3 high).
    QRectF maxLabelFrame() const { return maxLabelFrame_; }
    void setMaxLabelFrame(const QRectF& frame);

    // Light mode: label, outline and ticks white instead of blue, for dark
    // maps. Setting the current value again does nothing (no redraw).
    bool lightMode() const { return lightMode_; }
    void setLightMode(bool lightMode);

    // Draws the bar into `context` at the view's size; nothing without an
    // active painter.
    void draw(platform::GraphicsContext& context) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Places the label over the bar's right end for the view's size.
    void layoutSubviews();

  private:
    QColor outlineColor() const { return lightMode_ ? QColor(Qt::white) : buttonBlue_; }
    void placeLabelWidget();

    QColor buttonBlue_;
    QPointer<platform::Label> maxLabel_;
    bool lightMode_ = false;
    double scaleInset_ = kScaleInset;
    QRectF maxLabelFrame_;
};

}  // namespace tervolo::mapscreen
