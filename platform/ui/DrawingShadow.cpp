#include "platform/ui/DrawingShadow.hpp"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

namespace platform {

namespace {

// One pass of a running-sum box blur of width 2r+1 over the alpha bytes of a premultiplied image,
// along rows (horizontal) or columns.
void boxBlurAlpha(QImage& image, int r, bool horizontal) {
    if (r <= 0) return;
    const int w = image.width(), h = image.height();
    const int lines = horizontal ? h : w;
    const int length = horizontal ? w : h;
    std::vector<int> line(static_cast<size_t>(length));
    auto pixel = [&](int lineIndex, int i) -> QRgb& {
        const int x = horizontal ? i : lineIndex;
        const int y = horizontal ? lineIndex : i;
        return reinterpret_cast<QRgb*>(image.scanLine(y))[x];
    };
    const int window = 2 * r + 1;
    for (int l = 0; l < lines; ++l) {
        for (int i = 0; i < length; ++i) line[static_cast<size_t>(i)] = qAlpha(pixel(l, i));
        int sum = 0;
        for (int i = -r; i <= r; ++i) {
            if (i >= 0 && i < length) sum += line[static_cast<size_t>(i)];
        }
        for (int i = 0; i < length; ++i) {
            const int a = (sum + window / 2) / window;
            pixel(l, i) = qRgba(0, 0, 0, a);
            const int out = i - r, in = i + r + 1;
            if (out >= 0) sum -= line[static_cast<size_t>(out)];
            if (in < length) sum += line[static_cast<size_t>(in)];
        }
    }
}

}  // namespace

void drawShadow(QPainter& painter, const QRectF& bounds, const std::function<void(QPainter&)>& paintShape,
                const Shadow& shadow) {
    if (!painter.isActive() || shadow.opacity <= 0 || !paintShape || bounds.isEmpty()) return;
    const double sigma = std::max(shadow.radius, 0.0) / 2;
    const double scale = std::max(1.0, painter.device()->devicePixelRatioF() *
                                           std::sqrt(std::abs(painter.worldTransform().determinant())));
    const double margin = std::ceil(3 * sigma) + 1;
    const QRectF area = bounds.adjusted(-margin, -margin, margin, margin);
    QImage mask(QSize(static_cast<int>(std::ceil(area.width() * scale)),
                      static_cast<int>(std::ceil(area.height() * scale))),
                QImage::Format_ARGB32_Premultiplied);
    if (mask.isNull()) return;
    mask.fill(Qt::transparent);
    {
        QPainter shape(&mask);
        shape.setRenderHint(QPainter::Antialiasing);
        shape.scale(scale, scale);
        shape.translate(-area.topLeft());
        paintShape(shape);
    }
    // Three box passes approximate the Gaussian (widths from the variance of the sum).
    const int r =
        static_cast<int>(std::lround((std::sqrt(12.0 * sigma * sigma * scale * scale / 3 + 1) - 1) / 2));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlurAlpha(mask, r, true);
        boxBlurAlpha(mask, r, false);
    }
    {
        QPainter tint(&mask);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        QColor color = shadow.color;
        tint.fillRect(mask.rect(), color);
    }
    painter.save();
    painter.setOpacity(painter.opacity() * std::clamp(shadow.opacity, 0.0, 1.0));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(area.translated(shadow.offset), mask);
    painter.restore();
}

void drawShadowedRoundedRect(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& fill,
                             const Shadow& shadow) {
    if (!painter.isActive()) return;
    QPainterPath path;
    path.addRoundedRect(rect, cornerRadius, cornerRadius);
    drawShadow(
        painter, rect, [&](QPainter& p) { p.fillPath(path, Qt::black); }, shadow);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, fill);
    painter.restore();
}

}  // namespace platform
