#include "MachOFixture.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace tervolo::crash::testing {

namespace {

class Writer {
  public:
    Writer(std::vector<uint8_t>& out, bool swapped) : out_(out), swapped_(swapped) {}
    void u8(uint8_t v) { out_.push_back(v); }
    void u16(uint16_t v) { raw(swapped_ ? __builtin_bswap16(v) : v); }
    void u32(uint32_t v) { raw(swapped_ ? __builtin_bswap32(v) : v); }
    void u64(uint64_t v) { raw(swapped_ ? __builtin_bswap64(v) : v); }
    void name16(const std::string& name) {
        char buffer[16] = {};
        std::memcpy(buffer, name.data(), std::min<size_t>(16, name.size()));
        out_.insert(out_.end(), buffer, buffer + 16);
    }
    void zeros(size_t n) { out_.insert(out_.end(), n, 0); }

  private:
    template <typename T>
    void raw(T v) {
        const auto* p = reinterpret_cast<const uint8_t*>(&v);
        out_.insert(out_.end(), p, p + sizeof v);
    }
    std::vector<uint8_t>& out_;
    bool swapped_;
};

}  // namespace

std::vector<uint8_t> MachOFixture::build() const {
    const uint64_t segCmd = is64_ ? 72 : 56;
    const uint64_t sectSize = is64_ ? 80 : 68;
    const uint64_t headerSize = is64_ ? 32 : 28;
    const uint64_t entrySize = is64_ ? 16 : 12;

    // The symbol table and strings go after the highest segment, 8-aligned.
    uint64_t linkedit = 0x2000;
    for (const auto& s : segments) linkedit = std::max(linkedit, s.offset + s.size);
    linkedit = (linkedit + 7) & ~7ull;
    std::vector<uint8_t> strings{0};  // index 0: the empty name
    std::vector<uint32_t> strx;
    for (const auto& symbol : symbols) {
        strx.push_back(static_cast<uint32_t>(strings.size()));
        strings.insert(strings.end(), symbol.name.begin(), symbol.name.end());
        if (!symbol.unterminated) strings.push_back(0);
    }
    const uint64_t symoff = linkedit;
    const uint64_t stroff = symoff + symbols.size() * entrySize;
    const uint64_t linkeditSize = stroff + strings.size() - linkedit;

    std::vector<uint8_t> cmds;
    Writer c(cmds, swapped_);
    uint32_t ncmds = 0;
    for (const auto& raw : rawCommands) {
        c.u32(raw.cmd);
        c.u32(raw.cmdsize);
        c.zeros(raw.bytes > 8 ? raw.bytes - 8 : 0);
        ++ncmds;
    }
    auto segment = [&](const std::string& name, uint64_t offset, uint64_t size,
                       const std::vector<FixtureSection>& sections, std::optional<uint32_t> nsects) {
        c.u32(is64_ ? 0x19 : 0x1);
        c.u32(static_cast<uint32_t>(segCmd + sections.size() * sectSize));
        c.name16(name);
        const uint64_t vm = textVM() + offset;
        if (is64_) {
            c.u64(vm);
            c.u64(size);
            c.u64(offset);
            c.u64(size);
        } else {
            c.u32(static_cast<uint32_t>(vm));
            c.u32(static_cast<uint32_t>(size));
            c.u32(static_cast<uint32_t>(offset));
            c.u32(static_cast<uint32_t>(size));
        }
        c.u32(7);
        c.u32(5);
        c.u32(nsects.value_or(static_cast<uint32_t>(sections.size())));
        c.u32(0);
        for (const auto& s : sections) {
            c.name16(s.name);
            c.name16(name);
            if (is64_) {
                c.u64(textVM() + s.offset);
                c.u64(s.size);
            } else {
                c.u32(static_cast<uint32_t>(textVM() + s.offset));
                c.u32(static_cast<uint32_t>(s.size));
            }
            c.u32(static_cast<uint32_t>(s.offset));
            c.zeros(is64_ ? 28 : 24);
        }
        ++ncmds;
    };
    if (withTextSegment) segment("__TEXT", 0, textSize, {}, std::nullopt);
    for (const auto& s : segments) segment(s.name, s.offset, s.size, s.sections, s.nsects);
    segment("__LINKEDIT", linkedit, linkeditSize, {}, std::nullopt);
    if (withSymtab) {
        c.u32(0x2);
        c.u32(24);
        c.u32(static_cast<uint32_t>(symoff));
        c.u32(nsymsOverride.value_or(static_cast<uint32_t>(symbols.size())));
        c.u32(static_cast<uint32_t>(stroff));
        c.u32(static_cast<uint32_t>(strings.size()));
        ++ncmds;
    }
    if (dysymtab) {
        c.u32(0xB);
        c.u32(80);
        c.u32(dysymtab->ilocal);
        c.u32(dysymtab->nlocal);
        c.u32(dysymtab->iext);
        c.u32(dysymtab->next);
        c.zeros(80 - 24);
        ++ncmds;
    }

    std::vector<uint8_t> image;
    Writer w(image, swapped_);
    const uint32_t rightMagic = is64_ ? 0xFEEDFACFu : 0xFEEDFACEu;
    w.u32(magic != 0 ? magic : rightMagic);
    w.u32(static_cast<uint32_t>(cputype));
    w.u32(static_cast<uint32_t>(cpusubtype));
    w.u32(6);  // a dynamic library
    w.u32(ncmds);
    w.u32(sizeofcmdsOverride.value_or(static_cast<uint32_t>(cmds.size())));
    w.u32(0);
    if (is64_) w.u32(0);
    image.insert(image.end(), cmds.begin(), cmds.end());
    image.resize(std::max<uint64_t>(std::max(image.size(), headerSize), symoff), 0);
    for (size_t i = 0; i < symbols.size(); ++i) {
        const auto& symbol = symbols[i];
        w.u32(strx[i]);
        w.u8(symbol.type);
        w.u8(1);
        w.u16(symbol.desc);
        if (is64_) {
            w.u64(symbol.value);
        } else {
            w.u32(static_cast<uint32_t>(symbol.value));
        }
    }
    image.insert(image.end(), strings.begin(), strings.end());
    image.resize(std::max<uint64_t>(image.size(), textSize), 0);
    // Section contents: each byte its offset's low byte, so reads can be checked.
    for (const auto& s : segments) {
        for (const auto& sect : s.sections) {
            for (uint64_t i = 0; i < sect.size && sect.offset + i < image.size(); ++i) {
                image[sect.offset + i] = static_cast<uint8_t>((sect.offset + i) & 0xFF);
            }
        }
    }
    return image;
}

MappedImage::MappedImage(const std::vector<uint8_t>& bytes, uint64_t hint) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    length_ = (bytes.size() + page - 1) / page * page;
    void* at = MAP_FAILED;
    for (uint64_t h = hint; hint != 0 && h < hint + 0x10000000 && at == MAP_FAILED; h += 0x1000000) {
        at = mmap(reinterpret_cast<void*>(h), length_ + page, PROT_READ | PROT_WRITE,
                  MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    }
    if (at == MAP_FAILED) {
        at = mmap(nullptr, length_ + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    base_ = static_cast<uint8_t*>(at);
    std::memcpy(base_, bytes.data(), bytes.size());
    mprotect(base_ + length_, page, PROT_NONE);
}

MappedImage::~MappedImage() {
    munmap(base_, length_ + static_cast<size_t>(sysconf(_SC_PAGESIZE)));
}

}  // namespace tervolo::crash::testing
