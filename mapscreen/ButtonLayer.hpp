#pragma once

#include <QColor>
#include <QRectF>

#include <functional>

class QPainter;
class QWidget;

namespace platform {
class GraphicsContext;
}

namespace tervolo::mapscreen {

// The look the map screen gives a button's own layer: a corner radius, a border drawn inside the
// bounds along the rounded outline, and clipping of the content to that outline. Lengths in points.
// Starts as the platform's layer does: square, no border, no clipping.
struct ButtonLayer {
    double cornerRadius = 0;
    QColor borderColor = Qt::black;
    double borderWidth = 0;
    bool clipsToBounds = false;
    // Filled inside the rounded outline under the content: the backdrop that keeps an icon readable
    // over whatever the map shows below (transparent: none).
    QColor backgroundColor = Qt::transparent;

    bool operator==(const ButtonLayer&) const = default;
};

// Paints a view of `bounds` with `layer`: its background colour fills the rounded outline, `draw` paints the
// content (given the painter's context and the rect (0, 0, width, height)), clipped by an antialiased rounded
// outline when the layer clips, then the border goes over it. Main thread only.
void paintWithButtonLayer(QPainter& painter, const QRectF& bounds, const ButtonLayer& layer,
                          const std::function<void(platform::GraphicsContext&, const QRectF&)>& draw);

// Paints a map button (`button`'s whole rectangle) as paintWithButtonLayer does; while the button
// has the keyboard focus, the button is drawn that much smaller inside a focus ring, a dark band
// with a light edge that stands out from the map around the column and from the button itself.
// Main thread only.
void paintMapButton(QPainter& painter, const QWidget& button, const ButtonLayer& layer,
                    const std::function<void(platform::GraphicsContext&, const QRectF&)>& draw);

}  // namespace tervolo::mapscreen
