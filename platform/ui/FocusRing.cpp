#include "platform/ui/FocusRing.hpp"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "platform/ui/Contrast.hpp"

namespace platform {

QColor FocusRing::color(const QPalette& palette, const QColor& backdrop) {
    return legibleForeground(palette.color(QPalette::Active, QPalette::Highlight), backdrop, 3.0);
}

void FocusRing::paint(QPainter& painter, const QRectF& bounds, double radius, const QColor& color) {
    if (bounds.isEmpty()) return;
    const auto stroke = [&](double outside, double width, const QColor& ink) {
        const double middle = outside + width / 2;
        const QRectF line = bounds.adjusted(middle, middle, -middle, -middle);
        if (line.isEmpty()) return;
        const double rounded = std::clamp(radius - middle, 0.0, std::min(line.width(), line.height()) / 2);
        painter.setPen(QPen(ink, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        QPainterPath path;
        path.addRoundedRect(line, rounded, rounded);
        painter.drawPath(path);
    };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    stroke(0, kEdge, blackOrWhiteOn(color));
    stroke(kEdge, kWidth, color);
    painter.restore();
}

}  // namespace platform
