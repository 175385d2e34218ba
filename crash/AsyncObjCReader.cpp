#include "crash/AsyncObjCReader.hpp"

#include <sys/mman.h>

#include "crash/AsyncElfImage.hpp"

namespace tervolo::crash {

namespace {

// Read-write flags: the class is realized; its read-only data was copied.
constexpr uint32_t kRWRealized = 1u << 31;
constexpr uint32_t kRWCopiedRO = 1u << 27;
constexpr uint32_t kLegacySingleMethodList = 0x4000;
constexpr uint32_t kRelativeMethodListFlag = 0x80000000u;

struct Layout {
    uint32_t ptr;           // pointer size
    uint32_t classData;     // offset of the data word in a class
    uint64_t dataMask;      // mask of the data word
    uint32_t rwRO;          // offset of the read-only pointer in read-write data
    uint32_t roSize;        // size of read-only data
    uint32_t roName;        // offset of the name in read-only data
    uint32_t roMethods;     // offset of the base methods
    uint32_t methodImp;     // offset of the implementation in a method entry
    uint32_t categorySize;  // category: size, class, instance and class methods
    uint32_t categoryClass, categoryInstance, categoryClassMethods;
};

constexpr Layout kLayout64{8, 32, 0x7FFFFFFFFFF8ull, 8, 72, 24, 32, 16, 48, 8, 16, 24};
constexpr Layout kLayout32{4, 16, ~7ull & 0xFFFFFFFFull, 8, 40, 16, 20, 8, 24, 4, 8, 12};

const Layout& layoutOf(const qcrash_async_macho_t* image) {
    return image->m64 ? kLayout64 : kLayout32;
}

// A pointer of the image's width from a section.
qcrash_error_t sectionPointer(const qcrash_async_macho_t* image, const qcrash_async_mobject_t* mobj,
                              qcrash_vm_address_t address, uint64_t* value) {
    if (image->m64) return qcrash_async_mobject_read_uint64(mobj, image->byteorder, address, 0, value);
    uint32_t v;
    const qcrash_error_t error = qcrash_async_mobject_read_uint32(mobj, image->byteorder, address, 0, &v);
    *value = v;
    return error;
}

qcrash_error_t taskPointer(const qcrash_async_macho_t* image, qcrash_vm_address_t address, uint64_t* value) {
    if (image->m64) return qcrash_async_task_read_uint64(image->task, image->byteorder, address, 0, value);
    uint32_t v;
    const qcrash_error_t error = qcrash_async_task_read_uint32(image->task, image->byteorder, address, 0, &v);
    *value = v;
    return error;
}

bool inSection(const qcrash_async_objc_section_t& section, qcrash_vm_address_t address, uint64_t length) {
    return section.mapped && qcrash_async_mobject_remap_address(&section.mobj, address, 0, length) != nullptr;
}

void unmap(qcrash_async_objc_section_t* section) {
    if (section->mapped) qcrash_async_mobject_free(&section->mobj);
    section->mapped = false;
}

void unmapAll(qcrash_async_objc_cache_t* cache) {
    unmap(&cache->objc_const);
    unmap(&cache->objc_const_ax);
    unmap(&cache->class_list);
    unmap(&cache->category_list);
    unmap(&cache->objc_data);
    unmap(&cache->data);
}

qcrash_error_t mapOne(qcrash_async_macho_t* image, const char* segment, const char* name,
                      qcrash_async_objc_section_t* section) {
    const qcrash_error_t error = qcrash_async_macho_map_section(image, segment, name, &section->mobj);
    section->mapped = error == QCRASH_ESUCCESS;
    return error;
}

// The list sections may lie in any of three segments.
qcrash_error_t mapList(qcrash_async_macho_t* image, const char* name, qcrash_async_objc_section_t* section) {
    qcrash_error_t error = QCRASH_ENOTFOUND;
    static constexpr const char* kSegments[] = {"__DATA", "__DATA_CONST", "__DATA_DIRTY"};
    for (const char* segment : kSegments) {
        error = mapOne(image, segment, name, section);
        if (error != QCRASH_ENOTFOUND) return error;
    }
    return error;
}

qcrash_error_t mapSections(qcrash_async_macho_t* image, qcrash_async_objc_cache_t* cache) {
    if (cache->image == image && cache->objc_const.mapped) return QCRASH_ESUCCESS;
    unmapAll(cache);
    cache->image = nullptr;
    cache->got_modern = false;
    qcrash_error_t error = mapOne(image, "__DATA", "__objc_const", &cache->objc_const);
    if (error == QCRASH_ESUCCESS) {
        mapOne(image, "__DATA", "__objc_const_ax", &cache->objc_const_ax);
        error = mapList(image, "__objc_classlist", &cache->class_list);
    }
    if (error == QCRASH_ESUCCESS) error = mapList(image, "__objc_catlist", &cache->category_list);
    if (error == QCRASH_ESUCCESS) error = mapOne(image, "__DATA", "__objc_data", &cache->objc_data);
    if (error == QCRASH_ESUCCESS) mapOne(image, "__DATA", "__data", &cache->data);
    if (error != QCRASH_ESUCCESS) {
        unmapAll(cache);
        return error;
    }
    cache->image = image;
    return QCRASH_ESUCCESS;
}

// The walk's own visitor: is-class-method, class name, method name, imp.
struct Visitor {
    void (*visit)(bool, const char*, const char*, uint64_t, void*);
    void* context;
};

// Runs `use` on the zero-terminated string of the task at `address`, mapped
// for the call.
template <typename Use>
qcrash_error_t withString(qcrash_async_macho_t* image, uint64_t address, Use use) {
    qcrash_async_macho_string_t string;
    qcrash_async_macho_string_init(&string, image, address);
    const char* text;
    qcrash_error_t error = qcrash_async_macho_string_get_pointer(&string, &text);
    if (error == QCRASH_ESUCCESS) error = use(text);
    qcrash_async_macho_string_free(&string);
    return error;
}

// Reports the entries of one method list; names are mapped strings.
qcrash_error_t visitMethodList(qcrash_async_macho_t* image, qcrash_async_objc_cache_t* cache, uint64_t list,
                               bool isClass, const char* className, const Visitor& visitor) {
    if (list == 0) return QCRASH_ESUCCESS;
    const qcrash_async_objc_section_t* section = nullptr;
    if (inSection(cache->objc_const, list, 8)) {
        section = &cache->objc_const;
    } else if (inSection(cache->objc_const_ax, list, 8)) {
        section = &cache->objc_const_ax;
    } else {
        return QCRASH_EINVALID_DATA;
    }
    uint32_t entsizeAndFlags;
    uint32_t count;
    qcrash_error_t error =
        qcrash_async_mobject_read_uint32(&section->mobj, image->byteorder, list, 0, &entsizeAndFlags);
    if (error == QCRASH_ESUCCESS)
        error = qcrash_async_mobject_read_uint32(&section->mobj, image->byteorder, list, 4, &count);
    if (error != QCRASH_ESUCCESS) return error;
    if ((entsizeAndFlags & kRelativeMethodListFlag) != 0) return QCRASH_ESUCCESS;  // relative form: skipped
    const uint64_t entsize = entsizeAndFlags & ~3u;
    const Layout& layout = layoutOf(image);
    if (entsize < uint64_t{layout.methodImp} + layout.ptr) return QCRASH_EINVALID_DATA;
    if (!inSection(*section, list + 8, entsize * count)) return QCRASH_EINVALID_DATA;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t entry = list + 8 + entsize * i;
        uint64_t name;
        uint64_t imp;
        if ((error = sectionPointer(image, &section->mobj, entry, &name)) != QCRASH_ESUCCESS ||
            (error = sectionPointer(image, &section->mobj, entry + layout.methodImp, &imp)) !=
                QCRASH_ESUCCESS) {
            return error;
        }
        error = withString(image, name, [&](const char* methodName) {
            visitor.visit(isClass, className, methodName, imp, visitor.context);
            return QCRASH_ESUCCESS;
        });
        if (error != QCRASH_ESUCCESS) return error;
    }
    return QCRASH_ESUCCESS;
}

uint64_t* cacheTable(qcrash_async_objc_cache_t* cache) {
    if (cache->class_cache == nullptr && !cache->class_cache_failed) {
        void* table = mmap(nullptr, 2 * QCRASH_OBJC_CLASS_CACHE_SLOTS * sizeof(uint64_t),
                           PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (table == MAP_FAILED) {
            cache->class_cache_failed = true;
        } else {
            cache->class_cache = static_cast<uint64_t*>(table);
        }
    }
    return cache->class_cache;
}

// Read-only data of a class, from its data word: the name pointer and the
// base method list. 8 when the class is not realized.
qcrash_error_t readOnlyData(qcrash_async_macho_t* image, qcrash_async_objc_cache_t* cache, uint64_t dataWord,
                            uint64_t* namePointer, uint64_t* methods) {
    const Layout& layout = layoutOf(image);
    const uint64_t rw = dataWord & layout.dataMask;
    uint64_t ro = 0;
    bool cached = false;
    uint64_t* table = cacheTable(cache);
    const uint32_t slot = static_cast<uint32_t>((rw >> 2) % QCRASH_OBJC_CLASS_CACHE_SLOTS);
    if (table != nullptr && table[slot] == rw && rw != 0) {
        ro = table[QCRASH_OBJC_CLASS_CACHE_SLOTS + slot];
        cached = true;
    }
    bool fromSection = false;
    if (!cached) {
        uint32_t flags;
        qcrash_error_t error = qcrash_async_task_read_uint32(image->task, image->byteorder, rw, 0, &flags);
        if (error == QCRASH_ESUCCESS) error = taskPointer(image, rw + layout.rwRO, &ro);
        if (error != QCRASH_ESUCCESS) return error;
        if ((flags & kRWRealized) == 0) return QCRASH_ENOTFOUND;
        if ((ro & 1) != 0) {
            if ((error = taskPointer(image, ro & ~1ull, &ro)) != QCRASH_ESUCCESS) return error;
        }
        if ((flags & kRWCopiedRO) == 0) {
            if (!inSection(cache->objc_const, ro, layout.roSize)) return QCRASH_EINVALID_DATA;
            fromSection = true;
        }
        if (table != nullptr && table[slot] == 0) {
            table[slot] = rw;
            table[QCRASH_OBJC_CLASS_CACHE_SLOTS + slot] = ro;
        }
    } else {
        fromSection = inSection(cache->objc_const, ro, layout.roSize);
    }
    qcrash_error_t error;
    if (fromSection) {
        error = sectionPointer(image, &cache->objc_const.mobj, ro + layout.roName, namePointer);
        if (error == QCRASH_ESUCCESS)
            error = sectionPointer(image, &cache->objc_const.mobj, ro + layout.roMethods, methods);
    } else {
        error = taskPointer(image, ro + layout.roName, namePointer);
        if (error == QCRASH_ESUCCESS) error = taskPointer(image, ro + layout.roMethods, methods);
    }
    return error;
}

// A class's data word, from the section that holds the class or from the task.
qcrash_error_t classDataWord(qcrash_async_macho_t* image, qcrash_async_objc_cache_t* cache, uint64_t cls,
                             bool taskAllowed, uint64_t* word) {
    const Layout& layout = layoutOf(image);
    const uint64_t at = cls + layout.classData;
    if (inSection(cache->objc_data, at, layout.ptr))
        return sectionPointer(image, &cache->objc_data.mobj, at, word);
    if (inSection(cache->data, at, layout.ptr)) return sectionPointer(image, &cache->data.mobj, at, word);
    if (taskAllowed) return taskPointer(image, at, word);
    return QCRASH_EINVALID_DATA;
}

qcrash_error_t metaclassOf(qcrash_async_macho_t* image, qcrash_async_objc_cache_t* cache, uint64_t cls,
                           uint64_t* meta) {
    qcrash_error_t error;
    if (inSection(cache->objc_data, cls, layoutOf(image).ptr)) {
        error = sectionPointer(image, &cache->objc_data.mobj, cls, meta);
    } else if (inSection(cache->data, cls, layoutOf(image).ptr)) {
        error = sectionPointer(image, &cache->data.mobj, cls, meta);
    } else {
        error = taskPointer(image, cls, meta);
    }
    if (error == QCRASH_ESUCCESS && (*meta & 1) != 0) *meta &= 0xFFFFFFFF8ull;  // a packed isa
    return error;
}

// Reports a class's (or metaclass's) base methods under `className`.
qcrash_error_t visitClass(qcrash_async_macho_t* image, qcrash_async_objc_cache_t* cache, uint64_t cls,
                          bool isClass, bool taskAllowed, const Visitor& visitor) {
    uint64_t word;
    qcrash_error_t error = classDataWord(image, cache, cls, taskAllowed, &word);
    if (error != QCRASH_ESUCCESS) return error;
    uint64_t namePointer;
    uint64_t methods;
    if ((error = readOnlyData(image, cache, word, &namePointer, &methods)) != QCRASH_ESUCCESS) return error;
    return withString(image, namePointer, [&](const char* className) {
        return visitMethodList(image, cache, methods, isClass, className, visitor);
    });
}

qcrash_error_t modernPass(qcrash_async_macho_t* image, qcrash_async_objc_cache_t* cache,
                          const Visitor& visitor) {
    qcrash_error_t error = mapSections(image, cache);
    if (error != QCRASH_ESUCCESS) return error;
    const Layout& layout = layoutOf(image);

    const uint64_t classes = cache->class_list.mobj.length / layout.ptr;
    for (uint64_t i = 0; i < classes; ++i) {
        uint64_t cls;
        if ((error = sectionPointer(image, &cache->class_list.mobj,
                                    cache->class_list.mobj.task_address + i * layout.ptr, &cls)) !=
            QCRASH_ESUCCESS)
            return error;
        error = visitClass(image, cache, cls, false, false, visitor);
        if (error == QCRASH_ENOTFOUND) continue;  // not realized: its metaclass neither
        if (error != QCRASH_ESUCCESS) return error;
        uint64_t meta;
        if ((error = metaclassOf(image, cache, cls, &meta)) != QCRASH_ESUCCESS) return error;
        error = visitClass(image, cache, meta, true, true, visitor);
        if (error != QCRASH_ESUCCESS && error != QCRASH_ENOTFOUND) return error;
    }

    const uint64_t categories = cache->category_list.mobj.length / layout.ptr;
    for (uint64_t i = 0; i < categories; ++i) {
        uint64_t category;
        if ((error = sectionPointer(image, &cache->category_list.mobj,
                                    cache->category_list.mobj.task_address + i * layout.ptr, &category)) !=
            QCRASH_ESUCCESS)
            return error;
        if (!inSection(cache->objc_const, category, layout.categorySize)) return QCRASH_EINVALID_DATA;
        uint64_t cls, instanceMethods, classMethods;
        const auto* mobj = &cache->objc_const.mobj;
        if ((error = sectionPointer(image, mobj, category + layout.categoryClass, &cls)) != QCRASH_ESUCCESS ||
            (error = sectionPointer(image, mobj, category + layout.categoryInstance, &instanceMethods)) !=
                QCRASH_ESUCCESS ||
            (error = sectionPointer(image, mobj, category + layout.categoryClassMethods, &classMethods)) !=
                QCRASH_ESUCCESS)
            return error;
        uint64_t word;
        if ((error = classDataWord(image, cache, cls, true, &word)) != QCRASH_ESUCCESS) return error;
        uint64_t namePointer, unused;
        error = readOnlyData(image, cache, word, &namePointer, &unused);
        if (error == QCRASH_ENOTFOUND) continue;
        if (error != QCRASH_ESUCCESS) return error;
        error = withString(image, namePointer, [&](const char* className) {
            const qcrash_error_t first =
                visitMethodList(image, cache, instanceMethods, false, className, visitor);
            return first != QCRASH_ESUCCESS
                       ? first
                       : visitMethodList(image, cache, classMethods, true, className, visitor);
        });
        if (error != QCRASH_ESUCCESS) return error;
    }
    cache->got_modern = true;
    return QCRASH_ESUCCESS;
}

// Legacy (32-bit) metadata: method lists read from the task.
qcrash_error_t visitLegacyMethodList(qcrash_async_macho_t* image, uint64_t list, bool isClass,
                                     const char* className, const Visitor& visitor) {
    uint64_t count;
    qcrash_error_t error = taskPointer(image, list + 4, &count);
    if (error != QCRASH_ESUCCESS) return error;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t name, imp;
        const uint64_t entry = list + 8 + 12 * i;
        if ((error = taskPointer(image, entry, &name)) != QCRASH_ESUCCESS ||
            (error = taskPointer(image, entry + 8, &imp)) != QCRASH_ESUCCESS)
            return error;
        error = withString(image, name, [&](const char* methodName) {
            visitor.visit(isClass, className, methodName, imp, visitor.context);
            return QCRASH_ESUCCESS;
        });
        if (error != QCRASH_ESUCCESS) return error;
    }
    return QCRASH_ESUCCESS;
}

qcrash_error_t visitLegacyClass(qcrash_async_macho_t* image, uint64_t cls, bool isClass,
                                const char* className, const Visitor& visitor) {
    uint64_t info, lists;
    qcrash_error_t error = taskPointer(image, cls + 16, &info);
    if (error == QCRASH_ESUCCESS) error = taskPointer(image, cls + 28, &lists);
    if (error != QCRASH_ESUCCESS || lists == 0) return error;
    if ((info & kLegacySingleMethodList) != 0)
        return visitLegacyMethodList(image, lists, isClass, className, visitor);
    for (uint32_t i = 0; i < QCRASH_OBJC_MAX_LEGACY_METHOD_LISTS; ++i) {
        uint64_t list;
        if ((error = taskPointer(image, lists + 4ull * i, &list)) != QCRASH_ESUCCESS) return error;
        if (list == 0 || list == 0xFFFFFFFFull) return QCRASH_ESUCCESS;
        if ((error = visitLegacyMethodList(image, list, isClass, className, visitor)) != QCRASH_ESUCCESS)
            return error;
    }
    return QCRASH_EINVALID_DATA;  // no end in sight
}

qcrash_error_t legacyPass(qcrash_async_macho_t* image, const Visitor& visitor) {
    qcrash_async_mobject_t modules;
    qcrash_error_t error = qcrash_async_macho_map_section(image, "__OBJC", "__module_info", &modules);
    if (error != QCRASH_ESUCCESS) return error;
    for (uint64_t m = 0; m + 16 <= modules.length && error == QCRASH_ESUCCESS; m += 16) {
        uint32_t symtab;
        if ((error = qcrash_async_mobject_read_uint32(&modules, image->byteorder, modules.task_address,
                                                      static_cast<int64_t>(m + 12), &symtab)) !=
            QCRASH_ESUCCESS)
            break;
        if (symtab == 0) continue;
        uint16_t classCount;
        if ((error = qcrash_async_task_read_uint16(image->task, image->byteorder, symtab, 8, &classCount)) !=
            QCRASH_ESUCCESS)
            break;
        for (uint32_t c = 0; c < classCount && error == QCRASH_ESUCCESS; ++c) {
            uint64_t cls, namePointer, meta;
            if ((error = taskPointer(image, symtab + 12 + 4ull * c, &cls)) != QCRASH_ESUCCESS ||
                (error = taskPointer(image, cls + 8, &namePointer)) != QCRASH_ESUCCESS ||
                (error = taskPointer(image, cls, &meta)) != QCRASH_ESUCCESS)
                break;
            error = withString(image, namePointer, [&](const char* className) {
                const qcrash_error_t first = visitLegacyClass(image, cls, false, className, visitor);
                return first != QCRASH_ESUCCESS ? first
                                                : visitLegacyClass(image, meta, true, className, visitor);
            });
        }
    }
    qcrash_async_mobject_free(&modules);
    return error;
}

qcrash_error_t walkMethods(qcrash_async_macho_t* image, qcrash_async_objc_cache_t* cache,
                           const Visitor& visitor) {
    if (!(cache->image == image && cache->got_modern)) {
        const qcrash_error_t error = legacyPass(image, visitor);
        if (error != QCRASH_ENOTFOUND) return error;
    }
    return modernPass(image, cache, visitor);
}

struct Best {
    uint64_t pc;
    bool found;
    uint64_t imp;
    bool reported;
    qcrash_async_objc_found_method_cb callback;
    void* context;
};

void keepBest(bool, const char*, const char*, uint64_t imp, void* context) {
    auto* best = static_cast<Best*>(context);
    if (imp <= best->pc && (!best->found || imp > best->imp)) {
        best->imp = imp;
        best->found = true;
    }
}

void reportBest(bool isClass, const char* className, const char* methodName, uint64_t imp, void* context) {
    auto* best = static_cast<Best*>(context);
    if (best->reported || imp != best->imp) return;
    best->reported = true;
    best->callback(isClass, className, methodName, imp, best->context);
}

}  // namespace

