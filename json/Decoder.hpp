#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tervolo::json {

class JSON;

// Reads one value. `decodeNil` never fails; each `decode` throws the
// decoder's own error when the stored value is not of the asked type, and
// leaves `out` unspecified then. Sequences and maps of JSON values are read by
// constructing each element with `JSON(decoder)` from a decoder for it.
class SingleValueDecodingContainer {
  public:
    virtual ~SingleValueDecodingContainer() = default;
    virtual bool decodeNil() = 0;
    virtual void decode(bool& out) = 0;
    virtual void decode(int8_t& out) = 0;
    virtual void decode(int32_t& out) = 0;
    virtual void decode(int64_t& out) = 0;  // the platform word and the 64-bit integer alike
    virtual void decode(uint8_t& out) = 0;
    virtual void decode(uint16_t& out) = 0;
    virtual void decode(uint32_t& out) = 0;
    virtual void decode(uint64_t& out) = 0;
    virtual void decode(double& out) = 0;
    virtual void decode(std::string& out) = 0;
    virtual void decode(std::vector<JSON>& out) = 0;
    virtual void decode(std::map<std::string, JSON>& out) = 0;
};

class Decoder {
  public:
    virtual ~Decoder() = default;
    // May throw when the decoder has no single value to offer.
    virtual std::unique_ptr<SingleValueDecodingContainer> singleValueContainer() = 0;
};

}  // namespace tervolo::json
