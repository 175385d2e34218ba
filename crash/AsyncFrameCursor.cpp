#include "crash/AsyncFrameCursor.hpp"

#include "crash/AsyncCompactUnwind.hpp"
#include "crash/AsyncDwarf.hpp"

namespace tervolo::crash {

const char* plframe_strerror(int error) {
    switch (error) {
        case PLFRAME_ESUCCESS:
            return "No error";
        case PLFRAME_EUNKNOWN:
            return "Unknown error";
        case PLFRAME_ENOFRAME:
            return "No frames are available";
        case PLFRAME_EBADFRAME:
            return "Corrupted frame";
        case PLFRAME_ENOTSUP:
            return "Operation not supported";
        case PLFRAME_EINVAL:
            return "Invalid argument";
        case PLFRAME_INTERNAL:
            return "Internal error";
        case PLFRAME_EBADREG:
            return "Invalid register";
        default:
            return "Unhandled error code";
    }
}

namespace {

// Marks the image list as being read for the life of a reader call.
class ReadingImages {
  public:
    explicit ReadingImages(qcrash_async_image_list_t* list) : list_(list) {
        qcrash_async_image_list_set_reading(list_, true);
    }
    ~ReadingImages() { qcrash_async_image_list_set_reading(list_, false); }
    ReadingImages(const ReadingImages&) = delete;
    ReadingImages& operator=(const ReadingImages&) = delete;

  private:
    qcrash_async_image_list_t* list_;
};

// The address the unwind tables are searched for.
uint64_t lookupPc(const qcrash_async_thread_state_t* state) {
    const uint64_t pc = qcrash_async_thread_state_get_reg(state, QCRASH_REG_IP);
    return (state->flags & QCRASH_THREAD_STATE_PC_IS_RETURN_ADDRESS) != 0 ? pc - 1 : pc;
}

// The search table of an ELF image's .eh_frame_hdr: sorted (start, FDE)
// pairs as 32-bit offsets from the header (encoding 0x3B, the one linkers
// write). Finds the FDE for `pc` by binary search instead of walking every
// entry of .eh_frame; false when the table is absent or in another form.
bool findFdeByTable(const qcrash_async_macho_t* image, const qcrash_async_mobject_t* section, uint64_t pc,
                    qcrash_async_dwarf_fde_info_t* fde) {
    const uint64_t hdr = image->elf.eh_frame_hdr;
    if (image->format != qcrash_image_format::elf || hdr == 0 || image->elf.eh_frame_hdr_size < 12)
        return false;
    qcrash_async_mobject_t table;
    if (qcrash_async_mobject_init(&table, image->task, hdr, image->elf.eh_frame_hdr_size, true) !=
        QCRASH_ESUCCESS) {
        return false;
    }
    const auto* order = qcrash_async_byteorder_little_endian();
    bool found = false;
    uint8_t version, framePtrEncoding, countEncoding, tableEncoding;
    uint32_t count;
    if (qcrash_async_mobject_read_uint8(&table, hdr, 0, &version) == QCRASH_ESUCCESS && version == 1 &&
        qcrash_async_mobject_read_uint8(&table, hdr, 1, &framePtrEncoding) == QCRASH_ESUCCESS &&
        qcrash_async_mobject_read_uint8(&table, hdr, 2, &countEncoding) == QCRASH_ESUCCESS &&
        qcrash_async_mobject_read_uint8(&table, hdr, 3, &tableEncoding) == QCRASH_ESUCCESS &&
        framePtrEncoding == (DW_EH_PE_pcrel | DW_EH_PE_sdata4) && countEncoding == DW_EH_PE_udata4 &&
        tableEncoding == (DW_EH_PE_datarel | DW_EH_PE_sdata4) &&
        qcrash_async_mobject_read_uint32(&table, order, hdr, 8, &count) == QCRASH_ESUCCESS && count > 0) {
        auto startAt = [&](uint32_t i, int64_t* start) {
            uint32_t raw;
            if (qcrash_async_mobject_read_uint32(&table, order, hdr, 12 + 8 * static_cast<int64_t>(i),
                                                 &raw) != QCRASH_ESUCCESS)
                return false;
            *start = static_cast<int32_t>(raw);
            return true;
        };
        const int64_t target = static_cast<int64_t>(pc - hdr);
        int64_t low = 0, high = static_cast<int64_t>(count) - 1, best = -1;
        while (low <= high) {
            const int64_t mid = low + (high - low) / 2;
            int64_t start;
            if (!startAt(static_cast<uint32_t>(mid), &start)) break;
            if (start <= target) {
                best = mid;
                low = mid + 1;
            } else {
                high = mid - 1;
            }
        }
        uint32_t fdeOffset;
        if (best >= 0 && qcrash_async_mobject_read_uint32(&table, order, hdr, 12 + 8 * best + 4,
                                                          &fdeOffset) == QCRASH_ESUCCESS) {
            const uint64_t fdeAddress =
                hdr + static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(fdeOffset)));
            found = qcrash_async_dwarf_fde_info_init<uint64_t>(fde, section, order, fdeAddress, false) ==
                        QCRASH_ESUCCESS &&
                    fde->pc_start <= pc && pc < fde->pc_end;
        }
    }
    qcrash_async_mobject_free(&table);
    return found;
}

