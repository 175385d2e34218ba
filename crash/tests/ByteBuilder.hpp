#pragma once

// Little-endian byte sequences for unwind-table fixtures, and a memory object
// over them.

#include <cstdint>
#include <vector>

#include "crash/AsyncMemoryObject.hpp"

namespace tervolo::crash::testing {

class Bytes {
  public:
    Bytes& u8(uint8_t v) {
        data.push_back(v);
        return *this;
    }
    Bytes& u16(uint16_t v) { return raw(&v, 2); }
    Bytes& u32(uint32_t v) { return raw(&v, 4); }
    Bytes& u64(uint64_t v) { return raw(&v, 8); }
    Bytes& uleb(uint64_t v) {
        do {
            uint8_t byte = v & 0x7F;
            v >>= 7;
            if (v != 0) byte |= 0x80;
            data.push_back(byte);
        } while (v != 0);
        return *this;
    }
    Bytes& sleb(int64_t v) {
        bool more = true;
        while (more) {
            uint8_t byte = v & 0x7F;
            v >>= 7;
            more = !((v == 0 && (byte & 0x40) == 0) || (v == -1 && (byte & 0x40) != 0));
            if (more) byte |= 0x80;
            data.push_back(byte);
        }
        return *this;
    }
    Bytes& bytes(std::initializer_list<uint8_t> list) {
        data.insert(data.end(), list);
        return *this;
    }
    Bytes& append(const Bytes& other) {
        data.insert(data.end(), other.data.begin(), other.data.end());
        return *this;
    }
    size_t size() const { return data.size(); }

    std::vector<uint8_t> data;

  private:
    Bytes& raw(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        data.insert(data.end(), b, b + n);
        return *this;
    }
};

// A memory object over bytes of our own (kept alive by the caller).
class Mapped {
  public:
    // An empty sequence still gets one byte of storage, so it has an address.
    explicit Mapped(const std::vector<uint8_t>& bytes)
        : bytes_(bytes.empty() ? std::vector<uint8_t>(1, 0) : bytes) {
        qcrash_async_mobject_init(&mobj, qcrash_task_self(), address(), bytes.size(), true);
    }
    ~Mapped() { qcrash_async_mobject_free(&mobj); }
    Mapped(const Mapped&) = delete;
    Mapped& operator=(const Mapped&) = delete;
    uint64_t address() const { return reinterpret_cast<uint64_t>(bytes_.data()); }

    qcrash_async_mobject_t mobj;

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace tervolo::crash::testing
