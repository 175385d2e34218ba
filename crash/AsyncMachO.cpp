#include "crash/AsyncMachO.hpp"

namespace tervolo::crash {

using namespace macho;

namespace {

uint32_t u32(const qcrash_async_macho_t* image, uint32_t v) {
    return image->byteorder->swap32(v);
}
uint64_t u64(const qcrash_async_macho_t* image, uint64_t v) {
    return image->byteorder->swap64(v);
}

template <typename T>
T load(const void* p) {
    T value;
    qcrash_async_memcpy(&value, p, sizeof value);
    return value;
}

uintptr_t local(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

// Whether `length` bytes at `p` lie inside the load-command mapping.
bool inCommands(const qcrash_async_macho_t* image, const void* p, uint64_t length) {
    return qcrash_async_mobject_verify_local_pointer(&image->load_cmds, local(p), 0, length);
}

uint32_t segmentCommandType(const qcrash_async_macho_t* image) {
    return image->m64 ? LC_SEGMENT_64 : LC_SEGMENT;
}
uint64_t segmentCommandSize(const qcrash_async_macho_t* image) {
    return image->m64 ? sizeof(segment_command_64) : sizeof(segment_command);
}

struct Segment {
    uint64_t vmaddr, vmsize, fileoff, filesize;
    uint32_t nsects;
};

Segment readSegment(const qcrash_async_macho_t* image, const void* command) {
    if (image->m64) {
        const auto s = load<segment_command_64>(command);
        return {u64(image, s.vmaddr), u64(image, s.vmsize), u64(image, s.fileoff), u64(image, s.filesize),
                u32(image, s.nsects)};
    }
    const auto s = load<segment_command>(command);
    return {u32(image, s.vmaddr), u32(image, s.vmsize), u32(image, s.fileoff), u32(image, s.filesize),
            u32(image, s.nsects)};
}

}  // namespace

const qcrash_async_byteorder_t* qcrash_async_macho_byteorder(const qcrash_async_macho_t* image) {
    return image->byteorder;
}

const mach_header* qcrash_async_macho_header(const qcrash_async_macho_t* image) {
    return &image->header;
}

uint32_t qcrash_async_macho_header_size(const qcrash_async_macho_t* image) {
    return image->header_size;
}

int32_t qcrash_async_macho_cpu_type(const qcrash_async_macho_t* image) {
    return static_cast<int32_t>(u32(image, static_cast<uint32_t>(image->header.cputype)));
}

int32_t qcrash_async_macho_cpu_subtype(const qcrash_async_macho_t* image) {
    return static_cast<int32_t>(u32(image, static_cast<uint32_t>(image->header.cpusubtype)));
}

bool qcrash_async_macho_contains_address(const qcrash_async_macho_t* image, qcrash_vm_address_t address) {
    // Unsigned difference: no overflow at the top of the address space.
    return address >= image->header_addr && address - image->header_addr < image->text_size;
}

const void* qcrash_async_macho_next_command(const qcrash_async_macho_t* image, const void* previous) {
    if (image->format != qcrash_image_format::macho) return nullptr;
    const uintptr_t start = image->load_cmds.address;
    const uint64_t total = u32(image, image->header.sizeofcmds);
    const void* next;
    if (previous == nullptr) {
        if (total < sizeof(load_command)) return nullptr;
        next = reinterpret_cast<const void*>(start);
    } else {
        const uint32_t size = u32(image, load<load_command>(previous).cmdsize);
        if (size < sizeof(load_command)) return nullptr;
        uintptr_t following;
        if (__builtin_add_overflow(local(previous), size, &following)) return nullptr;
        if (following >= start + total) return nullptr;
        next = reinterpret_cast<const void*>(following);
    }
    if (!inCommands(image, next, sizeof(load_command))) return nullptr;
    if (!inCommands(image, next, u32(image, load<load_command>(next).cmdsize))) return nullptr;
    return next;
}

const void* qcrash_async_macho_next_command_type(const qcrash_async_macho_t* image, const void* previous,
                                                 uint32_t type) {
    const void* command = previous;
    while ((command = qcrash_async_macho_next_command(image, command)) != nullptr) {
        if (u32(image, load<load_command>(command).cmd) == type) return command;
    }
    return nullptr;
}

const void* qcrash_async_macho_find_command(const qcrash_async_macho_t* image, uint32_t type) {
    return qcrash_async_macho_next_command_type(image, nullptr, type);
}

const void* qcrash_async_macho_find_segment_cmd(const qcrash_async_macho_t* image, const char* segname) {
    const uint32_t type = segmentCommandType(image);
    const void* command = nullptr;
    while ((command = qcrash_async_macho_next_command_type(image, command, type)) != nullptr) {
        if (!inCommands(image, command, segmentCommandSize(image))) return nullptr;
        // segname sits at the same offset in both widths.
        const char* name = static_cast<const char*>(command) + 8;
        if (qcrash_async_strncmp(name, segname, 16) == 0) return command;
    }
    return nullptr;
}

qcrash_error_t qcrash_async_macho_map_segment(const qcrash_async_macho_t* image, const char* segname,
                                              qcrash_async_macho_mapped_segment_t* segment) {
    const void* command = qcrash_async_macho_find_segment_cmd(image, segname);
    if (command == nullptr) return QCRASH_ENOTFOUND;
    const Segment s = readSegment(image, command);
    const qcrash_error_t error = qcrash_async_mobject_init(&segment->mobj, image->task,
                                                           image->vmaddr_slide + s.vmaddr, s.vmsize, false);
    if (error != QCRASH_ESUCCESS) return error;
    segment->fileoff = s.fileoff;
    segment->filesize = s.filesize;
    return QCRASH_ESUCCESS;
}

void qcrash_async_macho_mapped_segment_free(qcrash_async_macho_mapped_segment_t* segment) {
    qcrash_async_mobject_free(&segment->mobj);
}

qcrash_error_t qcrash_async_macho_map_section(const qcrash_async_macho_t* image, const char* segname,
                                              const char* sectname, qcrash_async_mobject_t* mobj) {
    const void* command = qcrash_async_macho_find_segment_cmd(image, segname);
    if (command == nullptr) return QCRASH_ENOTFOUND;
    const Segment s = readSegment(image, command);
    if (s.nsects == 0) return QCRASH_ENOTFOUND;
    const uint64_t headerSize = image->m64 ? sizeof(section_64) : sizeof(section);
    const auto* first = static_cast<const uint8_t*>(command) + segmentCommandSize(image);
    for (uint32_t i = 0; i < s.nsects; ++i) {
        const uint8_t* header = first + i * headerSize;
        if (!inCommands(image, header, headerSize)) return QCRASH_EINVAL;
        if (qcrash_async_strncmp(reinterpret_cast<const char*>(header), sectname, 16) != 0) continue;
        uint64_t address;
        uint64_t size;
        if (image->m64) {
            const auto sect = load<section_64>(header);
            address = u64(image, sect.addr);
            size = u64(image, sect.size);
        } else {
            const auto sect = load<section>(header);
            address = u32(image, sect.addr);
            size = u32(image, sect.size);
        }
        return qcrash_async_mobject_init(mobj, image->task, image->vmaddr_slide + address, size, true);
    }
    return QCRASH_ENOTFOUND;
}

// ---- symbol tables ----

qcrash_error_t qcrash_async_macho_symtab_reader_init(qcrash_async_macho_symtab_reader_t* reader,
                                                     qcrash_async_macho_t* image) {
    qcrash_async_memset(reader, 0, sizeof *reader);
    reader->image = image;
    const void* symtabCommand = qcrash_async_macho_find_command(image, LC_SYMTAB);
    if (symtabCommand == nullptr || !inCommands(image, symtabCommand, sizeof(symtab_command))) {
        return QCRASH_ENOTFOUND;
    }
    const auto symtab = load<symtab_command>(symtabCommand);
    const void* dysymtabCommand = qcrash_async_macho_find_command(image, LC_DYSYMTAB);
    if (dysymtabCommand != nullptr && !inCommands(image, dysymtabCommand, sizeof(dysymtab_command))) {
        dysymtabCommand = nullptr;
    }

    if (qcrash_async_macho_map_segment(image, "__LINKEDIT", &reader->linkedit) != QCRASH_ESUCCESS) {
        return QCRASH_EINTERNAL;
    }
    const uint64_t entrySize = image->m64 ? sizeof(nlist_64) : sizeof(nlist);
    const uint32_t nsyms = u32(image, symtab.nsyms);
    const uint64_t symoff = u32(image, symtab.symoff);
    const uint64_t stroff = u32(image, symtab.stroff);
    const uint32_t strsize = u32(image, symtab.strsize);
    const uint64_t base = reader->linkedit.mobj.task_address;
    const uint64_t fileoff = reader->linkedit.fileoff;
    const void* symbols = symoff >= fileoff ? qcrash_async_mobject_remap_address(
                                                  &reader->linkedit.mobj, base + (symoff - fileoff), 0,
                                                  static_cast<uint64_t>(nsyms) * entrySize)
                                            : nullptr;
    const void* strings = stroff >= fileoff
                              ? qcrash_async_mobject_remap_address(&reader->linkedit.mobj,
                                                                   base + (stroff - fileoff), 0, strsize)
                              : nullptr;
    if (symbols == nullptr || strings == nullptr) {
        qcrash_async_macho_mapped_segment_free(&reader->linkedit);
        return QCRASH_EINTERNAL;
    }
    reader->symtab = {symbols, nsyms};
    reader->string_table = static_cast<const char*>(strings);
    reader->string_table_size = strsize;

    if (dysymtabCommand != nullptr) {
        const auto dysymtab = load<dysymtab_command>(dysymtabCommand);
        const uint64_t iext = u32(image, dysymtab.iextdefsym);
        const uint64_t next = u32(image, dysymtab.nextdefsym);
        const uint64_t iloc = u32(image, dysymtab.ilocalsym);
        const uint64_t nloc = u32(image, dysymtab.nlocalsym);
        if (iext + next > nsyms || iloc + nloc > nsyms) {
            qcrash_async_macho_mapped_segment_free(&reader->linkedit);
            return QCRASH_EINVAL;
        }
        reader->has_dysymtab = true;
        reader->symtab_global = {static_cast<const uint8_t*>(symbols) + iext * entrySize,
                                 static_cast<uint32_t>(next)};
        reader->symtab_local = {static_cast<const uint8_t*>(symbols) + iloc * entrySize,
                                static_cast<uint32_t>(nloc)};
    }
    return QCRASH_ESUCCESS;
}

qcrash_async_macho_symtab_entry_t qcrash_async_macho_symtab_reader_read(
    const qcrash_async_macho_symtab_reader_t* reader, const void* symtab, uint32_t index) {
    const qcrash_async_macho_t* image = reader->image;
    qcrash_async_macho_symtab_entry_t entry;
    if (image->m64) {
        const auto n =
            load<nlist_64>(static_cast<const uint8_t*>(symtab) + uint64_t{index} * sizeof(nlist_64));
        entry = {u32(image, n.n_strx),  n.n_type, n.n_sect, image->byteorder->swap16(n.n_desc),
                 u64(image, n.n_value), 0};
    } else {
        const auto n = load<nlist>(static_cast<const uint8_t*>(symtab) + uint64_t{index} * sizeof(nlist));
        entry = {u32(image, n.n_strx),
                 n.n_type,
                 n.n_sect,
                 image->byteorder->swap16(static_cast<uint16_t>(n.n_desc)),
                 u32(image, n.n_value),
                 0};
    }
    entry.normalized_value = entry.n_value;
    if ((entry.n_desc & N_ARM_THUMB_DEF) != 0) entry.normalized_value |= 1;
    return entry;
}

const char* qcrash_async_macho_symtab_reader_symbol_name(const qcrash_async_macho_symtab_reader_t* reader,
                                                         uint32_t n_strx) {
    if (n_strx >= reader->string_table_size) return nullptr;
    const char* name = reader->string_table + n_strx;
    const uint32_t room = reader->string_table_size - n_strx;
    for (uint32_t i = 0; i < room; ++i) {
        if (name[i] == 0) return name;
    }
    return nullptr;
}

void qcrash_async_macho_symtab_reader_free(qcrash_async_macho_symtab_reader_t* reader) {
    qcrash_async_macho_mapped_segment_free(&reader->linkedit);
}

namespace {

bool definedInSection(const qcrash_async_macho_symtab_entry_t& entry) {
    return (entry.n_type & N_STAB_AND_TYPE) == N_SECT;
}

// The best candidate of one range: greatest value at most `pc`, the first
// found among equal values.
void searchRange(const qcrash_async_macho_symtab_reader_t* reader,
                 const qcrash_async_macho_symtab_table_t& table, uint64_t pc, bool* found,
                 qcrash_async_macho_symtab_entry_t* best) {
    for (uint32_t i = 0; i < table.count; ++i) {
        const auto entry = qcrash_async_macho_symtab_reader_read(reader, table.symtab, i);
        if (!definedInSection(entry) || entry.n_value > pc) continue;
        if (!*found || entry.n_value > best->n_value) {
            *best = entry;
            *found = true;
        }
    }
}

}  // namespace

qcrash_error_t qcrash_async_macho_find_symbol_by_pc(qcrash_async_macho_t* image, qcrash_vm_address_t pc,
                                                    qcrash_async_found_symbol_cb callback, void* context) {
    qcrash_async_macho_symtab_reader_t reader;
    const qcrash_error_t error = qcrash_async_macho_symtab_reader_init(&reader, image);
    if (error != QCRASH_ESUCCESS) return error;
    const uint64_t unslid = pc - image->vmaddr_slide;
    bool found = false;
    qcrash_async_macho_symtab_entry_t best{};
    if (reader.has_dysymtab) {
        searchRange(&reader, reader.symtab_global, unslid, &found, &best);
        searchRange(&reader, reader.symtab_local, unslid, &found, &best);
    } else {
        searchRange(&reader, reader.symtab, unslid, &found, &best);
    }
    qcrash_error_t result = QCRASH_ENOTFOUND;
    if (found) {
        const char* name = qcrash_async_macho_symtab_reader_symbol_name(&reader, best.n_strx);
        if (name == nullptr) {
            result = QCRASH_EINVAL;
        } else {
            callback(image->vmaddr_slide + best.normalized_value, name, context);
            result = QCRASH_ESUCCESS;
        }
    }
    qcrash_async_macho_symtab_reader_free(&reader);
    return result;
}

qcrash_error_t qcrash_async_macho_find_symbol_by_name(qcrash_async_macho_t* image, const char* name,
                                                      qcrash_vm_address_t* address) {
    qcrash_async_macho_symtab_reader_t reader;
    const qcrash_error_t error = qcrash_async_macho_symtab_reader_init(&reader, image);
    if (error != QCRASH_ESUCCESS) return error;
    qcrash_error_t result = QCRASH_ENOTFOUND;
    for (uint32_t i = 0; i < reader.symtab.count; ++i) {
        const auto entry = qcrash_async_macho_symtab_reader_read(&reader, reader.symtab.symtab, i);
        if (!definedInSection(entry)) continue;
        const char* candidate = qcrash_async_macho_symtab_reader_symbol_name(&reader, entry.n_strx);
        if (candidate != nullptr && qcrash_async_strcmp(candidate, name) == 0) {
            *address = image->vmaddr_slide + entry.normalized_value;
            result = QCRASH_ESUCCESS;
            break;
        }
    }
    qcrash_async_macho_symtab_reader_free(&reader);
    return result;
}

// ---- mapped strings ----

qcrash_error_t qcrash_async_macho_string_init(qcrash_async_macho_string_t* string,
                                              qcrash_async_macho_t* image, qcrash_vm_address_t address) {
    qcrash_async_memset(string, 0, sizeof *string);
    string->image = image;
    string->address = address;
    return QCRASH_ESUCCESS;
}

namespace {

qcrash_error_t mapString(qcrash_async_macho_string_t* string) {
    if (string->mapped) return QCRASH_ESUCCESS;
    const qcrash_vm_size_t page = qcrash_async_page_size();
    qcrash_vm_size_t want = page;
    qcrash_vm_size_t scanned = 0;
    while (want <= QCRASH_MACHO_STRING_MAX + page) {
        qcrash_async_mobject_t mobj;
        if (qcrash_async_mobject_init(&mobj, string->image->task, string->address, want, false) !=
            QCRASH_ESUCCESS) {
            return QCRASH_EINVAL;
        }
        const auto* bytes = reinterpret_cast<const char*>(mobj.address);
        for (; scanned < mobj.length && scanned <= QCRASH_MACHO_STRING_MAX; ++scanned) {
            if (bytes[scanned] == 0) {
                string->mobj = mobj;
                string->length = scanned;
                string->mapped = true;
                return QCRASH_ESUCCESS;
            }
        }
        const bool grewNothing = mobj.length < want;
        qcrash_async_mobject_free(&mobj);
        if (grewNothing) return QCRASH_EINVAL;  // the next page is not readable
        want += page;
    }
    return QCRASH_EINVAL;
}

}  // namespace

qcrash_error_t qcrash_async_macho_string_get_length(qcrash_async_macho_string_t* string,
                                                    qcrash_vm_size_t* length) {
    const qcrash_error_t error = mapString(string);
    if (error == QCRASH_ESUCCESS) *length = string->length;
    return error;
}

qcrash_error_t qcrash_async_macho_string_get_pointer(qcrash_async_macho_string_t* string,
                                                     const char** pointer) {
    if (mapString(string) != QCRASH_ESUCCESS) return QCRASH_EACCESS;
    *pointer = reinterpret_cast<const char*>(string->mobj.address);
    return QCRASH_ESUCCESS;
}

void qcrash_async_macho_string_free(qcrash_async_macho_string_t* string) {
    if (string->mapped) qcrash_async_mobject_free(&string->mobj);
    string->mapped = false;
}

}  // namespace tervolo::crash
