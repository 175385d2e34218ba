#pragma once

// The list of images loaded in a task, kept from the reporter's start so
// that a crash handler never asks the dynamic loader. Writers (the
// qcrash_nasync_* functions) allocate and lock; crash-time readers mark
// every walk and lookup with qcrash_async_image_list_set_reading, so that a
// record removed meanwhile stays valid until they are done.

#include "crash/AsyncList.hpp"
#include "crash/AsyncMachO.hpp"

namespace tervolo::crash {

// Frees a record once its node is finally released.
struct qcrash_image_record_release {
    void operator()(qcrash_async_macho_t*& image) const;
};

struct qcrash_async_image_list_t {
    qcrash_task_t task;
    async_list<qcrash_async_macho_t*, qcrash_image_record_release>* list;
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
// The record after `current` (the first for null), or null.
qcrash_async_macho_t* qcrash_async_image_list_next(qcrash_async_image_list_t* list,
                                                   qcrash_async_macho_t* current);
// The first record whose code range holds `address`, or null.
qcrash_async_macho_t* qcrash_async_image_containing_address(qcrash_async_image_list_t* list,
                                                            qcrash_vm_address_t address);

// Makes the list of our own process equal to the objects the dynamic loader
// has loaded now: new ones are appended in the loader's order, unloaded ones
// removed. Linux has no load and unload callbacks, so the reporter calls
// this when it is enabled and before each report it writes outside a crash.
void qcrash_nasync_image_list_sync_host(qcrash_async_image_list_t* list);

}  // namespace tervolo::crash
