#include "platform/ui/ActivityIndicator.hpp"

#include <QPainter>

#include <cmath>

#include "platform/ui/Animator.hpp"

namespace platform {

namespace {
constexpr int kSpokes = 12;
}

ActivityIndicator::ActivityIndicator(Style style, QWidget* parent) : QWidget(parent), style_(style) {
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    hide();
}

ActivityIndicator::~ActivityIndicator() {
    Animator::removeAll(this);
}

QSize ActivityIndicator::sizeHint() const {
    const int side = style_ == Style::Large ? 37 : 20;
    return QSize(side, side);
}

void ActivityIndicator::startAnimating() {
    if (animating_) return;
    animating_ = true;
    show();
    std::vector<AnimatableValue> steps;
    for (int i = 0; i < kSpokes; ++i) steps.emplace_back(static_cast<double>(i));
    auto turn = Animation::keyframes(std::move(steps), 1.0, true);
    turn.repeatCount = INFINITY;
    turn.apply = [this](const AnimatableValue& value) {
        const int next = static_cast<int>(std::get<double>(value));
        if (next == step_) return;
        step_ = next;
        update();
    };
    turn.restingValue = 0.0;
    Animator::add(this, "rotation", std::move(turn));
}

void ActivityIndicator::stopAnimating() {
    if (!animating_) return;
    animating_ = false;
    Animator::remove(this, "rotation");
    if (hidesWhenStopped_) hide();
    update();
}

void ActivityIndicator::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (!animating_) setVisible(!hides);
}

void ActivityIndicator::setColor(const QColor& color) {
    color_ = color;
    update();
}

void ActivityIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    const double outer = side / 2;
    const double inner = outer * 0.45;
    const double thickness = std::max(1.5, side / 11);
    painter.translate(width() / 2.0, height() / 2.0);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the current step is darkest; those behind it fade.
        const int age = (step_ - i + kSpokes) % kSpokes;
        QColor spoke = color_;
        spoke.setAlphaF(static_cast<float>(animating_ ? 1.0 - 0.75 * age / (kSpokes - 1.0) : 0.35));
        painter.save();
        painter.rotate(360.0 * i / kSpokes);
        painter.setPen(QPen(spoke, thickness, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer + thickness / 2));
        painter.restore();
    }
}

}  // namespace platform
