#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/mapkit/MKGeometry.hpp"
#include "platform/mapkit/MKGraphicsContext.hpp"
#include "platform/mapkit/MKOverlay.hpp"

namespace platform {

class MKOverlayRenderer;

// The map a renderer is shown on, as the renderer sees it. Called from any thread; implementations
// only mark cached cells and schedule a repaint.
class MKOverlayRendererHost {
  public:
    virtual ~MKOverlayRendererHost() = default;
    // `rect` in map points (MKMapRectNull: all of the overlay); `zoomScale` <= 0: every scale.
    virtual void overlayRendererNeedsDisplay(const MKOverlayRenderer& renderer, const MKMapRect& rect,
                                             MKZoomScale zoomScale) = 0;
};

// Draws one overlay. The map splits what it shows into cells of 256 / s map points aligned to the world's
// origin, where s is a power of two near the view's zoom scale, and for each cell that meets the
// overlay calls canDrawMapRect and then drawMapRect on its drawing threads, several cells at a time.
// It keeps the drawn cells and asks again only for cells invalidated through setNeedsDisplay…: a cell
// answered NO stays empty until then. Renderer space is map points relative to the overlay's bounding
// rect origin (rectForMapRect).
class MKOverlayRenderer {
  public:
    explicit MKOverlayRenderer(std::shared_ptr<MKOverlay> overlay);
    virtual ~MKOverlayRenderer();
    MKOverlayRenderer(const MKOverlayRenderer&) = delete;
    MKOverlayRenderer& operator=(const MKOverlayRenderer&) = delete;

    const std::shared_ptr<MKOverlay>& overlay() const { return overlay_; }
    double alpha() const { return alpha_.load(); }
    void setAlpha(double alpha);
    // Device pixels per view point of the screen the cells are drawn for (1 on a plain screen, 2 on a
    // dense one); the map sets it before it asks for cells. A change drops the renderer's cells.
    double contentScaleFactor() const { return contentScaleFactor_.load(); }
    void setContentScaleFactor(double factor);

    // Map points → renderer space: moved by minus the overlay's bounding rect origin.
    MKMapRect rectForMapRect(const MKMapRect& mapRect) const;
    MKMapRect mapRectForRect(const MKMapRect& rect) const;

    // Called on drawing threads. The default draws everything and nothing.
    virtual bool canDrawMapRect(const MKMapRect& mapRect, MKZoomScale zoomScale);
    virtual void drawMapRect(const MKMapRect& mapRect, MKZoomScale zoomScale, MKGraphicsContext& context);

    // Thread-safe. Each drops the cached cells it covers and asks for one repaint; many calls between
    // two frames cost one repaint.
    void setNeedsDisplay();
    void setNeedsDisplayInMapRect(const MKMapRect& mapRect);
    void setNeedsDisplayInMapRect(const MKMapRect& mapRect, MKZoomScale zoomScale);

    // The window showing the map came back on screen (restored, shown, exposed or activated again).
    // Main thread. A renderer whose content failed to arrive may ask for it again; the default does
    // nothing.
    virtual void mapWindowDidComeBack() {}

    // The map view links itself here while the overlay is on it (null: not on a map).
    void setHost(MKOverlayRendererHost* host);

  private:
    void invalidate(const MKMapRect& mapRect, MKZoomScale zoomScale);

    std::shared_ptr<MKOverlay> overlay_;
    std::atomic<double> alpha_{1.0};
    std::atomic<double> contentScaleFactor_{1.0};
    // Held while a thread tells the host, so unlinking waits for calls in flight.
    std::mutex hostMutex_;
    MKOverlayRendererHost* host_ = nullptr;
};

// Fills and strokes an MKCircle. No fill or no stroke colour: that part is not drawn. The line width is
// in view points, so the outline keeps its width at every zoom.
class MKCircleRenderer : public MKOverlayRenderer {
  public:
    explicit MKCircleRenderer(std::shared_ptr<MKCircle> circle);

    std::optional<Color> fillColor() const;
    void setFillColor(std::optional<Color> color);
    std::optional<Color> strokeColor() const;
    void setStrokeColor(std::optional<Color> color);
    double lineWidth() const;
    void setLineWidth(double width);

    void drawMapRect(const MKMapRect& mapRect, MKZoomScale zoomScale, MKGraphicsContext& context) override;

  private:
    mutable std::mutex mutex_;
    std::optional<Color> fillColor_;
    std::optional<Color> strokeColor_;
    double lineWidth_ = 0;
};

}  // namespace platform
