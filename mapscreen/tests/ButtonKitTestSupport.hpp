#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRegion>
#include <QWidget>

#include <cmath>
#include <functional>

#include "mapscreen/ButtonLayer.hpp"
#include "mapscreen/TervoloButtonKit.hpp"
#include "platform/ui/GraphicsContext.hpp"

namespace button_test {

using tervolo::mapscreen::TervoloButtonKit;
using Resizing = TervoloButtonKit::ResizingBehavior;
using IconDrawing = std::function<void(platform::GraphicsContext&, const QRectF&)>;

// One icon of the kit with the resizing every button uses.
struct Icon {
    const char* name;
    IconDrawing draw;
};

inline IconDrawing filled(void (*draw)(platform::GraphicsContext&, const QRectF&, Resizing)) {
    return [draw](platform::GraphicsContext& context, const QRectF& frame) {
        draw(context, frame, Resizing::proportionalFill);
    };
}

inline IconDrawing arrow(bool fill) {
    return [fill](platform::GraphicsContext& context, const QRectF& frame) {
        TervoloButtonKit::drawLocationArrow(context, frame, Resizing::proportionalFill, fill);
    };
}

// The icon drawn on a transparent square of `side` points at `scale` pixels per point.
inline QImage renderIcon(const IconDrawing& draw, double side, double scale) {
    platform::ImageContext image(QSizeF(side, side), false, scale);
    draw(image.context(), QRectF(0, 0, side, side));
    return image.image();
}

// A widget painted on its own (no window background) into a transparent image.
inline QImage renderWidget(QWidget& widget, double scale = 1) {
    QImage image(QSize(std::lround(widget.width() * scale), std::lround(widget.height() * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The pixel under the canvas point (x, y) of an icon drawn into a square of `side` points at
// `scale`, un-premultiplied.
inline QColor canvasPixel(const QImage& image, double side, double scale, QPointF canvasPoint) {
    const double factor = side / 60.0 * scale;
    const int px = static_cast<int>(std::floor(canvasPoint.x() * factor));
    const int py = static_cast<int>(std::floor(canvasPoint.y() * factor));
    return image.pixelColor(px, py);
}

// What a probe expects to find.
enum class Look { Blue, Tint, White, Clear };

inline const char* describe(Look look) {
    switch (look) {
        case Look::Blue:
            return "blue";
        case Look::Tint:
            return "layer tint";
        case Look::White:
            return "white";
        case Look::Clear:
            return "clear";
    }
    return "?";
}

inline bool near(const QColor& c, const QColor& expected, int tolerance) {
    return std::abs(c.red() - expected.red()) <= tolerance &&
           std::abs(c.green() - expected.green()) <= tolerance &&
           std::abs(c.blue() - expected.blue()) <= tolerance;
}

// Mostly covered pixels of the colour count (the edge of a shape is antialiased); clear is (nearly)
// no coverage at all.
inline bool looks(const QColor& c, Look look) {
    switch (look) {
        case Look::Blue:
            return c.alpha() >= 180 && near(c, TervoloButtonKit::buttonBlue(), 20);
        case Look::Tint:
            return c.alpha() >= 240 && near(c, TervoloButtonKit::layerTint(), 6);
        case Look::White:
            return c.alpha() >= 240 && near(c, Qt::white, 6);
        case Look::Clear:
            return c.alpha() <= 20;
    }
    return false;
}

}  // namespace button_test
