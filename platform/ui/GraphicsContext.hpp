#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>

#include <memory>
#include <vector>

class QPainter;

namespace platform {

enum class LineCap { Butt, Round, Square };
enum class LineJoin { Miter, Round, Bevel };
enum class PathDrawingMode { Fill, Stroke, FillStroke };

// Drawing in the manner of the 2-D graphics context the program's drawing code was written for, over a
// QPainter: a current path that fill/stroke consume, fill and stroke colours, a line width (1 by
// default), caps and joins, and a saved-state stack. Coordinates are the painter's (y downwards in a
// widget). Over a painter that is not active, every call does nothing: nothing is drawn without a
// current context. Main thread only (as its painter).
class GraphicsContext {
  public:
    explicit GraphicsContext(QPainter* painter);

    bool isActive() const;
    QPainter* painter() const { return painter_; }

    void saveGState();
    void restoreGState();
    void translateCTM(double dx, double dy);
    void scaleCTM(double sx, double sy);
    void rotateCTM(double radians);
    // Sets the alpha everything is drawn with (0…1; replaces the previous alpha, as the platform's).
    void setAlpha(double alpha);

    void setFillColor(const QColor& color);
    void setStrokeColor(const QColor& color);
    void setLineWidth(double width);
    void setLineCap(LineCap cap);
    void setLineJoin(LineJoin join);
    // The platform's miter limit: the longest miter join, as a multiple of the line width, before the
    // join is cut short; 10 by default (QPen's own default of 2 half-widths would blunt every corner
    // sharper than about 60 degrees).
    void setMiterLimit(double limit);

    void beginPath();
    void moveTo(double x, double y);
    void addLineTo(double x, double y);
    void addCurveTo(double c1x, double c1y, double c2x, double c2y, double x, double y);
    void addRect(const QRectF& rect);
    void addEllipseInRect(const QRectF& rect);
    void addPath(const QPainterPath& path);
    void closePath();
    // Draws the current path and clears it; FillStroke fills first, then strokes over the fill.
    void drawPath(PathDrawingMode mode);
    void fillPath() { drawPath(PathDrawingMode::Fill); }
    void strokePath() { drawPath(PathDrawingMode::Stroke); }

    void fillRect(const QRectF& rect);
    void strokeRect(const QRectF& rect);
    void fillEllipseInRect(const QRectF& rect);
    void strokeEllipseInRect(const QRectF& rect);

    // The platform's image drawing: the image's first row lands at the rect's maximum y, so an
    // image drawn into an unflipped context appears upside down, and code that flips the context
    // itself (translate by the height, scale y by -1) gets it upright.
    void drawImage(const QRectF& rect, const QImage& image);

  private:
    QPainter* painter_;
    QPainterPath path_;
    QColor fill_ = Qt::black;
    QColor stroke_ = Qt::black;
    double lineWidth_ = 1;
    LineCap cap_ = LineCap::Butt;
    LineJoin join_ = LineJoin::Miter;
    double miterLimit_ = 10;
    struct Saved {
        QColor fill, stroke;
        double lineWidth;
        LineCap cap;
        LineJoin join;
        double miterLimit;
    };
    std::vector<Saved> saved_;
};

// Draws `image` upright into `rect` (first row at the top), smoothly scaled, as an image's own draw
// call does in the platform's image contexts.
void drawImageUpright(QPainter& painter, const QRectF& rect, const QImage& image);

// The part of `image` inside `rect`, in top-left pixel coordinates, clipped to the image; a null
// image when nothing is left.
QImage cropImage(const QImage& image, const QRect& rect);

// An offscreen image to draw into: `size` in points, `scale` pixels per point (0 or less: the primary
// screen's, 1 without a screen). Not opaque: it starts transparent; opaque: black, without alpha.
class ImageContext {
  public:
    explicit ImageContext(QSizeF size, bool opaque = false, double scale = 1);
    ~ImageContext();
    ImageContext(const ImageContext&) = delete;
    ImageContext& operator=(const ImageContext&) = delete;

    GraphicsContext& context() { return *context_; }
    QPainter& painter() { return *painter_; }
    // A copy of what has been drawn so far; drawing may go on.
    QImage image();

  private:
    QImage image_;
    std::unique_ptr<QPainter> painter_;
    std::unique_ptr<GraphicsContext> context_;
};

}  // namespace platform
