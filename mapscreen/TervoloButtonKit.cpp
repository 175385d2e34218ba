#include "mapscreen/TervoloButtonKit.hpp"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "platform/ui/GraphicsContext.hpp"
#include "platform/ui/TextMeasure.hpp"
#include "points/AppTextsAndColors.hpp"

namespace tervolo::mapscreen {

namespace {

using platform::GraphicsContext;
using platform::PathDrawingMode;
using Kit = TervoloButtonKit;

constexpr double kCanvasSide = 60;

// Saves the state, fits the canvas into `frame`, lets `body` draw in canvas units and restores.
template <class Body>
void drawOnCanvas(GraphicsContext& context, const QRectF& frame, Kit::ResizingBehavior resizing,
                  Body&& body) {
    if (!context.isActive()) return;
    context.saveGState();
    const QRectF fitted = Kit::apply(resizing, Kit::canvas(), frame);
    context.translateCTM(fitted.x(), fitted.y());
    context.scaleCTM(fitted.width() / kCanvasSide, fitted.height() / kCanvasSide);
    body();
    context.restoreGState();
}

void drawRing(GraphicsContext& context) {
    context.setStrokeColor(Kit::buttonBlue());
    context.setLineWidth(2);
    context.strokeEllipseInRect(QRectF(1, 1, 58, 58));
}

void addPolygon(GraphicsContext& context, std::span<const QPointF> points) {
    if (points.empty()) return;
    context.moveTo(points.front().x(), points.front().y());
    for (const QPointF& p : points.subspan(1)) context.addLineTo(p.x(), p.y());
    context.closePath();
}

void addPolygon(GraphicsContext& context, std::initializer_list<QPointF> points) {
    addPolygon(context, std::span<const QPointF>(points.begin(), points.size()));
}

// A closed polygon whose corners are rounded by `radius` (at most half of either neighbouring side),
// each corner a quadratic curve through the corner point's neighbourhood.
QPainterPath roundedPolygon(const std::vector<QPointF>& corners, double radius) {
    QPainterPath path;
    const size_t n = corners.size();
    if (n < 3) return path;
    auto towards = [radius](QPointF from, QPointF to) {
        const QPointF d = to - from;
        const double length = std::hypot(d.x(), d.y());
        if (length == 0) return from;
        const double r = std::min(radius, length / 2);
        return from + d * (r / length);
    };
    for (size_t i = 0; i <= n; ++i) {
        const QPointF corner = corners[i % n];
        const QPointF before = towards(corner, corners[(i + n - 1) % n]);
        const QPointF after = towards(corner, corners[(i + 1) % n]);
        if (i == 0) {
            path.moveTo(after);
            continue;
        }
        path.lineTo(before);
        path.quadTo(corner, after);
    }
    path.closeSubpath();
    return path;
}

// The location arrow: a dart pointing up and to the right, its notch at (24.03, 35.97).
void addArrow(GraphicsContext& context) {
    addPolygon(context, {{5.5, 29.79}, {47.5, 12.5}, {30.21, 54.5}, {24.03, 35.97}});
}

void drawArrow(GraphicsContext& context, const QColor* fill) {
    context.beginPath();
    addArrow(context);
    context.setStrokeColor(Kit::buttonBlue());
    context.setLineWidth(2);
    if (fill) context.setFillColor(*fill);
    context.drawPath(fill ? PathDrawingMode::FillStroke : PathDrawingMode::Stroke);
}

// A padlock 12 wide (x 24.5…36.5): a hollow body (y 28…37.5) under a shackle rising to y 21.6.
QPainterPath padlockPath() {
    QPainterPath path;
    QPainterPath body;
    body.addRoundedRect(QRectF(24.5, 28, 12, 9.5), 1.8, 1.8);
    body.addRoundedRect(QRectF(26, 29.5, 9, 6.5), 0.6, 0.6);
    path.addPath(body);
    // The shackle: an outer arch of radius 4 and an inner one of radius 2.5 about (30.5, 25.6),
    // with legs down to the body's top.
    QPainterPath shackle;
    shackle.moveTo(26.5, 28);
    shackle.lineTo(26.5, 25.6);
    shackle.arcTo(QRectF(26.5, 21.6, 8, 8), 180, -180);
    shackle.lineTo(34.5, 28);
    shackle.lineTo(33, 28);
    shackle.lineTo(33, 25.6);
    shackle.arcTo(QRectF(28, 23.1, 5, 5), 0, 180);
    shackle.lineTo(28, 28);
    shackle.closeSubpath();
    path.addPath(shackle);
    return path;
}

// y of the broken line through `points` (sorted by x) at `x`.
double along(const std::vector<QPointF>& points, double x) {
    for (size_t i = 1; i < points.size(); ++i) {
        if (x <= points[i].x() || i + 1 == points.size()) {
            const QPointF a = points[i - 1];
            const QPointF b = points[i];
            return a.y() + (x - a.x()) * (b.y() - a.y()) / (b.x() - a.x());
        }
    }
    return points.empty() ? 0 : points.front().y();
}

// A map folded in three panels: the outline zig-zags up and down at the folds, and each panel's
// face is a hole in the same path, so the rim and the folds stay blue.
QPainterPath foldedMapPath() {
    const double left = 12.24, fold1 = 24.3, fold2 = 34.95, right = 47.01;
    const std::vector<QPointF> top = {{left, 16.6}, {fold1, 13.58}, {fold2, 16.6}, {right, 13.58}};
    const std::vector<QPointF> bottom = {{left, 46.57}, {fold1, 43.57}, {fold2, 46.57}, {right, 43.57}};
    std::vector<QPointF> outline(top);
    outline.insert(outline.end(), bottom.rbegin(), bottom.rend());
    QPainterPath path = roundedPolygon(outline, 1.6);

    const double rim = 3.0;  // how far the faces lie inside the top and bottom edges
    const double faces[3][2] = {{15.17, 22.84}, {25.77, 33.47}, {36.41, 44.09}};
    for (const auto& face : faces) {
        const double a = face[0], b = face[1];
        // Counter to the outline's direction, so the face is a hole under either fill rule.
        path.addPath(roundedPolygon({{a, along(top, a) + rim},
                                     {a, along(bottom, a) - rim},
                                     {b, along(bottom, b) - rim},
                                     {b, along(top, b) + rim}},
                                    0.8));
    }
    return path;
}

// A serif letter i: top bar to the left of the stem, a foot bar on both sides, and a round dot.
QPainterPath letterIPath() {
    QPainterPath path = roundedPolygon({{22.11, 22.51},
                                        {34.15, 22.51},
                                        {34.15, 46.92},
                                        {38.85, 46.92},
                                        {38.85, 50},
                                        {22.11, 50},
                                        {22.11, 46.92},
                                        {26.75, 46.92},
                                        {26.75, 25.59},
                                        {22.11, 25.59}},
                                       0.5);
    path.addEllipse(QPointF(30.18, 13.44), 4.6, 4.6);
    return path;
}

void drawPin(GraphicsContext& context, const QRectF& head, QPointF needleTop, QPointF needleTip) {
    context.setFillColor(Kit::buttonBlue());
    context.fillEllipseInRect(head);
    context.beginPath();
    context.moveTo(needleTop.x(), needleTop.y());
    context.addLineTo(needleTip.x(), needleTip.y());
    context.setStrokeColor(Kit::buttonBlue());
    context.setLineWidth(3);
    context.strokePath();
}

// The "+" beside the pin: the application's bold font at 37, centred in its 24 × 36 box by the
// measured line height and clipped to the box.
void drawPlusText(GraphicsContext& context) {
    QPainter* painter = context.painter();
    const QRectF box(29, 1, 24, 36);
    const QString text = QStringLiteral("+");
    QFont font = QGuiApplication::font();
    font.setBold(true);
    font.setPixelSize(37);
    const double height = platform::textSize(font, text).height();
    context.saveGState();
    painter->setClipRect(box, Qt::IntersectClip);
    painter->setFont(font);
    painter->setPen(Kit::buttonBlue());
    painter->drawText(QRectF(box.x(), box.y() + (box.height() - height) / 2, box.width(), height),
                      Qt::AlignHCenter | Qt::AlignTop, text);
    context.restoreGState();
}

}  // namespace

std::optional<TervoloButtonKit::ResizingBehavior> TervoloButtonKit::resizingBehaviorFromRawValue(
    int64_t rawValue) {
    if (rawValue < 0 || rawValue > 3) return std::nullopt;
    return static_cast<ResizingBehavior>(rawValue);
}

QRectF TervoloButtonKit::apply(ResizingBehavior behavior, const QRectF& rect, const QRectF& target) {
    if (rect == target || target == QRectF(0, 0, 0, 0)) return rect;
    const QRectF canvas = rect.normalized();
    const QRectF into = target.normalized();
    // A canvas without extent has no ratio to scale by (the platform would divide by zero).
    if (canvas.width() == 0 || canvas.height() == 0) return rect;
    const double sx = std::abs(into.width() / canvas.width());
    const double sy = std::abs(into.height() / canvas.height());
    double fx = 1, fy = 1;
    switch (behavior) {
        case ResizingBehavior::proportionalFit:
            fx = fy = std::min(sx, sy);
            break;
        case ResizingBehavior::proportionalFill:
            fx = fy = std::max(sx, sy);
            break;
        case ResizingBehavior::stretchToFill:
            fx = sx;
            fy = sy;
            break;
        case ResizingBehavior::centerUnscaled:
            break;
    }
    const double width = canvas.width() * fx;
    const double height = canvas.height() * fy;
    return QRectF(into.x() + (into.width() - width) / 2, into.y() + (into.height() - height) / 2, width,
                  height);
}

const QColor& TervoloButtonKit::buttonBlue() {
    static const QColor blue = [] {
        const auto c = points::appTintColor().convertedToSRGB().components();
        return QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                                static_cast<float>(c.blue), static_cast<float>(c.alpha));
    }();
    return blue;
}

