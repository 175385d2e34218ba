#pragma once

#include <QPainter>
#include <QPainterPath>

#include "platform/mapkit/MKGraphicsContext.hpp"

namespace platform {

// The drawing context of the map's cells: a QPainter on the cell's image. Renderers that work with Qt
// images themselves reach the painter through painter() (dynamic_cast the context they are given).
class MKQtGraphicsContext : public MKGraphicsContext {
  public:
    explicit MKQtGraphicsContext(QPainter& painter);

    QPainter& painter() { return painter_; }
    static QColor toQColor(const Color& color);

    void saveGState() override;
    void restoreGState() override;
    void translateCTM(double tx, double ty) override;
    void scaleCTM(double sx, double sy) override;
    void setAlpha(double alpha) override;
    void setFillColor(const Color& color) override;
    void setStrokeColor(const Color& color) override;
    void setLineWidth(double width) override;
    void fillRect(const Rect& rect) override;
    void fillEllipseInRect(const Rect& rect) override;
    void strokeEllipseInRect(const Rect& rect) override;
    void fillPolygon(const std::vector<Point>& points) override;
    void strokePath(const std::vector<Point>& points, bool closed) override;
    void drawImage(const Rect& rect, const MKBitmap& image) override;
    void showText(const std::string& text, Point position, const std::string& fontFamily,
                  double pointSize) override;

    // Quartz semantics for a Qt image: its first row lands at the rect's maximum y.
    void drawQImage(const Rect& rect, const QImage& image);

  private:
    QPen strokePen() const;
    struct State {
        QColor fill{Qt::black};
        QColor stroke{Qt::black};
        double lineWidth = 1;
    };
    QPainter& painter_;
    State state_;
    std::vector<State> saved_;
};

}  // namespace platform
