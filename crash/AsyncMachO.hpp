#pragma once

// Image records and the Mach-O reader.
//
// An image record holds what a crash handler needs of a loaded image without
// asking the dynamic loader: path, header address, slide, the extent of its
// code, byte order and, for Mach-O images, a mapping of the load commands.
// The same record holds the ELF images of this system (see AsyncElfImage.hpp):
// there "header address" is the load address of the first loadable segment
// and the code extent runs to the end of the last executable one.
//
// Building and freeing records (qcrash_nasync_*) allocates; every other
// operation is async-safe and reads the image only through memory objects.
// Results are qcrash_error_t; "not found" is 8.

#include "crash/AsyncMemoryObject.hpp"
#include "crash/AsyncSupport.hpp"
#include "crash/MachOFormat.hpp"

namespace tervolo::crash {

enum class qcrash_image_format : uint8_t { macho, elf };

// What the ELF side of a record knows (zero for Mach-O images).
struct qcrash_async_elf_info_t {
    // GNU build ID (usually 20 bytes).
    uint8_t build_id[64];
    uint32_t build_id_length;
    // Where unwind tables lie in the task (0 when absent); sizes in bytes.
    qcrash_vm_address_t eh_frame_hdr;
    qcrash_vm_size_t eh_frame_hdr_size;
    qcrash_vm_address_t eh_frame;
    qcrash_vm_size_t eh_frame_size;  // up to the end of its segment
    // The dynamic section (0 when absent): the dynamic loader's list names
    // each loaded object by it.
    qcrash_vm_address_t dynamic;
    // The loaded dynamic symbol table and its strings.
    qcrash_vm_address_t dynsym;
    uint64_t dynsym_count;
    qcrash_vm_address_t dynstr;
    uint64_t dynstr_size;
    // The full symbol table read from the file at set-up (heap; null when the
    // file has none).
    const uint8_t* symtab;
    uint64_t symtab_count;
    const char* strtab;
    uint64_t strtab_size;
};

struct qcrash_async_macho_t {
    qcrash_task_t task;
    // Where the header lies in the task.
    qcrash_vm_address_t header_addr;
    // header address - __TEXT virtual address (modulo 2^64).
    qcrash_vm_address_t vmaddr_slide;
    // A copy of the image's path.
    char* name;
    // The fixed header, in the image's byte order (cputype and cpusubtype of
    // ELF images are set in ours, from the ELF machine).
    macho::mach_header header;
    // 28 for 32-bit, 32 for 64-bit images.
    uint32_t header_size;
    // The load commands, fully mapped (Mach-O only).
    qcrash_async_mobject_t load_cmds;
    // The code: [header_addr, header_addr + text_size) holds every pc of it.
    qcrash_vm_address_t text_vmaddr;
    qcrash_vm_size_t text_size;
    bool m64;
    const qcrash_async_byteorder_t* byteorder;
    // The image list's node holding this record (set by the list).
    void* list_node;
    qcrash_image_format format;
    qcrash_async_elf_info_t elf;
};

// A mapped segment: its memory object and where it lies in the file.
struct qcrash_async_macho_mapped_segment_t {
    qcrash_async_mobject_t mobj;
    uint64_t fileoff;
    uint64_t filesize;
};

// One entry of a Mach-O symbol table, converted.
struct qcrash_async_macho_symtab_entry_t {
    uint32_t n_strx;
    uint8_t n_type;
    uint8_t n_sect;
    uint16_t n_desc;
    uint64_t n_value;
    // n_value with bit 0 set for Thumb functions.
    uint64_t normalized_value;
};

struct qcrash_async_macho_symtab_table_t {
    const void* symtab;  // local pointer to the first entry
    uint32_t count;
};

struct qcrash_async_macho_symtab_reader_t {
    qcrash_async_macho_t* image;
    qcrash_async_macho_mapped_segment_t linkedit;
    qcrash_async_macho_symtab_table_t symtab;
    const char* string_table;
    uint32_t string_table_size;
    bool has_dysymtab;
    qcrash_async_macho_symtab_table_t symtab_global;
    qcrash_async_macho_symtab_table_t symtab_local;
};

// A zero-terminated string of the task, mapped on demand.
struct qcrash_async_macho_string_t {
    qcrash_async_macho_t* image;
    qcrash_vm_address_t address;
    bool mapped;
    qcrash_async_mobject_t mobj;
    qcrash_vm_size_t length;
};

// Called with the symbol's start (slide added) and its zero-terminated name.
using qcrash_async_found_symbol_cb = void (*)(qcrash_vm_address_t address, const char* name, void* context);

// ---- records (not async-safe) ----
// 6 when the header cannot be read, 5 for an unknown magic number or no
// __TEXT segment; on failure nothing is left to free.
qcrash_error_t qcrash_nasync_macho_init(qcrash_async_macho_t* image, qcrash_task_t task, const char* path,
                                        qcrash_vm_address_t header);
void qcrash_nasync_macho_free(qcrash_async_macho_t* image);

// ---- facts ----
const qcrash_async_byteorder_t* qcrash_async_macho_byteorder(const qcrash_async_macho_t* image);
const macho::mach_header* qcrash_async_macho_header(const qcrash_async_macho_t* image);
uint32_t qcrash_async_macho_header_size(const qcrash_async_macho_t* image);
int32_t qcrash_async_macho_cpu_type(const qcrash_async_macho_t* image);
int32_t qcrash_async_macho_cpu_subtype(const qcrash_async_macho_t* image);
// Whether [header address, header address + __TEXT size) holds `address`.
bool qcrash_async_macho_contains_address(const qcrash_async_macho_t* image, qcrash_vm_address_t address);

// ---- load commands (local pointers into the mapping, or null) ----
const void* qcrash_async_macho_next_command(const qcrash_async_macho_t* image, const void* previous);
const void* qcrash_async_macho_next_command_type(const qcrash_async_macho_t* image, const void* previous,
                                                 uint32_t type);
const void* qcrash_async_macho_find_command(const qcrash_async_macho_t* image, uint32_t type);
const void* qcrash_async_macho_find_segment_cmd(const qcrash_async_macho_t* image, const char* segname);

qcrash_error_t qcrash_async_macho_map_segment(const qcrash_async_macho_t* image, const char* segname,
                                              qcrash_async_macho_mapped_segment_t* segment);
void qcrash_async_macho_mapped_segment_free(qcrash_async_macho_mapped_segment_t* segment);
qcrash_error_t qcrash_async_macho_map_section(const qcrash_async_macho_t* image, const char* segname,
                                              const char* sectname, qcrash_async_mobject_t* mobj);

// ---- symbols ----
qcrash_error_t qcrash_async_macho_find_symbol_by_name(qcrash_async_macho_t* image, const char* name,
                                                      qcrash_vm_address_t* address);
qcrash_error_t qcrash_async_macho_find_symbol_by_pc(qcrash_async_macho_t* image, qcrash_vm_address_t pc,
                                                    qcrash_async_found_symbol_cb callback, void* context);

qcrash_error_t qcrash_async_macho_symtab_reader_init(qcrash_async_macho_symtab_reader_t* reader,
                                                     qcrash_async_macho_t* image);
qcrash_async_macho_symtab_entry_t qcrash_async_macho_symtab_reader_read(
    const qcrash_async_macho_symtab_reader_t* reader, const void* symtab, uint32_t index);
// The name at `n_strx`, or null when it does not end inside the mapping.
const char* qcrash_async_macho_symtab_reader_symbol_name(const qcrash_async_macho_symtab_reader_t* reader,
                                                         uint32_t n_strx);
void qcrash_async_macho_symtab_reader_free(qcrash_async_macho_symtab_reader_t* reader);

// ---- mapped strings ----
// Strings longer than this are refused (5): the walk over task memory must
// end even where no terminator follows.
inline constexpr qcrash_vm_size_t QCRASH_MACHO_STRING_MAX = 64 * 1024;

qcrash_error_t qcrash_async_macho_string_init(qcrash_async_macho_string_t* string,
                                              qcrash_async_macho_t* image, qcrash_vm_address_t address);
qcrash_error_t qcrash_async_macho_string_get_length(qcrash_async_macho_string_t* string,
                                                    qcrash_vm_size_t* length);
qcrash_error_t qcrash_async_macho_string_get_pointer(qcrash_async_macho_string_t* string,
                                                     const char** pointer);
void qcrash_async_macho_string_free(qcrash_async_macho_string_t* string);

}  // namespace tervolo::crash
