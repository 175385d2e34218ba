// Building and freeing image records: allocates (the path copy, the ELF
// symbol table), so never on the crash path.
#include <cstdlib>
#include <cstring>

#include "crash/AsyncMachO.hpp"

namespace tervolo::crash {

using namespace macho;

qcrash_error_t qcrash_nasync_macho_init(qcrash_async_macho_t* image, qcrash_task_t task, const char* path,
                                        qcrash_vm_address_t header) {
    *image = qcrash_async_macho_t{};
    image->task = task;
    image->header_addr = header;
    image->format = qcrash_image_format::macho;

    if (qcrash_async_task_memcpy(task, header, 0, &image->header, sizeof image->header) != QCRASH_ESUCCESS) {
        return QCRASH_EINTERNAL;
    }
    switch (image->header.magic) {
        case MH_MAGIC_64:
            image->m64 = true;
            image->byteorder = qcrash_async_byteorder_little_endian();
            break;
        case MH_MAGIC:
            image->byteorder = qcrash_async_byteorder_little_endian();
            break;
        case MH_CIGAM:
            image->byteorder = qcrash_async_byteorder_big_endian();
            break;
        case MH_CIGAM_64:
            image->m64 = true;
            image->byteorder = qcrash_async_byteorder_big_endian();
            break;
        default:
            return QCRASH_EINVAL;
    }
    image->header_size = image->m64 ? 32 : 28;

    const uint32_t sizeofcmds = image->byteorder->swap32(image->header.sizeofcmds);
    const qcrash_error_t mapped =
        qcrash_async_mobject_init(&image->load_cmds, task, header + image->header_size, sizeofcmds, true);
    if (mapped != QCRASH_ESUCCESS) return mapped;

    const void* text = qcrash_async_macho_find_segment_cmd(image, "__TEXT");
    if (text == nullptr) {
        qcrash_async_mobject_free(&image->load_cmds);
        return QCRASH_EINVAL;
    }
    if (image->m64) {
        segment_command_64 segment;
        std::memcpy(&segment, text, sizeof segment);
        image->text_vmaddr = image->byteorder->swap64(segment.vmaddr);
        image->text_size = image->byteorder->swap64(segment.vmsize);
    } else {
        segment_command segment;
        std::memcpy(&segment, text, sizeof segment);
        image->text_vmaddr = image->byteorder->swap32(segment.vmaddr);
        image->text_size = image->byteorder->swap32(segment.vmsize);
    }
    image->vmaddr_slide = header - image->text_vmaddr;
    image->name = strdup(path != nullptr ? path : "");
    return QCRASH_ESUCCESS;
}

void qcrash_nasync_macho_free(qcrash_async_macho_t* image) {
    if (image->format == qcrash_image_format::macho) qcrash_async_mobject_free(&image->load_cmds);
    std::free(image->name);
    std::free(const_cast<uint8_t*>(image->elf.symtab));
    std::free(const_cast<char*>(image->elf.strtab));
    *image = qcrash_async_macho_t{};
}

}  // namespace tervolo::crash
