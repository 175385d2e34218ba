#include "crash/AsyncElfImage.hpp"

#include <elf.h>

namespace tervolo::crash {

namespace {

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
