// The event entry points of Tally: consent checks, reserved names, timed events.
#include <array>
#include <cmath>
#include <utility>

#include "analytics/Tally.hpp"
#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyEvent.hpp"
#include "analytics/TallyPersistency.hpp"
#include "platform/dispatch/Clock.hpp"

namespace tervolo::analytics {

namespace {

bool eventsConsent() {
    auto consent = TallyConsentManager::sharedInstance();
    return consent && consent->consentForEvents();
}

std::string describe(const std::optional<TallyJSON>& segmentation) {
    return segmentation ? segmentation->dump() : std::string("(null)");
}

}  // namespace

void Tally::recordEvent(const std::string& key) {
    recordEvent(key, std::nullopt, 1, 0, 0);
}
void Tally::recordEvent(const std::string& key, uint64_t count) {
    recordEvent(key, std::nullopt, count, 0, 0);
}
void Tally::recordEventSum(const std::string& key, double sum) {
    recordEvent(key, std::nullopt, 1, sum, 0);
}
void Tally::recordEventDuration(const std::string& key, double duration) {
    recordEvent(key, std::nullopt, 1, 0, duration);
}
void Tally::recordEvent(const std::string& key, uint64_t count, double sum) {
    recordEvent(key, std::nullopt, count, sum, 0);
}
void Tally::recordEvent(const std::string& key, const TallyJSON& segmentation) {
    recordEvent(key, std::optional<TallyJSON>(segmentation), 1, 0, 0);
}
void Tally::recordEvent(const std::string& key, const TallyJSON& segmentation, uint64_t count) {
    recordEvent(key, std::optional<TallyJSON>(segmentation), count, 0, 0);
}
void Tally::recordEvent(const std::string& key, const TallyJSON& segmentation, uint64_t count, double sum) {
    recordEvent(key, std::optional<TallyJSON>(segmentation), count, sum, 0);
}

void Tally::recordEvent(const std::string& key, const std::optional<TallyJSON>& segmentation, uint64_t count,
                        double sum, double duration) {
    if (TallyCommon::sharedInstance().wouldLog(TallyLogLevel::Info)) {
        TallyLog(TallyLogLevel::Info,
                 "-[Tally recordEvent:segmentation:count:sum:duration:] {} {} {} {:f} {:f}", key,
                 describe(segmentation), count, sum, duration);
    }
    auto consent = TallyConsentManager::sharedInstance();
    if (!consent) {
        return;
    }
    const std::array<std::pair<const char*, bool>, 6> reserved{{
        {kTallyReservedEventOrientation, consent->consentForUserDetails()},
        {kTallyReservedEventStarRating, consent->consentForFeedback()},
        {kTallyReservedEventSurvey, consent->consentForFeedback()},
        {kTallyReservedEventNPS, consent->consentForFeedback()},
        {kTallyReservedEventPushAction, consent->consentForPushNotifications()},
        {kTallyReservedEventView, consent->consentForViewTracking()},
    }};
    bool isReserved = false;
    for (const auto& [name, given] : reserved) {
        if (key != name) continue;
        isReserved = true;
        TallyLog(TallyLogLevel::Verbose, "A reserved event detected: {}", key);
        if (!given) {
            TallyLog(TallyLogLevel::Warning,
                     "Specific consent not given for the reserved event! So, it will not be recorded.");
            return;
        }
        TallyLog(TallyLogLevel::Verbose,
                 "Specific consent given for the reserved event! So, it will be recorded.");
    }
    if (!isReserved && !consent->consentForEvents()) {
        TallyLog(TallyLogLevel::Warning, "Events consent not given! Event will not be recorded.");
        return;
    }
    recordEvent(key, segmentation, count, sum, duration, TallyCommon::sharedInstance().uniqueTimestamp());
}

void Tally::recordReservedEvent(const std::string& key, const std::optional<TallyJSON>& segmentation) {
    recordEvent(key, segmentation, 1, 0, 0, TallyCommon::sharedInstance().uniqueTimestamp());
}

void Tally::recordReservedEvent(const std::string& key, const std::optional<TallyJSON>& segmentation,
                                uint64_t count, double sum, double duration, double timestamp) {
    recordEvent(key, segmentation, count, sum, duration, timestamp);
}

void Tally::recordEvent(const std::string& key, const std::optional<TallyJSON>& segmentation, uint64_t count,
                        double sum, double duration, double timestamp) {
    if (key.empty()) {
        return;
    }
    auto persistency = TallyPersistency::sharedInstance();
    if (!persistency) {
        return;
    }
    const auto calendar = TallyCommon::sharedInstance().calendarNow();
    TallyEvent event;
    event.key = key;
    event.segmentation = segmentation;
    event.count = count == 0 ? 1 : count;
    event.sum = sum;
    event.timestamp = timestamp;
    event.hourOfDay = static_cast<uint64_t>(calendar.hourOfDay);
    event.dayOfWeek = static_cast<uint64_t>(calendar.dayOfWeek);
    event.duration = duration;
    persistency->recordEvent(std::move(event));
}

void Tally::startEvent(const std::string& key) {
    TallyLog(TallyLogLevel::Info, "-[Tally startEvent:] {}", key);
    if (!eventsConsent()) {
        return;
    }
    auto& common = TallyCommon::sharedInstance();
    const auto calendar = common.calendarNow();
    TallyEvent event;
    event.key = key;
    event.timestamp = common.uniqueTimestamp();
    event.hourOfDay = static_cast<uint64_t>(calendar.hourOfDay);
    event.dayOfWeek = static_cast<uint64_t>(calendar.dayOfWeek);
    TallyPersistency::sharedInstance()->recordTimedEvent(std::move(event));
}

void Tally::endEvent(const std::string& key) {
    endEvent(key, std::nullopt, 1, 0);
}

void Tally::endEvent(const std::string& key, const std::optional<TallyJSON>& segmentation, uint64_t count,
                     double sum) {
    if (TallyCommon::sharedInstance().wouldLog(TallyLogLevel::Info)) {
        TallyLog(TallyLogLevel::Info, "-[Tally endEvent:segmentation:count:sum:] {} {} {} {:f}", key,
                 describe(segmentation), count, sum);
    }
    if (!eventsConsent()) {
        return;
    }
    auto persistency = TallyPersistency::sharedInstance();
    auto event = persistency->timedEventForKey(key);
    if (!event) {
        TallyLog(TallyLogLevel::Warning, "Event with key '{}' not started yet or cancelled/ended before!",
                 key);
        return;
    }
    event->segmentation = segmentation;
    event->count = count == 0 ? 1 : count;
    event->sum = sum;
    event->duration = platform::Clock::current()->wallSeconds() - event->timestamp;
    persistency->recordEvent(std::move(*event));
}

void Tally::cancelEvent(const std::string& key) {
    TallyLog(TallyLogLevel::Info, "-[Tally cancelEvent:] {}", key);
    if (!eventsConsent()) {
        return;
    }
    if (TallyPersistency::sharedInstance()->timedEventForKey(key)) {
        TallyLog(TallyLogLevel::Debug, "Event with key '{}' cancelled!", key);
    } else {
        TallyLog(TallyLogLevel::Warning, "Event with key '{}' not started yet or cancelled/ended before!",
                 key);
    }
}

}  // namespace tervolo::analytics
