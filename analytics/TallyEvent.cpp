#include "analytics/TallyEvent.hpp"

#include <cmath>

namespace tervolo::analytics {

TallyJSON TallyEvent::dictionaryRepresentation() const {
    TallyJSON dictionary = TallyJSON::object();
    dictionary[kTallyEventKeyKey] = key;
    if (segmentation) {
        dictionary[kTallyEventKeySegmentation] = *segmentation;
    }
    dictionary[kTallyEventKeyCount] = count;
    dictionary[kTallyEventKeySum] = TallyJSONNumber(sum);
    // Timestamps are whole milliseconds held in seconds; rounding undoes the
    // binary fraction (1700000000.123 is 1700000000.12299990654 as a double).
    dictionary[kTallyEventKeyTimestamp] = static_cast<int64_t>(std::llround(timestamp * 1000.0));
    dictionary[kTallyEventKeyHourOfDay] = hourOfDay;
    dictionary[kTallyEventKeyDayOfWeek] = dayOfWeek;
    dictionary[kTallyEventKeyDuration] = TallyJSONNumber(duration);
    return dictionary;
}

}  // namespace tervolo::analytics
