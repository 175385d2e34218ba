// The point-file and tag-file decoders on arbitrary bytes: any input must give
// a point, a tag or a DecodingError, in bounded time and memory; whatever
// decodes must encode again (or refuse with EncodingError) and read back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/coding/DecodingError.hpp"
#include "platform/coding/EncodingError.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaPointTag.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        auto point = tervolo::points::QuovaMapPoint::decode(bytes);
        try {
            const std::string text = point->encodedFile();
            auto again = tervolo::points::QuovaMapPoint::decode(std::string_view(text));
            if (again->encodedFile() != text) __builtin_trap();  // the format must be stable
        } catch (const platform::EncodingError&) {
        }
    } catch (const platform::DecodingError&) {
    }
    try {
        auto tag = tervolo::points::QuovaPointTag::decode(bytes);
        try {
            const std::string text = tag->encodedFile();
            tervolo::points::QuovaPointTag::decode(std::string_view(text));
        } catch (const platform::EncodingError&) {
        }
    } catch (const platform::DecodingError&) {
    }
    return 0;
}
