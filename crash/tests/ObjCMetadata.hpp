#pragma once

// Synthetic Objective-C metadata inside a synthetic Mach-O image, with
// absolute pointers into the mapped image, for the metadata reader's tests
// and the fuzz target's seeds.

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "MachOFixture.hpp"

namespace tervolo::crash::testing {

// Offsets of the sections inside the image.
struct ObjCLayout {
    static constexpr uint64_t kConst = 0x2000, kConstSize = 0x1000;
    static constexpr uint64_t kClassList = 0x3000, kCatList = 0x3100;
    static constexpr uint64_t kData = 0x3200, kDataSize = 0x400;
    static constexpr uint64_t kRW = 0x4800;       // read-write class data (task memory)
    static constexpr uint64_t kStrings = 0x5000;  // names
    static constexpr uint64_t kModules = 0x1800;  // legacy module info
    static constexpr uint64_t kImageSize = 0x7000;
};

// The fixture's image layout for `classes` and `categories` list entries.
MachOFixture objcImage(bool is64, size_t classes, size_t categories, bool withCategoryList = true,
                       bool legacy = false);

// Writes metadata into a mapped image.
class ObjCWriter {
  public:
    ObjCWriter(uint8_t* base, bool is64) : base_(base), is64_(is64) {}

    uint64_t address(uint64_t offset) const { return reinterpret_cast<uint64_t>(base_) + offset; }
    void pointerAt(uint64_t offset, uint64_t value) {
        if (is64_) {
            std::memcpy(base_ + offset, &value, 8);
        } else {
            const auto v = static_cast<uint32_t>(value);
            std::memcpy(base_ + offset, &v, 4);
        }
    }
    void word32At(uint64_t offset, uint32_t value) { std::memcpy(base_ + offset, &value, 4); }

    uint64_t string(const std::string& text);
    // A method list in __objc_const: (name, imp offset from the image).
    uint64_t methodList(const std::vector<std::pair<std::string, uint64_t>>& methods, uint32_t flags = 0,
                        uint32_t countOverride = 0);
    // Read-only data in __objc_const and read-write data pointing at it.
    uint64_t classData(const std::string& name, uint64_t methods, uint32_t rwFlags = 0x80000000u);
    // A class in __objc_data; returns its address.
    uint64_t classObject(uint64_t isa, uint64_t rw);
    void listEntry(uint64_t listOffset, size_t index, uint64_t value) {
        pointerAt(listOffset + index * ptr(), value);
    }
    uint64_t category(uint64_t cls, uint64_t instanceMethods, uint64_t classMethods);
    uint32_t ptr() const { return is64_ ? 8 : 4; }

  private:
    uint8_t* base_;
    bool is64_;
    uint64_t strings_ = ObjCLayout::kStrings;
    uint64_t const_ = ObjCLayout::kConst;
    uint64_t data_ = ObjCLayout::kData;
    uint64_t rw_ = ObjCLayout::kRW;
};

}  // namespace tervolo::crash::testing
