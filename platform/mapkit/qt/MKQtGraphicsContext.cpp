#include "platform/mapkit/qt/MKQtGraphicsContext.hpp"

#include <QFont>
#include <QFontDatabase>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace platform {

MKQtGraphicsContext::MKQtGraphicsContext(QPainter& painter) : painter_(painter) {}

QColor MKQtGraphicsContext::toQColor(const Color& color) {
    const Color::RGBA c = color.convertedToSRGB().components();
    auto unit = [](double v) { return std::clamp(v, 0.0, 1.0); };
    return QColor::fromRgbF(static_cast<float>(unit(c.red)), static_cast<float>(unit(c.green)),
                            static_cast<float>(unit(c.blue)), static_cast<float>(unit(c.alpha)));
}

void MKQtGraphicsContext::saveGState() {
    painter_.save();
    saved_.push_back(state_);
}

void MKQtGraphicsContext::restoreGState() {
    if (saved_.empty()) return;  // unbalanced restore: ignored like the platform's
    painter_.restore();
    state_ = saved_.back();
    saved_.pop_back();
}

void MKQtGraphicsContext::translateCTM(double tx, double ty) {
    painter_.translate(tx, ty);
}
void MKQtGraphicsContext::scaleCTM(double sx, double sy) {
    painter_.scale(sx, sy);
}
void MKQtGraphicsContext::setAlpha(double alpha) {
    painter_.setOpacity(std::clamp(alpha, 0.0, 1.0));
}
void MKQtGraphicsContext::setFillColor(const Color& color) {
    state_.fill = toQColor(color);
}
void MKQtGraphicsContext::setStrokeColor(const Color& color) {
    state_.stroke = toQColor(color);
}
void MKQtGraphicsContext::setLineWidth(double width) {
    state_.lineWidth = width;
}

void MKQtGraphicsContext::fillRect(const Rect& rect) {
    painter_.fillRect(QRectF(rect.x, rect.y, rect.width, rect.height), state_.fill);
}

void MKQtGraphicsContext::fillEllipseInRect(const Rect& rect) {
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(state_.fill);
    painter_.drawEllipse(QRectF(rect.x, rect.y, rect.width, rect.height));
}

QPen MKQtGraphicsContext::strokePen() const {
    // Widths are in user space, which for map renderers is map points: hundreds of thousands of them at
    // small scales, beyond what QPen takes. A cosmetic pen of the same width in device pixels draws the
    // same stroke under the uniform scales the map uses.
    const double scale = std::sqrt(std::abs(painter_.worldTransform().determinant()));
    QPen pen(state_.stroke);
    pen.setCosmetic(true);
    pen.setWidthF(std::min(state_.lineWidth * scale, 4096.0));
    return pen;
}

void MKQtGraphicsContext::strokeEllipseInRect(const Rect& rect) {
    painter_.setPen(strokePen());
    painter_.setBrush(Qt::NoBrush);
    painter_.drawEllipse(QRectF(rect.x, rect.y, rect.width, rect.height));
}

void MKQtGraphicsContext::fillPolygon(const std::vector<Point>& points) {
    QPolygonF polygon;
    polygon.reserve(static_cast<qsizetype>(points.size()));
    for (const Point& p : points) polygon << QPointF(p.x, p.y);
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(state_.fill);
    painter_.drawPolygon(polygon);
}

void MKQtGraphicsContext::strokePath(const std::vector<Point>& points, bool closed) {
    if (points.empty()) return;
    QPainterPath path(QPointF(points[0].x, points[0].y));
    for (size_t i = 1; i < points.size(); ++i) path.lineTo(points[i].x, points[i].y);
    if (closed) path.closeSubpath();
    painter_.setPen(strokePen());
    painter_.setBrush(Qt::NoBrush);
    painter_.drawPath(path);
}

void MKQtGraphicsContext::drawImage(const Rect& rect, const MKBitmap& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() < static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
        return;
    }
    const QImage wrapped(reinterpret_cast<const uchar*>(image.pixels.data()), image.width, image.height,
                         image.width * 4, QImage::Format_ARGB32_Premultiplied);
    drawQImage(rect, wrapped);
}

void MKQtGraphicsContext::drawQImage(const Rect& rect, const QImage& image) {
    painter_.save();
    painter_.translate(rect.x, rect.y + rect.height);
    painter_.scale(1, -1);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_.drawImage(QRectF(0, 0, rect.width, rect.height), image);
    painter_.restore();
}

void MKQtGraphicsContext::showText(const std::string& text, Point position, const std::string& fontFamily,
                                   double pointSize) {
    QFont font(QString::fromStdString(fontFamily));
    // A family the system lacks falls back to the general sans-serif face.
    if (!QFontDatabase::hasFamily(font.family()))
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(pointSize > 0 ? pointSize : 12);
    painter_.setFont(font);
    painter_.setPen(state_.fill);
    painter_.drawText(QPointF(position.x, position.y), QString::fromStdString(text));
}

}  // namespace platform