qcrash_error_t qcrash_async_objc_cache_init(qcrash_async_objc_cache_t* cache) {
    qcrash_async_memset(cache, 0, sizeof *cache);
    return QCRASH_ESUCCESS;
}

void qcrash_async_objc_cache_free(qcrash_async_objc_cache_t* cache) {
    unmapAll(cache);
    if (cache->class_cache != nullptr) {
        munmap(cache->class_cache, 2 * QCRASH_OBJC_CLASS_CACHE_SLOTS * sizeof(uint64_t));
    }
    cache->class_cache = nullptr;
    cache->image = nullptr;
}

qcrash_error_t qcrash_async_objc_find_method(qcrash_async_macho_t* image, qcrash_async_objc_cache_t* cache,
                                             qcrash_vm_address_t pc,
                                             qcrash_async_objc_found_method_cb callback, void* context) {
    if (image->format != qcrash_image_format::macho) return QCRASH_ENOTFOUND;
    Best best{pc, false, 0, false, callback, context};
    qcrash_error_t error = walkMethods(image, cache, Visitor{keepBest, &best});
    if (error != QCRASH_ESUCCESS) return error;
    if (!best.found) return QCRASH_ENOTFOUND;
    return walkMethods(image, cache, Visitor{reportBest, &best});
}

