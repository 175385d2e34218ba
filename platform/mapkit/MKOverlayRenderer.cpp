#include "platform/mapkit/MKOverlayRenderer.hpp"

#include <algorithm>
#include <cmath>

namespace platform {

MKOverlayRenderer::MKOverlayRenderer(std::shared_ptr<MKOverlay> overlay) : overlay_(std::move(overlay)) {}

MKOverlayRenderer::~MKOverlayRenderer() = default;

void MKOverlayRenderer::setAlpha(double alpha) {
    alpha_.store(std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1.0);
    setNeedsDisplay();
}

void MKOverlayRenderer::setContentScaleFactor(double factor) {
    if (!std::isfinite(factor) || factor <= 0) factor = 1.0;
    if (contentScaleFactor_.exchange(factor) != factor) setNeedsDisplay();
}

MKMapRect MKOverlayRenderer::rectForMapRect(const MKMapRect& mapRect) const {
    if (!overlay_ || MKMapRectIsNull(mapRect)) return mapRect;
    const MKMapPoint origin = overlay_->boundingMapRect().origin;
    return MKMapRectOffset(mapRect, -origin.x, -origin.y);
}

MKMapRect MKOverlayRenderer::mapRectForRect(const MKMapRect& rect) const {
    if (!overlay_ || MKMapRectIsNull(rect)) return rect;
    const MKMapPoint origin = overlay_->boundingMapRect().origin;
    return MKMapRectOffset(rect, origin.x, origin.y);
}

bool MKOverlayRenderer::canDrawMapRect(const MKMapRect&, MKZoomScale) {
    return true;
}

void MKOverlayRenderer::drawMapRect(const MKMapRect&, MKZoomScale, MKGraphicsContext&) {}

void MKOverlayRenderer::setNeedsDisplay() {
    invalidate(MKMapRectNull, 0);
}

void MKOverlayRenderer::setNeedsDisplayInMapRect(const MKMapRect& mapRect) {
    invalidate(mapRect, 0);
}

void MKOverlayRenderer::setNeedsDisplayInMapRect(const MKMapRect& mapRect, MKZoomScale zoomScale) {
    invalidate(mapRect, zoomScale);
}

void MKOverlayRenderer::setHost(MKOverlayRendererHost* host) {
    std::lock_guard lock(hostMutex_);
    host_ = host;
}

void MKOverlayRenderer::invalidate(const MKMapRect& mapRect, MKZoomScale zoomScale) {
    std::lock_guard lock(hostMutex_);
    if (host_ != nullptr) host_->overlayRendererNeedsDisplay(*this, mapRect, zoomScale);
}

MKCircleRenderer::MKCircleRenderer(std::shared_ptr<MKCircle> circle) : MKOverlayRenderer(std::move(circle)) {}

std::optional<Color> MKCircleRenderer::fillColor() const {
    std::lock_guard lock(mutex_);
    return fillColor_;
}

void MKCircleRenderer::setFillColor(std::optional<Color> color) {
    {
        std::lock_guard lock(mutex_);
        fillColor_ = color;
    }
    setNeedsDisplay();
}

std::optional<Color> MKCircleRenderer::strokeColor() const {
    std::lock_guard lock(mutex_);
    return strokeColor_;
}

void MKCircleRenderer::setStrokeColor(std::optional<Color> color) {
    {
        std::lock_guard lock(mutex_);
        strokeColor_ = color;
    }
    setNeedsDisplay();
}

double MKCircleRenderer::lineWidth() const {
    std::lock_guard lock(mutex_);
    return lineWidth_;
}

void MKCircleRenderer::setLineWidth(double width) {
    {
        std::lock_guard lock(mutex_);
        lineWidth_ = std::isfinite(width) ? std::max(width, 0.0) : 0.0;
    }
    setNeedsDisplay();
}

void MKCircleRenderer::drawMapRect(const MKMapRect&, MKZoomScale zoomScale, MKGraphicsContext& context) {
    std::optional<Color> fill;
    std::optional<Color> stroke;
    double width = 0;
    {
        std::lock_guard lock(mutex_);
        fill = fillColor_;
        stroke = strokeColor_;
        width = lineWidth_;
    }
    const MKMapRect bounds = rectForMapRect(overlay()->boundingMapRect());
    const MKGraphicsContext::Rect circle{bounds.origin.x, bounds.origin.y, bounds.size.width,
                                         bounds.size.height};
    context.saveGState();
    context.setAlpha(alpha());
    if (fill) {
        context.setFillColor(*fill);
        context.fillEllipseInRect(circle);
    }
    if (stroke && width > 0 && zoomScale > 0) {
        // The stroke straddles the outline; its width is given in view points.
        const double mapWidth = width / zoomScale;
        context.setStrokeColor(*stroke);
        context.setLineWidth(mapWidth);
        context.strokeEllipseInRect(circle);
    }
    context.restoreGState();
}

}  // namespace platform