QColor TervoloButtonKit::layerTint() {
    float red = 1, green = 1, blue = 1, alpha = 1;
    const QColor base = buttonBlue().toRgb();
    if (base.isValid()) base.getRgbF(&red, &green, &blue, &alpha);
    auto lighten = [](float component) { return component * 0.4f + 0.6f; };
    return QColor::fromRgbF(lighten(red), lighten(green), lighten(blue), lighten(alpha));
}

void TervoloButtonKit::drawLocationArrow(GraphicsContext& context, const QRectF& frame,
                                         ResizingBehavior resizing, bool fill) {
    drawOnCanvas(context, frame, resizing, [&] {
        drawRing(context);
        drawArrow(context, fill ? &buttonBlue() : nullptr);
    });
}

void TervoloButtonKit::drawLocationArrowLock(GraphicsContext& context, const QRectF& frame,
                                             ResizingBehavior resizing) {
    drawOnCanvas(context, frame, resizing, [&] {
        drawArrow(context, nullptr);
        drawRing(context);
        context.beginPath();
        context.addPath(padlockPath());
        context.setFillColor(buttonBlue());
        context.fillPath();
    });
}

void TervoloButtonKit::drawLocationArrowBearing(GraphicsContext& context, const QRectF& frame,
                                                ResizingBehavior resizing) {
    drawOnCanvas(context, frame, resizing, [&] {
        const QColor white = Qt::white;
        drawArrow(context, &white);
        drawRing(context);

        context.beginPath();
        context.moveTo(15, 45);
        context.addLineTo(37, 23);
        context.setStrokeColor(buttonBlue());
        context.setLineWidth(3);
        context.setLineJoin(platform::LineJoin::Round);
        context.strokePath();

        context.beginPath();
        addPolygon(context, {{31.5, 24.5}, {37.5, 22.5}, {35.5, 28.5}});
        context.setFillColor(buttonBlue());
        context.setLineWidth(2);
        context.setLineJoin(platform::LineJoin::Miter);
        context.drawPath(PathDrawingMode::FillStroke);
    });
}

