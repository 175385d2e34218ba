#include <gtest/gtest.h>

#include <QLabel>
#include <QObject>
#include <QVBoxLayout>

#include <cmath>
#include <string>
#include <vector>

#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/VirtualClockScope.hpp"

using platform::AnimatableValue;
using platform::Animation;
using platform::Animator;
using platform::SpringParameters;
using platform::TimingCurve;

namespace {

// A value with a model and what the screen shows, changed the way widget helpers change theirs.
struct Animated {
    QObject owner;
    std::string name = "value";
    double model = 0;
    double shown = 0;

    void set(double value) {
        model = value;
        Animator::setValue(&owner, name, shown, value,
                           [this](const AnimatableValue& v) { shown = std::get<double>(v); });
    }
};

// Reference for the spring: the ODE m·x'' = -k·(x - 1) - c·x' integrated with classic RK4 in small
// steps, independent of the closed form under test.
double integratedSpring(const SpringParameters& s, double until) {
    double x = 0, v = s.initialVelocity;
    const int steps = 20000;
    const double h = until / steps;
    auto acc = [&](double px, double pv) { return (-s.stiffness * (px - 1) - s.damping * pv) / s.mass; };
    for (int i = 0; i < steps; ++i) {
        const double k1x = v, k1v = acc(x, v);
        const double k2x = v + h / 2 * k1v, k2v = acc(x + h / 2 * k1x, v + h / 2 * k1v);
        const double k3x = v + h / 2 * k2v, k3v = acc(x + h / 2 * k2x, v + h / 2 * k2v);
        const double k4x = v + h * k3v, k4v = acc(x + h * k3x, v + h * k3v);
        x += h / 6 * (k1x + 2 * k2x + 2 * k3x + k4x);
        v += h / 6 * (k1v + 2 * k2v + 2 * k3v + k4v);
    }
    return x;
}

}  // namespace

TEST(Animation, ModelChangesAtOnceAndTheCompletionRunsWhenTheClockPassesTheEnd) {
    tervolo::testsupport::VirtualClockScope time;
    Animated value;
    std::vector<bool> completions;
    Animator::animate(
        0.3, 0, Animator::Options{Animator::Curve::Linear}, [&] { value.set(10); },
        [&](bool finished) { completions.push_back(finished); });
    EXPECT_EQ(value.model, 10);
    EXPECT_EQ(value.shown, 0);
    time.advance(0.15);
    EXPECT_NEAR(value.shown, 5, 0.7);  // the frame nearest 0.15 s
    time.advance(0.149);
    EXPECT_TRUE(completions.empty());
    time.advance(0.001);
    EXPECT_EQ(completions, std::vector<bool>{true});
    EXPECT_EQ(value.shown, 10);
    EXPECT_EQ(Animator::runningCount(), 0u);
}

