// The backend search service's replies come from the network: any bytes
// decode as a start reply and as a poll reply or are refused, and what
// decodes encodes again to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"
#include "search/RetrieveRequestResult.hpp"
#include "search/SearchRequestResult.hpp"

namespace {

template <typename Record>
void roundTrip(std::string_view text) {
    try {
        const auto record = platform::JSONDecoder().decode<Record>(text);
        const auto again =
            platform::JSONDecoder().decode<Record>(platform::JSONEncoder().encodeToString(record));
        if (!(again == record)) std::abort();
    } catch (const platform::DecodingError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    roundTrip<tervolo::search::SearchRequestResult>(text);
    roundTrip<tervolo::search::RetrieveRequestResult>(text);
    return 0;
}
