#include "widgets/hud/HUDAnimation.hpp"

#include <QPointer>

#include <numbers>

#include "platform/ui/Animator.hpp"
#include "widgets/hud/HUDImageView.hpp"

namespace tervolo::widgets::hud {

namespace {
// The repeat count the platform uses for "forever": 2^31 as a 32-bit float.
constexpr double kForever = 2147483648.0;
}  // namespace

const platform::Animation& HUDAnimation::discreteRotation() {
    static const platform::Animation animation = [] {
        std::vector<platform::AnimatableValue> values;
        std::vector<double> keyTimes;
        for (int k = 0; k <= 12; ++k) {
            values.emplace_back(k * std::numbers::pi / 6);
            keyTimes.push_back(k / 12.0);
        }
        auto made = platform::Animation::keyframes(std::move(values), kTurnDuration, true);
        made.keyTimes = std::move(keyTimes);
        made.repeatCount = kForever;
        return made;
    }();
    return animation;
}

const platform::Animation& HUDAnimation::smoothRotation() {
    static const platform::Animation animation = [] {
        auto made = platform::Animation::basic(0.0, 2 * std::numbers::pi, kTurnDuration);
        made.repeatCount = kForever;
        return made;
    }();
    return animation;
}

void HUDAnimation::turn(HUDImageView* picture, const platform::Animation& rotation) {
    if (!picture) return;
    auto turn = rotation;
    QPointer<HUDImageView> guard(picture);
    turn.apply = [guard](const platform::AnimatableValue& value) {
        if (guard) guard->setRotation(std::get<double>(value));
    };
    platform::Animator::add(picture, kAnimationKey, std::move(turn));
}

}  // namespace tervolo::widgets::hud
