// Strict JSON record decoding of network replies: any bytes either decode or
// throw DecodingError, and a decoded record encodes again without error.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"

namespace {

struct Inner {
    double lat = 0;
    std::optional<std::string> label;
    static Inner decode(const platform::KeyedDecodingContainer& c) {
        return {c.decode<double>("lat"), c.decodeIfPresent<std::string>("label")};
    }
    void encode(platform::KeyedEncodingContainer& c) const {
        c.encode("lat", lat);
        c.encodeIfPresent("label", label);
    }
};

struct Record {
    std::string name;
    int64_t zoom = 0;
    uint32_t count = 0;
    bool flag = false;
    platform::Date modified;
    std::vector<Inner> places;
    std::optional<std::map<std::string, int64_t>> extra;
    static Record decode(const platform::KeyedDecodingContainer& c) {
        Record r;
        r.name = c.decode<std::string>("name");
        r.zoom = c.decode<int64_t>("zoom");
        r.count = c.decode<uint32_t>("count");
        r.flag = c.decode<bool>("flag");
        r.modified = c.decode<platform::Date>("modified");
        r.places = c.decode<std::vector<Inner>>("places");
        r.extra = c.decodeIfPresent<std::map<std::string, int64_t>>("extra");
        return r;
    }
    void encode(platform::KeyedEncodingContainer& c) const {
        c.encode("name", name);
        c.encode("zoom", zoom);
        c.encode("count", count);
        c.encode("flag", flag);
        c.encode("modified", modified);
        c.encode("places", places);
        c.encodeIfPresent("extra", extra);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    platform::JSONDecoder decoder;
    decoder.maximumDepth = 64;
    try {
        Record record = decoder.decode<Record>(bytes);
        std::string again = platform::JSONEncoder().encodeToString(record);
        (void)decoder.decode<Record>(again);
    } catch (const platform::DecodingError& error) {
        (void)error.diagnostic();
    }
    return 0;
}
