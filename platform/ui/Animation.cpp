#include "platform/ui/Animation.hpp"

#include <QObject>
#include <QPointer>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace platform {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Clock readings and scheduled due times round differently; an animation within this much of its
// end counts as ended, so a completion never waits for one extra frame.
constexpr double kEndTolerance = 1e-6;
constexpr double kForeverRepeatCount = 2147483648.0;  // 2^31

double lerp(double a, double b, double t) {
    return a + (b - a) * t;
}

struct Interpolator {
    double t;
    AnimatableValue operator()(double a, double b) const { return lerp(a, b, t); }
    AnimatableValue operator()(const QPointF& a, const QPointF& b) const {
        return QPointF(lerp(a.x(), b.x(), t), lerp(a.y(), b.y(), t));
    }
    AnimatableValue operator()(const QSizeF& a, const QSizeF& b) const {
        return QSizeF(lerp(a.width(), b.width(), t), lerp(a.height(), b.height(), t));
    }
    AnimatableValue operator()(const QRectF& a, const QRectF& b) const {
        return QRectF(lerp(a.x(), b.x(), t), lerp(a.y(), b.y(), t), lerp(a.width(), b.width(), t),
                      lerp(a.height(), b.height(), t));
    }
    AnimatableValue operator()(const QTransform& a, const QTransform& b) const {
        return QTransform(lerp(a.m11(), b.m11(), t), lerp(a.m12(), b.m12(), t), lerp(a.m13(), b.m13(), t),
                          lerp(a.m21(), b.m21(), t), lerp(a.m22(), b.m22(), t), lerp(a.m23(), b.m23(), t),
                          lerp(a.m31(), b.m31(), t), lerp(a.m32(), b.m32(), t), lerp(a.m33(), b.m33(), t));
    }
    AnimatableValue operator()(const QColor& a, const QColor& b) const {
        const QColor ra = a.toRgb(), rb = b.toRgb();
        auto channel = [&](double x, double y) { return std::clamp(lerp(x, y, t), 0.0, 1.0); };
        return QColor::fromRgbF(static_cast<float>(channel(ra.redF(), rb.redF())),
                                static_cast<float>(channel(ra.greenF(), rb.greenF())),
                                static_cast<float>(channel(ra.blueF(), rb.blueF())),
                                static_cast<float>(channel(ra.alphaF(), rb.alphaF())));
    }
    template <typename A, typename B>
    AnimatableValue operator()(const A&, const B& b) const {
        return b;
    }
};

// One coordinate of a cubic Bezier from (0,0) to (1,1) with control values p1 and p2.
double bezier(double p1, double p2, double s) {
    const double u = 1 - s;
    return 3 * u * u * s * p1 + 3 * u * s * s * p2 + s * s * s;
}

double bezierSlope(double p1, double p2, double s) {
    const double u = 1 - s;
    return 3 * u * u * p1 + 6 * u * s * (p2 - p1) + 3 * s * s * (1 - p2);
}

}  // namespace

AnimatableValue interpolate(const AnimatableValue& from, const AnimatableValue& to, double t) {
    return std::visit(Interpolator{t}, from, to);
}

// ---- Springs ------------------------------------------------------------------------------------

SpringParameters SpringParameters::withDuration(double duration, double dampingRatio,
                                                double initialVelocity) {
    const double response = duration > 0 ? duration : 0.001;
    const double omega = 2 * M_PI / response;
    SpringParameters spring;
    spring.mass = 1;
    spring.stiffness = omega * omega;
    spring.damping = 2 * std::max(dampingRatio, 0.0) * omega;
    spring.initialVelocity = initialVelocity;
    return spring;
}

double SpringParameters::dampingRatio() const {
    return damping / (2 * std::sqrt(stiffness * mass));
}

