#include "platform/location/NMEAReplaySource.hpp"

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Result.hpp"
#include "platform/location/NMEATrack.hpp"

namespace platform {

Result<std::shared_ptr<NMEAReplaySource>> NMEAReplaySource::make(const std::string& path) {
    auto fixes = NMEATrack::read(path);
    if (!fixes.ok()) return fixes.error();
    return make(std::move(fixes).value());
}

std::shared_ptr<NMEAReplaySource> NMEAReplaySource::make(std::vector<CLLocation> fixes) {
    return std::shared_ptr<NMEAReplaySource>(new NMEAReplaySource(std::move(fixes)));
}

void NMEAReplaySource::start(const Settings& settings) {
    settings_ = settings;
    if (running_) return;
    running_ = true;
    scheduleNext(0);
}

void NMEAReplaySource::stop() {
    running_ = false;
    ++generation_;
}

void NMEAReplaySource::scheduleNext(double delaySeconds) {
    if (next_ >= fixes_.size()) return;
    std::weak_ptr<NMEAReplaySource> weak = weak_from_this();
    const uint64_t generation = generation_;
    auto deliver = [weak, generation] {
        if (auto source = weak.lock()) source->deliverNext(generation);
    };
    if (delaySeconds > 0) {
        DispatchQueue::main()->asyncAfter(delaySeconds, std::move(deliver));
    } else {
        DispatchQueue::main()->async(std::move(deliver));
    }
}

void NMEAReplaySource::deliverNext(uint64_t generation) {
    if (!running_ || generation != generation_ || next_ >= fixes_.size()) return;
    const CLLocation& fix = fixes_[next_++];
    const double interval = settings_.updateIntervalMilliseconds / 1000.0;
    const bool due = lastDelivered_ == nullptr ||
                     fix.timestamp().timeIntervalSince(lastDelivered_->timestamp()) >= interval;
    if (due) {
        lastDelivered_ = &fix;
        if (listener_.fix) listener_.fix(fix);
    }
    // The listener may have stopped the replay.
    if (!running_ || generation != generation_ || next_ >= fixes_.size()) return;
    scheduleNext(fixes_[next_].timestamp().timeIntervalSince(fix.timestamp()));
}

}  // namespace platform
