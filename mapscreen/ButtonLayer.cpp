#include "mapscreen/ButtonLayer.hpp"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "mapscreen/TervoloButtonKit.hpp"
#include "platform/ui/FocusRing.hpp"
#include "platform/ui/GraphicsContext.hpp"

namespace tervolo::mapscreen {

namespace {

// Device pixels per point of what `painter` paints on, whether the scale comes from the device's
// pixel ratio or from a transform (a widget rendered into a larger image).
double pixelsPerPoint(const QPainter& painter) {
    const double fromTransform = std::sqrt(std::abs(painter.deviceTransform().determinant()));
    const double fromDevice = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    return std::max({fromTransform, fromDevice, 1.0});
}

// The two large areas the base map shows around the column, its sea and its land, which the ring
// must stand out from.
const QColor kMapSea(203, 216, 222);
const QColor kMapLand(245, 244, 240);

// The ring of a focused map button: a dark band that reads on the light maps, edged outside by a
// light line that reads on the dark ones (the satellite's sea and land), both wide enough to see at
// a glance; the gap shows the map between ring and button, so the ring does not read as a border.
constexpr double kRingEdge = 2.0;
constexpr double kRingWidth = 3.0;
constexpr double kRingGap = 1.0;
constexpr double kRingInset = kRingEdge + kRingWidth + kRingGap;

QPainterPath roundedOutline(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

}  // namespace

void paintWithButtonLayer(QPainter& painter, const QRectF& bounds, const ButtonLayer& layer,
                          const std::function<void(platform::GraphicsContext&, const QRectF&)>& draw) {
    const QRectF frame(0, 0, bounds.width(), bounds.height());
    if (frame.isEmpty()) return;
    // The platform rounds no more than half the shorter side.
    const double radius = std::clamp(layer.cornerRadius, 0.0, std::min(frame.width(), frame.height()) / 2);
    painter.save();
    painter.translate(bounds.topLeft());
    if (layer.backgroundColor.alpha() > 0) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(roundedOutline(frame, radius), layer.backgroundColor);
    }
    if (layer.clipsToBounds) {
        // A clip path on the raster engine has hard edges, which would fray the ring of a round
        // button; the content is drawn aside at the device's resolution and its corners are cut
        // away with an antialiased outline instead.
        const double scale = pixelsPerPoint(painter);
        QImage content(static_cast<int>(std::ceil(frame.width() * scale)),
                       static_cast<int>(std::ceil(frame.height() * scale)),
                       QImage::Format_ARGB32_Premultiplied);
        content.setDevicePixelRatio(scale);
        content.fill(Qt::transparent);
        {
            QPainter aside(&content);
            platform::GraphicsContext context(&aside);
            draw(context, frame);
            aside.setRenderHint(QPainter::Antialiasing);
            aside.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            aside.fillPath(roundedOutline(frame, radius), Qt::black);
        }
        painter.drawImage(frame, content);
    } else {
        platform::GraphicsContext context(&painter);
        draw(context, frame);
    }
    if (layer.borderWidth > 0) {
        // The border lies inside the bounds, its outer edge on the rounded outline.
        const double width = std::min(layer.borderWidth, std::min(frame.width(), frame.height()) / 2);
        const double half = width / 2;
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(layer.borderColor, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        painter.drawPath(
            roundedOutline(frame.adjusted(half, half, -half, -half), std::max(0.0, radius - half)));
    }
    painter.restore();
}

void paintMapButton(QPainter& painter, const QWidget& button, const ButtonLayer& layer,
                    const std::function<void(platform::GraphicsContext&, const QRectF&)>& draw) {
    const QRectF bounds(button.rect());
    if (!button.hasFocus()) {
        paintWithButtonLayer(painter, bounds, layer, draw);
        return;
    }
    constexpr double inset = kRingInset;
    ButtonLayer inner = layer;
    inner.cornerRadius = std::max(0.0, layer.cornerRadius - inset);
    paintWithButtonLayer(painter, bounds.adjusted(inset, inset, -inset, -inset), inner, draw);
    // The ring stands out from the map outside it and from the button's face and blue edge inside
    // it: a ring of the blue's own lightness would read as a thicker edge, not as the focus.
    const QColor face = layer.backgroundColor.alpha() > 0 ? layer.backgroundColor : kMapLand;
    platform::FocusRing::paint(painter, bounds, layer.cornerRadius,
                               platform::FocusRing::color(button.palette(), {kMapSea, kMapLand, face,
                                                                             TervoloButtonKit::buttonBlue()}),
                               kRingEdge, kRingWidth);
}

}  // namespace tervolo::mapscreen
