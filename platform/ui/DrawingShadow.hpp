#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>

#include <functional>

class QPainter;

namespace platform {

// A drop shadow as layers describe one: colour, offset (pixels, y downwards), opacity (0 = none) and
// blur radius (pixels; a Gaussian of standard deviation radius / 2).
struct Shadow {
    QColor color = Qt::black;
    QPointF offset;
    double opacity = 0;
    double radius = 3;
};

// Paints the shadow of whatever `paintShape` draws inside `bounds` (in the painter's coordinates),
// under where the shape itself will go; the shape is not drawn. Nothing happens when the opacity is 0
// or the painter is not active.
void drawShadow(QPainter& painter, const QRectF& bounds, const std::function<void(QPainter&)>& paintShape,
                const Shadow& shadow);

// A rounded rectangle filled with `fill` over its shadow.
void drawShadowedRoundedRect(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& fill,
                             const Shadow& shadow);

}  // namespace platform
