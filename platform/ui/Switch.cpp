#include "platform/ui/Switch.hpp"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "platform/ui/Animator.hpp"

namespace platform {

Switch::Switch(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

Switch::~Switch() {
    Animator::removeAll(this);
}

void Switch::setOn(bool on, bool animated) {
    on_ = on;
    const double target = on ? 1.0 : 0.0;
    if (!animated) {
        Animator::remove(this, "knob");
        knob_ = target;
        update();
        return;
    }
    auto slide = Animation::basic(knob_, target, 0.25);
    slide.curve = TimingCurve::easeInOut();
    slide.apply = [this](const AnimatableValue& value) {
        knob_ = std::get<double>(value);
        update();
    };
    slide.restingValue = target;
    Animator::add(this, "knob", std::move(slide));
}

void Switch::setOnTintColor(const QColor& color) {
    onTint_ = color;
    update();
}

void Switch::userToggle() {
    if (!isEnabled()) return;
    setOn(!on_, true);
    emit valueChanged(on_);
}

void Switch::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void Switch::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) userToggle();
}

void Switch::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        userToggle();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Switch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QSizeF size = QSizeF(sizeHint()).scaled(QSizeF(this->size()), Qt::KeepAspectRatio);
    const QRectF track(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    const double radius = track.height() / 2;
    const QColor off(0xe9, 0xe9, 0xeb);
    const auto mix = [&](const QColor& a, const QColor& b) {
        return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * knob_),
                                static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * knob_),
                                static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * knob_));
    };
    painter.setPen(Qt::NoPen);
    QColor trackColor = mix(off, onTint_);
    if (!isEnabled()) trackColor.setAlphaF(0.5f);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);
    const double inset = 2;
    const double knobSide = track.height() - 2 * inset;
    const double x = track.left() + inset + knob_ * (track.width() - knobSide - 2 * inset);
    const QRectF knob(x, track.top() + inset, knobSide, knobSide);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knob.translated(0, 1));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knob);
}

}  // namespace platform