namespace {

struct Candidate {
    bool found;
    uint64_t address;
    char name[QCRASH_SYMBOL_NAME_MAX];
};

// Appends `text` to a zero-terminated buffer, cutting at its end.
void append(char* buffer, size_t* used, const char* text) {
    while (*text != 0 && *used + 1 < QCRASH_SYMBOL_NAME_MAX) buffer[(*used)++] = *text++;
    buffer[*used] = 0;
}

void fromSymbolTable(qcrash_vm_address_t address, const char* name, void* context) {
    auto* candidate = static_cast<Candidate*>(context);
    candidate->found = true;
    candidate->address = address;
    size_t used = 0;
    append(candidate->name, &used, name);
}

void fromMethod(bool isClass, const char* className, const char* methodName, qcrash_vm_address_t imp,
                void* context) {
    auto* candidate = static_cast<Candidate*>(context);
    if (candidate->found && imp < candidate->address) return;
    candidate->found = true;
    candidate->address = imp;
    size_t used = 0;
    append(candidate->name, &used, isClass ? "+[" : "-[");
    append(candidate->name, &used, className);
    append(candidate->name, &used, " ");
    append(candidate->name, &used, methodName);
    append(candidate->name, &used, "]");
}

}  // namespace

qcrash_error_t qcrash_async_find_symbol(qcrash_async_macho_t* image, uint64_t strategy,
                                        qcrash_async_objc_cache_t* cache, qcrash_vm_address_t pc,
                                        qcrash_async_found_symbol_cb callback, void* context) {
    Candidate candidate;
    candidate.found = false;
    candidate.address = 0;
    candidate.name[0] = 0;
    bool succeeded = false;
    if ((strategy & QCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE) != 0) {
        succeeded =
            qcrash_async_image_find_symbol_by_pc(image, pc, fromSymbolTable, &candidate) == QCRASH_ESUCCESS;
    }
    if ((strategy & QCRASH_ASYNC_SYMBOL_STRATEGY_OBJC) != 0) {
        succeeded =
            qcrash_async_objc_find_method(image, cache, pc, fromMethod, &candidate) == QCRASH_ESUCCESS ||
            succeeded;
    }
    if (!succeeded) return QCRASH_ENOTFOUND;
    if (!candidate.found) return QCRASH_EINTERNAL;
    callback(candidate.address, candidate.name, context);
    return QCRASH_ESUCCESS;
}

}  // namespace tervolo::crash
