#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QSize>

#include "platform/ui/ImageView.hpp"

namespace tervolo::mapscreen {

// A button of a callout that shows an image: the user's settings button (a
// gear on a round light-grey plate, a lighter gear while pressed) and share
// button (the share symbol in the palette's accent colour, as a system
// button draws it). Images are the program's own drawings (NamedImage), so
// they stay sharp at any pixel ratio. Main thread only; sizes in points.
class CalloutImageButton : public QAbstractButton {
    Q_OBJECT

  public:
    // `size` is the button's fixed size; the image is drawn at most
    // `imageSide` points square in its middle.
    CalloutImageButton(QSize size, double imageSide, QWidget* parent = nullptr);

    // The image while not pressed, and while pressed (none: the normal one).
    void setImages(platform::NamedImage normal, platform::NamedImage highlighted = {});
    const platform::NamedImage& normalImage() const { return normal_; }
    const platform::NamedImage& highlightedImage() const { return highlighted_; }
    // The least contrast a tinted symbol keeps against the palette's base colour: 3:1, which a symbol
    // needs, with room for the callout's fill, the base colour a touch translucent over the map.
    static constexpr double kSymbolContrast = 3.5;
    // While set, the image is drawn as a symbol: the palette's accent
    // (highlight) colour wherever it is opaque, lightened or darkened as far
    // as kSymbolContrast needs, half as strong while pressed.
    void setTintsImage(bool tints) { tintsImage_ = tints; }
    bool tintsImage() const { return tintsImage_; }
    // The plate behind the image; transparent: none.
    void setBackgroundColor(QColor color);
    QColor backgroundColor() const { return background_; }
    void setCornerRadius(double radius);
    double cornerRadius() const { return cornerRadius_; }

    QSize sizeHint() const override { return size_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QSize size_;
    double imageSide_;
    platform::NamedImage normal_;
    platform::NamedImage highlighted_;
    bool tintsImage_ = false;
    QColor background_ = Qt::transparent;
    double cornerRadius_ = 0;
};

// Makes the map screen's drawn images loadable by name; more than one call is harmless.
void initMapScreenSymbols();

}  // namespace tervolo::mapscreen
