#pragma once

// ELF images of this process in image records (AsyncMachO.hpp): building a
// record from what the dynamic loader reports for a loaded object, and
// symbol lookup in its dynamic symbol table and, where the file has one, its
// full symbol table.
//
// qcrash_nasync_elf_init allocates and reads files; the lookups are
// async-safe.

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

// The function symbol at or below `pc` with the greatest start; 8 when none.
qcrash_error_t qcrash_async_elf_find_symbol_by_pc(const qcrash_async_macho_t* image, qcrash_vm_address_t pc,
                                                  qcrash_async_found_symbol_cb callback, void* context);
qcrash_error_t qcrash_async_elf_find_symbol_by_name(const qcrash_async_macho_t* image, const char* name,
                                                    qcrash_vm_address_t* address);

// Symbol lookup by pc for a record of either format.
qcrash_error_t qcrash_async_image_find_symbol_by_pc(qcrash_async_macho_t* image, qcrash_vm_address_t pc,
                                                    qcrash_async_found_symbol_cb callback, void* context);

}  // namespace tervolo::crash
