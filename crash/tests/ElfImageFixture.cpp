#include "ElfImageFixture.hpp"

#include <elf.h>
#include <sys/mman.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace tervolo::crash::testing {

namespace {

constexpr uint64_t kRegionBytes = 16 << 20;
constexpr uint64_t kProgramHeaders = sizeof(Elf64_Ehdr);
constexpr uint64_t kDynamic = 0x200;
constexpr uint64_t kHash = 0x400;
// The damaged pointer: byte 2 of kHash changed from 0x00 to 0x04.
constexpr uint64_t kDamagedHash = kHash | 0x040000;
constexpr uint64_t kSymbolTable = 0x1000;
constexpr uint64_t kStrings = 0x3000;
constexpr uint32_t kBuckets = 4;

template <typename T>
void put(uint8_t* base, uint64_t offset, const T& value) {
    std::memcpy(base + offset, &value, sizeof value);
}

}  // namespace

InMemoryElfImage::InMemoryElfImage(bool damagedHash) {
    region_ = mmap(nullptr, kRegionBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region_ == MAP_FAILED) throw std::runtime_error("no memory for the ELF image");
    regionBytes_ = kRegionBytes;
    auto* base = static_cast<uint8_t*>(region_);
    const uintptr_t address = reinterpret_cast<uintptr_t>(region_);

    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_DYN;
    header.e_machine = EM_X86_64;
    header.e_version = EV_CURRENT;
    header.e_phoff = kProgramHeaders;
    header.e_ehsize = sizeof header;
    header.e_phentsize = sizeof(Elf64_Phdr);
    header.e_phnum = programHeaderCount();
    put(base, 0, header);

    Elf64_Phdr load{};
    load.p_type = PT_LOAD;
    load.p_flags = PF_R | PF_X;
    load.p_filesz = load.p_memsz = kSegmentBytes;
    load.p_align = 4096;
    put(base, kProgramHeaders, load);
    Elf64_Phdr dynamic{};
    dynamic.p_type = PT_DYNAMIC;
    dynamic.p_flags = PF_R;
    dynamic.p_offset = dynamic.p_vaddr = kDynamic;
    dynamic.p_filesz = dynamic.p_memsz = 5 * sizeof(Elf64_Dyn);
    put(base, kProgramHeaders + sizeof load, dynamic);

    // Relocated in place, as the loader leaves the dynamic section.
    std::string strings(1, '\0');
    std::string names[kSymbols];
    for (uint64_t i = 1; i < kSymbols; ++i) {
        Elf64_Sym symbol{};
        symbol.st_name = static_cast<uint32_t>(strings.size());
        symbol.st_info = ELF64_ST_INFO(STB_GLOBAL, STT_FUNC);
        symbol.st_shndx = 1;
        symbol.st_value = kFirstFunction + 16 * i;
        symbol.st_size = 16;
        strings += "fn_" + std::to_string(i) + '\0';
        put(base, kSymbolTable + i * sizeof symbol, symbol);
    }
    std::memcpy(base + kStrings, strings.data(), strings.size());
    const Elf64_Dyn entries[] = {
        {DT_GNU_HASH, {address + (damagedHash ? kDamagedHash : kHash)}},
        {DT_SYMTAB, {address + kSymbolTable}},
        {DT_STRTAB, {address + kStrings}},
        {DT_STRSZ, {strings.size()}},
        {DT_NULL, {0}},
    };
    std::memcpy(base + kDynamic, entries, sizeof entries);

    // The hash table: its symbols 1 .. kSymbols - 1 in kBuckets chains of
    // (about) equal length; a chain's last hash has bit 0 set.
    const uint32_t hashHeader[4] = {kBuckets, 1, 1, 6};  // buckets, first symbol, bloom words, shift
    std::memcpy(base + kHash, hashHeader, sizeof hashHeader);
    put(base, kHash + 16, ~uint64_t{0});  // a bloom filter that lets everything through
    const uint64_t buckets = kHash + 16 + 8;
    const uint64_t chains = buckets + 4 * kBuckets;
    const uint32_t perBucket = (kSymbols - 1 + kBuckets - 1) / kBuckets;
    for (uint32_t b = 0; b < kBuckets; ++b) put(base, buckets + 4 * b, 1 + b * perBucket);
    for (uint32_t index = 1; index < kSymbols; ++index) {
        const bool last = index == kSymbols - 1 || index % perBucket == 0;
        put(base, chains + 4 * (index - 1), (index << 1) | (last ? 1u : 0u));
    }
    // What the damaged pointer finds: a word that reads as millions of buckets.
    const uint32_t garbage[4] = {kClaimedBuckets, 16, 2, 6};
    std::memcpy(base + kDamagedHash, garbage, sizeof garbage);

    mprotect(region_, regionBytes_, PROT_READ);
}

InMemoryElfImage::~InMemoryElfImage() {
    if (region_ != nullptr) munmap(region_, regionBytes_);
}

uintptr_t InMemoryElfImage::programHeaders() const {
    return base() + kProgramHeaders;
}

uintptr_t InMemoryElfImage::dynamicSection() const {
    return base() + kDynamic;
}

}  // namespace tervolo::crash::testing
