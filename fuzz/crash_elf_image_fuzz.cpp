// The ELF image reader on arbitrary bytes laid out as the dynamic loader
// would map them: building the record from the program headers (segments,
// build ID note, unwind-table header, dynamic section and its hash tables)
// and looking symbols up by pc and by name must never crash, loop without
// end or read outside what the segments cover.
//
// The loader reports only segments it mapped, so inputs whose segments or
// tables reach past the region this target maps are skipped; what the
// segments hold (dynamic entries, hash tables, symbols, notes) is the
// fuzzer's.
#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "crash/AsyncElfImage.hpp"
#include "crash/AsyncMemoryObject.hpp"

using namespace tervolo::crash;

namespace {

// Where the image's segments may lie, from the region's start.
constexpr uint64_t kRegionBytes = 256 * 1024;

void touchName(qcrash_vm_address_t, const char* name, void* context) {
    // Touch the whole name: it must end where the reader said it does.
    *static_cast<size_t*>(context) += qcrash_async_strlen(name);
}

bool insideRegion(uint64_t start, uint64_t size) {
    uint64_t end;
    return !__builtin_add_overflow(start, size, &end) && end <= kRegionBytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(ElfW(Ehdr)) || size > 64 * 1024) return 0;
    ElfW(Ehdr) header;
    std::memcpy(&header, data, sizeof header);
    const uint64_t tableBytes = uint64_t{header.e_phnum} * sizeof(ElfW(Phdr));
    if (header.e_phoff > size || tableBytes > size - header.e_phoff) return 0;
    const uint8_t* table = data + header.e_phoff;

    // Where the program headers land: in the loadable segment whose file
    // bytes hold them, as the loader's own table does.
    uint64_t tableAddress = UINT64_MAX;
    for (uint16_t i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) p;
        std::memcpy(&p, table + i * sizeof p, sizeof p);
        switch (p.p_type) {
            case PT_LOAD:
                if (p.p_filesz > p.p_memsz || p.p_offset > size || p.p_filesz > size - p.p_offset) return 0;
                if (tableAddress == UINT64_MAX && header.e_phoff >= p.p_offset &&
                    header.e_phoff + tableBytes <= p.p_offset + p.p_filesz)
                    tableAddress = p.p_vaddr + (header.e_phoff - p.p_offset);
                [[fallthrough]];
            case PT_NOTE:
            case PT_DYNAMIC:
            case PT_GNU_EH_FRAME:
                if (!insideRegion(p.p_vaddr, p.p_memsz)) return 0;
                break;
            default:
                break;
        }
    }
    if (tableAddress == UINT64_MAX) return 0;

    // Tables may point anywhere in this process: read them only through
    // copies, and not too much of them.
    qcrash_async_mobject_copy_own_memory(1 << 20);
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    auto* region = static_cast<uint8_t*>(
        mmap(nullptr, kRegionBytes + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (region == MAP_FAILED) return 0;
    mprotect(region + kRegionBytes, page, PROT_NONE);
    for (uint16_t i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) p;
        std::memcpy(&p, table + i * sizeof p, sizeof p);
        if (p.p_type == PT_LOAD) std::memcpy(region + p.p_vaddr, data + p.p_offset, p.p_filesz);
    }
    // A later segment laid over the table: not an image a loader made.
    if (std::memcmp(region + tableAddress, table, tableBytes) != 0) {
        munmap(region, kRegionBytes + page);
        return 0;
    }

    const auto bias = reinterpret_cast<uintptr_t>(region);
    qcrash_async_macho_t image;
    if (qcrash_async_elf_init(&image, "fuzz", bias, bias + tableAddress, header.e_phnum) == QCRASH_ESUCCESS) {
        size_t touched = 0;
        // Some pcs inside the code and around it, and the entry point.
        const uint64_t pcs[] = {image.header_addr, image.header_addr + image.text_size / 2,
                                image.header_addr + image.text_size, bias + header.e_entry, bias + 0x1380,
                                bias + kRegionBytes - 1};
        for (const uint64_t pc : pcs) qcrash_async_image_find_symbol_by_pc(&image, pc, touchName, &touched);
        qcrash_vm_address_t address;
        for (const char* name : {"tervolo_seed_one", "tervolo_seed_three", "", "absent"}) {
            qcrash_async_elf_find_symbol_by_name(&image, name, &address);
        }
    }
    munmap(region, kRegionBytes + page);
    return 0;
}
