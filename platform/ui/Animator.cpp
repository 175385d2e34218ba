#include "platform/ui/Animator.hpp"

#include <QObject>
#include <QPointer>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace platform {

namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();
// Clock readings and scheduled due times round differently; an animation within this much of its
// end counts as ended, so a completion never waits for one extra frame.
constexpr double kEndTolerance = 1e-6;

}  // namespace

namespace {

struct Group {
    uint64_t sequence = 0;
    double end = kNever;  // when the completion falls due if nothing cut it short
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
    Animator::Options options;
    TimingCurve curve;
};

using Pending = std::vector<std::pair<AnimationCompletion, bool>>;

struct State {
    std::vector<std::shared_ptr<Track>> tracks;
    std::vector<std::shared_ptr<Group>> groups;  // completions not yet run
    std::vector<Transaction> transactions;
    Pending deferred;  // completions due while a block's changes run: they run after the block
    int withoutAnimation = 0;
    bool immediate = false;
    uint64_t nextSequence = 1;
    uint64_t tickGeneration = 0;  // a scheduled tick of an older generation does nothing
    double tickDue = kNever;
    // The clock the pending tick waits on: a tick scheduled on a clock that
    // has since been replaced (a test's virtual clock) never comes, and must
    // not hold back the ticks of the clock now in use.
    std::weak_ptr<Clock> tickClock;
};

State& state() {
    return SharedInstance<State>::get();
}

double now() {
    return Clock::current()->monotonicSeconds();
}

TimingCurve curveFor(Animator::Curve curve) {
    switch (curve) {
        case Animator::Curve::Linear:
            return TimingCurve::linear();
        case Animator::Curve::EaseIn:
            return TimingCurve::easeIn();
        case Animator::Curve::EaseOut:
            return TimingCurve::easeOut();
        case Animator::Curve::EaseInOut:
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

void runCompletions(Pending& pending) {
    auto& s = state();
    if (!s.transactions.empty()) {
        // Inside a block's changes a completion would have its own changes animated with the block.
        for (auto& item : pending) s.deferred.push_back(std::move(item));
        return;
    }
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
    double due = kNever;
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
        s.tickDue = kNever;
        return;
    }
    const auto clock = Clock::current();
    if (s.tickDue <= due && s.tickClock.lock() == clock) return;
    const uint64_t generation = ++s.tickGeneration;
    s.tickDue = due;
    s.tickClock = clock;
    DispatchQueue::main()->asyncAfter(due - time, [generation] {
        if (state().tickGeneration != generation) return;
        state().tickDue = kNever;
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
    if (owner->property("tervoloAnimationWatched").toBool()) return;
    owner->setProperty("tervoloAnimationWatched", true);
    QObject::connect(owner, &QObject::destroyed, [owner] { Animator::removeAll(owner); });
}

void runBlock(double duration, double delay, Animator::Options options, TimingCurve curve,
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
    auto group = newGroup(options.repeat ? kNever : start + delay + duration, std::move(completion));
    s.transactions.push_back(Transaction{group, start, duration, delay, options, std::move(curve)});
    if (changes) changes();
    s.transactions.pop_back();
    // A repeating block that changed nothing still completes, after one pass.
    if (group->live == 0 && std::isinf(group->end)) group->end = start + delay + duration;
    schedule();
    if (s.transactions.empty() && !s.deferred.empty()) {
        Pending later = std::move(s.deferred);
        s.deferred.clear();
        runCompletions(later);
    }
}

}  // namespace

void Animator::animate(double duration, double delay, Options options, std::function<void()> changes,
                       AnimationCompletion completion) {
    runBlock(duration, delay, options, curveFor(options.curve), changes, std::move(completion));
}

void Animator::animate(double duration, std::function<void()> changes, AnimationCompletion completion) {
    animate(duration, 0, Options{}, std::move(changes), std::move(completion));
}

void Animator::animateWithSpring(double duration, double delay, double dampingRatio, double initialVelocity,
                                 Animator::Options options, std::function<void()> changes,
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
    track->animation.repeatCount = transaction.options.repeat ? kNever : 0;
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
