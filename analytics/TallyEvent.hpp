#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "analytics/TallyJSON.hpp"

namespace tervolo::analytics {

inline constexpr const char* kTallyReservedEventOrientation = "[TLY]_orientation";
inline constexpr const char* kTallyReservedEventStarRating = "[TLY]_star_rating";
inline constexpr const char* kTallyReservedEventSurvey = "[TLY]_survey";
inline constexpr const char* kTallyReservedEventNPS = "[TLY]_nps";
inline constexpr const char* kTallyReservedEventPushAction = "[TLY]_push_action";
inline constexpr const char* kTallyReservedEventView = "[TLY]_view";

inline constexpr const char* kTallyEventKeyKey = "key";
inline constexpr const char* kTallyEventKeySegmentation = "segmentation";
inline constexpr const char* kTallyEventKeyCount = "count";
inline constexpr const char* kTallyEventKeySum = "sum";
inline constexpr const char* kTallyEventKeyTimestamp = "timestamp";
inline constexpr const char* kTallyEventKeyHourOfDay = "hour";
inline constexpr const char* kTallyEventKeyDayOfWeek = "dow";
inline constexpr const char* kTallyEventKeyDuration = "dur";

// One recorded occurrence: a name, optional segmentation (string keys to
// string or number values), a count, a sum and a duration, stamped with the
// moment it happened. A plain value.
struct TallyEvent {
    std::string key;
    std::optional<TallyJSON> segmentation;  // an object when set
    uint64_t count = 1;
    double sum = 0;
    double timestamp = 0;    // seconds since 1970, millisecond steps
    uint64_t hourOfDay = 0;  // 0-23, local, when the event was made
    uint64_t dayOfWeek = 0;  // 0 Sunday ... 6 Saturday
    double duration = 0;     // seconds

    // The element of the "events" array: key, segmentation (when set), count,
    // sum, timestamp (milliseconds since 1970 as an integer), hour, dow, dur.
    // Whole sums and durations are written without a fraction ("sum":0), as
    // the server's other clients do; others keep theirs ("dur":1.5).
    TallyJSON dictionaryRepresentation() const;
};

}  // namespace tervolo::analytics
