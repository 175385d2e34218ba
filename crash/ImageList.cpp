// The image list's writers and the host's image tracking: allocate, lock and
// ask the dynamic loader, so never on the crash path.
#include <link.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "crash/AsyncElfImage.hpp"
#include "crash/AsyncImageList.hpp"

namespace tervolo::crash {

void qcrash_image_record_release::operator()(qcrash_async_macho_t*& image) const {
    qcrash_nasync_macho_free(image);
    delete image;
    image = nullptr;
}

void qcrash_nasync_image_list_init(qcrash_async_image_list_t* list, qcrash_task_t task) {
    list->task = task;
    list->list = new async_list<qcrash_async_macho_t*, qcrash_image_record_release>;
    // The loader's own record of what it has loaded; only our own process's
    // list is compared with it.
    list->loader_root = task == qcrash_task_self() ? reinterpret_cast<uintptr_t>(&_r_debug) : 0;
    list->loader_view = new qcrash_async_image_loader_view_t{};
}

void qcrash_nasync_image_list_free(qcrash_async_image_list_t* list) {
    delete list->list;
    list->list = nullptr;
    delete list->loader_view;
    list->loader_view = nullptr;
}

void qcrash_nasync_image_list_set_loader_root(qcrash_async_image_list_t* list, qcrash_vm_address_t root) {
    list->loader_root = root;
}

void qcrash_nasync_image_list_append_record(qcrash_async_image_list_t* list, qcrash_async_macho_t* image) {
    // The record learns its node before readers can reach it.
    list->list->append(image, [image](auto* node) { image->list_node = node; });
}

void qcrash_nasync_image_list_append(qcrash_async_image_list_t* list, qcrash_vm_address_t header,
                                     const char* path) {
    auto* image = new qcrash_async_macho_t;
    if (qcrash_nasync_macho_init(image, list->task, path, header) != QCRASH_ESUCCESS) {
        delete image;
        return;
    }
    qcrash_nasync_image_list_append_record(list, image);
}

void qcrash_nasync_image_list_remove(qcrash_async_image_list_t* list, qcrash_vm_address_t header) {
    list->list->removeIf([header](qcrash_async_macho_t* image) { return image->header_addr == header; });
}

namespace {

struct LoadedObject {
    std::string path;
    uintptr_t bias;
    std::vector<ElfW(Phdr)> phdrs;
    qcrash_vm_address_t start;  // first loadable segment, page aligned
};

int collect(struct dl_phdr_info* info, size_t, void* context) {
    auto* objects = static_cast<std::vector<LoadedObject>*>(context);
    LoadedObject object{info->dlpi_name != nullptr ? info->dlpi_name : "", info->dlpi_addr,
                        std::vector<ElfW(Phdr)>(info->dlpi_phdr, info->dlpi_phdr + info->dlpi_phnum), 0};
    for (const auto& p : object.phdrs) {
        if (p.p_type == PT_LOAD) {
            object.start = (info->dlpi_addr + p.p_vaddr) & ~(qcrash_async_page_size() - 1);
            break;
        }
    }
    if (object.start != 0) objects->push_back(std::move(object));
    return 0;
}

}  // namespace

void qcrash_nasync_image_list_sync_host(qcrash_async_image_list_t* list) {
    // Records are built outside the loader's lock, which dl_iterate_phdr
    // holds while it calls back.
    std::vector<LoadedObject> loaded;
    dl_iterate_phdr(collect, &loaded);

    std::set<qcrash_vm_address_t> present;
    for (const auto& object : loaded) present.insert(object.start);
    std::set<qcrash_vm_address_t> listed;
    std::vector<qcrash_vm_address_t> gone;
    list->list->set_reading(true);
    for (auto* image = qcrash_async_image_list_next(list, nullptr); image != nullptr;
         image = qcrash_async_image_list_next(list, image)) {
        listed.insert(image->header_addr);
        if (present.count(image->header_addr) == 0) gone.push_back(image->header_addr);
    }
    list->list->set_reading(false);
    for (auto header : gone) qcrash_nasync_image_list_remove(list, header);

    for (const auto& object : loaded) {
        if (listed.count(object.start) != 0) continue;
        auto* image = new qcrash_async_macho_t;
        if (qcrash_nasync_elf_init(image, object.path.c_str(), object.bias, object.phdrs.data(),
                                   static_cast<uint16_t>(object.phdrs.size())) != QCRASH_ESUCCESS) {
            delete image;
            continue;
        }
        qcrash_nasync_image_list_append_record(list, image);
    }
}

}  // namespace tervolo::crash