double springValue(const SpringParameters& spring, double t) {
    if (t <= 0) return 0;
    if (spring.mass <= 0 || spring.stiffness <= 0) return 1;
    const double omega0 = std::sqrt(spring.stiffness / spring.mass);
    const double zeta = spring.dampingRatio();
    const double v0 = spring.initialVelocity;
    // Distance to the target d(t), with d(0) = -1 and d'(0) = v0.
    double d;
    if (std::abs(zeta - 1) < 1e-9) {
        d = std::exp(-omega0 * t) * (-1 + (v0 - omega0) * t);
    } else if (zeta < 1) {
        const double omegaD = omega0 * std::sqrt(1 - zeta * zeta);
        const double b = (v0 - zeta * omega0) / omegaD;
        d = std::exp(-zeta * omega0 * t) * (-std::cos(omegaD * t) + b * std::sin(omegaD * t));
    } else {
        const double root = omega0 * std::sqrt(zeta * zeta - 1);
        const double r1 = -zeta * omega0 + root;
        const double r2 = -zeta * omega0 - root;
        const double c2 = (v0 + r1) / (r2 - r1);
        const double c1 = -1 - c2;
        d = c1 * std::exp(r1 * t) + c2 * std::exp(r2 * t);
    }
    return 1 + d;
}

double SpringParameters::settlingDuration() const {
    constexpr double kStep = 1.0 / 240.0;
    constexpr double kLimit = 60.0;
    constexpr double kThreshold = 0.001;
    double lastOutside = 0;
    // The tail of a damped spring only shrinks, so once it has stayed inside for a full second of
    // samples beyond the slowest oscillation the answer is known.
    for (double t = kStep; t <= kLimit; t += kStep) {
        if (std::abs(springValue(*this, t) - 1) >= kThreshold) {
            lastOutside = t;
        } else if (t - lastOutside > 1.0 + 2 * M_PI / std::sqrt(std::max(stiffness / mass, 1e-9))) {
            break;
        }
    }
    return std::min(lastOutside + kStep, kLimit);
}

// ---- Timing curves ------------------------------------------------------------------------------

TimingCurve TimingCurve::linear() {
    return cubicBezier(0, 0, 1, 1);
}
TimingCurve TimingCurve::easeIn() {
    return cubicBezier(0.42, 0, 1, 1);
}
TimingCurve TimingCurve::easeOut() {
    return cubicBezier(0, 0, 0.58, 1);
}
TimingCurve TimingCurve::easeInOut() {
    return cubicBezier(0.42, 0, 0.58, 1);
}

TimingCurve TimingCurve::cubicBezier(double x1, double y1, double x2, double y2) {
    TimingCurve curve;
    curve.x1_ = std::clamp(x1, 0.0, 1.0);
    curve.y1_ = y1;
    curve.x2_ = std::clamp(x2, 0.0, 1.0);
    curve.y2_ = y2;
    return curve;
}

TimingCurve TimingCurve::spring(SpringParameters parameters) {
    TimingCurve curve;
    curve.spring_ = parameters;
    return curve;
}

double TimingCurve::valueAt(double elapsed, double duration) const {
    if (spring_) return elapsed >= duration ? 1.0 : springValue(*spring_, elapsed);
    if (duration <= 0 || elapsed >= duration) return 1.0;
    if (elapsed <= 0) return 0.0;
    const double x = elapsed / duration;
    if (x1_ == y1_ && x2_ == y2_) return x;
    // Solve bezier_x(s) = x: Newton steps, falling back to bisection where the slope is flat.
    double s = x;
    for (int i = 0; i < 8; ++i) {
        const double error = bezier(x1_, x2_, s) - x;
        if (std::abs(error) < 1e-9) return bezier(y1_, y2_, s);
        const double slope = bezierSlope(x1_, x2_, s);
        if (std::abs(slope) < 1e-6) break;
        s -= error / slope;
    }
    double lo = 0, hi = 1;
    s = x;
    for (int i = 0; i < 60; ++i) {
        const double value = bezier(x1_, x2_, s);
        if (std::abs(value - x) < 1e-9) break;
        (value < x ? lo : hi) = s;
        s = (lo + hi) / 2;
    }
    return bezier(y1_, y2_, s);
}

// ---- Keyed animations ---------------------------------------------------------------------------

