#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tervolo::json {

class JSON;

// Writes one value. Every operation may throw the encoder's own errors.
// Sequences and maps of JSON values are written by calling `encode(encoder)`
// on each element with an encoder for that element.
class SingleValueEncodingContainer {
  public:
    virtual ~SingleValueEncodingContainer() = default;
    virtual void encodeNil() = 0;
    virtual void encode(bool value) = 0;
    virtual void encode(int8_t value) = 0;
    virtual void encode(int32_t value) = 0;
    virtual void encode(int64_t value) = 0;  // the platform word and the 64-bit integer alike
    virtual void encode(uint8_t value) = 0;
    virtual void encode(uint16_t value) = 0;
    virtual void encode(uint32_t value) = 0;
    virtual void encode(uint64_t value) = 0;
    virtual void encode(double value) = 0;
    virtual void encode(const std::string& value) = 0;
    virtual void encode(const std::vector<JSON>& values) = 0;
    virtual void encode(const std::map<std::string, JSON>& values) = 0;
};

class Encoder {
  public:
    virtual ~Encoder() = default;
    virtual std::unique_ptr<SingleValueEncodingContainer> singleValueContainer() = 0;
};

}  // namespace tervolo::json
