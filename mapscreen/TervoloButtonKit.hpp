#pragma once

#include <QColor>
#include <QRectF>

#include <cstdint>
#include <optional>

namespace platform {
class GraphicsContext;
}

namespace tervolo::mapscreen {

// The vector icons of the map buttons. Every icon is drawn on a 60 × 60 canvas (y downwards, units
// of the canvas) that is fitted into the requested frame by a resizing rule; nothing is cached, each
// call draws anew. The drawing functions leave the context's state as they found it and draw nothing
// into a context without an active painter. Main thread only (as the painter they draw with).
class TervoloButtonKit {
  public:
    TervoloButtonKit() = delete;

    // How the 60 × 60 canvas is fitted into a frame.
    enum class ResizingBehavior : int64_t {
        proportionalFit = 0,   // one factor, the smaller of the two axis ratios
        proportionalFill = 1,  // one factor, the larger of the two (every button uses this)
        stretchToFill = 2,     // each axis by its own ratio
        centerUnscaled = 3,    // factor 1
    };
    // None for raw values outside 0…3.
    static std::optional<ResizingBehavior> resizingBehaviorFromRawValue(int64_t rawValue);
    static int64_t rawValue(ResizingBehavior behavior) { return static_cast<int64_t>(behavior); }

    // The rectangle `rect` (the canvas) is drawn into inside `target`: scaled by the behaviour's
    // factors and centred in `target`. Returns `rect` unchanged when it equals `target`, when
    // `target` is the zero rectangle, or when `rect` has no width or height to scale.
    static QRectF apply(ResizingBehavior behavior, const QRectF& rect, const QRectF& target);

    // The canvas every icon is drawn on.
    static QRectF canvas() { return QRectF(0, 0, 60, 60); }

    // The application's tint (50, 100, 150 of 255, opaque), read once on first use and kept; the
    // standard blue should the tint's text not read as a colour.
    static const QColor& buttonBlue();
    // The light fill of the map-layers plates: each component of `buttonBlue` (alpha included)
    // × 0.4 + 0.6, so (0.67843, 0.75686, 0.83529, 1.0) for the tint above.
    static QColor layerTint();

    // The icons, drawn into `frame` (points of the context) by `resizing`. All keep a ring of line
    // width 2 along the canvas' edge.
    // Location arrow; filled blue only when `fill` is true, always outlined in blue.
    static void drawLocationArrow(platform::GraphicsContext& context, const QRectF& frame,
                                  ResizingBehavior resizing, bool fill);
    // The outlined arrow with a small padlock on it.
    static void drawLocationArrowLock(platform::GraphicsContext& context, const QRectF& frame,
                                      ResizingBehavior resizing);
    // A white arrow with a diagonal bearing arrow over it.
    static void drawLocationArrowBearing(platform::GraphicsContext& context, const QRectF& frame,
                                         ResizingBehavior resizing);
    static void drawZoomOutButton(platform::GraphicsContext& context, const QRectF& frame,
                                  ResizingBehavior resizing);
    static void drawZoomInButton(platform::GraphicsContext& context, const QRectF& frame,
                                 ResizingBehavior resizing);
    // A pin with a "+" in the application's bold font beside it.
    static void drawAddLocationButton(platform::GraphicsContext& context, const QRectF& frame,
                                      ResizingBehavior resizing);
    static void drawSearchButton(platform::GraphicsContext& context, const QRectF& frame,
                                 ResizingBehavior resizing);
    // A folded map of three panels.
    static void drawMapStyleButton(platform::GraphicsContext& context, const QRectF& frame,
                                   ResizingBehavior resizing);
    // Three stacked plates in the layer tint.
    static void drawMapLayersButton(platform::GraphicsContext& context, const QRectF& frame,
                                    ResizingBehavior resizing);
    // Three pins.
    static void drawLocationsButton(platform::GraphicsContext& context, const QRectF& frame,
                                    ResizingBehavior resizing);
    // A serif letter i.
    static void drawInfoButton(platform::GraphicsContext& context, const QRectF& frame,
                               ResizingBehavior resizing);
};

}  // namespace tervolo::mapscreen