Animation Animation::basic(AnimatableValue from, AnimatableValue to, double duration) {
    Animation animation;
    animation.from = std::move(from);
    animation.to = std::move(to);
    animation.duration = duration;
    return animation;
}

Animation Animation::keyframes(std::vector<AnimatableValue> values, double duration, bool discrete) {
    Animation animation;
    animation.values = std::move(values);
    animation.duration = duration;
    animation.discrete = discrete;
    return animation;
}

Animation Animation::spring(AnimatableValue from, AnimatableValue to, SpringParameters parameters) {
    Animation animation = basic(std::move(from), std::move(to), parameters.settlingDuration());
    animation.curve = TimingCurve::spring(parameters);
    return animation;
}

bool Animation::repeatsForever() const {
    return std::isinf(repeatCount) || repeatCount >= kForeverRepeatCount;
}

double Animation::activeDuration() const {
    if (repeatsForever()) return kInfinity;
    const double passes = repeatCount > 0 ? repeatCount : 1.0;
    return delay + std::max(duration, 0.0) * passes * (autoreverses ? 2 : 1);
}

AnimatableValue Animation::valueAt(double elapsed) const {
    double local = elapsed - delay;
    double passTime = 0;  // seconds into the current pass, running backwards on a reversed pass
    if (local <= 0 || duration <= 0) {
        passTime = local <= 0 ? 0 : duration;
    } else if (local >= activeDuration() - delay) {
        // Ended: the last pass's end, which is the start when it was a reversed pass.
        const double passes = (repeatCount > 0 ? repeatCount : 1.0) * (autoreverses ? 2 : 1);
        const double whole = std::ceil(passes - 1e-9);
        const double fraction = passes - (whole - 1);
        const bool backwards = autoreverses && static_cast<long long>(whole - 1) % 2 == 1;
        passTime = (backwards ? 1 - fraction : fraction) * duration;
        if (fraction >= 1 - 1e-9) passTime = backwards ? 0 : duration;
    } else {
        const double pass = std::floor(local / duration);
        passTime = local - pass * duration;
        if (autoreverses && static_cast<long long>(pass) % 2 == 1) passTime = duration - passTime;
    }

    if (values.empty()) return interpolate(from, to, curve.valueAt(passTime, duration));
    if (values.size() == 1) return values.front();
    const double progress = curve.valueAt(passTime, duration);
    const size_t n = values.size();
    auto keyTime = [&](size_t i) {
        if (keyTimes.size() == n) return keyTimes[i];
        return discrete ? static_cast<double>(i) / static_cast<double>(n)
                        : static_cast<double>(i) / static_cast<double>(n - 1);
    };
    size_t index = 0;
    while (index + 1 < n && progress >= keyTime(index + 1)) ++index;
    if (discrete || index + 1 >= n) return values[index];
    const double span = keyTime(index + 1) - keyTime(index);
    const double t = span > 0 ? (progress - keyTime(index)) / span : 1.0;
    return interpolate(values[index], values[index + 1], t);
}

// ---- The animator -------------------------------------------------------------------------------