// Completion order and finished flags: (what happens, when the completions run, with which flags).
TEST(Animation, CompletionOrderAndFinishedFlags) {
    tervolo::testsupport::VirtualClockScope time;
    std::vector<std::string> log;
    auto note = [&](std::string name) {
        return [&log, name](bool finished) { log.push_back(name + (finished ? "+" : "-")); };
    };
    Animated a, b;

    // Nested blocks: the inner one keeps its own timing; equal ends run outer first.
    Animator::animate(
        0.3,
        [&] {
            a.set(1);
            Animator::animate(
                0.1, [&] { b.set(1); }, note("inner-short"));
            Animator::animate(
                0.3, [] {}, note("inner-same"));
        },
        note("outer"));
    time.advance(0.1);
    EXPECT_EQ(log, (std::vector<std::string>{"inner-short+"}));
    EXPECT_EQ(b.shown, 1);
    time.advance(0.2);
    EXPECT_EQ(log, (std::vector<std::string>{"inner-short+", "outer+", "inner-same+"}));

    // Cancelled: removing runs the completion at once with finished = false and shows the model value.
    log.clear();
    Animator::animate(
        1.0, [&] { a.set(5); }, note("cancelled"));
    time.advance(0.5);
    Animator::removeAll(&a.owner);
    EXPECT_EQ(log, (std::vector<std::string>{"cancelled-"}));
    EXPECT_EQ(a.shown, 5);

    // Replaced: a new animation of the same value cuts the running one and starts where it was.
    log.clear();
    Animator::animate(
        1.0, 0, {Animator::Curve::Linear}, [&] { a.set(15); }, note("first"));
    time.advance(0.5);
    Animator::animate(
        1.0, 0, {Animator::Curve::Linear}, [&] { a.set(0); }, note("second"));
    EXPECT_EQ(log, (std::vector<std::string>{"first-"}));
    time.advance(0.5);
    EXPECT_NEAR(a.shown, 5, 0.3);  // halfway from 10 to 0
    time.advance(0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"first-", "second+"}));

    // Repeating: never completes by itself; removal gives finished = false.
    log.clear();
    Animator::Options repeat{Animator::Curve::Linear, true, true};
    Animator::animate(
        0.2, 0, repeat, [&] { b.set(3); }, note("repeat"));
    time.advance(10.1);
    EXPECT_TRUE(log.empty());
    EXPECT_NEAR(b.shown, 1 + 2 * 0.5, 0.2);  // 10.1 s = 50 passes + half of a forward one
    Animator::remove(&b.owner, "value");
    EXPECT_EQ(log, (std::vector<std::string>{"repeat-"}));
    EXPECT_EQ(b.shown, 3);

    // Delay: the screen holds the old value until the delay has passed; nothing animatable still
    // completes at the end.
    log.clear();
    Animator::animate(
        0.2, 0.5, {Animator::Curve::Linear}, [&] { a.set(2); }, note("delayed"));
    Animator::animate(
        0.2, [] {}, note("empty"));
    time.advance(0.4);
    EXPECT_EQ(a.shown, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"empty+"}));
    time.advance(0.3);
    EXPECT_EQ(log, (std::vector<std::string>{"empty+", "delayed+"}));
    EXPECT_EQ(a.shown, 2);

    // A destroyed owner ends its animations with finished = false.
    log.clear();
    auto owner = std::make_unique<Animated>();
    Animator::animate(
        1.0, [&] { owner->set(1); }, note("orphan"));
    owner.reset();
    EXPECT_EQ(log, (std::vector<std::string>{"orphan-"}));
    time.advance(1);
    EXPECT_EQ(Animator::runningCount(), 0u);
}

// A completion cut short inside another block's changes runs after those changes, so what it sets
// is not swept into that block's animation.
TEST(Animation, CutCompletionRunsAfterTheReplacingBlock) {
    tervolo::testsupport::VirtualClockScope time;
    Animated a, b;
    Animator::animate(
        1.0, [&] { a.set(10); },
        [&](bool finished) {
            EXPECT_FALSE(finished);
            EXPECT_FALSE(Animator::inAnimationBlock());
            b.set(7);
        });
    time.advance(0.5);
    Animator::animate(1.0, [&] {
        a.set(0);
        EXPECT_EQ(b.shown, 0);  // not yet: the cut completion waits for the block
    });
    EXPECT_EQ(b.shown, 7);  // set at once, not animated
    EXPECT_TRUE(Animator::animationKeys(&b.owner).empty());
    time.advance(1.0);
}

TEST(Animation, ImmediateModeAppliesAndCompletesBeforeAnimateReturns) {
    tervolo::testsupport::VirtualClockScope time;
    Animated value;
    std::vector<bool> log;
    {
        platform::ImmediateAnimationsScope immediate;
        Animator::animate(
            0.3, [&] { value.set(4); }, [&](bool finished) { log.push_back(finished); });
        EXPECT_EQ(value.shown, 4);
        EXPECT_EQ(log, std::vector<bool>{true});

        // A forever animation stays registered (a spinner reports it animates) without running.
        auto spin = Animation::keyframes({0.0, 30.0, 60.0}, 1.0, true);
        spin.repeatCount = INFINITY;
        spin.apply = [&](const AnimatableValue& v) { value.shown = std::get<double>(v); };
        spin.restingValue = 0.0;
        Animator::add(&value.owner, "spin", spin);
        EXPECT_EQ(Animator::animationKeys(&value.owner), std::vector<std::string>{"spin"});
        Animator::remove(&value.owner, "spin");
    }
    // Switching to immediate finishes what runs.
    log.clear();
    Animator::animate(
        5, [&] { value.set(8); }, [&](bool finished) { log.push_back(finished); });
    Animator::setImmediate(true);
    EXPECT_EQ(log, std::vector<bool>{true});
    EXPECT_EQ(value.shown, 8);
    Animator::setImmediate(false);
}

