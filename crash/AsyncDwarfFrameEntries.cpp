// The DWARF reader's entries: CIEs and FDEs, and the search of a frame section
// for the FDE that covers a pc.

#include "crash/AsyncDwarf.hpp"
#include "crash/AsyncDwarfStream.hpp"

namespace tervolo::crash {

using detail::openStream;
using detail::readEntryLength;
using detail::Stream;

// ---- CIE and FDE ----

template <typename machine_ptr>
qcrash_error_t qcrash_async_dwarf_cie_info_init(qcrash_async_dwarf_cie_info_t* info,
                                                const qcrash_async_mobject_t* mobj,
                                                const qcrash_async_byteorder_t* byteorder,
                                                const gnu_ehptr_reader<machine_ptr>* ptr_reader,
                                                qcrash_vm_address_t address) {
    qcrash_async_memset(info, 0, sizeof *info);
    uint64_t length;
    bool is64;
    uint32_t lengthSize;
    qcrash_error_t error = readEntryLength(mobj, byteorder, address, &length, &is64, &lengthSize);
    if (error != QCRASH_ESUCCESS) return error;
    const qcrash_vm_address_t body = address + lengthSize;
    info->cie_offset = body - mobj->task_address;
    info->cie_length = length;
    Stream s;
    error = openStream(mobj, byteorder, body, 0, length, &s);
    if (error != QCRASH_ESUCCESS) return error;

    uint64_t id;
    if ((error = s.fixed(is64 ? 8 : 4, &id)) != QCRASH_ESUCCESS) return error;
    const uint64_t allOnes = is64 ? ~0ull : 0xFFFFFFFFull;
    if (id != 0 && id != allOnes) return QCRASH_EINVAL;
    info->cie_id = id;
    if ((error = s.u8(&info->cie_version)) != QCRASH_ESUCCESS) return error;
    if (info->cie_version != 1 && info->cie_version != 3 && info->cie_version != 4) return QCRASH_EINVAL;

    // The augmentation string; only "" and "z..." are understood.
    const qcrash_vm_address_t augmentation = s.pos;
    uint8_t c;
    if ((error = s.u8(&c)) != QCRASH_ESUCCESS) return error;
    if (c != 0 && c != 'z') return QCRASH_ENOTSUP;
    info->has_eh_augmentation = c == 'z';
    while (c != 0) {
        if ((error = s.u8(&c)) != QCRASH_ESUCCESS) return error;
    }
    if (info->cie_version == 4) {
        if ((error = s.u8(&info->address_size)) != QCRASH_ESUCCESS) return error;
        if ((error = s.u8(&info->segment_size)) != QCRASH_ESUCCESS) return error;
    }
    if ((error = s.uleb(&info->code_alignment_factor)) != QCRASH_ESUCCESS) return error;
    if ((error = s.sleb(&info->data_alignment_factor)) != QCRASH_ESUCCESS) return error;
    if ((error = s.uleb(&info->return_address_register)) != QCRASH_ESUCCESS) return error;

    if (info->has_eh_augmentation) {
        uint64_t dataLength;
        if ((error = s.uleb(&dataLength)) != QCRASH_ESUCCESS) return error;
        const qcrash_vm_address_t dataEnd = s.pos + dataLength;
        if (dataEnd < s.pos || dataEnd > s.end) return QCRASH_EINVAL;
        // Letters after "z", read again from the string.
        for (qcrash_vm_address_t letter = augmentation + 1;; ++letter) {
            uint8_t l;
            if ((error = qcrash_async_mobject_read_uint8(mobj, letter, 0, &l)) != QCRASH_ESUCCESS)
                return error;
            if (l == 'L') {
                info->has_lsda_encoding = true;
                if ((error = s.u8(&info->lsda_encoding)) != QCRASH_ESUCCESS) return error;
            } else if (l == 'P') {
                uint8_t encoding;
                if ((error = s.u8(&encoding)) != QCRASH_ESUCCESS) return error;
                machine_ptr personality;
                qcrash_vm_size_t size;
                if ((error = ptr_reader->read(mobj, s.pos, 0, encoding, &personality, &size)) !=
                    QCRASH_ESUCCESS) {
                    return error;
                }
                s.pos += size;
                info->has_personality_address = true;
                info->personality_address = personality;
            } else if (l == 'R') {
                info->has_pointer_encoding = true;
                if ((error = s.u8(&info->pointer_encoding)) != QCRASH_ESUCCESS) return error;
            } else if (l == 'S') {
                info->signal_frame = true;
            } else {
                break;  // the end, or a letter we do not know: the data length skips the rest
            }
        }
        s.pos = dataEnd;
    }
    if (s.pos > s.end) return QCRASH_EINVAL;
    info->initial_instructions_offset = s.pos - mobj->task_address;
    info->initial_instructions_length = s.end - s.pos;
    return QCRASH_ESUCCESS;
}

void qcrash_async_dwarf_cie_info_free(qcrash_async_dwarf_cie_info_t*) {}

uint64_t qcrash_async_dwarf_cie_info_initial_instructions_offset(const qcrash_async_dwarf_cie_info_t* info) {
    return info->initial_instructions_offset;
}
uint64_t qcrash_async_dwarf_cie_info_initial_instructions_length(const qcrash_async_dwarf_cie_info_t* info) {
    return info->initial_instructions_length;
}

namespace {

// The CIE an FDE names (the task address of its length field).
qcrash_vm_address_t ciePosition(const qcrash_async_mobject_t* mobj, qcrash_vm_address_t pointerField,
                                uint64_t pointer, bool debug_frame) {
    return debug_frame ? mobj->task_address + pointer : pointerField - pointer;
}

}  // namespace

namespace {

// The CIE parsed last: FDEs of one table share a handful of CIEs, and
// parsing one may read task memory (an indirect personality pointer).
struct CieCache {
    bool valid = false;
    qcrash_vm_address_t address = 0;
    qcrash_async_dwarf_cie_info_t cie;
};

template <typename machine_ptr>
qcrash_error_t parseFde(qcrash_async_dwarf_fde_info_t* info, const qcrash_async_mobject_t* mobj,
                        const qcrash_async_byteorder_t* byteorder, qcrash_vm_address_t fde_address,
                        bool debug_frame, CieCache* cache) {
    qcrash_async_memset(info, 0, sizeof *info);
    uint64_t length;
    bool is64;
    uint32_t lengthSize;
    qcrash_error_t error = readEntryLength(mobj, byteorder, fde_address, &length, &is64, &lengthSize);
    if (error != QCRASH_ESUCCESS) return error;
    const qcrash_vm_address_t body = fde_address + lengthSize;
    info->fde_offset = body - mobj->task_address;
    info->fde_length = length;
    Stream s;
    if ((error = openStream(mobj, byteorder, body, 0, length, &s)) != QCRASH_ESUCCESS) return error;

    uint64_t pointer;
    const qcrash_vm_address_t pointerField = s.pos;
    if ((error = s.fixed(is64 ? 8 : 4, &pointer)) != QCRASH_ESUCCESS) return error;
    const qcrash_vm_address_t cieAddress = ciePosition(mobj, pointerField, pointer, debug_frame);
    info->cie_offset = cieAddress - mobj->task_address;

    const auto ptrReader = qcrash_async_dwarf_section_ptr_reader<machine_ptr>(mobj, byteorder);
    if (!cache->valid || cache->address != cieAddress) {
        cache->valid = false;
        if ((error = qcrash_async_dwarf_cie_info_init(&cache->cie, mobj, byteorder, &ptrReader,
                                                      cieAddress)) != QCRASH_ESUCCESS) {
            return error;
        }
        cache->valid = true;
        cache->address = cieAddress;
    }
    const qcrash_async_dwarf_cie_info_t& cie = cache->cie;
    const uint8_t encoding = (cie.has_eh_augmentation && cie.has_pointer_encoding)
                                 ? cie.pointer_encoding
                                 : static_cast<uint8_t>(DW_EH_PE_absptr);
    machine_ptr start;
    machine_ptr range;
    qcrash_vm_size_t size;
    if ((error = ptrReader.read(mobj, s.pos, 0, encoding, &start, &size)) != QCRASH_ESUCCESS) return error;
    s.pos += size;
    if ((error = ptrReader.read(mobj, s.pos, 0, encoding & 0x0F, &range, &size)) != QCRASH_ESUCCESS)
        return error;
    s.pos += size;
    machine_ptr end;
    if (__builtin_add_overflow(start, range, &end)) return QCRASH_EINVAL;
    info->pc_start = start;
    info->pc_end = end;
    if (cie.has_eh_augmentation) {
        uint64_t dataLength;
        if ((error = s.uleb(&dataLength)) != QCRASH_ESUCCESS) return error;
        if (dataLength > s.end - s.pos) return QCRASH_EINVAL;
        s.pos += dataLength;
    }
    if (s.pos > s.end) return QCRASH_EINVAL;
    info->instructions_offset = s.pos - mobj->task_address;
    info->instructions_length = s.end - s.pos;
    return QCRASH_ESUCCESS;
}

}  // namespace

template <typename machine_ptr>
qcrash_error_t qcrash_async_dwarf_fde_info_init(qcrash_async_dwarf_fde_info_t* info,
                                                const qcrash_async_mobject_t* mobj,
                                                const qcrash_async_byteorder_t* byteorder,
                                                qcrash_vm_address_t fde_address, bool debug_frame) {
    CieCache cache;
    return parseFde<machine_ptr>(info, mobj, byteorder, fde_address, debug_frame, &cache);
}

void qcrash_async_dwarf_fde_info_free(qcrash_async_dwarf_fde_info_t*) {}
uint64_t qcrash_async_dwarf_fde_info_instructions_offset(const qcrash_async_dwarf_fde_info_t* info) {
    return info->instructions_offset;
}
uint64_t qcrash_async_dwarf_fde_info_instructions_length(const qcrash_async_dwarf_fde_info_t* info) {
    return info->instructions_length;
}

template <typename machine_ptr>
qcrash_error_t dwarf_frame_reader<machine_ptr>::init(const qcrash_async_mobject_t* mobj,
                                                     const qcrash_async_byteorder_t* byteorder, bool m64,
                                                     bool debug_frame) {
    mobj_ = mobj;
    byteorder_ = byteorder;
    m64_ = m64;
    debug_frame_ = debug_frame;
    return QCRASH_ESUCCESS;
}

template <typename machine_ptr>
qcrash_error_t dwarf_frame_reader<machine_ptr>::find_fde(qcrash_vm_off_t offset, machine_ptr pc,
                                                         qcrash_async_dwarf_fde_info_t* fde_info) const {
    const qcrash_vm_address_t sectionEnd = mobj_->task_address + mobj_->length;
    qcrash_vm_address_t entry;
    if (!qcrash_async_address_apply_offset(mobj_->task_address, offset, &entry)) return QCRASH_EINVAL;
    CieCache cache;
    while (entry < sectionEnd) {
        uint64_t length;
        bool is64;
        uint32_t lengthSize;
        qcrash_error_t error = readEntryLength(mobj_, byteorder_, entry, &length, &is64, &lengthSize);
        if (error != QCRASH_ESUCCESS) return error;
        if (length == 0) return QCRASH_ENOTFOUND;  // the terminator
        uint64_t id;
        if (is64) {
            error = qcrash_async_mobject_read_uint64(mobj_, byteorder_, entry + lengthSize, 0, &id);
        } else {
            uint32_t id32;
            error = qcrash_async_mobject_read_uint32(mobj_, byteorder_, entry + lengthSize, 0, &id32);
            id = id32;
        }
        if (error != QCRASH_ESUCCESS) return error;
        const uint64_t cieMark = debug_frame_ ? (is64 ? ~0ull : 0xFFFFFFFFull) : 0;
        if (id != cieMark) {
            error = qcrash_async_dwarf_fde_info_init<machine_ptr>(fde_info, mobj_, byteorder_, entry,
                                                                  debug_frame_);
            if (error != QCRASH_ESUCCESS) return error;
            if (fde_info->pc_start <= pc && pc < fde_info->pc_end) return QCRASH_ESUCCESS;
        }
        qcrash_vm_address_t next;
        if (__builtin_add_overflow(entry + lengthSize, length, &next)) return QCRASH_ENOTFOUND;
        entry = next;
    }
    return QCRASH_ENOTFOUND;
}

// ---- the two widths ----

template class dwarf_frame_reader<uint32_t>;
template class dwarf_frame_reader<uint64_t>;
template qcrash_error_t qcrash_async_dwarf_cie_info_init<uint32_t>(qcrash_async_dwarf_cie_info_t*,
                                                                   const qcrash_async_mobject_t*,
                                                                   const qcrash_async_byteorder_t*,
                                                                   const gnu_ehptr_reader<uint32_t>*,
                                                                   qcrash_vm_address_t);
template qcrash_error_t qcrash_async_dwarf_cie_info_init<uint64_t>(qcrash_async_dwarf_cie_info_t*,
                                                                   const qcrash_async_mobject_t*,
                                                                   const qcrash_async_byteorder_t*,
                                                                   const gnu_ehptr_reader<uint64_t>*,
                                                                   qcrash_vm_address_t);
template qcrash_error_t qcrash_async_dwarf_fde_info_init<uint32_t>(qcrash_async_dwarf_fde_info_t*,
                                                                   const qcrash_async_mobject_t*,
                                                                   const qcrash_async_byteorder_t*,
                                                                   qcrash_vm_address_t, bool);
template qcrash_error_t qcrash_async_dwarf_fde_info_init<uint64_t>(qcrash_async_dwarf_fde_info_t*,
                                                                   const qcrash_async_mobject_t*,
                                                                   const qcrash_async_byteorder_t*,
                                                                   qcrash_vm_address_t, bool);

}  // namespace tervolo::crash
