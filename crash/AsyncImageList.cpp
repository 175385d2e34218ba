#include "crash/AsyncImageList.hpp"

namespace tervolo::crash {

using ImageNode = async_list<qcrash_async_macho_t*, qcrash_image_record_release>::node;

void qcrash_async_image_list_set_reading(qcrash_async_image_list_t* list, bool reading) {
    list->list->set_reading(reading);
}

qcrash_async_macho_t* qcrash_async_image_list_next(qcrash_async_image_list_t* list,
                                                   qcrash_async_macho_t* current) {
    ImageNode* node =
        list->list->next(current == nullptr ? nullptr : static_cast<ImageNode*>(current->list_node));
    return node == nullptr ? nullptr : node->value;
}

qcrash_async_macho_t* qcrash_async_image_containing_address(qcrash_async_image_list_t* list,
                                                            qcrash_vm_address_t address) {
    for (auto* image = qcrash_async_image_list_next(list, nullptr); image != nullptr;
         image = qcrash_async_image_list_next(list, image)) {
        if (qcrash_async_macho_contains_address(image, address)) return image;
    }
    return nullptr;
}

}  // namespace tervolo::crash
