#pragma once

// An ELF shared object laid out in our own memory as the dynamic loader
// leaves one, for the image reader's tests and benchmarks: one loadable
// segment of kSegmentBytes (readable and executable) holding the ELF
// header, two program headers, a dynamic section, a GNU hash table, a
// dynamic symbol table of kSymbols entries ("fn_1" ... at kFirstFunction +
// 16 * index) and its strings.
//
// Damaged, one byte of the DT_GNU_HASH pointer differs, so that it points
// at data whose first word claims kClaimedBuckets buckets: far more than the
// segment can hold. The memory after the segment stays readable for 16 MiB,
// as a neighbouring mapping would be, so a reader that trusts the count
// finds every bucket it asks for.

#include <cstddef>
#include <cstdint>

namespace tervolo::crash::testing {

class InMemoryElfImage {
  public:
    static constexpr uint64_t kSegmentBytes = 1 << 20;
    static constexpr uint64_t kSymbols = 100;  // the null symbol included
    static constexpr uint64_t kFirstFunction = 0x8000;
    static constexpr uint32_t kClaimedBuckets = 3470000;

    explicit InMemoryElfImage(bool damagedHash);
    ~InMemoryElfImage();
    InMemoryElfImage(const InMemoryElfImage&) = delete;
    InMemoryElfImage& operator=(const InMemoryElfImage&) = delete;

    // Load bias, header address and start of the segment alike.
    uintptr_t base() const { return reinterpret_cast<uintptr_t>(region_); }
    uintptr_t programHeaders() const;
    uint16_t programHeaderCount() const { return 2; }
    uintptr_t dynamicSection() const;

  private:
    void* region_ = nullptr;
    size_t regionBytes_ = 0;
};

}  // namespace tervolo::crash::testing
