#include "platform/ui/ShapeLayer.hpp"

#include <QLineF>
#include <QPainter>

#include <algorithm>

namespace platform {

QPainterPath trimmedPath(const QPainterPath& path, double start, double end) {
    start = std::clamp(start, 0.0, 1.0);
    end = std::clamp(end, 0.0, 1.0);
    QPainterPath result;
    if (end <= start || path.isEmpty()) return result;
    const auto polygons = path.toSubpathPolygons();
    double total = 0;
    for (const auto& polygon : polygons) {
        for (int i = 1; i < polygon.size(); ++i) total += QLineF(polygon[i - 1], polygon[i]).length();
    }
    if (total <= 0) return result;
    const double from = start * total, to = end * total;
    double walked = 0;
    for (const auto& polygon : polygons) {
        bool open = false;
        for (int i = 1; i < polygon.size(); ++i) {
            const QLineF segment(polygon[i - 1], polygon[i]);
            const double length = segment.length();
            const double a = walked, b = walked + length;
            walked = b;
            if (b < from || a > to || length <= 0) continue;
            const QPointF p0 = segment.pointAt(std::max(0.0, (from - a) / length));
            const QPointF p1 = segment.pointAt(std::min(1.0, (to - a) / length));
            if (!open) {
                result.moveTo(p0);
                open = true;
            }
            result.lineTo(p1);
        }
    }
    return result;
}

void ShapeLayer::paint(QPainter& painter) const {
    if (!painter.isActive() || opacity <= 0) return;
    auto content = [this](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing);
        if (fillColor.alpha() > 0) p.fillPath(path, fillColor);
        if (strokeColor.alpha() > 0 && lineWidth > 0) {
            const Qt::PenCapStyle cap = lineCap == LineCap::Round    ? Qt::RoundCap
                                        : lineCap == LineCap::Square ? Qt::SquareCap
                                                                     : Qt::FlatCap;
            const Qt::PenJoinStyle join = lineJoin == LineJoin::Round   ? Qt::RoundJoin
                                          : lineJoin == LineJoin::Bevel ? Qt::BevelJoin
                                                                        : Qt::MiterJoin;
            const QPainterPath stroke =
                strokeStart <= 0 && strokeEnd >= 1 ? path : trimmedPath(path, strokeStart, strokeEnd);
            p.strokePath(stroke, QPen(strokeColor, lineWidth, Qt::SolidLine, cap, join));
        }
    };
    painter.save();
    painter.translate(position);
    painter.setOpacity(painter.opacity() * std::clamp(opacity, 0.0, 1.0));
    const double grow = lineWidth;
    drawShadow(painter, path.boundingRect().adjusted(-grow, -grow, grow, grow), content, shadow);
    content(painter);
    painter.restore();
}

}  // namespace platform