// The pc to look the frame up by, and the image that holds it (the list
// marked as being read by the caller).
plframe_error_t imageOfFrame(qcrash_async_image_list_t* images, const qcrash_async_thread_state_t* current,
                             uint64_t* pc, qcrash_async_macho_t** image) {
    if (!qcrash_async_thread_state_has_reg(current, QCRASH_REG_IP)) return PLFRAME_EBADFRAME;
    if (qcrash_async_thread_state_get_reg(current, QCRASH_REG_IP) == 0) return PLFRAME_ENOTSUP;
    *pc = lookupPc(current);
    *image = qcrash_async_image_containing_address(images, *pc);
    return *image == nullptr ? PLFRAME_ENOTSUP : PLFRAME_ESUCCESS;
}

template <typename machine_ptr, typename machine_ptr_s>
plframe_error_t dwarfStep(const qcrash_async_macho_t* image, qcrash_task_t task,
                          const qcrash_async_mobject_t* section, bool debugFrame,
                          const qcrash_async_thread_state_t* current, uint64_t pc,
                          qcrash_async_thread_state_t* next) {
    const auto* order = qcrash_async_byteorder_little_endian();
    dwarf_frame_reader<machine_ptr> reader;
    reader.init(section, order, sizeof(machine_ptr) == 8, debugFrame);
    qcrash_async_dwarf_fde_info_t fde;
    if (!(sizeof(machine_ptr) == 8 && findFdeByTable(image, section, pc, &fde)) &&
        reader.find_fde(0, static_cast<machine_ptr>(pc), &fde) != QCRASH_ESUCCESS) {
        return PLFRAME_ENOTSUP;
    }
    const auto ptrReader = qcrash_async_dwarf_section_ptr_reader<machine_ptr>(section, order);
    qcrash_async_dwarf_cie_info_t cie;
    if (qcrash_async_dwarf_cie_info_init(&cie, section, order, &ptrReader,
                                         section->task_address + fde.cie_offset) != QCRASH_ESUCCESS) {
        return PLFRAME_ENOTSUP;
    }
    dwarf_cfa_state<machine_ptr, machine_ptr_s> state;
    const auto start = static_cast<machine_ptr>(fde.pc_start);
    if (state.eval_program(section, static_cast<machine_ptr>(pc), start, &cie, &ptrReader, order,
                           section->task_address,
                           static_cast<qcrash_vm_off_t>(cie.initial_instructions_offset),
                           cie.initial_instructions_length) != QCRASH_ESUCCESS ||
        state.eval_program(section, static_cast<machine_ptr>(pc), start, &cie, &ptrReader, order,
                           section->task_address, static_cast<qcrash_vm_off_t>(fde.instructions_offset),
                           fde.instructions_length) != QCRASH_ESUCCESS) {
        return PLFRAME_ENOTSUP;
    }
    if (state.apply_state(task, &cie, current, order, next) != QCRASH_ESUCCESS) return PLFRAME_ENOFRAME;
    // The caller's pc is a return address, unless this frame is the signal
    // trampoline, which restores the interrupted instruction itself.
    if (cie.signal_frame) {
        next->flags &= ~QCRASH_THREAD_STATE_PC_IS_RETURN_ADDRESS;
    } else {
        next->flags |= QCRASH_THREAD_STATE_PC_IS_RETURN_ADDRESS;
    }
    return PLFRAME_ESUCCESS;
}

}  // namespace