TEST(Animation, SpringMatchesTheIntegratedEquationOfMotion) {
    struct Case {
        const char* name;
        SpringParameters spring;
    };
    const Case cases[] = {
        {"underdamped", {1, 100, 10, 0}},
        {"underdamped with velocity", {2, 300, 8, 3}},
        {"critically damped", {1, 100, 20, 0}},
        {"critically damped against velocity", {1, 64, 16, -2}},
        {"overdamped", {1, 100, 50, 1}},
        {"from ratio 0.7 over 0.5 s", SpringParameters::withDuration(0.5, 0.7, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (double t : {0.01, 0.05, 0.1, 0.2, 0.35, 0.5, 1.0}) {
            EXPECT_NEAR(c.spring.valueAt(t), integratedSpring(c.spring, t), 1e-7) << t;
        }
        const double settle = c.spring.settlingDuration();
        EXPECT_LT(std::abs(c.spring.valueAt(settle) - 1), 0.001);
        EXPECT_GE(std::abs(c.spring.valueAt(settle - 0.01) - 1), 0.0009);
    }
    // Damping ratio 1 never overshoots; 0.7 overshoots a little.
    double peakCritical = 0, peakSlight = 0;
    for (double t = 0; t < 0.5; t += 0.001) {
        peakCritical = std::max(peakCritical, SpringParameters::withDuration(0.5, 1, 0).valueAt(t));
        peakSlight = std::max(peakSlight, SpringParameters::withDuration(0.5, 0.7, 0).valueAt(t));
    }
    EXPECT_LE(peakCritical, 1.0);
    EXPECT_GT(peakSlight, 1.0);
    EXPECT_LT(peakSlight, 1.1);
}

TEST(Animation, SpringBlockShowsTheCurveAndEndsExactlyOnTheTarget) {
    tervolo::testsupport::VirtualClockScope time;
    Animated value;
    bool done = false;
    Animator::animateWithSpring(
        0.5, 0, 0.5, 0, {}, [&] { value.set(100); }, [&](bool f) { done = f; });
    const auto spring = SpringParameters::withDuration(0.5, 0.5, 0);
    for (int frame = 1; frame < 30; ++frame) {
        time.advance(Animator::kFrameInterval);
        EXPECT_NEAR(value.shown, 100 * spring.valueAt(frame * Animator::kFrameInterval), 1e-6);
    }
    time.advance(0.5 - 29 * Animator::kFrameInterval);
    EXPECT_TRUE(done);
    EXPECT_EQ(value.shown, 100);
}

TEST(Animation, TimingCurves) {
    const double d = 2.0;
    EXPECT_DOUBLE_EQ(TimingCurve::linear().valueAt(0.5, d), 0.25);
    EXPECT_NEAR(TimingCurve::easeInOut().valueAt(1.0, d), 0.5, 1e-9);  // symmetric
    EXPECT_LT(TimingCurve::easeIn().valueAt(1.0, d), 0.4);
    EXPECT_GT(TimingCurve::easeOut().valueAt(1.0, d), 0.6);
    for (const auto& curve : {TimingCurve::easeIn(), TimingCurve::easeOut(), TimingCurve::easeInOut()}) {
        double previous = 0;
        for (double t = 0; t <= d; t += 0.01) {
            const double v = curve.valueAt(t, d);
            EXPECT_GE(v, previous - 1e-12);
            previous = v;
        }
        EXPECT_EQ(curve.valueAt(d, d), 1.0);
    }
    // A known point of the ease-in-out curve: s = 0.25 gives x = 0.274375 and y = 0.15625.
    EXPECT_NEAR(TimingCurve::easeInOut().valueAt(0.274375, 1.0), 0.15625, 1e-6);
}

TEST(Animation, DiscreteKeyframesRepeatAndRestAfterRemoval) {
    tervolo::testsupport::VirtualClockScope time;
    QObject owner;
    std::vector<AnimatableValue> steps;
    for (int i = 0; i < 12; ++i) steps.emplace_back(30.0 * i);
    auto spin = Animation::keyframes(steps, 1.0, true);
    spin.repeatCount = INFINITY;
    double angle = -1;
    spin.apply = [&](const AnimatableValue& v) { angle = std::get<double>(v); };
    spin.restingValue = 0.0;
    bool finished = true;
    spin.completion = [&](bool f) { finished = f; };
    Animator::add(&owner, "rotation", spin);
    EXPECT_EQ(angle, 0);
    time.advance(0.05);  // still inside the first twelfth
    EXPECT_EQ(angle, 0);
    time.advance(0.05);  // 0.1 s: second step
    EXPECT_EQ(angle, 30);
    time.advance(0.8);  // 0.9 s
    EXPECT_EQ(angle, 300);
    time.advance(0.2);  // 1.1 s: the second pass began again at its second step
    EXPECT_EQ(angle, 30);
    Animator::remove(&owner, "rotation");
    EXPECT_EQ(angle, 0);
    EXPECT_FALSE(finished);

    // Finite passes with autoreverse end where they started; linear keyframes interpolate.
    auto wave = Animation::keyframes({0.0, 10.0, 0.0}, 1.0, false);
    wave.autoreverses = true;
    wave.repeatCount = 1;
    double shown = -1;
    wave.apply = [&](const AnimatableValue& v) { shown = std::get<double>(v); };
    finished = false;
    wave.completion = [&](bool f) { finished = f; };
    Animator::add(&owner, "wave", wave);
    time.advance(0.25);
    EXPECT_NEAR(shown, 5, 0.4);
    time.advance(1.75);
    EXPECT_TRUE(finished);
    EXPECT_EQ(shown, 0);

    auto basic = Animation::basic(QPointF(0, 0), QPointF(10, 20), 1.0);
    basic.autoreverses = true;
    basic.repeatCount = 1.25;  // a cycle is forward and back: then half of a forward pass
    QPointF point;
    basic.apply = [&](const AnimatableValue& v) { point = std::get<QPointF>(v); };
    Animator::add(&owner, "point", basic);
    time.advance(3.0);
    EXPECT_EQ(point, QPointF(5, 10));
    EXPECT_TRUE(Animator::animationKeys(&owner).empty());
}

class AnimationWidgetTest : public widgetkit_test::WidgetTest {};

TEST_F(AnimationWidgetTest, SubtreeFadesAndScalesAsASnapshotAndIsLiveAtRest) {
    tervolo::testsupport::VirtualClockScope time;
    QWidget window;
    window.resize(240, 160);
    window.setStyleSheet(QStringLiteral("background: white"));
    auto* card = new QWidget(&window);
    card->setStyleSheet(QStringLiteral("background: #3070c0"));
    card->setGeometry(40, 30, 160, 100);
    auto* layout = new QVBoxLayout(card);
    auto* label = new QLabel(QStringLiteral("Card"), card);
    label->setStyleSheet(QStringLiteral("color: white; font-size: 20px"));
    layout->addWidget(label);
    window.show();

    Animator::animate(0.4, 0, {Animator::Curve::Linear}, [&] {
        platform::setAlpha(card, 0.2);
        platform::setTransform(card, QTransform::fromScale(0.5, 0.5));
    });
    EXPECT_EQ(platform::alpha(card), 0.2);
    EXPECT_EQ(platform::transform(card), QTransform::fromScale(0.5, 0.5));
    time.advance(0.2);
    EXPECT_TRUE(platform::isShowingSnapshot(card));
    EXPECT_NEAR(platform::presentationAlpha(card), 0.6, 0.05);
    widgetkit_test::saveScreenshot(widgetkit_test::render(window), QStringLiteral("animation_card_midway"));

    Animator::animate(0.4, [&] { platform::setTransform(card, QTransform()); });
    time.advance(0.4);
    EXPECT_FALSE(platform::isShowingSnapshot(card));
    EXPECT_EQ(platform::presentationAlpha(card), 0.2);
    EXPECT_FALSE(card->testAttribute(Qt::WA_TransparentForMouseEvents));
    widgetkit_test::saveScreenshot(widgetkit_test::render(window), QStringLiteral("animation_card_rest"));

    // An invisible widget lets clicks through; frames animate on the live widget.
    Animator::animate(0.2, [&] {
        platform::setAlpha(card, 0);
        platform::setFrame(card, QRect(0, 0, 100, 50));
    });
    EXPECT_EQ(platform::frame(card), QRect(0, 0, 100, 50));
    EXPECT_EQ(card->geometry(), QRect(40, 30, 160, 100));
    time.advance(0.2);
    EXPECT_EQ(card->geometry(), QRect(0, 0, 100, 50));
    EXPECT_TRUE(card->testAttribute(Qt::WA_TransparentForMouseEvents));
}