namespace {

struct Group {
    uint64_t sequence = 0;
    double end = kInfinity;  // when the completion falls due if nothing cut it short
    AnimationCompletion completion;
    int live = 0;
    bool cut = false;
};

struct Track {
    QObject* ownerKey = nullptr;
    QPointer<QObject> owner;
    std::string key;
    double start = 0;
    Animation animation;
    std::shared_ptr<Group> group;
    bool removed = false;
    bool driven = true;  // false: registered only (a forever animation in immediate mode)
};

struct Transaction {
    std::shared_ptr<Group> group;
    double start;
    double duration;
    double delay;
    AnimationOptions options;
    TimingCurve curve;
};

struct State {
    std::vector<std::shared_ptr<Track>> tracks;
    std::vector<std::shared_ptr<Group>> groups;  // completions not yet run
    std::vector<Transaction> transactions;
    int withoutAnimation = 0;
    bool immediate = false;
    uint64_t nextSequence = 1;
    uint64_t tickGeneration = 0;  // a scheduled tick of an older generation does nothing
    double tickDue = kInfinity;
};

State& state() {
    static State& shared = *new State();
    return shared;
}

double now() {
    return Clock::current()->monotonicSeconds();
}

TimingCurve curveFor(AnimationCurve curve) {
    switch (curve) {
        case AnimationCurve::Linear:
            return TimingCurve::linear();
        case AnimationCurve::EaseIn:
            return TimingCurve::easeIn();
        case AnimationCurve::EaseOut:
            return TimingCurve::easeOut();
        case AnimationCurve::EaseInOut:
            break;
    }
    return TimingCurve::easeInOut();
}

void applyValue(Track& track, const AnimatableValue& value) {
    if (track.owner && track.animation.apply) track.animation.apply(value);
}

AnimatableValue finalValue(const Track& track) {
    if (track.animation.restingValue) return *track.animation.restingValue;
    return track.animation.valueAt(track.animation.activeDuration());
}

using Pending = std::vector<std::pair<AnimationCompletion, bool>>;

void runCompletions(Pending& pending) {
    for (auto& [completion, finished] : pending) {
        if (completion) completion(finished);
    }
}

void takeGroup(const std::shared_ptr<Group>& group, bool finished, Pending& pending) {
    auto& groups = state().groups;
    auto it = std::find(groups.begin(), groups.end(), group);
    if (it == groups.end()) return;
    groups.erase(it);
    pending.emplace_back(std::move(group->completion), finished);
}

// Takes `track` off the screen: applies its final or resting value and, when it was cut short and its
// group has nothing else running, queues the group's completion with finished = false.
void endTrack(const std::shared_ptr<Track>& track, bool natural, Pending& pending) {
    if (track->removed) return;
    track->removed = true;
    auto& tracks = state().tracks;
    tracks.erase(std::find(tracks.begin(), tracks.end(), track));
    if (track->owner) applyValue(*track, finalValue(*track));
    auto& group = *track->group;
    --group.live;
    if (!natural || !track->owner) group.cut = true;
    if (group.cut && group.live == 0) takeGroup(track->group, false, pending);
}

void completeDueGroups(double time, Pending& pending) {
    std::vector<std::shared_ptr<Group>> due;
    for (const auto& group : state().groups) {
        if (group->live == 0 && group->end - kEndTolerance <= time) due.push_back(group);
    }
    std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) {
        return a->end != b->end ? a->end < b->end : a->sequence < b->sequence;
    });
    for (const auto& group : due) takeGroup(group, !group->cut, pending);
}

void tick();

void schedule() {
    auto& s = state();
    const double time = now();
    // Frames follow the clock exactly; a boundary (a delay's or an animation's end) is aimed a little
    // early, and the tick then counts as at the boundary (see kEndTolerance).
    double due = kInfinity;
    auto boundary = [&](double at) { due = std::min(due, std::max(time, at - kEndTolerance / 2)); };
    for (const auto& track : s.tracks) {
        if (!track->driven) continue;
        if (time - track->start < track->animation.delay - kEndTolerance) {
            boundary(track->start + track->animation.delay);
        } else {
            due = std::min(due, time + Animator::kFrameInterval);
        }
        boundary(track->start + track->animation.activeDuration());
    }
    for (const auto& group : s.groups) {
        if (group->live == 0) boundary(group->end);
    }
    if (std::isinf(due)) {
        ++s.tickGeneration;
        s.tickDue = kInfinity;
        return;
    }
    if (s.tickDue <= due) return;
    const uint64_t generation = ++s.tickGeneration;
    s.tickDue = due;
    DispatchQueue::main()->asyncAfter(due - time, [generation] {
        if (state().tickGeneration != generation) return;
        state().tickDue = kInfinity;
        tick();
    });
}

void tick() {
    auto& s = state();
    const double time = now();
    Pending pending;
    const auto tracks = s.tracks;
    for (const auto& track : tracks) {
        if (track->removed || !track->driven) continue;
        if (!track->owner) {
            endTrack(track, false, pending);
            continue;
        }
        const double elapsed = time - track->start;
        if (elapsed >= track->animation.activeDuration() - kEndTolerance) {
            endTrack(track, true, pending);
        } else {
            applyValue(*track, track->animation.valueAt(elapsed));
        }
    }
    completeDueGroups(time, pending);
    schedule();
    runCompletions(pending);
}

