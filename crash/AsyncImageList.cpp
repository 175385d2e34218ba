#include "crash/AsyncImageList.hpp"

#include <link.h>

#include <cstddef>

#include "crash/AsyncElfImage.hpp"

namespace tervolo::crash {

using ImageNode = async_list<qcrash_async_macho_t*, qcrash_image_record_release>::node;

namespace {

qcrash_async_image_loader_view_t* activeView(const qcrash_async_image_list_t* list) {
    auto* view = list->loader_view;
    return view != nullptr && view->active.load(std::memory_order_acquire) ? view : nullptr;
}

bool isHidden(const qcrash_async_image_loader_view_t* view, const qcrash_async_macho_t* image) {
    for (uint32_t i = 0; i < view->hidden_count; ++i) {
        if (view->hidden[i] == image) return true;
    }
    return false;
}

bool isAdded(const qcrash_async_image_loader_view_t* view, const qcrash_async_macho_t* image) {
    return image >= view->added && image < view->added + view->added_count;
}

}  // namespace

void qcrash_async_image_list_set_reading(qcrash_async_image_list_t* list, bool reading) {
    list->list->set_reading(reading);
}

qcrash_async_macho_t* qcrash_async_image_list_next(qcrash_async_image_list_t* list,
                                                   qcrash_async_macho_t* current) {
    const auto* view = activeView(list);
    if (view != nullptr && current != nullptr && isAdded(view, current)) {
        const auto next = static_cast<uint32_t>(current - view->added) + 1;
        return next < view->added_count ? const_cast<qcrash_async_macho_t*>(&view->added[next]) : nullptr;
    }
    ImageNode* node =
        list->list->next(current == nullptr ? nullptr : static_cast<ImageNode*>(current->list_node));
    while (node != nullptr && view != nullptr && isHidden(view, node->value)) node = list->list->next(node);
    if (node != nullptr) return node->value;
    if (view != nullptr && view->added_count > 0) return const_cast<qcrash_async_macho_t*>(&view->added[0]);
    return nullptr;
}

qcrash_async_macho_t* qcrash_async_image_containing_address(qcrash_async_image_list_t* list,
                                                            qcrash_vm_address_t address) {
    for (auto* image = qcrash_async_image_list_next(list, nullptr); image != nullptr;
         image = qcrash_async_image_list_next(list, image)) {
        if (qcrash_async_macho_contains_address(image, address)) return image;
    }
    return nullptr;
}

// ---- the dynamic loader's view ----

namespace {

// Namespaces followed at most (dlmopen makes them; glibc allows 16).
constexpr uint32_t kMaxNamespaces = 16;

template <typename T>
bool readTask(qcrash_vm_address_t address, T* out) {
    return qcrash_async_task_memcpy(qcrash_task_self(), address, 0, out, sizeof *out) == QCRASH_ESUCCESS;
}

// Copies the zero-terminated string at `address` into `out` (at most
// `max` - 1 bytes, always terminated), reading no further than the page it
// ends in. False when it cannot be read or does not end within `max` bytes.
bool readString(qcrash_vm_address_t address, char* out, size_t max) {
    const qcrash_vm_size_t page = qcrash_async_page_size();
    size_t done = 0;
    out[0] = 0;
    while (done + 1 < max) {
        const qcrash_vm_address_t at = address + done;
        size_t chunk = static_cast<size_t>(page - (at & (page - 1)));
        if (chunk > max - 1 - done) chunk = max - 1 - done;
        if (qcrash_async_task_memcpy(qcrash_task_self(), at, 0, out + done, chunk) != QCRASH_ESUCCESS) {
            out[done] = 0;
            return false;
        }
        for (size_t i = 0; i < chunk; ++i) {
            if (out[done + i] == 0) return true;
        }
        done += chunk;
    }
    out[max - 1] = 0;
    return false;
}

// The public head of glibc's link_map: what the loader promises debuggers.
struct LinkMapHead {
    ElfW(Addr) l_addr;
    qcrash_vm_address_t l_name;
    qcrash_vm_address_t l_ld;
    qcrash_vm_address_t l_next;
};
static_assert(offsetof(struct link_map, l_addr) == offsetof(LinkMapHead, l_addr));
static_assert(offsetof(struct link_map, l_name) == offsetof(LinkMapHead, l_name));
static_assert(offsetof(struct link_map, l_ld) == offsetof(LinkMapHead, l_ld));
static_assert(offsetof(struct link_map, l_next) == offsetof(LinkMapHead, l_next));

// Fills view->entries from the loader's lists; false when a list could not
// be read to its end.
bool readLoaderEntries(qcrash_vm_address_t root, qcrash_async_image_loader_view_t* view) {
    qcrash_vm_address_t debug = root;
    for (uint32_t ns = 0; ns < kMaxNamespaces && debug != 0; ++ns) {
        struct r_debug_extended record;
        if (!readTask(debug, &record.base)) return false;
        if (record.base.r_version < 1) return false;
        qcrash_vm_address_t at = reinterpret_cast<uintptr_t>(record.base.r_map);
        while (at != 0) {
            if (view->entry_count == QCRASH_IMAGE_LOADER_ENTRIES_MAX) return false;  // or a cycle
            LinkMapHead head;
            if (!readTask(at, &head)) return false;
            view->entries[view->entry_count++] = {head.l_addr, head.l_ld, head.l_name};
            at = head.l_next;
        }
        // Version 2 records chain the other namespaces' lists.
        if (record.base.r_version < 2) break;
        if (!readTask(debug + offsetof(struct r_debug_extended, r_next), &record.r_next)) return false;
        debug = reinterpret_cast<uintptr_t>(record.r_next);
    }
    return true;
}

bool describes(const qcrash_async_macho_t* image, const qcrash_async_image_loader_view_t::entry_t& entry) {
    if (image->format != qcrash_image_format::elf || image->elf.dynamic == 0) return false;
    if (image->elf.dynamic != entry.dynamic || image->vmaddr_slide != entry.bias) return false;
    char name[QCRASH_IMAGE_LOADER_NAME_MAX];
    if (!readString(entry.name, name, sizeof name)) return false;
    return name[0] == 0 || (image->name != nullptr && qcrash_async_strcmp(name, image->name) == 0);
}

// A record of an object the list does not hold, from its headers in memory.
void addRecord(qcrash_async_image_loader_view_t* view,
               const qcrash_async_image_loader_view_t::entry_t& entry) {
    if (view->added_count == QCRASH_IMAGE_LOADER_CHANGES_MAX) return;
    ElfW(Ehdr) header;
    if (!readTask(entry.bias, &header)) return;
    const unsigned char* ident = header.e_ident;
    if (ident[EI_MAG0] != ELFMAG0 || ident[EI_MAG1] != ELFMAG1 || ident[EI_MAG2] != ELFMAG2 ||
        ident[EI_MAG3] != ELFMAG3 || ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
        header.e_phentsize != sizeof(ElfW(Phdr))) {
        return;
    }
    const uint32_t slot = view->added_count;
    char* name = view->added_names[slot];
    readString(entry.name, name, QCRASH_IMAGE_LOADER_NAME_MAX);
    qcrash_async_macho_t* image = &view->added[slot];
    if (qcrash_async_elf_init(image, name, entry.bias, entry.bias + header.e_phoff, header.e_phnum) !=
        QCRASH_ESUCCESS) {
        return;
    }
    // The headers found must be this object's: theirs is the dynamic
    // section the loader names.
    if (image->elf.dynamic != entry.dynamic) return;
    view->added_count = slot + 1;
}

}  // namespace

bool qcrash_async_image_list_begin_loader_view(qcrash_async_image_list_t* list) {
    auto* view = list->loader_view;
    if (view == nullptr || list->loader_root == 0) return false;
    if (view->busy.exchange(true, std::memory_order_acquire)) return false;
    view->active.store(false, std::memory_order_release);
    view->entry_count = 0;
    view->hidden_count = 0;
    view->added_count = 0;
    view->complete = readLoaderEntries(list->loader_root, view);

    list->list->set_reading(true);
    for (uint32_t e = 0; e < view->entry_count; ++e) {
        bool listed = false;
        for (ImageNode* n = list->list->next(nullptr); n != nullptr && !listed; n = list->list->next(n)) {
            listed = describes(n->value, view->entries[e]);
        }
        if (!listed) addRecord(view, view->entries[e]);
    }
    // Only a list read to its end shows that an object is gone.
    if (view->complete) {
        for (ImageNode* n = list->list->next(nullptr); n != nullptr; n = list->list->next(n)) {
            const qcrash_async_macho_t* image = n->value;
            if (image->format != qcrash_image_format::elf || image->elf.dynamic == 0) continue;
            bool loaded = false;
            for (uint32_t e = 0; e < view->entry_count && !loaded; ++e) {
                loaded = describes(image, view->entries[e]);
            }
            if (!loaded && view->hidden_count < QCRASH_IMAGE_LOADER_CHANGES_MAX) {
                view->hidden[view->hidden_count++] = n->value;
            }
        }
    }
    list->list->set_reading(false);
    view->active.store(true, std::memory_order_release);
    return true;
}

void qcrash_async_image_list_end_loader_view(qcrash_async_image_list_t* list) {
    auto* view = list->loader_view;
    if (view == nullptr) return;
    view->active.store(false, std::memory_order_release);
    view->busy.store(false, std::memory_order_release);
}

}  // namespace tervolo::crash
