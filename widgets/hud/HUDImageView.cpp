#include "widgets/hud/HUDImageView.hpp"

#include <QPainter>

#include <cmath>
#include <numbers>

#include "platform/ui/Animator.hpp"

namespace tervolo::widgets::hud {

HUDImageView::HUDImageView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

HUDImageView::~HUDImageView() {
    // Its turn ends while it is still an image view (the base class's end is too late for that).
    platform::Animator::removeAll(this);
}

void HUDImageView::setImage(const platform::NamedImage& image) {
    image_ = image;
    rendered_ = QImage();
    update();
}

void HUDImageView::setRotation(double radians) {
    if (radians == rotation_) return;
    rotation_ = radians;
    update();
}

QRectF HUDImageView::imageRect() const {
    const QSizeF natural = image_.size();
    if (image_.isNull() || natural.isEmpty()) return {};
    return QRectF(QRectF(rect()).center() - QPointF(natural.width() / 2, natural.height() / 2), natural);
}

void HUDImageView::paintEvent(QPaintEvent*) {
    const QRectF target = imageRect();
    if (target.isEmpty()) return;
    const double ratio = devicePixelRatioF();
    const QSize pixels(std::max(1, static_cast<int>(std::ceil(target.width() * ratio))),
                       std::max(1, static_cast<int>(std::ceil(target.height() * ratio))));
    if (rendered_.size() != pixels) rendered_ = image_.render(pixels);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF middle = QRectF(rect()).center();
    painter.translate(middle);
    painter.rotate(rotation_ * 180 / std::numbers::pi);
    painter.translate(-middle);
    painter.drawImage(target, rendered_);
}

}  // namespace tervolo::widgets::hud
