#pragma once

#include <QAbstractButton>
#include <QColor>

#include "mapscreen/ButtonLayer.hpp"

namespace platform {
class GraphicsContext;
}

namespace tervolo::mapscreen {

// The base of the map buttons that paint their icon with TervoloButtonKit: a button that paints
// its layer (corner radius, border, clipping) around whatever draw() paints; the icon is drawn
// anew at every paint, into the whole of the button. It paints no icon of its own. The map screen
// sets the tint colour and the layer. It takes the keyboard focus from Tab (not from a click) and
// shows it with a ring; Space, Return and Enter press it. Main thread only; lengths in points.
class StyleKitButton : public QAbstractButton {
    Q_OBJECT

  public:
    explicit StyleKitButton(QWidget* parent = nullptr);

    // Kept for the platform's tint; the icons use the kit's blue.
    QColor tintColor() const { return tintColor_; }
    void setTintColor(const QColor& color);
    const ButtonLayer& layer() const { return layer_; }
    void setLayer(const ButtonLayer& layer);

  protected:
    // Draws the icon into `rect`, the button's own rectangle at the origin.
    virtual void draw(platform::GraphicsContext& context, const QRectF& rect);

    void paintEvent(QPaintEvent* event) final;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QColor tintColor_;
    ButtonLayer layer_;
};

}  // namespace tervolo::mapscreen