void TervoloButtonKit::drawZoomOutButton(GraphicsContext& context, const QRectF& frame,
                                         ResizingBehavior resizing) {
    drawOnCanvas(context, frame, resizing, [&] {
        drawRing(context);
        context.setFillColor(buttonBlue());
        context.fillRect(QRectF(10, 26, 40, 8));
    });
}

void TervoloButtonKit::drawZoomInButton(GraphicsContext& context, const QRectF& frame,
                                        ResizingBehavior resizing) {
    drawOnCanvas(context, frame, resizing, [&] {
        drawRing(context);
        context.setFillColor(buttonBlue());
        context.fillRect(QRectF(10, 26, 40, 8));
        context.fillRect(QRectF(26, 10, 8, 40));
    });
}

void TervoloButtonKit::drawAddLocationButton(GraphicsContext& context, const QRectF& frame,
                                             ResizingBehavior resizing) {
    drawOnCanvas(context, frame, resizing, [&] {
        drawRing(context);
        drawPin(context, QRectF(8, 15, 17, 17), {18.5, 29.5}, {26.5, 52.5});
        drawPlusText(context);
    });
}

void TervoloButtonKit::drawSearchButton(GraphicsContext& context, const QRectF& frame,
                                        ResizingBehavior resizing) {
    drawOnCanvas(context, frame, resizing, [&] {
        drawRing(context);
        context.setStrokeColor(buttonBlue());
        context.setLineWidth(4);
        context.strokeEllipseInRect(QRectF(10.5, 10.5, 26, 26));

        context.beginPath();
        addPolygon(context, {{30.5, 33.5}, {33.5, 30.5}, {52.5, 48.5}, {48.5, 52.5}});
        context.setFillColor(buttonBlue());
        context.setLineWidth(1);
        context.drawPath(PathDrawingMode::FillStroke);
    });
}

