#pragma once

// Synthetic Mach-O images for the reader's tests (and the fuzz target's
// seeds): a header, load commands, segments with sections, a symbol table and
// its strings, in either width and byte order, laid out as they would be in
// memory (file offsets equal offsets from the header).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tervolo::crash::testing {

struct FixtureSection {
    std::string name;
    uint64_t offset;  // from the header
    uint64_t size;
};

struct FixtureSegment {
    std::string name;
    uint64_t offset;  // from the header; vmaddr = text vmaddr + offset
    uint64_t size;
    std::vector<FixtureSection> sections;
    std::optional<uint32_t> nsects;  // overrides the count written
};

struct FixtureSymbol {
    std::string name;
    uint8_t type = 0x0F;  // N_SECT | N_EXT
    uint16_t desc = 0;
    uint64_t value = 0;         // unslid address
    bool unterminated = false;  // leave the name without its NUL (last symbol only)
};

struct FixtureDysymtab {
    uint32_t ilocal, nlocal, iext, next;
};

class MachOFixture {
  public:
    MachOFixture(bool is64, bool swapped) : is64_(is64), swapped_(swapped) {}

    static constexpr uint64_t kTextVM64 = 0x100000000ull;
    static constexpr uint64_t kTextVM32 = 0x1000;
    uint64_t textVM() const { return is64_ ? kTextVM64 : kTextVM32; }

    uint32_t magic = 0;  // 0: the right one for width and order
    int32_t cputype = 0x0100000C;
    int32_t cpusubtype = 2;
    uint64_t textSize = 0x4000;            // __TEXT vmsize (and the image's size)
    std::vector<FixtureSegment> segments;  // besides __TEXT and __LINKEDIT
    std::vector<FixtureSymbol> symbols;
    std::optional<FixtureDysymtab> dysymtab;
    bool withTextSegment = true;
    bool withSymtab = true;
    std::optional<uint32_t> nsymsOverride;
    std::optional<uint32_t> sizeofcmdsOverride;
    // Raw commands (cmd, cmdsize, payload) placed before everything else.
    struct RawCommand {
        uint32_t cmd;
        uint32_t cmdsize;
        uint32_t bytes;  // bytes actually written (cmdsize may lie)
    };
    std::vector<RawCommand> rawCommands;

    // The image bytes, `textSize` long at least.
    std::vector<uint8_t> build() const;

  private:
    bool is64_;
    bool swapped_;
};

// An image placed in its own pages, followed by an unreadable guard page.
class MappedImage {
  public:
    // `hint`: an address to place the image at when free (0: anywhere);
    // images whose pointers must fit 32 bits go below 2 GiB.
    explicit MappedImage(const std::vector<uint8_t>& bytes, uint64_t hint = 0);
    ~MappedImage();
    MappedImage(const MappedImage&) = delete;
    MappedImage& operator=(const MappedImage&) = delete;

    uint64_t address() const { return reinterpret_cast<uint64_t>(base_); }
    uint8_t* bytes() const { return base_; }
    // The first byte after the image's pages: unreadable.
    uint64_t guard() const { return address() + length_; }

  private:
    uint8_t* base_;
    size_t length_;
};

}  // namespace tervolo::crash::testing
