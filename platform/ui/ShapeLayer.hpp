#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>

#include "platform/ui/DrawingShadow.hpp"
#include "platform/ui/GraphicsContext.hpp"

class QPainter;

namespace platform {

// A path drawn the way a shape layer draws it: filled (black by default; a transparent colour for
// none), then stroked (none by default) between strokeStart and strokeEnd, fractions of the path's
// length, which is what animated check marks move. The whole layer is drawn at `position` with
// `opacity` over its shadow. A plain value: owners keep one, change it (an Animator keyed animation
// can drive strokeEnd) and paint it from paintEvent. Main thread only (as its painter).
struct ShapeLayer {
    QPainterPath path;
    QColor fillColor = Qt::black;
    QColor strokeColor = Qt::transparent;
    double lineWidth = 1;
    LineCap lineCap = LineCap::Butt;
    LineJoin lineJoin = LineJoin::Miter;
    double strokeStart = 0;
    double strokeEnd = 1;
    double opacity = 1;
    QPointF position;
    Shadow shadow;

    void paint(QPainter& painter) const;
};

// The part of `path` between the fractions `start` and `end` of its length (curves flattened),
// keeping sub-paths apart; empty when end ≤ start.
QPainterPath trimmedPath(const QPainterPath& path, double start, double end);

}  // namespace platform
