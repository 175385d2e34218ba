#include "logging/QLASLLogCapture.hpp"

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>

#include "logging/QLLog.hpp"
#include "logging/QLLogMessage.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/text/Numbers.hpp"

namespace tervolo::logging {

using platform::DispatchQueue;

namespace {

constexpr uint64_t kDefaultCaptureLevel = 31;  // error, warning, info, debug and verbose

struct CaptureState {
    // Written by start/stop (under `mutex`), read by watches without it.
    std::atomic<bool> capturing{false};
    // Increases with every start and stop: a watch belongs to one start and
    // stops delivering once its generation is no longer the current one.
    std::atomic<uint64_t> generation{0};
    std::mutex mutex;                // start/stop and the registration token
    ASLStore::NotifyToken token{0};  // the live registration, 0 when none

    // Watches run one at a time, also an old one still finishing while a new
    // one starts; `lastDeliveredID` is the highest entry identifier ever
    // handed to the registry, so no entry is delivered twice.
    std::mutex deliveryMutex;
    uint64_t lastDeliveredID = 0;

    std::atomic<uint64_t> captureLevel{kDefaultCaptureLevel};
};

CaptureState& state() {
    return platform::SharedInstance<CaptureState>::get();
}

uint64_t messageID(const ASLMessage& message) {
    const std::string* id = message.get("ASLMessageID");
    const int64_t value = id ? ASLStore::numericValue(*id) : 0;
    return value > 0 ? static_cast<uint64_t>(value) : 0;
}

// One watch: registered by the start whose generation it carries.
struct Watch {
    uint64_t generation = 0;
    uint64_t startTime = 0;  // whole seconds since 1970
    bool seen = false;       // an entry was seen by this watch
    uint64_t lastSeenID = 0;
};

void runWatch(const std::shared_ptr<Watch>& watch, ASLStore::NotifyToken token) {
    auto& s = state();
    auto& store = ASLStore::shared();
    {
        std::lock_guard delivery(s.deliveryMutex);
        ASLQuery query;
        if (watch->seen) {
            query.set("ASLMessageID", std::to_string(watch->lastSeenID), ASLQuery::Operation::numericGreater);
        } else {
            query.set("Time", std::to_string(watch->startTime), ASLQuery::Operation::numericGreaterOrEqual);
        }
        QLASLLogCapture::configureAslQuery(query);
        for (const auto& entry : store.search(query)) {
            // A stopped or superseded watch hands over nothing more.
            if (s.generation.load() != watch->generation) break;
            const uint64_t id = messageID(entry);
            if (id == 0 || id > s.lastDeliveredID) {
                QLASLLogCapture::aslMessageReceived(entry);
                if (id > s.lastDeliveredID) s.lastDeliveredID = id;
            }
            watch->seen = true;
            watch->lastSeenID = id;
        }
    }
    // stop() cancelled the registration already; this covers a watch whose
    // start was superseded while it registered.
    if (!s.capturing.load() || s.generation.load() != watch->generation) store.notifyCancel(token);
}

void registerWatch(uint64_t generation) {
    auto& s = state();
    auto watch = std::make_shared<Watch>();
    watch->generation = generation;
    watch->startTime =
        static_cast<uint64_t>(std::max(0.0, std::floor(platform::Clock::current()->wallSeconds())));

    std::lock_guard lock(s.mutex);
    if (!s.capturing.load() || s.generation.load() != generation || s.token != 0) return;
    s.token = ASLStore::shared().notifyRegisterDispatch(
        ASLStore::kMessageNotification, DispatchQueue::global(platform::QoS::UserInitiated),
        [watch](ASLStore::NotifyToken token) { runWatch(watch, token); });
}

}  // namespace

void QLASLLogCapture::start() {
    auto& s = state();
    uint64_t generation = 0;
    {
        std::lock_guard lock(s.mutex);
        if (s.capturing.load()) return;
        s.capturing.store(true);
        generation = s.generation.fetch_add(1) + 1;
    }
    DispatchQueue::global(platform::QoS::Default)->async([generation] { registerWatch(generation); });
}

void QLASLLogCapture::stop() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.capturing.store(false);
    s.generation.fetch_add(1);
    // Cancelled now rather than at the next notification: a start before that
    // notification would otherwise leave two watches capturing every entry twice.
    if (s.token != 0) {
        ASLStore::shared().notifyCancel(s.token);
        s.token = 0;
    }
}

void QLASLLogCapture::captureAslLogs() {
    registerWatch(state().generation.load());
}

QLLogLevel QLASLLogCapture::captureLevel() {
    return QLLogLevel{state().captureLevel.load(std::memory_order_relaxed)};
}

void QLASLLogCapture::setCaptureLevel(QLLogLevel level) {
    state().captureLevel.store(rawValue(level), std::memory_order_relaxed);
}

void QLASLLogCapture::configureAslQuery(ASLQuery& query) {
    query.set("Level", "7", ASLQuery::Operation::numericLessOrEqual);
    query.set("QLLog", "1", ASLQuery::Operation::notEqual);
}

void QLASLLogCapture::aslMessageReceived(const ASLMessage& message) {
    const std::string* text = message.get("Message");
    if (!text) return;

    const std::string* levelText = message.get("Level");
    const int64_t aslLevel = levelText ? ASLStore::numericValue(*levelText) : 0;
    QLLogFlag flag = QLLogFlag::verbose;
    bool asynchronous = true;
    switch (aslLevel) {
        case 0:  // emergency
        case 1:  // alert
        case 2:  // critical
            flag = QLLogFlag::error;
            asynchronous = false;
            break;
        case 3:
            flag = QLLogFlag::warning;
            break;
        case 4:
            flag = QLLogFlag::info;
            break;
        case 5:
            flag = QLLogFlag::debug;
            break;
        default:
            break;
    }
    const QLLogLevel level = captureLevel();
    if (!passes(flag, level)) return;

    platform::Date timestamp = platform::Date::now();
    if (const std::string* time = message.get("Time")) {
        double unix = platform::text::doubleValue(*time);
        if (const std::string* nanos = message.get("TimeNanoSec"))
            unix += platform::text::doubleValue(*nanos) / 1e9;
        // A value too large to be a date keeps the time of capture.
        if (std::isfinite(unix)) timestamp = platform::Date::fromUnix(unix);
    }

    auto record =
        std::make_shared<const QLLogMessage>(*text, level, flag, 0, std::string_view("QLASLLogCapture"),
                                             std::string_view(), 0, std::any{}, 0, timestamp);
    QLLog::sharedInstance().log(asynchronous, std::move(record));
}

}  // namespace tervolo::logging
