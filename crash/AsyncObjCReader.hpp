#pragma once

// The Objective-C metadata reader and the combined symbol lookup.
//
// Stripped Mach-O images still name every class and method in their
// Objective-C metadata. The reader walks that metadata (legacy 32-bit module
// info, then the modern class and category lists) through the image's
// sections and checked task reads, to find the method whose implementation
// starts closest below a pc. qcrash_async_find_symbol combines it with the
// symbol table. ELF images have no such metadata: the search answers 8 and
// the symbol table's answer stands.
//
// Method lists in the relative ("small") form are skipped list by list:
// their entries hold 32-bit offsets, not pointers, and reading them as
// pointers would give wrong names.
//
// Async-safe; a cache belongs to one report.

#include "crash/AsyncMachO.hpp"

namespace tervolo::crash {

inline constexpr uint32_t QCRASH_OBJC_CLASS_CACHE_SLOTS = 1024;
// Legacy method-list arrays end with 0 or all ones; a walk over task memory
// gives up after this many lists.
inline constexpr uint32_t QCRASH_OBJC_MAX_LEGACY_METHOD_LISTS = 1024;
inline constexpr size_t QCRASH_SYMBOL_NAME_MAX = 256;

struct qcrash_async_objc_section_t {
    bool mapped;
    qcrash_async_mobject_t mobj;
};

struct qcrash_async_objc_cache_t {
    bool got_modern;
    qcrash_async_macho_t* image;
    qcrash_async_objc_section_t objc_const;
    qcrash_async_objc_section_t objc_const_ax;
    qcrash_async_objc_section_t class_list;
    qcrash_async_objc_section_t category_list;
    qcrash_async_objc_section_t objc_data;
    qcrash_async_objc_section_t data;
    // 1024 keys then 1024 values, in pages from the kernel; null when off.
    uint64_t* class_cache;
    bool class_cache_failed;
};

// Strategy bits (the reporter's symbolication strategy).
inline constexpr uint64_t QCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE = 1;
inline constexpr uint64_t QCRASH_ASYNC_SYMBOL_STRATEGY_OBJC = 2;

using qcrash_async_objc_found_method_cb = void (*)(bool is_class_method, const char* class_name,
                                                   const char* method_name, qcrash_vm_address_t imp,
                                                   void* context);

qcrash_error_t qcrash_async_objc_cache_init(qcrash_async_objc_cache_t* cache);
void qcrash_async_objc_cache_free(qcrash_async_objc_cache_t* cache);

// The method whose implementation is the greatest at or below `pc`; 8 when
// none is.
qcrash_error_t qcrash_async_objc_find_method(qcrash_async_macho_t* image, qcrash_async_objc_cache_t* cache,
                                             qcrash_vm_address_t pc,
                                             qcrash_async_objc_found_method_cb callback, void* context);

// The best symbol for `pc` from the symbol table and/or the metadata (a
// method wins over a symbol at the same address), named "+[Class sel]" or
// "-[Class sel]" for methods, cut to 255 bytes. 8 when neither source found
// one.
qcrash_error_t qcrash_async_find_symbol(qcrash_async_macho_t* image, uint64_t strategy,
                                        qcrash_async_objc_cache_t* cache, qcrash_vm_address_t pc,
                                        qcrash_async_found_symbol_cb callback, void* context);

}  // namespace tervolo::crash