std::shared_ptr<Group> newGroup(double end, AnimationCompletion completion) {
    auto group = std::make_shared<Group>();
    group->sequence = state().nextSequence++;
    group->end = end;
    group->completion = std::move(completion);
    state().groups.push_back(group);
    return group;
}

std::shared_ptr<Track> findTrack(QObject* owner, const std::string& key) {
    for (const auto& track : state().tracks) {
        if (track->ownerKey == owner && track->key == key && !track->removed) return track;
    }
    return nullptr;
}

void watchOwner(QObject* owner) {
    // A destroyed owner's animations end with finished = false; the property marks the connection made.
    if (owner->property("_tervoloAnimated").toBool()) return;
    owner->setProperty("_tervoloAnimated", true);
    QObject::connect(owner, &QObject::destroyed, [owner] {
        Pending pending;
        const auto tracks = state().tracks;
        for (const auto& track : tracks) {
            if (track->ownerKey == owner) endTrack(track, false, pending);
        }
        schedule();
        runCompletions(pending);
    });
}

void runBlock(double duration, double delay, AnimationOptions options, TimingCurve curve,
              const std::function<void()>& changes, AnimationCompletion completion) {
    auto& s = state();
    if (s.immediate) {
        ++s.withoutAnimation;
        if (changes) changes();
        --s.withoutAnimation;
        if (completion) completion(true);
        return;
    }
    duration = std::max(duration, 0.0);
    delay = std::max(delay, 0.0);
    const double start = now();
    auto group = newGroup(options.repeat ? kInfinity : start + delay + duration, std::move(completion));
    s.transactions.push_back(Transaction{group, start, duration, delay, options, std::move(curve)});
    if (changes) changes();
    s.transactions.pop_back();
    // A repeating block that changed nothing still completes, after one pass.
    if (group->live == 0 && std::isinf(group->end)) group->end = start + delay + duration;
    schedule();
}

}  // namespace

void Animator::animate(double duration, double delay, AnimationOptions options, std::function<void()> changes,
                       AnimationCompletion completion) {
    runBlock(duration, delay, options, curveFor(options.curve), changes, std::move(completion));
}

void Animator::animate(double duration, std::function<void()> changes, AnimationCompletion completion) {
    animate(duration, 0, AnimationOptions{}, std::move(changes), std::move(completion));
}

void Animator::animateWithSpring(double duration, double delay, double dampingRatio, double initialVelocity,
                                 AnimationOptions options, std::function<void()> changes,
                                 AnimationCompletion completion) {
    runBlock(duration, delay, options,
             TimingCurve::spring(SpringParameters::withDuration(duration, dampingRatio, initialVelocity)),
             changes, std::move(completion));
}

void Animator::performWithoutAnimation(const std::function<void()>& changes) {
    ++state().withoutAnimation;
    if (changes) changes();
    --state().withoutAnimation;
}

bool Animator::inAnimationBlock() {
    const auto& s = state();
    return !s.immediate && s.withoutAnimation == 0 && !s.transactions.empty();
}

void Animator::setValue(QObject* owner, const std::string& property, const AnimatableValue& current,
                        const AnimatableValue& to, std::function<void(const AnimatableValue&)> apply) {
    auto& s = state();
    Pending pending;
    AnimatableValue from = current;
    if (auto running = findTrack(owner, property)) {
        if (auto shown = presentationValue(owner, property)) from = *shown;
        running->animation.restingValue.reset();  // the new value takes over; nothing to put back
        running->animation.apply = nullptr;
        endTrack(running, false, pending);
    }
    if (!inAnimationBlock() || !owner) {
        if (apply) apply(to);
        schedule();
        runCompletions(pending);
        return;
    }
    const auto& transaction = s.transactions.back();
    auto track = std::make_shared<Track>();
    track->ownerKey = owner;
    track->owner = owner;
    track->key = property;
    track->start = transaction.start;
    track->group = transaction.group;
    track->animation.from = from;
    track->animation.to = to;
    track->animation.curve = transaction.curve;
    track->animation.duration = transaction.duration;
    track->animation.delay = transaction.delay;
    track->animation.repeatCount = transaction.options.repeat ? kInfinity : 0;
    track->animation.autoreverses = transaction.options.autoreverse;
    track->animation.restingValue = to;
    track->animation.apply = std::move(apply);
    ++track->group->live;
    watchOwner(owner);
    s.tracks.push_back(track);
    runCompletions(pending);
}

