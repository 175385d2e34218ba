#include "widgets/hud/HUDSuccessView.hpp"

#include <QPainter>
#include <QPointer>

#include "platform/ui/Animator.hpp"

namespace tervolo::widgets::hud {

namespace {

// The mark's own box, 88 × 56; the layer is centred on the panel's middle as it is at creation.
constexpr QSizeF kMarkSize(88, 56);

QColor markColor() {
    return QColor::fromRgbF(0.15f, 0.15f, 0.15f, 1.0f);
}

}  // namespace

HUDSuccessView::HUDSuccessView(const std::optional<std::string>& title,
                               const std::optional<std::string>& subtitle, QWidget* parent)
    : HUDSquareBaseView(platform::NamedImage(), title, subtitle, parent) {
    QPainterPath path;
    path.moveTo(4, 27);
    path.lineTo(34, 56);
    path.lineTo(88, 0);
    checkmarkShapeLayer_.path = path;
    checkmarkShapeLayer_.fillColor = Qt::transparent;
    checkmarkShapeLayer_.strokeColor = markColor();
    checkmarkShapeLayer_.lineWidth = 6;
    checkmarkShapeLayer_.lineCap = platform::LineCap::Round;
    checkmarkShapeLayer_.lineJoin = platform::LineJoin::Round;
    const QPointF middle = QRectF(rect()).center();
    checkmarkShapeLayer_.position = middle - QPointF(kMarkSize.width() / 2, kMarkSize.height() / 2);
}

HUDSuccessView::~HUDSuccessView() {
    platform::Animator::removeAll(this);
}

void HUDSuccessView::startAnimation() {
    auto draw = platform::Animation::keyframes({0.0, 1.0}, 0.35, false);
    draw.keyTimes = {0.0, 1.0};
    QPointer<HUDSuccessView> self(this);
    draw.apply = [self](const platform::AnimatableValue& value) {
        if (!self) return;
        self->checkmarkShapeLayer_.strokeEnd = std::get<double>(value);
        self->update();
    };
    draw.restingValue = 1.0;  // the layer's own value: the whole mark
    platform::Animator::add(this, kAnimationKey, std::move(draw));
}

void HUDSuccessView::stopAnimation() {
    platform::Animator::remove(this, kAnimationKey);
}

void HUDSuccessView::paintEvent(QPaintEvent* event) {
    HUDSquareBaseView::paintEvent(event);
    QPainter painter(this);
    checkmarkShapeLayer_.paint(painter);
}

}  // namespace tervolo::widgets::hud
