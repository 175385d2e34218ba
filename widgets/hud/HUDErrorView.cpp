#include "widgets/hud/HUDErrorView.hpp"

#include <QPainter>
#include <QPointer>

#include <numbers>

#include "platform/ui/Animator.hpp"
#include "platform/ui/SpringParameters.hpp"

namespace tervolo::widgets::hud {

namespace {

constexpr double kDashSide = 88;
constexpr double kRadiansPerDegree = 0.017453292519943295;

}  // namespace

platform::ShapeLayer HUDErrorView::generateDashLayer() {
    platform::ShapeLayer layer;
    QPainterPath path;
    path.moveTo(0, kDashSide / 2);
    path.lineTo(kDashSide, kDashSide / 2);
    layer.path = path;
    layer.lineCap = platform::LineCap::Round;
    layer.lineJoin = platform::LineJoin::Round;
    layer.fillColor = Qt::transparent;
    layer.strokeColor = QColor::fromRgbF(0.15f, 0.15f, 0.15f, 1.0f);
    layer.lineWidth = 6;
    return layer;
}

platform::Animation HUDErrorView::rotationAnimation(double degrees,
                                                    std::function<void(double radians)> apply) {
    const double target = degrees * kRadiansPerDegree;
    platform::SpringParameters spring;
    spring.mass = 0.22;
    spring.stiffness = 100;
    spring.damping = 1.5;
    spring.initialVelocity = 0.5;
    auto swing = platform::Animation::basic(0.0, 1.0, 1.0);
    swing.curve = platform::TimingCurve::easeInOut();
    swing.restingValue = 1.0;
    swing.apply = [target, spring, apply = std::move(apply)](const platform::AnimatableValue& value) {
        const double clock = std::get<double>(value);
        // At its end the animation gives way to the model angle, which the spring has nearly reached.
        apply(clock >= 1 ? target : target * spring.valueAt(clock));
    };
    return swing;
}

HUDErrorView::HUDErrorView(const std::optional<std::string>& title,
                           const std::optional<std::string>& subtitle, QWidget* parent)
    : HUDSquareBaseView(platform::NamedImage(), title, subtitle, parent),
      dashOneLayer_(generateDashLayer()),
      dashTwoLayer_(generateDashLayer()) {
    anchor_ = QRectF(rect()).center();
    const QPointF origin = anchor_ - QPointF(kDashSide / 2, kDashSide / 2);
    dashOneLayer_.position = origin;
    dashTwoLayer_.position = origin;
}

HUDErrorView::~HUDErrorView() {
    platform::Animator::removeAll(this);
}

void HUDErrorView::startAnimation() {
    dashOneModel_ = -std::numbers::pi / 4;
    dashTwoModel_ = std::numbers::pi / 4;
    QPointer<HUDErrorView> self(this);
    platform::Animator::add(this, kDashOneKey, rotationAnimation(-45, [self](double radians) {
                                if (!self) return;
                                self->dashOneShown_ = radians;
                                self->update();
                            }));
    platform::Animator::add(this, kDashTwoKey, rotationAnimation(45, [self](double radians) {
                                if (!self) return;
                                self->dashTwoShown_ = radians;
                                self->update();
                            }));
}

void HUDErrorView::stopAnimation() {
    platform::Animator::remove(this, kDashOneKey);
    platform::Animator::remove(this, kDashTwoKey);
    dashOneShown_ = dashOneModel_;
    dashTwoShown_ = dashTwoModel_;
    update();
}

void HUDErrorView::paintEvent(QPaintEvent* event) {
    HUDSquareBaseView::paintEvent(event);
    QPainter painter(this);
    for (const auto& [layer, radians] :
         {std::pair{&dashOneLayer_, dashOneShown_}, {&dashTwoLayer_, dashTwoShown_}}) {
        painter.save();
        painter.translate(anchor_);
        painter.rotate(radians * 180 / std::numbers::pi);
        painter.translate(-anchor_);
        layer->paint(painter);
        painter.restore();
    }
}

}  // namespace tervolo::widgets::hud
