// The Mach-O image reader on arbitrary bytes placed where an image would be:
// building the record, walking commands, mapping segments and sections,
// reading the symbol table and looking symbols up must never crash or read
// outside what they mapped.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crash/AsyncImageList.hpp"
#include "crash/AsyncMachO.hpp"

using namespace tervolo::crash;

namespace {

void ignore(qcrash_vm_address_t, const char* name, void* context) {
    // Touch the whole name: it must end where the reader said it does.
    *static_cast<size_t*>(context) += qcrash_async_strlen(name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    // Image data may point anywhere in this process: read it only through
    // copies, and not too much of it.
    qcrash_async_mobject_copy_own_memory(1 << 20);

    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t length = (size + page - 1) / page * page + page;
    auto* base = static_cast<uint8_t*>(
        mmap(nullptr, length + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (base == MAP_FAILED) return 0;
    std::memcpy(base, data, size);
    mprotect(base + length, page, PROT_NONE);
    const auto header = reinterpret_cast<qcrash_vm_address_t>(base);

    qcrash_async_macho_t image;
    if (qcrash_nasync_macho_init(&image, qcrash_task_self(), "fuzz", header) == QCRASH_ESUCCESS) {
        int commands = 0;
        for (const void* c = nullptr;
             (c = qcrash_async_macho_next_command(&image, c)) != nullptr && commands < 4096;)
            ++commands;
        qcrash_async_mobject_t section;
        const char* sections[][2] = {{"__TEXT", "__text"}, {"__DATA", "__data"}, {"__TEXT", "__unwind_info"}};
        for (const auto& s : sections) {
            if (qcrash_async_macho_map_section(&image, s[0], s[1], &section) == QCRASH_ESUCCESS) {
                uint8_t byte;
                qcrash_async_mobject_read_uint8(&section, section.task_address, 0, &byte);
                qcrash_async_mobject_free(&section);
            }
        }
        qcrash_async_macho_symtab_reader_t reader;
        if (qcrash_async_macho_symtab_reader_init(&reader, &image) == QCRASH_ESUCCESS) {
            for (uint32_t i = 0; i < reader.symtab.count && i < 256; ++i) {
                const auto entry = qcrash_async_macho_symtab_reader_read(&reader, reader.symtab.symtab, i);
                if (const char* name = qcrash_async_macho_symtab_reader_symbol_name(&reader, entry.n_strx)) {
                    (void)qcrash_async_strlen(name);
                }
            }
            qcrash_async_macho_symtab_reader_free(&reader);
        }
        size_t touched = 0;
        for (uint64_t offset : {0x0ull, 0x100ull, 0x1000ull, 0x4000ull}) {
            qcrash_async_macho_find_symbol_by_pc(&image, header + offset, ignore, &touched);
        }
        qcrash_vm_address_t address;
        qcrash_async_macho_find_symbol_by_name(&image, "_main", &address);
        qcrash_async_macho_string_t string;
        qcrash_async_macho_string_init(&string, &image, header + 16);
        qcrash_vm_size_t stringLength;
        qcrash_async_macho_string_get_length(&string, &stringLength);
        qcrash_async_macho_string_free(&string);
        qcrash_nasync_macho_free(&image);
    }
    munmap(base, length + page);
    return 0;
}
