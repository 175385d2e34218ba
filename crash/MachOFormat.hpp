#pragma once

// The Mach-O structures the image reader walks, with the platform's field
// layout, for images of either width and byte order. Field values are raw
// (in the image's byte order); readers convert them.

#include <cstdint>

namespace tervolo::crash::macho {

inline constexpr uint32_t MH_MAGIC = 0xFEEDFACEu;
inline constexpr uint32_t MH_CIGAM = 0xCEFAEDFEu;
inline constexpr uint32_t MH_MAGIC_64 = 0xFEEDFACFu;
inline constexpr uint32_t MH_CIGAM_64 = 0xCFFAEDFEu;

inline constexpr uint32_t LC_SEGMENT = 0x1;
inline constexpr uint32_t LC_SYMTAB = 0x2;
inline constexpr uint32_t LC_DYSYMTAB = 0xB;
inline constexpr uint32_t LC_SEGMENT_64 = 0x19;
inline constexpr uint32_t LC_UUID = 0x1B;

// Symbol types: the debugging bits and the type bits, and "defined in a
// section".
inline constexpr uint8_t N_STAB_AND_TYPE = 0xEE;
inline constexpr uint8_t N_SECT = 0x0E;
inline constexpr uint8_t N_EXT = 0x01;
inline constexpr uint16_t N_ARM_THUMB_DEF = 0x0008;

// CPU types (the platform's numbering, also used for ELF images in reports).
inline constexpr int32_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr int32_t CPU_TYPE_X86 = 7;
inline constexpr int32_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
inline constexpr int32_t CPU_TYPE_ARM = 12;
inline constexpr int32_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
inline constexpr int32_t CPU_SUBTYPE_X86_64_ALL = 3;
inline constexpr int32_t CPU_SUBTYPE_ARM64_ALL = 0;

struct mach_header {  // 28 bytes; the 64-bit header adds 4 reserved bytes
    uint32_t magic;
    int32_t cputype;
    int32_t cpusubtype;
    uint32_t filetype;
    uint32_t ncmds;
    uint32_t sizeofcmds;
    uint32_t flags;
};

struct load_command {
    uint32_t cmd;
    uint32_t cmdsize;
};

struct segment_command {  // 56 bytes
    uint32_t cmd;
    uint32_t cmdsize;
    char segname[16];
    uint32_t vmaddr;
    uint32_t vmsize;
    uint32_t fileoff;
    uint32_t filesize;
    int32_t maxprot;
    int32_t initprot;
    uint32_t nsects;
    uint32_t flags;
};

struct segment_command_64 {  // 72 bytes
    uint32_t cmd;
    uint32_t cmdsize;
    char segname[16];
    uint64_t vmaddr;
    uint64_t vmsize;
    uint64_t fileoff;
    uint64_t filesize;
    int32_t maxprot;
    int32_t initprot;
    uint32_t nsects;
    uint32_t flags;
};

struct section {  // 68 bytes
    char sectname[16];
    char segname[16];
    uint32_t addr;
    uint32_t size;
    uint32_t offset;
    uint32_t align;
    uint32_t reloff;
    uint32_t nreloc;
    uint32_t flags;
    uint32_t reserved1;
    uint32_t reserved2;
};

struct section_64 {  // 80 bytes
    char sectname[16];
    char segname[16];
    uint64_t addr;
    uint64_t size;
    uint32_t offset;
    uint32_t align;
    uint32_t reloff;
    uint32_t nreloc;
    uint32_t flags;
    uint32_t reserved1;
    uint32_t reserved2;
    uint32_t reserved3;
};

struct symtab_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint32_t symoff;
    uint32_t nsyms;
    uint32_t stroff;
    uint32_t strsize;
};

struct dysymtab_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint32_t ilocalsym;
    uint32_t nlocalsym;
    uint32_t iextdefsym;
    uint32_t nextdefsym;
    uint32_t iundefsym;
    uint32_t nundefsym;
    uint32_t rest[12];
};

struct nlist {  // 12 bytes
    uint32_t n_strx;
    uint8_t n_type;
    uint8_t n_sect;
    int16_t n_desc;
    uint32_t n_value;
};

struct nlist_64 {  // 16 bytes
    uint32_t n_strx;
    uint8_t n_type;
    uint8_t n_sect;
    uint16_t n_desc;
    uint64_t n_value;
} __attribute__((packed, aligned(4)));

static_assert(sizeof(mach_header) == 28);
static_assert(sizeof(segment_command) == 56);
static_assert(sizeof(segment_command_64) == 72);
static_assert(sizeof(section) == 68);
static_assert(sizeof(section_64) == 80);
static_assert(sizeof(symtab_command) == 24);
static_assert(sizeof(dysymtab_command) == 80);
static_assert(sizeof(nlist) == 12);
static_assert(sizeof(nlist_64) == 16);

}  // namespace tervolo::crash::macho
