#pragma once

// The list of images loaded in a task, kept from the reporter's start so
// that a crash handler never asks the dynamic loader. Writers (the
// qcrash_nasync_* functions) allocate and lock; crash-time readers mark
// every walk and lookup with qcrash_async_image_list_set_reading, so that a
// record removed meanwhile stays valid until they are done.

#include <atomic>

#include "crash/AsyncList.hpp"
#include "crash/AsyncMachO.hpp"

namespace tervolo::crash {

// Frees a record once its node is finally released.
struct qcrash_image_record_release {
    void operator()(qcrash_async_macho_t*& image) const;
};

// Capacities of the crash-time view of the dynamic loader's list (below):
// objects it lists at most, objects loaded or unloaded since the list was
// last made current, and the bytes kept of a new object's path.
inline constexpr uint32_t QCRASH_IMAGE_LOADER_ENTRIES_MAX = 1024;
inline constexpr uint32_t QCRASH_IMAGE_LOADER_CHANGES_MAX = 64;
inline constexpr uint32_t QCRASH_IMAGE_LOADER_NAME_MAX = 512;

// What the dynamic loader's own list of loaded objects says at crash time,
// set against the image list: records of objects it no longer lists are
// hidden, objects it lists without a record get one here. Linux tells a
// program nothing when a library is loaded or unloaded, so a crash handler
// reads that list (with checked reads) instead of trusting one made earlier.
// Allocated with the list, filled only inside a report write.
struct qcrash_async_image_loader_view_t {
    // One write at a time fills the view; readers use it while `active`.
    std::atomic<bool> busy;
    std::atomic<bool> active;
    // The loader's entries: load bias, dynamic section, address of the path.
    struct entry_t {
        qcrash_vm_address_t bias;
        qcrash_vm_address_t dynamic;
        qcrash_vm_address_t name;
    } entries[QCRASH_IMAGE_LOADER_ENTRIES_MAX];
    uint32_t entry_count;
    // Whether every entry was read: only then can a record be missing from it.
    bool complete;
    qcrash_async_macho_t* hidden[QCRASH_IMAGE_LOADER_CHANGES_MAX];
    uint32_t hidden_count;
    qcrash_async_macho_t added[QCRASH_IMAGE_LOADER_CHANGES_MAX];
    char added_names[QCRASH_IMAGE_LOADER_CHANGES_MAX][QCRASH_IMAGE_LOADER_NAME_MAX];
    uint32_t added_count;
};

struct qcrash_async_image_list_t {
    qcrash_task_t task;
    async_list<qcrash_async_macho_t*, qcrash_image_record_release>* list;
    // Where the dynamic loader's list starts (its r_debug record) in our own
    // process; 0 for another task's list, which is never compared with it.
    qcrash_vm_address_t loader_root;
    qcrash_async_image_loader_view_t* loader_view;
};

void qcrash_nasync_image_list_init(qcrash_async_image_list_t* list, qcrash_task_t task);
// Frees the list and every record in it.
void qcrash_nasync_image_list_free(qcrash_async_image_list_t* list);

// Builds a Mach-O record for the image at `header`; an image whose record
// cannot be built is silently left out.
void qcrash_nasync_image_list_append(qcrash_async_image_list_t* list, qcrash_vm_address_t header,
                                     const char* path);
// Appends a record built elsewhere (ELF images); the list owns it from here.
void qcrash_nasync_image_list_append_record(qcrash_async_image_list_t* list, qcrash_async_macho_t* image);
// Removes the first record with that header address.
void qcrash_nasync_image_list_remove(qcrash_async_image_list_t* list, qcrash_vm_address_t header);

void qcrash_async_image_list_set_reading(qcrash_async_image_list_t* list, bool reading);
// The record after `current` (the first for null), or null. While the
// loader's view is active, records of unloaded objects are skipped and the
// records of newly loaded ones follow the list's own, in the loader's order.
qcrash_async_macho_t* qcrash_async_image_list_next(qcrash_async_image_list_t* list,
                                                   qcrash_async_macho_t* current);
// The first record whose code range holds `address`, or null.
qcrash_async_macho_t* qcrash_async_image_containing_address(qcrash_async_image_list_t* list,
                                                            qcrash_vm_address_t address);

// Reads the dynamic loader's list of loaded objects (every namespace, at
// most QCRASH_IMAGE_LOADER_ENTRIES_MAX entries, through checked reads, so a
// damaged list ends the walk instead of the process) and activates the view
// above until qcrash_async_image_list_end_loader_view. An object is the one
// a record describes when load bias, dynamic section and path agree (the
// loader names the main program ""). A new object gets a record built from
// its headers in memory; one whose headers do not lie at its load bias (a
// prelinked library) stays out. Returns false, changing nothing, when the
// list has no loader root or another write holds the view. Async-safe; call
// with the other threads parked.
bool qcrash_async_image_list_begin_loader_view(qcrash_async_image_list_t* list);
void qcrash_async_image_list_end_loader_view(qcrash_async_image_list_t* list);

// Points the list at another r_debug record (tests hand it damaged ones).
void qcrash_nasync_image_list_set_loader_root(qcrash_async_image_list_t* list, qcrash_vm_address_t root);

// Makes the list of our own process equal to the objects the dynamic loader
// has loaded now: new ones are appended in the loader's order, unloaded ones
// removed. Linux has no load and unload callbacks, so the reporter calls
// this when it is enabled and before each live report; at crash time the
// loader's view above covers what changed since.
void qcrash_nasync_image_list_sync_host(qcrash_async_image_list_t* list);

}  // namespace tervolo::crash
