// The capture reads entries other programs wrote into the older system-log
// store: their level, time, nanosecond and identifier texts are outside input.
// Input: up to five lines, "Level", "Time", "TimeNanoSec", "ASLMessageID" and
// "Message"; an empty line leaves that key out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "logging/ASLStore.hpp"
#include "logging/QLASLLogCapture.hpp"

using tervolo::logging::ASLMessage;
using tervolo::logging::ASLQuery;
using tervolo::logging::ASLStore;
using tervolo::logging::QLASLLogCapture;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kKeys[] = {"Level", "Time", "TimeNanoSec", "ASLMessageID", "Message"};
    std::string_view input(reinterpret_cast<const char*>(data), size);
    ASLMessage message;
    for (const char* key : kKeys) {
        const size_t end = input.find('\n');
        const std::string_view field = input.substr(0, end);
        if (!field.empty()) message.values[key] = std::string(field);
        if (end == std::string_view::npos) {
            input = {};
        } else {
            input.remove_prefix(end + 1);
        }
    }

    // Into the shared registry (no loggers installed): the record is made and dropped.
    QLASLLogCapture::aslMessageReceived(message);

    // The watch's query over the same values.
    static ASLStore store;
    static const auto client = store.open("fuzz");
    store.removeAllMessagesForTesting();
    store.send(client, message);
    ASLQuery query;
    QLASLLogCapture::configureAslQuery(query);
    for (const char* key : kKeys) {
        if (const std::string* value = message.get(key)) {
            query.set(key, *value, ASLQuery::Operation::numericGreaterOrEqual);
        }
    }
    (void)store.search(query);
    return 0;
}
