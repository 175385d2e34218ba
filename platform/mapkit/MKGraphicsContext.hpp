#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/text/Color.hpp"

namespace platform {

// Pixels a renderer draws: premultiplied 0xAARRGGBB, rows top to bottom.
struct MKBitmap {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

// The drawing surface a renderer gets in drawMapRect. The current transformation maps the renderer's
// coordinates (map points relative to the overlay's origin, y pointing south) to the cell's pixels; the
// widget supplies a QPainter-backed implementation, tests a recording one. State calls nest like the
// platform's graphics state (save/restore pairs).
class MKGraphicsContext {
  public:
    struct Point {
        double x = 0;
        double y = 0;
    };
    struct Rect {
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;
    };

    virtual ~MKGraphicsContext() = default;

    virtual void saveGState() = 0;
    virtual void restoreGState() = 0;
    virtual void translateCTM(double tx, double ty) = 0;
    virtual void scaleCTM(double sx, double sy) = 0;
    // Multiplies every later drawing's opacity (0…1) until the state is restored.
    virtual void setAlpha(double alpha) = 0;
    virtual void setFillColor(const Color& color) = 0;
    virtual void setStrokeColor(const Color& color) = 0;
    virtual void setLineWidth(double width) = 0;

    virtual void fillRect(const Rect& rect) = 0;
    virtual void fillEllipseInRect(const Rect& rect) = 0;
    virtual void strokeEllipseInRect(const Rect& rect) = 0;
    // A path of straight segments; `closed` joins the last point to the first.
    virtual void fillPolygon(const std::vector<Point>& points) = 0;
    virtual void strokePath(const std::vector<Point>& points, bool closed) = 0;
    // Quartz semantics: the bitmap's first row lands at the rect's maximum y, so a renderer that wants
    // an upright image flips its space first (translate by the height, scale y by -1).
    virtual void drawImage(const Rect& rect, const MKBitmap& image) = 0;
    // One line of text with its baseline origin at `position`, in the named font family (a stand-in
    // when the family is missing) at `pointSize`.
    virtual void showText(const std::string& text, Point position, const std::string& fontFamily,
                          double pointSize) = 0;
};

}  // namespace platform