plframe_error_t plframe_cursor_read_compact_unwind(qcrash_task_t task, qcrash_async_image_list_t* image_list,
                                                   const qcrash_async_thread_state_t* current,
                                                   const qcrash_async_thread_state_t*,
                                                   qcrash_async_thread_state_t* next) {
    uint64_t pc;
    qcrash_async_macho_t* image;
    ReadingImages reading(image_list);
    if (const plframe_error_t error = imageOfFrame(image_list, current, &pc, &image);
        error != PLFRAME_ESUCCESS) {
        return error;
    }
    qcrash_async_mobject_t section;
    if (qcrash_async_macho_map_section(image, "__TEXT", "__unwind_info", &section) != QCRASH_ESUCCESS) {
        return PLFRAME_ENOTSUP;
    }
    plframe_error_t result = PLFRAME_ENOTSUP;
    qcrash_async_cfe_reader_t reader;
    uint32_t functionOffset;
    uint32_t encoding;
    qcrash_async_cfe_entry_t entry;
    uint64_t function;
    if (qcrash_async_cfe_reader_init(&reader, &section, qcrash_async_macho_cpu_type(image)) !=
        QCRASH_ESUCCESS) {
        result = PLFRAME_EINVAL;
    } else if (qcrash_async_cfe_reader_find_pc(&reader, pc - image->header_addr, &functionOffset,
                                               &encoding) == QCRASH_ESUCCESS &&
               qcrash_async_cfe_entry_init(&entry, qcrash_async_macho_cpu_type(image), encoding) ==
                   QCRASH_ESUCCESS) {
        if (entry.type == QCRASH_ASYNC_CFE_TYPE_NONE) {
            result = PLFRAME_ENOFRAME;
        } else if (__builtin_add_overflow(image->header_addr, uint64_t{functionOffset}, &function)) {
            result = PLFRAME_EINVAL;
        } else {
            result = qcrash_async_cfe_entry_apply(task, function, current, &entry, next) == QCRASH_ESUCCESS
                         ? PLFRAME_ESUCCESS
                         : PLFRAME_ENOFRAME;
            next->flags |= QCRASH_THREAD_STATE_PC_IS_RETURN_ADDRESS;
        }
    }
    qcrash_async_mobject_free(&section);
    return result;
}

plframe_error_t plframe_cursor_read_dwarf_unwind(qcrash_task_t task, qcrash_async_image_list_t* image_list,
                                                 const qcrash_async_thread_state_t* current,
                                                 const qcrash_async_thread_state_t*,
                                                 qcrash_async_thread_state_t* next) {
    uint64_t pc;
    qcrash_async_macho_t* image;
    ReadingImages reading(image_list);
    if (const plframe_error_t error = imageOfFrame(image_list, current, &pc, &image);
        error != PLFRAME_ESUCCESS) {
        return error;
    }

    qcrash_async_mobject_t section;
    bool debugFrame = false;
    if (image->format == qcrash_image_format::elf) {
        if (image->elf.eh_frame == 0 ||
            qcrash_async_mobject_init(&section, task, image->elf.eh_frame, image->elf.eh_frame_size, false) !=
                QCRASH_ESUCCESS) {
            return PLFRAME_ENOFRAME;
        }
    } else if (qcrash_async_macho_map_section(image, "__TEXT", "__eh_frame", &section) != QCRASH_ESUCCESS) {
        if (qcrash_async_macho_map_section(image, "__DWARF", "__debug_frame", &section) != QCRASH_ESUCCESS) {
            return PLFRAME_ENOFRAME;
        }
        debugFrame = true;
    }
    const plframe_error_t result =
        image->m64 ? dwarfStep<uint64_t, int64_t>(image, task, &section, debugFrame, current, pc, next)
                   : dwarfStep<uint32_t, int32_t>(image, task, &section, debugFrame, current,
                                                  pc & 0xFFFFFFFFu, next);
    qcrash_async_mobject_free(&section);
    return result;
}

