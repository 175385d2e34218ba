#include "mapscreen/CalloutImageButton.hpp"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "platform/ui/Contrast.hpp"

// Outside any namespace, as the resource macro needs.
static void initMapScreenSymbolsResource() {
    Q_INIT_RESOURCE(MapScreenSymbols);
}

namespace tervolo::mapscreen {

void initMapScreenSymbols() {
    static const bool done = [] {
        initMapScreenSymbolsResource();
        return true;
    }();
    (void)done;
}

CalloutImageButton::CalloutImageButton(QSize size, double imageSide, QWidget* parent)
    : QAbstractButton(parent), size_(size), imageSide_(imageSide) {
    setFixedSize(size_);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void CalloutImageButton::setImages(platform::NamedImage normal, platform::NamedImage highlighted) {
    normal_ = std::move(normal);
    highlighted_ = std::move(highlighted);
    update();
}

void CalloutImageButton::setBackgroundColor(QColor color) {
    background_ = color;
    update();
}

void CalloutImageButton::setCornerRadius(double radius) {
    cornerRadius_ = radius;
    update();
}

void CalloutImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    if (background_.alpha() > 0) {
        QPainterPath plate;
        plate.addRoundedRect(bounds, cornerRadius_, cornerRadius_);
        painter.fillPath(plate, background_);
    }
    const platform::NamedImage& image = isDown() && !highlighted_.isNull() ? highlighted_ : normal_;
    if (image.isNull()) return;
    // Fitted into the image square, kept in proportion; rendered at the device's pixel ratio.
    const QSizeF natural = image.size();
    const double side = std::min({imageSide_, bounds.width(), bounds.height()});
    const double scale = std::min(side / natural.width(), side / natural.height());
    const QSizeF drawn(natural.width() * scale, natural.height() * scale);
    const QRectF target(bounds.center().x() - drawn.width() / 2, bounds.center().y() - drawn.height() / 2,
                        drawn.width(), drawn.height());
    const double ratio = devicePixelRatioF();
    QColor tint;
    if (tintsImage_) {
        // The accent, lightened on a dark callout as far as a symbol needs to stand out (3:1): a dark
        // theme's selection blue is about 1.5:1 on its base colour, the callout's fill.
        tint = platform::legibleForeground(palette().color(QPalette::Highlight),
                                           palette().color(QPalette::Base), kSymbolContrast);
        // The accent dims while pressed, as a system button's does.
        if (isDown()) tint.setAlphaF(0.5);
    }
    QImage rendered = image.render(QSize(static_cast<int>(std::ceil(drawn.width() * ratio)),
                                         static_cast<int>(std::ceil(drawn.height() * ratio))),
                                   tint);
    rendered.setDevicePixelRatio(ratio);
    painter.drawImage(target, rendered);
}

}  // namespace tervolo::mapscreen
