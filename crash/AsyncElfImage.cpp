#include "crash/AsyncElfImage.hpp"

#include <elf.h>

namespace tervolo::crash {

namespace {

template <typename T>
bool readTask(qcrash_vm_address_t address, T* out) {
    return qcrash_async_task_memcpy(qcrash_task_self(), address, 0, out, sizeof *out) == QCRASH_ESUCCESS;
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

// Reads task memory below a limit through a window, so that a walk over a
// table costs one system call per window instead of one per entry. The
// window lives on the caller's (alternate signal) stack: small, and never
// more than one at a time.
class WindowReader {
  public:
    explicit WindowReader(qcrash_vm_address_t limit) : limit_(limit) {}

    // False when [at, at + size) does not end at or below the limit or
    // cannot be read.
    bool read(qcrash_vm_address_t at, void* out, size_t size) {
        qcrash_vm_address_t end;
        if (__builtin_add_overflow(at, size, &end) || end > limit_) return false;
        if (at < base_ || end > base_ + filled_) {
            if (size > sizeof window_) {
                return qcrash_async_task_memcpy(qcrash_task_self(), at, 0, out, size) == QCRASH_ESUCCESS;
            }
            if (!fill(at, size)) return false;
        }
        __builtin_memcpy(out, window_ + (at - base_), size);
        return true;
    }
    template <typename T>
    bool read(qcrash_vm_address_t at, T* out) {
        return read(at, out, sizeof *out);
    }

  private:
    bool fill(qcrash_vm_address_t at, size_t size) {
        filled_ = 0;
        // As much as the window holds; where that runs into unreadable
        // memory, up to the end of the page; at the least what was asked.
        const qcrash_vm_size_t page = qcrash_async_page_size();
        const qcrash_vm_size_t toLimit = limit_ - at;
        const qcrash_vm_size_t toPage = page - (at & (page - 1));
        const qcrash_vm_size_t tries[3] = {sizeof window_ < toLimit ? sizeof window_ : toLimit,
                                           toPage < toLimit && toPage < sizeof window_ ? toPage : 0, size};
        for (const qcrash_vm_size_t length : tries) {
            if (length < size) continue;
            if (qcrash_async_task_memcpy(qcrash_task_self(), at, 0, window_, length) == QCRASH_ESUCCESS) {
                base_ = at;
                filled_ = length;
                return true;
            }
        }
        return false;
    }

    const qcrash_vm_address_t limit_;
    qcrash_vm_address_t base_ = 0;
    size_t filled_ = 0;
    uint8_t window_[256];
};

// Where the image's loadable segments lie in memory. Every table the image
// names must lie inside one of them, and every count read from the image is
// bounded by what is left of that segment: a damaged word then costs a
// refusal instead of millions of reads. Images have a handful of segments;
// tables in any beyond kMax are not trusted.
struct Segments {
    static constexpr int kMax = 16;
    qcrash_vm_address_t start[kMax];
    qcrash_vm_address_t end[kMax];
    int count = 0;

    void add(qcrash_vm_address_t from, uint64_t size) {
        qcrash_vm_address_t to;
        if (count == kMax || size == 0 || __builtin_add_overflow(from, size, &to)) return;
        start[count] = from;
        end[count] = to;
        ++count;
    }
    // The end of the segment that holds `at`; 0 when none does.
    qcrash_vm_address_t endOf(qcrash_vm_address_t at) const {
        for (int i = 0; i < count; ++i) {
            if (at >= start[i] && at < end[i]) return end[i];
        }
        return 0;
    }
    // The bytes from `at` to the end of its segment; 0 outside every segment.
    uint64_t room(qcrash_vm_address_t at) const {
        const qcrash_vm_address_t to = endOf(at);
        return to == 0 ? 0 : to - at;
    }
};

// Number of symbols of a GNU hash table: one past the last chain's end; 0
// when the table does not fit in its segment or has no end there.
uint64_t gnuHashSymbolCount(qcrash_vm_address_t table, const Segments& segments) {
    const qcrash_vm_address_t limit = segments.endOf(table);
    if (limit == 0) return 0;
    WindowReader reader(limit);
    uint32_t header[4];  // nbuckets, symoffset, bloom size, bloom shift
    if (!reader.read(table, &header)) return 0;
    const uint64_t room = limit - table;
    const uint64_t headerBytes = 16 + uint64_t{header[2]} * sizeof(ElfW(Addr));
    if (headerBytes > room || uint64_t{header[0]} * 4 > room - headerBytes) return 0;
    const qcrash_vm_address_t buckets = table + headerBytes;
    uint32_t last = 0;
    for (uint32_t i = 0; i < header[0]; ++i) {
        uint32_t start;
        if (!reader.read(buckets + 4ull * i, &start)) return 0;
        if (start > last) last = start;
    }
    if (last < header[1]) return header[1];
    const qcrash_vm_address_t chains = buckets + 4ull * header[0];
    // Each chain entry is 4 bytes of the same segment: the walk ends there at the latest.
    for (uint64_t index = last;; ++index) {
        uint32_t hash;
        if (!reader.read(chains + 4 * (index - header[1]), &hash)) return 0;
        if ((hash & 1) != 0) return index + 1;
    }
}

void readDynamicSymbols(qcrash_async_macho_t* image, qcrash_vm_address_t dynamic, uint64_t dynamicSize,
                        uintptr_t bias, const Segments& segments) {
    qcrash_vm_address_t symtab = 0, strtab = 0, hash = 0, gnuHash = 0;
    uint64_t strsz = 0;
    // The section ends at DT_NULL, and at the end of its own extent at the latest.
    qcrash_vm_address_t limit;
    if (__builtin_add_overflow(dynamic, dynamicSize, &limit)) return;
    {
        WindowReader reader(limit);
        for (qcrash_vm_address_t at = dynamic;; at += sizeof(ElfW(Dyn))) {
            ElfW(Dyn) entry;
            if (!reader.read(at, &entry) || entry.d_tag == DT_NULL) break;
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
    }
    uint64_t count = 0;
    if (hash != 0) {
        uint32_t words[2];  // nbucket, nchain
        if (segments.room(hash) >= sizeof words &&
            qcrash_async_task_memcpy(qcrash_task_self(), hash, 0, &words, sizeof words) == QCRASH_ESUCCESS)
            count = words[1];
    } else if (gnuHash != 0) {
        count = gnuHashSymbolCount(gnuHash, segments);
    }
    if (symtab == 0 || strtab == 0 || count == 0) return;
    // The tables must fit in the segments that hold them.
    if (count > segments.room(symtab) / sizeof(ElfW(Sym))) return;
    const uint64_t strings = segments.room(strtab);
    if (strings == 0) return;
    image->elf.dynsym = symtab;
    image->elf.dynsym_count = count;
    image->elf.dynstr = strtab;
    image->elf.dynstr_size = strsz < strings ? strsz : strings;
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

bool isElfMagic(const unsigned char* ident) {
    return ident[EI_MAG0] == ELFMAG0 && ident[EI_MAG1] == ELFMAG1 && ident[EI_MAG2] == ELFMAG2 &&
           ident[EI_MAG3] == ELFMAG3;
}

bool isFunction(const ElfW(Sym) & symbol) {
    const unsigned type = ELF64_ST_TYPE(symbol.st_info);
    return (type == STT_FUNC || type == STT_GNU_IFUNC) && symbol.st_shndx != SHN_UNDEF &&
           symbol.st_value != 0;
}

// A name inside [strings, strings + size) that ends there, or null.
const char* nameAt(const char* strings, uint64_t size, uint32_t index) {
    if (index >= size) return nullptr;
    for (uint64_t i = index; i < size; ++i) {
        if (strings[i] == 0) return strings + index;
    }
    return nullptr;
}

// Walks one symbol table's functions; `wanted` picks the candidates whose
// names are then checked, `visit` returns false to stop. Names are checked
// only for candidates: tables hold tens of thousands of entries.
template <typename Wanted, typename Visit>
void eachSymbol(const ElfW(Sym) * symbols, uint64_t count, const char* strings, uint64_t stringsSize,
                Wanted wanted, Visit visit) {
    for (uint64_t i = 0; i < count; ++i) {
        ElfW(Sym) symbol;
        __builtin_memcpy(&symbol, &symbols[i], sizeof symbol);
        if (!isFunction(symbol) || !wanted(symbol)) continue;
        const char* name = nameAt(strings, stringsSize, symbol.st_name);
        if (name == nullptr || name[0] == 0) continue;
        if (!visit(symbol, name)) return;
    }
}

// The dynamic symbol table through memory objects; false when it cannot be
// mapped.
struct DynamicTables {
    qcrash_async_mobject_t symbols;
    qcrash_async_mobject_t strings;
    bool ok = false;

    explicit DynamicTables(const qcrash_async_macho_t* image) {
        const auto& elf = image->elf;
        if (elf.dynsym == 0 || elf.dynstr == 0) return;
        if (qcrash_async_mobject_init(&symbols, image->task, elf.dynsym, elf.dynsym_count * sizeof(ElfW(Sym)),
                                      true) != QCRASH_ESUCCESS)
            return;
        if (qcrash_async_mobject_init(&strings, image->task, elf.dynstr, elf.dynstr_size, false) !=
            QCRASH_ESUCCESS) {
            qcrash_async_mobject_free(&symbols);
            return;
        }
        ok = true;
    }
    ~DynamicTables() {
        if (!ok) return;
        qcrash_async_mobject_free(&symbols);
        qcrash_async_mobject_free(&strings);
    }
    const ElfW(Sym) * symbolTable() const { return reinterpret_cast<const ElfW(Sym)*>(symbols.address); }
    const char* stringTable() const { return reinterpret_cast<const char*>(strings.address); }
};

}  // namespace

bool qcrash_async_elf_build_id(qcrash_vm_address_t notes, uint64_t size, uint8_t* id, uint32_t max,
                               uint32_t* length) {
    qcrash_vm_address_t limit;
    if (__builtin_add_overflow(notes, size, &limit)) return false;
    WindowReader reader(limit);
    uint64_t offset = 0;
    while (offset + sizeof(ElfW(Nhdr)) <= size) {
        ElfW(Nhdr) header;
        if (!reader.read(notes + offset, &header)) return false;
        const uint64_t name = offset + sizeof header;
        const uint64_t desc = name + ((header.n_namesz + 3ull) & ~3ull);
        const uint64_t next = desc + ((header.n_descsz + 3ull) & ~3ull);
        if (next > size || desc + header.n_descsz > size) return false;
        char owner[4];
        if (header.n_type == NT_GNU_BUILD_ID && header.n_namesz == 4 && reader.read(notes + name, &owner) &&
            owner[0] == 'G' && owner[1] == 'N' && owner[2] == 'U' && owner[3] == 0) {
            const uint32_t kept = header.n_descsz < max ? header.n_descsz : max;
            if (!reader.read(notes + desc, id, kept)) return false;
            *length = kept;
            return true;
        }
        offset = next;
    }
    return false;
}

qcrash_error_t qcrash_async_elf_init(qcrash_async_macho_t* image, const char* name, uintptr_t load_bias,
                                     qcrash_vm_address_t phdrs, uint16_t phnum) {
    *image = qcrash_async_macho_t{};
    image->task = qcrash_task_self();
    image->format = qcrash_image_format::elf;
    image->m64 = sizeof(void*) == 8;
    image->byteorder = qcrash_async_byteorder_little_endian();
    image->header_size = sizeof(ElfW(Ehdr));
    image->name = const_cast<char*>(name);

    // The headers are read where the loader keeps them, in one pass through
    // a window: no buffer for all of them is at hand in a crash handler.
    qcrash_vm_address_t headersEnd;
    if (__builtin_add_overflow(phdrs, uint64_t{phnum} * sizeof(ElfW(Phdr)), &headersEnd))
        return QCRASH_EINVAL;
    Segments segments;
    bool haveFirst = false;
    ElfW(Phdr) first{};
    qcrash_vm_address_t codeEnd = 0;
    constexpr int kMaxNotes = 4;
    qcrash_vm_address_t notes[kMaxNotes];
    uint64_t noteSizes[kMaxNotes];
    int noteCount = 0;
    uint64_t dynamicSize = 0;
    uint16_t count = phnum;
    {
        WindowReader headers(headersEnd);
        for (uint16_t i = 0; i < count; ++i) {
            ElfW(Phdr) p;
            if (!headers.read(phdrs + i * sizeof p, &p)) return QCRASH_ENOTFOUND;
            const qcrash_vm_address_t at = load_bias + p.p_vaddr;
            switch (p.p_type) {
                case PT_LOAD:
                    if (!haveFirst) {
                        first = p;
                        haveFirst = true;
                        // Headers that lie in the first segment end with it,
                        // whatever count the ELF header claims.
                        if (phdrs >= at && phdrs - at < p.p_memsz) {
                            const uint64_t fit = (p.p_memsz - (phdrs - at)) / sizeof p;
                            if (fit < count) count = static_cast<uint16_t>(fit);
                        }
                    }
                    segments.add(at, p.p_memsz);
                    if ((p.p_flags & PF_X) != 0) codeEnd = at + p.p_memsz;
                    break;
                case PT_NOTE:
                    if (noteCount < kMaxNotes && p.p_memsz < (1u << 20)) {
                        notes[noteCount] = at;
                        noteSizes[noteCount] = p.p_memsz;
                        ++noteCount;
                    }
                    break;
                case PT_GNU_EH_FRAME:
                    image->elf.eh_frame_hdr = at;
                    image->elf.eh_frame_hdr_size = p.p_memsz;
                    break;
                case PT_DYNAMIC:
                    image->elf.dynamic = at;
                    dynamicSize = p.p_memsz;
                    break;
                default:
                    break;
            }
        }
    }
    if (!haveFirst) return QCRASH_EINVAL;
    const qcrash_vm_size_t page = qcrash_async_page_size();
    image->header_addr = (load_bias + first.p_vaddr) & ~(page - 1);
    image->vmaddr_slide = load_bias;
    image->text_vmaddr = image->header_addr - load_bias;
    image->text_size = codeEnd > image->header_addr ? codeEnd - image->header_addr : 0;

    ElfW(Ehdr) elfHeader;
    if (first.p_offset == 0 && readTask(image->header_addr, &elfHeader) && isElfMagic(elfHeader.e_ident)) {
        image->header.cputype = cpuTypeOf(elfHeader.e_machine);
        image->header.cpusubtype = cpuSubtypeOf(elfHeader.e_machine);
    } else {
        image->header.cputype = cpuTypeOf(EM_X86_64);
        image->header.cpusubtype = cpuSubtypeOf(EM_X86_64);
    }

    for (int i = 0; i < noteCount && image->elf.build_id_length == 0; ++i) {
        qcrash_async_elf_build_id(notes[i], noteSizes[i], image->elf.build_id, sizeof image->elf.build_id,
                                  &image->elf.build_id_length);
    }

    // The frame table itself: its address is in the header; it runs at most
    // to the end of the segment that holds it.
    uint8_t hdr[4];
    qcrash_vm_address_t ehFrame;
    if (image->elf.eh_frame_hdr != 0 && readTask(image->elf.eh_frame_hdr, &hdr) && hdr[0] == 1 &&
        readEncodedPointer(image->elf.eh_frame_hdr + 4, hdr[1], image->elf.eh_frame_hdr, &ehFrame)) {
        if (const uint64_t room = segments.room(ehFrame); room != 0) {
            image->elf.eh_frame = ehFrame;
            image->elf.eh_frame_size = room;
        }
    }
    if (image->elf.dynamic != 0)
        readDynamicSymbols(image, image->elf.dynamic, dynamicSize, load_bias, segments);
    return QCRASH_ESUCCESS;
}

qcrash_error_t qcrash_async_elf_find_symbol_by_pc(const qcrash_async_macho_t* image, qcrash_vm_address_t pc,
                                                  qcrash_async_found_symbol_cb callback, void* context) {
    if (image->format != qcrash_image_format::elf) return QCRASH_ENOTSUP;
    const uint64_t target = pc - image->vmaddr_slide;
    bool found = false;
    uint64_t bestValue = 0;
    const char* bestName = nullptr;
    auto better = [&](const ElfW(Sym) & symbol) {
        return symbol.st_value <= target && (!found || symbol.st_value > bestValue);
    };
    auto consider = [&](const ElfW(Sym) & symbol, const char* name) {
        if (symbol.st_value <= target && (!found || symbol.st_value > bestValue)) {
            found = true;
            bestValue = symbol.st_value;
            bestName = name;
        }
        return true;
    };
    const DynamicTables dynamic(image);
    if (dynamic.ok) {
        eachSymbol(dynamic.symbolTable(), image->elf.dynsym_count, dynamic.stringTable(),
                   dynamic.strings.length, better, consider);
    }
    if (image->elf.symtab != nullptr) {
        eachSymbol(reinterpret_cast<const ElfW(Sym)*>(image->elf.symtab), image->elf.symtab_count,
                   image->elf.strtab, image->elf.strtab_size, better, consider);
    }
    if (!found) return QCRASH_ENOTFOUND;
    callback(image->vmaddr_slide + bestValue, bestName, context);
    return QCRASH_ESUCCESS;
}

qcrash_error_t qcrash_async_elf_find_symbol_by_name(const qcrash_async_macho_t* image, const char* name,
                                                    qcrash_vm_address_t* address) {
    if (image->format != qcrash_image_format::elf) return QCRASH_ENOTSUP;
    bool found = false;
    auto any = [](const ElfW(Sym)&) { return true; };
    auto match = [&](const ElfW(Sym) & symbol, const char* candidate) {
        if (qcrash_async_strcmp(candidate, name) != 0) return true;
        *address = image->vmaddr_slide + symbol.st_value;
        found = true;
        return false;
    };
    const DynamicTables dynamic(image);
    if (dynamic.ok) {
        eachSymbol(dynamic.symbolTable(), image->elf.dynsym_count, dynamic.stringTable(),
                   dynamic.strings.length, any, match);
    }
    if (!found && image->elf.symtab != nullptr) {
        eachSymbol(reinterpret_cast<const ElfW(Sym)*>(image->elf.symtab), image->elf.symtab_count,
                   image->elf.strtab, image->elf.strtab_size, any, match);
    }
    return found ? QCRASH_ESUCCESS : QCRASH_ENOTFOUND;
}

qcrash_error_t qcrash_async_image_find_symbol_by_pc(qcrash_async_macho_t* image, qcrash_vm_address_t pc,
                                                    qcrash_async_found_symbol_cb callback, void* context) {
    if (image->format == qcrash_image_format::elf) {
        return qcrash_async_elf_find_symbol_by_pc(image, pc, callback, context);
    }
    return qcrash_async_macho_find_symbol_by_pc(image, pc, callback, context);
}

}  // namespace tervolo::crash