void TervoloButtonKit::drawMapStyleButton(GraphicsContext& context, const QRectF& frame,
                                          ResizingBehavior resizing) {
    drawOnCanvas(context, frame, resizing, [&] {
        context.beginPath();
        context.addPath(foldedMapPath());
        context.setFillColor(buttonBlue());
        context.fillPath();
        drawRing(context);
    });
}

void TervoloButtonKit::drawMapLayersButton(GraphicsContext& context, const QRectF& frame,
                                           ResizingBehavior resizing) {
    drawOnCanvas(context, frame, resizing, [&] {
        drawRing(context);
        const QColor tint = layerTint();
        // Bottom plate first, so each one above covers the back of the one below.
        const QPointF plates[3][4] = {
            {{10, 44}, {44, 44}, {50, 31}, {18, 31}},
            {{9, 36}, {43, 36}, {49, 23}, {17, 23}},
            {{8, 28}, {42, 28}, {48, 15}, {16, 15}},
        };
        for (const auto& plate : plates) {
            context.beginPath();
            addPolygon(context, plate);
            context.setFillColor(tint);
            context.setStrokeColor(buttonBlue());
            context.setLineWidth(2);
            context.drawPath(PathDrawingMode::FillStroke);
        }
    });
}

void TervoloButtonKit::drawLocationsButton(GraphicsContext& context, const QRectF& frame,
                                           ResizingBehavior resizing) {
    drawOnCanvas(context, frame, resizing, [&] {
        drawRing(context);
        drawPin(context, QRectF(5, 14, 18, 17), {15.5, 28.5}, {22.5, 54.5});
        drawPin(context, QRectF(22, 28, 18, 17), {32.5, 41.5}, {36.5, 58.5});
        drawPin(context, QRectF(29, 7, 18, 18), {39.5, 21.5}, {46.5, 47.5});
    });
}

void TervoloButtonKit::drawInfoButton(GraphicsContext& context, const QRectF& frame,
                                      ResizingBehavior resizing) {
    drawOnCanvas(context, frame, resizing, [&] {
        drawRing(context);
        context.beginPath();
        context.addPath(letterIPath());
        context.setFillColor(buttonBlue());
        context.fillPath();
    });
}

}  // namespace tervolo::mapscreen