plframe_error_t plframe_cursor_read_frame_ptr(qcrash_task_t task, qcrash_async_image_list_t*,
                                              const qcrash_async_thread_state_t* current,
                                              const qcrash_async_thread_state_t* previous,
                                              qcrash_async_thread_state_t* next) {
    if (!qcrash_async_thread_state_has_reg(current, QCRASH_REG_FP)) return PLFRAME_EBADFRAME;
    const uint64_t fp = qcrash_async_thread_state_get_reg(current, QCRASH_REG_FP);
    if (fp == 0) return PLFRAME_ENOFRAME;
    if (previous != nullptr && qcrash_async_thread_state_has_reg(previous, QCRASH_REG_FP)) {
        const uint64_t previousFp = qcrash_async_thread_state_get_reg(previous, QCRASH_REG_FP);
        const bool down =
            qcrash_async_thread_state_get_stack_direction(current) == QCRASH_STACK_DIRECTION_DOWN;
        if ((down && fp < previousFp) || (!down && fp > previousFp)) return PLFRAME_EBADFRAME;
    }
    const uint32_t word = current->greg_size;
    uint64_t words[2] = {0, 0};
    if (qcrash_async_task_memcpy(task, fp, 0, &words[0], word) != QCRASH_ESUCCESS ||
        qcrash_async_task_memcpy(task, fp, word, &words[1], word) != QCRASH_ESUCCESS) {
        return PLFRAME_EBADFRAME;
    }
    qcrash_async_thread_state_copy(next, current);
    qcrash_async_thread_state_clear_all_regs(next);
    qcrash_async_thread_state_set_reg(next, QCRASH_REG_FP, words[0]);
    qcrash_async_thread_state_set_reg(next, QCRASH_REG_IP, words[1]);
    next->flags |= QCRASH_THREAD_STATE_PC_IS_RETURN_ADDRESS;
    return PLFRAME_ESUCCESS;
}

plframe_error_t plframe_cursor_init(plframe_cursor_t* cursor, qcrash_task_t task,
                                    const qcrash_async_thread_state_t* initial_state,
                                    qcrash_async_image_list_t* image_list) {
    cursor->task = task;
    cursor->image_list = image_list;
    cursor->depth = 0;
    qcrash_async_thread_state_copy(&cursor->frame, initial_state);
    qcrash_async_thread_state_copy(&cursor->prev_frame, initial_state);
    return PLFRAME_ESUCCESS;
}

plframe_error_t plframe_cursor_next_with_readers(plframe_cursor_t* cursor,
                                                 const plframe_cursor_frame_reader_t* readers,
                                                 uint32_t reader_count) {
    if (cursor->depth == 0) {
        cursor->depth = 1;
        return PLFRAME_ESUCCESS;
    }
    if (reader_count == 0) return PLFRAME_EINVAL;
    qcrash_async_thread_state_t next;
    plframe_error_t error = PLFRAME_EUNKNOWN;
    for (uint32_t i = 0; i < reader_count; ++i) {
        error = readers[i](cursor->task, cursor->image_list, &cursor->frame,
                           cursor->depth == 1 ? nullptr : &cursor->prev_frame, &next);
        if (error == PLFRAME_ESUCCESS) break;
    }
    if (error != PLFRAME_ESUCCESS) return error;
    if (!qcrash_async_thread_state_has_reg(&next, QCRASH_REG_IP) ||
        qcrash_async_thread_state_get_reg(&next, QCRASH_REG_IP) <= qcrash_async_page_size()) {
        return PLFRAME_ENOFRAME;
    }
    qcrash_async_thread_state_copy(&cursor->prev_frame, &cursor->frame);
    qcrash_async_thread_state_copy(&cursor->frame, &next);
    ++cursor->depth;
    return PLFRAME_ESUCCESS;
}

plframe_error_t plframe_cursor_next(plframe_cursor_t* cursor) {
    static constexpr plframe_cursor_frame_reader_t kReaders[] = {
        plframe_cursor_read_compact_unwind,
        plframe_cursor_read_dwarf_unwind,
        plframe_cursor_read_frame_ptr,
    };
    return plframe_cursor_next_with_readers(cursor, kReaders, 3);
}

plframe_error_t plframe_cursor_get_reg(const plframe_cursor_t* cursor, uint32_t reg, uint64_t* value) {
    if (reg >= cursor->frame.reg_count) return PLFRAME_EBADREG;
    if (!qcrash_async_thread_state_has_reg(&cursor->frame, reg)) return PLFRAME_ENOTSUP;
    *value = qcrash_async_thread_state_get_reg(&cursor->frame, reg);
    return PLFRAME_ESUCCESS;
}

const char* plframe_cursor_get_regname(const plframe_cursor_t* cursor, uint32_t reg) {
    return qcrash_async_thread_state_get_reg_name(&cursor->frame, reg);
}

uint32_t plframe_cursor_get_regcount(const plframe_cursor_t* cursor) {
    return qcrash_async_thread_state_get_reg_count(&cursor->frame);
}

void plframe_cursor_free(plframe_cursor_t*) {}

}  // namespace tervolo::crash
