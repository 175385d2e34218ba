// Fuzz target: reading a user defaults file. Whatever JSON the file holds, the
// typed values read from it must survive a write and a second read unchanged,
// and nesting must not exhaust the stack.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "platform/foundation/PropertyValueJSON.hpp"

using platform::PropertyValue;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const nlohmann::json json = nlohmann::json::parse(data, data + size, nullptr, false);
    if (json.is_discarded()) return 0;
    const auto first = platform::propertyValueFromJSON(json);
    if (!first) return 0;
    const std::string text =
        platform::toJSON(*first).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const nlohmann::json reread = nlohmann::json::parse(text, nullptr, false);
    if (reread.is_discarded()) std::abort();
    const auto second = platform::propertyValueFromJSON(reread);
    if (!second || !(*second == *first)) std::abort();
    return 0;
}
