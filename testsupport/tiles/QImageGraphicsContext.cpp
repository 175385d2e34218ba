#include "testsupport/tiles/QImageGraphicsContext.hpp"

#include <QPainterPath>
#include <QPolygonF>

namespace tervolo::testsupport {

namespace {
QColor toQColor(const platform::Color& color) {
    auto c = color.components();
    return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha));
}
}  // namespace

QImageGraphicsContext::QImageGraphicsContext(const platform::MKMapRect& cell, double zoomScale, int pixels)
    : image_(pixels, pixels, QImage::Format_ARGB32_Premultiplied) {
    image_.fill(Qt::transparent);
    painter_.begin(&image_);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const double pixelsPerPoint = double(pixels) / (cell.size.width * zoomScale);
    painter_.scale(zoomScale * pixelsPerPoint, zoomScale * pixelsPerPoint);
    painter_.translate(-cell.origin.x, -cell.origin.y);
}

QImage QImageGraphicsContext::finish() {
    if (painter_.isActive()) painter_.end();
    return image_;
}

void QImageGraphicsContext::saveGState() {
    painter_.save();
}
void QImageGraphicsContext::restoreGState() {
    painter_.restore();
}
void QImageGraphicsContext::translateCTM(double tx, double ty) {
    painter_.translate(tx, ty);
}
void QImageGraphicsContext::scaleCTM(double sx, double sy) {
    painter_.scale(sx, sy);
}
void QImageGraphicsContext::setAlpha(double alpha) {
    painter_.setOpacity(alpha);
}
void QImageGraphicsContext::setFillColor(const platform::Color& color) {
    fill_ = toQColor(color);
}
void QImageGraphicsContext::setStrokeColor(const platform::Color& color) {
    stroke_ = toQColor(color);
}
void QImageGraphicsContext::setLineWidth(double width) {
    lineWidth_ = width;
}

void QImageGraphicsContext::fillRect(const Rect& rect) {
    painter_.fillRect(QRectF(rect.x, rect.y, rect.width, rect.height), fill_);
}

void QImageGraphicsContext::fillEllipseInRect(const Rect& rect) {
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(fill_);
    painter_.drawEllipse(QRectF(rect.x, rect.y, rect.width, rect.height));
}

void QImageGraphicsContext::strokeEllipseInRect(const Rect& rect) {
    painter_.setPen(QPen(stroke_, lineWidth_));
    painter_.setBrush(Qt::NoBrush);
    painter_.drawEllipse(QRectF(rect.x, rect.y, rect.width, rect.height));
}

void QImageGraphicsContext::fillPolygon(const std::vector<Point>& points) {
    QPolygonF polygon;
    for (const auto& p : points) polygon << QPointF(p.x, p.y);
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(fill_);
    painter_.drawPolygon(polygon);
}

void QImageGraphicsContext::strokePath(const std::vector<Point>& points, bool closed) {
    QPolygonF polygon;
    for (const auto& p : points) polygon << QPointF(p.x, p.y);
    painter_.setPen(QPen(stroke_, lineWidth_));
    painter_.setBrush(Qt::NoBrush);
    if (closed) {
        painter_.drawPolygon(polygon);
    } else {
        painter_.drawPolyline(polygon);
    }
}

void QImageGraphicsContext::drawImage(const Rect& rect, const platform::MKBitmap& bitmap) {
    const QImage image(reinterpret_cast<const uchar*>(bitmap.pixels.data()), bitmap.width, bitmap.height,
                       bitmap.width * 4, QImage::Format_ARGB32_Premultiplied);
    painter_.save();
    // Quartz semantics: the first row lands at the rect's maximum y.
    painter_.translate(rect.x, rect.y + rect.height);
    painter_.scale(1, -1);
    painter_.drawImage(QRectF(0, 0, rect.width, rect.height), image);
    painter_.restore();
}

void QImageGraphicsContext::showText(const std::string& text, Point position, const std::string& fontFamily,
                                     double pointSize) {
    texts_.push_back(text);
    QFont font(QString::fromStdString(fontFamily));
    font.setPointSizeF(pointSize);
    painter_.setFont(font);
    painter_.setPen(stroke_);
    painter_.drawText(QPointF(position.x, position.y), QString::fromStdString(text));
}

}  // namespace tervolo::testsupport
