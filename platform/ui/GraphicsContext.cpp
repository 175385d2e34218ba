#include "platform/ui/GraphicsContext.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

Qt::PenCapStyle toQt(LineCap cap) {
    switch (cap) {
        case LineCap::Round:
            return Qt::RoundCap;
        case LineCap::Square:
            return Qt::SquareCap;
        case LineCap::Butt:
            break;
    }
    return Qt::FlatCap;
}

Qt::PenJoinStyle toQt(LineJoin join) {
    switch (join) {
        case LineJoin::Round:
            return Qt::RoundJoin;
        case LineJoin::Bevel:
            return Qt::BevelJoin;
        case LineJoin::Miter:
            break;
    }
    return Qt::MiterJoin;
}

}  // namespace

GraphicsContext::GraphicsContext(QPainter* painter) : painter_(painter) {
    if (isActive()) painter_->setRenderHint(QPainter::Antialiasing);
}

bool GraphicsContext::isActive() const {
    return painter_ && painter_->isActive();
}

void GraphicsContext::saveGState() {
    if (!isActive()) return;
    painter_->save();
    saved_.push_back(Saved{fill_, stroke_, lineWidth_, cap_, join_, miterLimit_});
}

void GraphicsContext::restoreGState() {
    if (!isActive() || saved_.empty()) return;
    painter_->restore();
    const Saved& s = saved_.back();
    fill_ = s.fill;
    stroke_ = s.stroke;
    lineWidth_ = s.lineWidth;
    cap_ = s.cap;
    join_ = s.join;
    miterLimit_ = s.miterLimit;
    saved_.pop_back();
}

void GraphicsContext::translateCTM(double dx, double dy) {
    if (isActive()) painter_->translate(dx, dy);
}

void GraphicsContext::scaleCTM(double sx, double sy) {
    if (isActive()) painter_->scale(sx, sy);
}

void GraphicsContext::rotateCTM(double radians) {
    if (isActive()) painter_->rotate(radians * 180.0 / M_PI);
}

void GraphicsContext::setAlpha(double alpha) {
    if (isActive()) painter_->setOpacity(std::clamp(alpha, 0.0, 1.0));
}

void GraphicsContext::setFillColor(const QColor& color) {
    fill_ = color;
}
void GraphicsContext::setStrokeColor(const QColor& color) {
    stroke_ = color;
}
void GraphicsContext::setLineWidth(double width) {
    lineWidth_ = width;
}
void GraphicsContext::setLineCap(LineCap cap) {
    cap_ = cap;
}
void GraphicsContext::setLineJoin(LineJoin join) {
    join_ = join;
}
void GraphicsContext::setMiterLimit(double limit) {
    miterLimit_ = limit;
}

void GraphicsContext::beginPath() {
    path_ = QPainterPath();
}
void GraphicsContext::moveTo(double x, double y) {
    path_.moveTo(x, y);
}
void GraphicsContext::addLineTo(double x, double y) {
    path_.lineTo(x, y);
}
void GraphicsContext::addCurveTo(double c1x, double c1y, double c2x, double c2y, double x, double y) {
    path_.cubicTo(c1x, c1y, c2x, c2y, x, y);
}
void GraphicsContext::addRect(const QRectF& rect) {
    path_.addRect(rect);
}
void GraphicsContext::addEllipseInRect(const QRectF& rect) {
    path_.addEllipse(rect);
}
void GraphicsContext::addPath(const QPainterPath& path) {
    path_.addPath(path);
}
void GraphicsContext::closePath() {
    path_.closeSubpath();
}

void GraphicsContext::drawPath(PathDrawingMode mode) {
    if (!isActive()) {
        path_ = QPainterPath();
        return;
    }
    if (mode != PathDrawingMode::Stroke) painter_->fillPath(path_, fill_);
    if (mode != PathDrawingMode::Fill) {
        QPen pen(stroke_, lineWidth_, Qt::SolidLine, toQt(cap_), toQt(join_));
        // QPen measures the miter from the path's corner point in line widths, the platform from
        // the inner to the outer corner: half as far.
        pen.setMiterLimit(miterLimit_ / 2);
        painter_->strokePath(path_, pen);
    }
    path_ = QPainterPath();
}

void GraphicsContext::fillRect(const QRectF& rect) {
    beginPath();
    addRect(rect);
    fillPath();
}
void GraphicsContext::strokeRect(const QRectF& rect) {
    beginPath();
    addRect(rect);
    strokePath();
}
void GraphicsContext::fillEllipseInRect(const QRectF& rect) {
    beginPath();
    addEllipseInRect(rect);
    fillPath();
}
void GraphicsContext::strokeEllipseInRect(const QRectF& rect) {
    beginPath();
    addEllipseInRect(rect);
    strokePath();
}

void GraphicsContext::drawImage(const QRectF& rect, const QImage& image) {
    if (!isActive() || image.isNull()) return;
    painter_->save();
    painter_->setRenderHint(QPainter::SmoothPixmapTransform);
    painter_->translate(rect.x(), rect.y() + rect.height());
    painter_->scale(1, -1);
    painter_->drawImage(QRectF(0, 0, rect.width(), rect.height()), image);
    painter_->restore();
}

void drawImageUpright(QPainter& painter, const QRectF& rect, const QImage& image) {
    if (!painter.isActive() || image.isNull()) return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect, image);
    painter.restore();
}

QImage cropImage(const QImage& image, const QRect& rect) {
    const QRect inside = rect.intersected(image.rect());
    if (inside.isEmpty()) return {};
    return image.copy(inside);
}

ImageContext::ImageContext(QSizeF size, bool opaque, double scale) {
    if (scale <= 0) {
        const QScreen* screen = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                                    ? QGuiApplication::primaryScreen()
                                    : nullptr;
        scale = screen ? screen->devicePixelRatio() : 1.0;
    }
    const QSize pixels(std::max(0, static_cast<int>(std::ceil(size.width() * scale))),
                       std::max(0, static_cast<int>(std::ceil(size.height() * scale))));
    image_ = QImage(pixels, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    image_.setDevicePixelRatio(scale);
    image_.fill(opaque ? Qt::black : Qt::transparent);
    painter_ = std::make_unique<QPainter>();
    if (!image_.isNull()) painter_->begin(&image_);
    context_ = std::make_unique<GraphicsContext>(painter_.get());
}

ImageContext::~ImageContext() {
    context_.reset();
    if (painter_->isActive()) painter_->end();
}

QImage ImageContext::image() {
    // The raster painter writes straight into the image's pixels, so a copy is current.
    return image_.copy();
}

}  // namespace platform
