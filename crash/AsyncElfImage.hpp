#pragma once

// ELF images of this process in image records (AsyncMachO.hpp): building a
// record from what the dynamic loader reports for a loaded object, and
// symbol lookup in its dynamic symbol table and, where the file has one, its
// full symbol table.
//
// qcrash_nasync_elf_init allocates and reads files; qcrash_async_elf_init
// builds the same record from memory alone, and the lookups are async-safe.

#include <link.h>

#include "crash/AsyncMachO.hpp"

namespace tervolo::crash {

// Builds a record for an object loaded in our own process: `load_bias` and
// the program headers as dl_iterate_phdr reports them, `path` its file ("" for
// the main program, whose file is then found through /proc/self/exe). The
// record's header address is the first loadable segment's start, its code
// extent runs to the end of the last executable segment; the build ID, the
// unwind tables and the dynamic symbol table come from memory, the full
// symbol table from the file when that file is the one loaded (same build
// ID). 5 without a loadable segment.
qcrash_error_t qcrash_nasync_elf_init(qcrash_async_macho_t* image, const char* path, uintptr_t load_bias,
                                      const ElfW(Phdr) * phdrs, uint16_t phnum);

// The part of the above that reads memory only, for a crash handler meeting
// an object loaded after the list was made: `phdrs` is where the `phnum`
// program headers lie in our process (read with checked reads), `name` is
// stored as given (the caller keeps the text alive). The record has no full
// symbol table (that needs the file) and nothing to free. 5 without a
// loadable segment, 8 when the program headers cannot be read.
qcrash_error_t qcrash_async_elf_init(qcrash_async_macho_t* image, const char* name, uintptr_t load_bias,
                                     qcrash_vm_address_t phdrs, uint16_t phnum);

// The GNU build ID in a block of ELF notes at `notes` in our process (checked
// reads); at most `max` bytes are kept. False when there is none.
bool qcrash_async_elf_build_id(qcrash_vm_address_t notes, uint64_t size, uint8_t* id, uint32_t max,
                               uint32_t* length);

// The function symbol at or below `pc` with the greatest start; 8 when none.
qcrash_error_t qcrash_async_elf_find_symbol_by_pc(const qcrash_async_macho_t* image, qcrash_vm_address_t pc,
                                                  qcrash_async_found_symbol_cb callback, void* context);
qcrash_error_t qcrash_async_elf_find_symbol_by_name(const qcrash_async_macho_t* image, const char* name,
                                                    qcrash_vm_address_t* address);

// Symbol lookup by pc for a record of either format.
qcrash_error_t qcrash_async_image_find_symbol_by_pc(qcrash_async_macho_t* image, qcrash_vm_address_t pc,
                                                    qcrash_async_found_symbol_cb callback, void* context);

}  // namespace tervolo::crash
