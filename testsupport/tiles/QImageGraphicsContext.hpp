#pragma once

#include <string>
#include <vector>

#include <QImage>
#include <QPainter>

#include "platform/mapkit/MKGeometry.hpp"
#include "platform/mapkit/MKGraphicsContext.hpp"

namespace tervolo::testsupport {

// A graphics context that paints one map cell into a QImage, as the map view
// does: renderer space (map points relative to the overlay's origin) maps to
// the image's pixels by (point - cell origin) * zoom scale, y pointing south.
// Images are placed with Quartz semantics (first row at the rect's maximum y).
// Texts shown are also recorded.
class QImageGraphicsContext : public platform::MKGraphicsContext {
  public:
    // `cell` in renderer space; the image is `pixels` wide and high.
    QImageGraphicsContext(const platform::MKMapRect& cell, double zoomScale, int pixels = 256);

    QImage& image() { return image_; }
    const std::vector<std::string>& texts() const { return texts_; }
    // Ends painting; call before reading the image.
    QImage finish();

    void saveGState() override;
    void restoreGState() override;
    void translateCTM(double tx, double ty) override;
    void scaleCTM(double sx, double sy) override;
    void setAlpha(double alpha) override;
    void setFillColor(const platform::Color& color) override;
    void setStrokeColor(const platform::Color& color) override;
    void setLineWidth(double width) override;
    void fillRect(const Rect& rect) override;
    void fillEllipseInRect(const Rect& rect) override;
    void strokeEllipseInRect(const Rect& rect) override;
    void fillPolygon(const std::vector<Point>& points) override;
    void strokePath(const std::vector<Point>& points, bool closed) override;
    void drawImage(const Rect& rect, const platform::MKBitmap& image) override;
    void showText(const std::string& text, Point position, const std::string& fontFamily,
                  double pointSize) override;

  private:
    QImage image_;
    QPainter painter_;
    std::vector<std::string> texts_;
    QColor fill_{Qt::black};
    QColor stroke_{Qt::black};
    double lineWidth_ = 1;
};

}  // namespace tervolo::testsupport
