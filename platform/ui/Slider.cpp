#include "platform/ui/Slider.hpp"

#include <algorithm>
#include <cmath>

namespace platform {

Slider::Slider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    QSlider::setRange(0, kResolution);
    // Moves by mouse, wheel and keys all come as actions; programmatic values do not.
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int) {
        if (!continuous_ && isSliderDown()) return;
        // The action's new position is applied after this signal: read it from sliderPosition.
        const double range = maximum_ - minimum_;
        emit valueChanged(minimum_ + range * sliderPosition() / kResolution);
    });
    connect(this, &QAbstractSlider::sliderReleased, this, [this] {
        if (!continuous_) emit valueChanged(value());
    });
}

int Slider::toSteps(double value) const {
    const double range = maximum_ - minimum_;
    if (range <= 0) return 0;
    return static_cast<int>(
        std::lround((std::clamp(value, minimum_, maximum_) - minimum_) / range * kResolution));
}

double Slider::value() const {
    return minimum_ + (maximum_ - minimum_) * QSlider::value() / kResolution;
}

void Slider::setValue(double value) {
    QSlider::setValue(toSteps(value));
}

void Slider::setRange(double minimum, double maximum) {
    const double current = value();
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    setValue(current);
}

}  // namespace platform
