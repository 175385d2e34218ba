// Short-link lookup replies come from the network: any bytes must either
// decode into a record or be refused, and a record's coordinate texts must
// read safely.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "backend/ShorturlCoding.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const auto record = tervolo::backend::decodeShorturl(std::vector<uint8_t>(data, data + size));
        (void)record.coordinate();
        (void)tervolo::backend::encodeShorturl(record);
    } catch (const std::exception&) {
    }
    return 0;
}
