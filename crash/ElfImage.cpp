// Building ELF image records from what the dynamic loader reports. Reads
// files and allocates, so never on the crash path.
#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crash/AsyncElfImage.hpp"

namespace tervolo::crash {

namespace {

// A symbol table larger than this is not read (no object of ours comes
// close; a hostile file could claim anything).
constexpr uint64_t kMaxSymbolTableBytes = 64ull << 20;

template <typename T>
bool readTask(qcrash_vm_address_t address, T* out) {
    return qcrash_async_task_memcpy(qcrash_task_self(), address, 0, out, sizeof *out) == QCRASH_ESUCCESS;
}

// GNU build ID from a block of notes (in memory or read from a file).
bool buildIdFromNotes(const uint8_t* notes, uint64_t size, std::vector<uint8_t>* id) {
    uint64_t offset = 0;
    while (offset + sizeof(ElfW(Nhdr)) <= size) {
        ElfW(Nhdr) header;
        std::memcpy(&header, notes + offset, sizeof header);
        const uint64_t name = offset + sizeof header;
        const uint64_t desc = name + ((header.n_namesz + 3ull) & ~3ull);
        const uint64_t next = desc + ((header.n_descsz + 3ull) & ~3ull);
        if (next > size || desc + header.n_descsz > size) return false;
        if (header.n_type == NT_GNU_BUILD_ID && header.n_namesz == 4 &&
            std::memcmp(notes + name, "GNU", 4) == 0) {
            id->assign(notes + desc, notes + desc + header.n_descsz);
            return true;
        }
        offset = next;
    }
    return false;
}

// A pointer of the unwind-table header: the encodings compilers emit there.
bool readEncodedPointer(qcrash_vm_address_t at, uint8_t encoding, qcrash_vm_address_t hdr,
                        qcrash_vm_address_t* value) {
    uint64_t raw = 0;
    switch (encoding & 0x0F) {
        case 0x00:  // absolute, pointer sized
        case 0x04: {
            uint64_t v;
            if (!readTask(at, &v)) return false;
            raw = v;
            break;
        }
        case 0x03: {
            uint32_t v;
            if (!readTask(at, &v)) return false;
            raw = v;
            break;
        }
        case 0x0B: {
            int32_t v;
            if (!readTask(at, &v)) return false;
            raw = static_cast<uint64_t>(static_cast<int64_t>(v));
            break;
        }
        case 0x0C: {
            int64_t v;
            if (!readTask(at, &v)) return false;
            raw = static_cast<uint64_t>(v);
            break;
        }
        default:
            return false;
    }
    switch (encoding & 0x70) {
        case 0x00:
            *value = raw;
            return true;
        case 0x10:  // relative to the field
            *value = at + raw;
            return true;
        case 0x30:  // relative to the header
            *value = hdr + raw;
            return true;
        default:
            return false;
    }
}

// A dynamic-section address: the loader has relocated most of them in
// place; the vDSO's stay link-time addresses.
qcrash_vm_address_t dynamicAddress(uint64_t value, uintptr_t bias) {
    return value < bias ? value + bias : value;
}

// Number of symbols of a GNU hash table: one past the last chain's end.
uint64_t gnuHashSymbolCount(qcrash_vm_address_t table) {
    uint32_t header[4];  // nbuckets, symoffset, bloom size, bloom shift
    if (!readTask(table, &header)) return 0;
    const uint64_t buckets = table + 16 + uint64_t{header[2]} * sizeof(ElfW(Addr));
    uint32_t last = 0;
    for (uint32_t i = 0; i < header[0]; ++i) {
        uint32_t start;
        if (!readTask(buckets + 4ull * i, &start)) return 0;
        if (start > last) last = start;
    }
    if (last < header[1]) return header[1];
    const uint64_t chains = buckets + 4ull * header[0];
    for (uint64_t index = last;; ++index) {
        uint32_t hash;
        if (!readTask(chains + 4 * (index - header[1]), &hash)) return 0;
        if ((hash & 1) != 0) return index + 1;
        if (index - last > (1u << 24)) return 0;  // no end in sight: not a table
    }
}

void readDynamicSymbols(qcrash_async_macho_t* image, qcrash_vm_address_t dynamic, uintptr_t bias) {
    qcrash_vm_address_t symtab = 0, strtab = 0, hash = 0, gnuHash = 0;
    uint64_t strsz = 0;
    for (qcrash_vm_address_t at = dynamic;; at += sizeof(ElfW(Dyn))) {
        ElfW(Dyn) entry;
        if (!readTask(at, &entry) || entry.d_tag == DT_NULL) break;
        switch (entry.d_tag) {
            case DT_SYMTAB:
                symtab = dynamicAddress(entry.d_un.d_ptr, bias);
                break;
            case DT_STRTAB:
                strtab = dynamicAddress(entry.d_un.d_ptr, bias);
                break;
            case DT_STRSZ:
                strsz = entry.d_un.d_val;
                break;
            case DT_HASH:
                hash = dynamicAddress(entry.d_un.d_ptr, bias);
                break;
            case DT_GNU_HASH:
                gnuHash = dynamicAddress(entry.d_un.d_ptr, bias);
                break;
            default:
                break;
        }
    }
    uint64_t count = 0;
    if (hash != 0) {
        uint32_t words[2];  // nbucket, nchain
        if (readTask(hash, &words)) count = words[1];
    } else if (gnuHash != 0) {
        count = gnuHashSymbolCount(gnuHash);
    }
    if (symtab == 0 || strtab == 0 || count == 0) return;
    image->elf.dynsym = symtab;
    image->elf.dynsym_count = count;
    image->elf.dynstr = strtab;
    image->elf.dynstr_size = strsz;
}

bool readAt(int fd, uint64_t offset, void* out, uint64_t size) {
    uint64_t done = 0;
    while (done < size) {
        const ssize_t n =
            pread(fd, static_cast<uint8_t*>(out) + done, size - done, static_cast<off_t>(offset + done));
        if (n <= 0) return false;
        done += static_cast<uint64_t>(n);
    }
    return true;
}

// The full symbol table from the file, when the file is the object loaded:
// same build ID (or neither has one).
void readFileSymbols(qcrash_async_macho_t* image, const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ElfW(Ehdr) header;
    std::vector<ElfW(Shdr)> sections;
    if (readAt(fd, 0, &header, sizeof header) && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_shentsize == sizeof(ElfW(Shdr)) &&
        header.e_shnum > 0) {
        sections.resize(header.e_shnum);
        if (!readAt(fd, header.e_shoff, sections.data(), sections.size() * sizeof(ElfW(Shdr))))
            sections.clear();
    }
    std::vector<uint8_t> fileId;
    const ElfW(Shdr)* symtab = nullptr;
    for (const auto& section : sections) {
        if (section.sh_type == SHT_NOTE && section.sh_size < (1u << 20) && fileId.empty()) {
            std::vector<uint8_t> notes(section.sh_size);
            if (readAt(fd, section.sh_offset, notes.data(), notes.size())) {
                buildIdFromNotes(notes.data(), notes.size(), &fileId);
            }
        }
        if (section.sh_type == SHT_SYMTAB && symtab == nullptr) symtab = &section;
    }
    const std::vector<uint8_t> memoryId(image->elf.build_id,
                                        image->elf.build_id + image->elf.build_id_length);
    if (symtab != nullptr && fileId == memoryId && symtab->sh_link < sections.size() &&
        symtab->sh_entsize == sizeof(ElfW(Sym)) && symtab->sh_size <= kMaxSymbolTableBytes) {
        const auto& strings = sections[symtab->sh_link];
        if (strings.sh_size <= kMaxSymbolTableBytes) {
            auto* symbols = static_cast<uint8_t*>(std::malloc(symtab->sh_size + 1));
            auto* names = static_cast<char*>(std::malloc(strings.sh_size + 1));
            if (symbols != nullptr && names != nullptr &&
                readAt(fd, symtab->sh_offset, symbols, symtab->sh_size) &&
                readAt(fd, strings.sh_offset, names, strings.sh_size)) {
                image->elf.symtab = symbols;
                image->elf.symtab_count = symtab->sh_size / sizeof(ElfW(Sym));
                image->elf.strtab = names;
                image->elf.strtab_size = strings.sh_size;
                symbols = nullptr;
                names = nullptr;
            }
            std::free(symbols);
            std::free(names);
        }
    }
    close(fd);
}

int32_t cpuTypeOf(uint16_t machine) {
    switch (machine) {
        case EM_X86_64:
            return macho::CPU_TYPE_X86_64;
        case EM_AARCH64:
            return macho::CPU_TYPE_ARM64;
        case EM_386:
            return macho::CPU_TYPE_X86;
        case EM_ARM:
            return macho::CPU_TYPE_ARM;
        default:
            return 0;
    }
}

int32_t cpuSubtypeOf(uint16_t machine) {
    switch (machine) {
        case EM_X86_64:
        case EM_386:
            return macho::CPU_SUBTYPE_X86_64_ALL;
        case EM_ARM:
            return 9;  // armv7
        default:
            return 0;
    }
}

std::string executablePath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace

qcrash_error_t qcrash_nasync_elf_init(qcrash_async_macho_t* image, const char* path, uintptr_t load_bias,
                                      const ElfW(Phdr) * phdrs, uint16_t phnum) {
    *image = qcrash_async_macho_t{};
    image->task = qcrash_task_self();
    image->format = qcrash_image_format::elf;
    image->m64 = sizeof(void*) == 8;
    image->byteorder = qcrash_async_byteorder_little_endian();
    image->header_size = sizeof(ElfW(Ehdr));

    const ElfW(Phdr)* first = nullptr;
    qcrash_vm_address_t codeEnd = 0;
    for (uint16_t i = 0; i < phnum; ++i) {
        const auto& p = phdrs[i];
        if (p.p_type == PT_LOAD) {
            if (first == nullptr) first = &p;
            if ((p.p_flags & PF_X) != 0) codeEnd = load_bias + p.p_vaddr + p.p_memsz;
        }
    }
    if (first == nullptr) return QCRASH_EINVAL;
    const qcrash_vm_size_t page = qcrash_async_page_size();
    image->header_addr = (load_bias + first->p_vaddr) & ~(page - 1);
    image->vmaddr_slide = load_bias;
    image->text_vmaddr = image->header_addr - load_bias;
    image->text_size = codeEnd > image->header_addr ? codeEnd - image->header_addr : 0;

    ElfW(Ehdr) header;
    if (first->p_offset == 0 && readTask(image->header_addr, &header) &&
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0) {
        image->header.cputype = cpuTypeOf(header.e_machine);
        image->header.cpusubtype = cpuSubtypeOf(header.e_machine);
    } else {
        image->header.cputype = cpuTypeOf(EM_X86_64);
        image->header.cpusubtype = cpuSubtypeOf(EM_X86_64);
    }

    qcrash_vm_address_t dynamic = 0;
    for (uint16_t i = 0; i < phnum; ++i) {
        const auto& p = phdrs[i];
        const qcrash_vm_address_t at = load_bias + p.p_vaddr;
        if (p.p_type == PT_NOTE && image->elf.build_id_length == 0 && p.p_memsz < (1u << 20)) {
            std::vector<uint8_t> notes(p.p_memsz);
            std::vector<uint8_t> id;
            if (qcrash_async_task_memcpy(image->task, at, 0, notes.data(), notes.size()) == QCRASH_ESUCCESS &&
                buildIdFromNotes(notes.data(), notes.size(), &id)) {
                image->elf.build_id_length =
                    static_cast<uint32_t>(std::min(id.size(), sizeof image->elf.build_id));
                std::memcpy(image->elf.build_id, id.data(), image->elf.build_id_length);
            }
        } else if (p.p_type == PT_GNU_EH_FRAME) {
            image->elf.eh_frame_hdr = at;
            image->elf.eh_frame_hdr_size = p.p_memsz;
        } else if (p.p_type == PT_DYNAMIC) {
            dynamic = at;
        }
    }

    // The frame table itself: its address is in the header; it runs at most
    // to the end of the segment that holds it.
    uint8_t hdr[4];
    qcrash_vm_address_t ehFrame;
    if (image->elf.eh_frame_hdr != 0 && readTask(image->elf.eh_frame_hdr, &hdr) && hdr[0] == 1 &&
        readEncodedPointer(image->elf.eh_frame_hdr + 4, hdr[1], image->elf.eh_frame_hdr, &ehFrame)) {
        for (uint16_t i = 0; i < phnum; ++i) {
            const auto& p = phdrs[i];
            const qcrash_vm_address_t start = load_bias + p.p_vaddr;
            if (p.p_type == PT_LOAD && ehFrame >= start && ehFrame < start + p.p_memsz) {
                image->elf.eh_frame = ehFrame;
                image->elf.eh_frame_size = start + p.p_memsz - ehFrame;
            }
        }
    }
    if (dynamic != 0) readDynamicSymbols(image, dynamic, load_bias);

    const std::string file = (path == nullptr || path[0] == 0) ? executablePath() : std::string(path);
    if (!file.empty() && file[0] == '/') readFileSymbols(image, file);
    image->name = strdup(file.c_str());
    return QCRASH_ESUCCESS;
}

}  // namespace tervolo::crash