void Animator::add(QObject* owner, const std::string& key, Animation animation) {
    if (!owner) return;
    auto& s = state();
    Pending pending;
    if (auto running = findTrack(owner, key)) endTrack(running, false, pending);
    const double start = now();
    auto track = std::make_shared<Track>();
    track->ownerKey = owner;
    track->owner = owner;
    track->key = key;
    track->start = start;
    const double end = start + animation.activeDuration();
    track->group = newGroup(end, std::move(animation.completion));
    animation.completion = nullptr;
    track->animation = std::move(animation);
    ++track->group->live;
    watchOwner(owner);
    s.tracks.push_back(track);
    if (s.immediate) {
        if (track->animation.repeatsForever()) {
            track->driven = false;
            applyValue(*track, finalValue(*track));
        } else {
            endTrack(track, true, pending);
            takeGroup(track->group, true, pending);
        }
    } else {
        applyValue(*track, track->animation.valueAt(0));
    }
    schedule();
    runCompletions(pending);
}

void Animator::remove(QObject* owner, const std::string& key) {
    Pending pending;
    if (auto track = findTrack(owner, key)) endTrack(track, false, pending);
    schedule();
    runCompletions(pending);
}

void Animator::removeAll(QObject* owner) {
    Pending pending;
    const auto tracks = state().tracks;
    for (const auto& track : tracks) {
        if (track->ownerKey == owner) endTrack(track, false, pending);
    }
    schedule();
    runCompletions(pending);
}

std::vector<std::string> Animator::animationKeys(QObject* owner) {
    std::vector<std::string> keys;
    for (const auto& track : state().tracks) {
        if (track->ownerKey == owner) keys.push_back(track->key);
    }
    return keys;
}

std::optional<AnimatableValue> Animator::presentationValue(QObject* owner, const std::string& key) {
    auto track = findTrack(owner, key);
    if (!track) return std::nullopt;
    if (!track->driven) return finalValue(*track);
    return track->animation.valueAt(now() - track->start);
}

void Animator::setImmediate(bool immediate) {
    auto& s = state();
    if (s.immediate == immediate) return;
    s.immediate = immediate;
    if (!immediate) {
        // Forever animations registered meanwhile start running now.
        const double time = now();
        for (const auto& track : s.tracks) {
            if (!track->driven) {
                track->driven = true;
                track->start = time;
            }
        }
        schedule();
        return;
    }
    Pending pending;
    const auto tracks = s.tracks;
    for (const auto& track : tracks) {
        if (track->animation.repeatsForever()) {
            track->driven = false;
            applyValue(*track, finalValue(*track));
        } else {
            endTrack(track, true, pending);
        }
    }
    std::vector<std::shared_ptr<Group>> finite;
    for (const auto& group : s.groups) {
        if (group->live == 0) finite.push_back(group);
    }
    std::sort(finite.begin(), finite.end(), [](const auto& a, const auto& b) {
        return a->end != b->end ? a->end < b->end : a->sequence < b->sequence;
    });
    for (const auto& group : finite) takeGroup(group, !group->cut, pending);
    schedule();
    runCompletions(pending);
}

bool Animator::isImmediate() {
    return state().immediate;
}

size_t Animator::runningCount() {
    return state().tracks.size();
}

ImmediateAnimationsScope::ImmediateAnimationsScope() : previous_(Animator::isImmediate()) {
    Animator::setImmediate(true);
}

ImmediateAnimationsScope::~ImmediateAnimationsScope() {
    Animator::setImmediate(previous_);
}

}  // namespace platform
