#pragma once

#include <QImage>
#include <QWidget>

#include "platform/ui/ImageView.hpp"

namespace tervolo::widgets::hud {

// The picture of a HUD panel: drawn at its natural size in the middle of the view (the platform's
// "centre" content mode), clipped to the view, and turned about the view's middle by `rotation`
// (radians, clockwise on screen), which the progress panels animate. The turn is painted here, as a
// live widget cannot be rotated. Main thread only.
class HUDImageView : public QWidget {
    Q_OBJECT

  public:
    explicit HUDImageView(QWidget* parent = nullptr);
    ~HUDImageView() override;

    const platform::NamedImage& image() const { return image_; }
    void setImage(const platform::NamedImage& image);
    double rotation() const { return rotation_; }
    void setRotation(double radians);
    // Where the unturned picture lies in the view.
    QRectF imageRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    platform::NamedImage image_;
    double rotation_ = 0;
    QImage rendered_;  // the picture at the current pixel size, kept while it turns
};

}  // namespace tervolo::widgets::hud
