#include "crash/AsyncDwarf.hpp"

namespace tervolo::crash {

// ---- LEB128 ----

namespace {

// Reads LEB128 bytes through `readByte`; `signedValue` sign-extends.
template <typename ReadByte>
qcrash_error_t readLeb(ReadByte readByte, bool signedValue, uint64_t* result, qcrash_vm_size_t* size) {
    uint64_t value = 0;
    unsigned shift = 0;
    for (uint32_t i = 0;; ++i) {
        if (i == 10) return QCRASH_ENOTSUP;  // more than 64 bits
        uint8_t byte;
        const qcrash_error_t error = readByte(i, &byte);
        if (error != QCRASH_ESUCCESS) return error;
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        shift += 7;
        if ((byte & 0x80) == 0) {
            if (signedValue && shift < 64 && (byte & 0x40) != 0) value |= ~0ull << shift;
            *result = value;
            *size = i + 1;
            return QCRASH_ESUCCESS;
        }
    }
}

}  // namespace

qcrash_error_t qcrash_async_dwarf_read_uleb128(const qcrash_async_mobject_t* mobj,
                                               qcrash_vm_address_t location, qcrash_vm_off_t offset,
                                               uint64_t* result, qcrash_vm_size_t* size) {
    return readLeb(
        [&](uint32_t i, uint8_t* byte) {
            return qcrash_async_mobject_read_uint8(mobj, location, offset + static_cast<qcrash_vm_off_t>(i),
                                                   byte);
        },
        false, result, size);
}

qcrash_error_t qcrash_async_dwarf_read_sleb128(const qcrash_async_mobject_t* mobj,
                                               qcrash_vm_address_t location, qcrash_vm_off_t offset,
                                               int64_t* result, qcrash_vm_size_t* size) {
    uint64_t value;
    const qcrash_error_t error = readLeb(
        [&](uint32_t i, uint8_t* byte) {
            return qcrash_async_mobject_read_uint8(mobj, location, offset + static_cast<qcrash_vm_off_t>(i),
                                                   byte);
        },
        true, &value, size);
    if (error == QCRASH_ESUCCESS) *result = static_cast<int64_t>(value);
    return error;
}

namespace {

// A LEB128 value straight from task memory, through a one-page object.
template <typename Value, typename Read>
qcrash_error_t readTaskLeb(qcrash_task_t task, qcrash_vm_address_t location, qcrash_vm_off_t offset,
                           Value* result, qcrash_vm_size_t* size, Read read) {
    qcrash_vm_address_t at;
    if (!qcrash_async_address_apply_offset(location, offset, &at)) return QCRASH_EINVAL;
    qcrash_async_mobject_t mobj;
    const qcrash_error_t mapped = qcrash_async_mobject_init(&mobj, task, at, qcrash_async_page_size(), false);
    if (mapped != QCRASH_ESUCCESS) return mapped;
    const qcrash_error_t error = read(&mobj, at, 0, result, size);
    qcrash_async_mobject_free(&mobj);
    return error;
}

}  // namespace

qcrash_error_t qcrash_async_dwarf_read_task_uleb128(qcrash_task_t task, qcrash_vm_address_t location,
                                                    qcrash_vm_off_t offset, uint64_t* result,
                                                    qcrash_vm_size_t* size) {
    return readTaskLeb(task, location, offset, result, size, qcrash_async_dwarf_read_uleb128);
}

qcrash_error_t qcrash_async_dwarf_read_task_sleb128(qcrash_task_t task, qcrash_vm_address_t location,
                                                    qcrash_vm_off_t offset, int64_t* result,
                                                    qcrash_vm_size_t* size) {
    return readTaskLeb(task, location, offset, result, size, qcrash_async_dwarf_read_sleb128);
}

// ---- fixed-width reads ----

namespace {

qcrash_error_t readUnsigned(const qcrash_async_mobject_t* mobj, const qcrash_async_byteorder_t* order,
                            qcrash_vm_address_t at, uint32_t bytes, uint64_t* value) {
    qcrash_error_t error;
    switch (bytes) {
        case 1: {
            uint8_t v;
            error = qcrash_async_mobject_read_uint8(mobj, at, 0, &v);
            *value = v;
            break;
        }
        case 2: {
            uint16_t v;
            error = qcrash_async_mobject_read_uint16(mobj, order, at, 0, &v);
            *value = v;
            break;
        }
        case 4: {
            uint32_t v;
            error = qcrash_async_mobject_read_uint32(mobj, order, at, 0, &v);
            *value = v;
            break;
        }
        default: {
            uint64_t v;
            error = qcrash_async_mobject_read_uint64(mobj, order, at, 0, &v);
            *value = v;
            break;
        }
    }
    return error;
}

uint64_t signExtend(uint64_t value, uint32_t bytes) {
    if (bytes >= 8) return value;
    const unsigned bits = bytes * 8;
    const uint64_t sign = 1ull << (bits - 1);
    return (value ^ sign) - sign;
}

// A read position in a range [pos, end) of a memory object.
struct Stream {
    const qcrash_async_mobject_t* mobj;
    const qcrash_async_byteorder_t* order;
    qcrash_vm_address_t pos;
    qcrash_vm_address_t end;

    bool done() const { return pos >= end; }

    qcrash_error_t fixed(uint32_t bytes, uint64_t* value) {
        if (end - pos < bytes || pos > end) return QCRASH_EINVAL;
        const qcrash_error_t error = readUnsigned(mobj, order, pos, bytes, value);
        if (error == QCRASH_ESUCCESS) pos += bytes;
        return error;
    }
    qcrash_error_t u8(uint8_t* value) {
        uint64_t v = 0;
        const qcrash_error_t error = fixed(1, &v);
        *value = static_cast<uint8_t>(v);
        return error;
    }
    qcrash_error_t uleb(uint64_t* value) {
        qcrash_vm_size_t size;
        const qcrash_error_t error = qcrash_async_dwarf_read_uleb128(mobj, pos, 0, value, &size);
        if (error != QCRASH_ESUCCESS) return error;
        if (size > end - pos) return QCRASH_EINVAL;
        pos += size;
        return QCRASH_ESUCCESS;
    }
    qcrash_error_t sleb(int64_t* value) {
        qcrash_vm_size_t size;
        const qcrash_error_t error = qcrash_async_dwarf_read_sleb128(mobj, pos, 0, value, &size);
        if (error != QCRASH_ESUCCESS) return error;
        if (size > end - pos) return QCRASH_EINVAL;
        pos += size;
        return QCRASH_ESUCCESS;
    }
};

// A stream over [address + offset, + length) that must lie in the object.
qcrash_error_t openStream(const qcrash_async_mobject_t* mobj, const qcrash_async_byteorder_t* order,
                          qcrash_vm_address_t address, qcrash_vm_off_t offset, qcrash_vm_size_t length,
                          Stream* stream) {
    qcrash_vm_address_t start;
    if (!qcrash_async_address_apply_offset(address, offset, &start)) return QCRASH_EINVAL;
    if (start + length < start) return QCRASH_EINVAL;
    if (length > 0 && qcrash_async_mobject_remap_address(mobj, start, 0, length) == nullptr)
        return QCRASH_EINVAL;
    *stream = Stream{mobj, order, start, start + length};
    return QCRASH_ESUCCESS;
}

// The length field of an entry: 32 bits, or 64 after 0xFFFFFFFF.
qcrash_error_t readEntryLength(const qcrash_async_mobject_t* mobj, const qcrash_async_byteorder_t* order,
                               qcrash_vm_address_t at, uint64_t* length, bool* is64, uint32_t* fieldSize) {
    uint32_t short_length;
    qcrash_error_t error = qcrash_async_mobject_read_uint32(mobj, order, at, 0, &short_length);
    if (error != QCRASH_ESUCCESS) return error;
    if (short_length != 0xFFFFFFFFu) {
        *length = short_length;
        *is64 = false;
        *fieldSize = 4;
        return QCRASH_ESUCCESS;
    }
    error = qcrash_async_mobject_read_uint64(mobj, order, at, 4, length);
    *is64 = true;
    *fieldSize = 12;
    return error;
}

}  // namespace

// ---- pointer encodings ----

template <typename machine_ptr>
qcrash_error_t gnu_ehptr_reader<machine_ptr>::read(const qcrash_async_mobject_t* mobj,
                                                   qcrash_vm_address_t location, qcrash_vm_off_t offset,
                                                   uint8_t encoding, machine_ptr* result,
                                                   qcrash_vm_size_t* size) const {
    if (encoding == DW_EH_PE_omit) return QCRASH_ENOTFOUND;
    qcrash_vm_address_t at;
    if (!qcrash_async_address_apply_offset(location, offset, &at)) return QCRASH_EINVAL;
    constexpr uint32_t width = sizeof(machine_ptr);

    machine_ptr base = 0;
    qcrash_vm_size_t padding = 0;
    switch (encoding & 0x70) {
        case DW_EH_PE_absptr:
            break;
        case DW_EH_PE_pcrel:
            base = static_cast<machine_ptr>(at);
            break;
        case DW_EH_PE_textrel:
            if (!text_.set) return QCRASH_ENOTSUP;
            base = text_.value;
            break;
        case DW_EH_PE_datarel:
            if (!data_.set) return QCRASH_ENOTSUP;
            base = data_.value;
            break;
        case DW_EH_PE_funcrel:
            if (!func_.set) return QCRASH_ENOTSUP;
            base = func_.value;
            break;
        case DW_EH_PE_aligned: {
            if (!frame_section_.set) return QCRASH_ENOTSUP;
            const uint64_t within = at - frame_section_.value;
            const uint64_t aligned = (within + width - 1) & ~uint64_t{width - 1};
            padding = aligned - within;
            uint64_t value;
            const qcrash_error_t error = readUnsigned(mobj, byteorder_, at + padding, width, &value);
            if (error != QCRASH_ESUCCESS) return error;
            *result = static_cast<machine_ptr>(value);
            *size = padding + width;
            return QCRASH_ESUCCESS;
        }
        default:
            return QCRASH_ENOTSUP;
    }

    uint64_t raw = 0;
    qcrash_vm_size_t bytes = 0;
    *size = 0;
    qcrash_error_t error = QCRASH_ESUCCESS;
    switch (encoding & 0x0F) {
        case DW_EH_PE_absptr:
            bytes = width;
            error = readUnsigned(mobj, byteorder_, at, width, &raw);
            break;
        case DW_EH_PE_uleb128:
            error = qcrash_async_dwarf_read_uleb128(mobj, at, 0, &raw, &bytes);
            break;
        case DW_EH_PE_udata2:
        case DW_EH_PE_udata4:
        case DW_EH_PE_udata8:
            bytes = 1u << ((encoding & 0x0F) - 1);
            error = readUnsigned(mobj, byteorder_, at, static_cast<uint32_t>(bytes), &raw);
            break;
        case DW_EH_PE_sleb128: {
            int64_t v;
            error = qcrash_async_dwarf_read_sleb128(mobj, at, 0, &v, &bytes);
            raw = static_cast<uint64_t>(v);
            break;
        }
        case DW_EH_PE_sdata2:
        case DW_EH_PE_sdata4:
        case DW_EH_PE_sdata8:
            bytes = 1u << ((encoding & 0x0F) - 9);
            error = readUnsigned(mobj, byteorder_, at, static_cast<uint32_t>(bytes), &raw);
            raw = signExtend(raw, static_cast<uint32_t>(bytes));
            break;
        default:
            return QCRASH_ENOTSUP;
    }
    if (error != QCRASH_ESUCCESS) return error;
    machine_ptr value = static_cast<machine_ptr>(base + static_cast<machine_ptr>(raw));
    if ((encoding & DW_EH_PE_indirect) != 0) {
        // The value is where the pointer lies; it has the target's width.
        machine_ptr target = 0;
        error = qcrash_async_task_memcpy(mobj->task, value, 0, &target, sizeof target);
        if (error != QCRASH_ESUCCESS) return error;
        value = byteorder_ == qcrash_async_byteorder_little_endian() ? target
                : sizeof(machine_ptr) == 8
                    ? static_cast<machine_ptr>(byteorder_->swap64(target))
                    : static_cast<machine_ptr>(byteorder_->swap32(static_cast<uint32_t>(target)));
    }
    *result = value;
    *size = bytes;
    return QCRASH_ESUCCESS;
}

template <typename machine_ptr>
gnu_ehptr_reader<machine_ptr> qcrash_async_dwarf_section_ptr_reader(
    const qcrash_async_mobject_t* mobj, const qcrash_async_byteorder_t* byteorder) {
    gnu_ehptr_reader<machine_ptr> reader(byteorder);
    reader.set_frame_section_base(static_cast<machine_ptr>(mobj->task_address),
                                  static_cast<machine_ptr>(mobj->task_address));
    return reader;
}

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

// ---- rule state ----

template <typename machine_ptr, typename machine_ptr_s>
dwarf_cfa_state<machine_ptr, machine_ptr_s>::dwarf_cfa_state() {
    for (uint32_t i = 0; i < kPoolSize; ++i)
        pool_[i].next = static_cast<uint8_t>(i + 1 < kPoolSize ? i + 1 : kNone);
    free_ = 0;
    for (auto& state : states_) {
        state.cfa = qcrash_dwarf_cfa_rule_t{QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 0, 0};
        for (auto& b : state.buckets) b = kNone;
    }
}

template <typename machine_ptr, typename machine_ptr_s>
uint8_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::allocate() {
    const uint8_t index = free_;
    if (index != kNone) free_ = pool_[index].next;
    return index;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::release(uint8_t index) {
    pool_[index].next = free_;
    free_ = index;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::clearState(State* state) {
    for (auto& head : state->buckets) {
        while (head != kNone) {
            const uint8_t next = pool_[head].next;
            release(head);
            head = next;
        }
    }
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_register(uint32_t regnum,
                                                               qcrash_dwarf_cfa_reg_rule_t rule,
                                                               machine_ptr value) {
    uint8_t* head = &states_[depth_].buckets[regnum % kBuckets];
    for (uint8_t i = *head; i != kNone; i = pool_[i].next) {
        if (pool_[i].regnum == regnum) {
            pool_[i].rule = rule;
            pool_[i].value = value;
            return true;
        }
    }
    const uint8_t index = allocate();
    if (index == kNone) return false;
    pool_[index] = Entry{regnum, rule, value, *head};
    *head = index;
    return true;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::get_register_rule(uint32_t regnum,
                                                                    qcrash_dwarf_cfa_reg_rule_t* rule,
                                                                    machine_ptr* value) const {
    for (uint8_t i = states_[depth_].buckets[regnum % kBuckets]; i != kNone; i = pool_[i].next) {
        if (pool_[i].regnum == regnum) {
            *rule = pool_[i].rule;
            *value = pool_[i].value;
            return true;
        }
    }
    return false;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::remove_register(uint32_t regnum) {
    uint8_t* link = &states_[depth_].buckets[regnum % kBuckets];
    while (*link != kNone) {
        const uint8_t i = *link;
        if (pool_[i].regnum == regnum) {
            *link = pool_[i].next;
            release(i);
            return;
        }
        link = &pool_[i].next;
    }
}

template <typename machine_ptr, typename machine_ptr_s>
uint32_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::get_register_count() const {
    uint32_t count = 0;
    for (uint8_t head : states_[depth_].buckets) {
        for (uint8_t i = head; i != kNone; i = pool_[i].next) ++count;
    }
    return count;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_register(uint32_t regnum, machine_ptr offset) {
    states_[depth_].cfa = {QCRASH_DWARF_CFA_RULE_REGISTER_UNSIGNED, regnum, static_cast<int64_t>(offset), 0,
                           0};
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_register_signed(uint32_t regnum,
                                                                          machine_ptr_s offset) {
    states_[depth_].cfa = {QCRASH_DWARF_CFA_RULE_REGISTER_SIGNED, regnum, static_cast<int64_t>(offset), 0, 0};
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_expression(qcrash_vm_address_t address,
                                                                     uint64_t length) {
    states_[depth_].cfa = {QCRASH_DWARF_CFA_RULE_EXPRESSION, 0, 0, address, length};
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::push_state() {
    if (depth_ + 1 >= kMaxStates) return false;
    State& from = states_[depth_];
    State& to = states_[depth_ + 1];
    to.cfa = from.cfa;
    for (auto& b : to.buckets) b = kNone;
    for (uint32_t b = 0; b < kBuckets; ++b) {
        for (uint8_t i = from.buckets[b]; i != kNone; i = pool_[i].next) {
            const uint8_t copy = allocate();
            if (copy == kNone) {
                clearState(&to);
                return false;
            }
            pool_[copy] = Entry{pool_[i].regnum, pool_[i].rule, pool_[i].value, to.buckets[b]};
            to.buckets[b] = copy;
        }
    }
    ++depth_;
    return true;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::pop_state() {
    if (depth_ == 0) return false;
    clearState(&states_[depth_]);
    --depth_;
    return true;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::iterator::next(uint32_t* regnum,
                                                                 qcrash_dwarf_cfa_reg_rule_t* rule,
                                                                 machine_ptr* value) {
    const State& state = state_->states_[state_->depth_];
    if (started_ && entry_ != kNone) entry_ = state_->pool_[entry_].next;
    started_ = true;
    while (entry_ == kNone) {
        if (bucket_ >= kBuckets) return false;
        entry_ = state.buckets[bucket_++];
    }
    *regnum = state_->pool_[entry_].regnum;
    *rule = state_->pool_[entry_].rule;
    *value = state_->pool_[entry_].value;
    return true;
}

// ---- the call-frame program ----

template <typename machine_ptr, typename machine_ptr_s>
qcrash_error_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::eval_program(
    const qcrash_async_mobject_t* mobj, machine_ptr pc, machine_ptr initial_location,
    const qcrash_async_dwarf_cie_info_t* cie, const gnu_ehptr_reader<machine_ptr>* ptr_reader,
    const qcrash_async_byteorder_t* byteorder, qcrash_vm_address_t address, qcrash_vm_off_t offset,
    qcrash_vm_size_t length) {
    // The rules as they stand, for the restore instructions.
    struct Saved {
        uint32_t regnum;
        qcrash_dwarf_cfa_reg_rule_t rule;
        machine_ptr value;
    } initial[kPoolSize];
    uint32_t initialCount = 0;
    {
        iterator it(this);
        uint32_t r;
        qcrash_dwarf_cfa_reg_rule_t rule;
        machine_ptr value;
        while (it.next(&r, &rule, &value)) {
            if (initialCount == kPoolSize) return QCRASH_ENOMEM;
            initial[initialCount++] = {r, rule, value};
        }
    }
    auto restore = [&](uint64_t regnum) {
        for (uint32_t i = 0; i < initialCount; ++i) {
            if (initial[i].regnum == regnum) {
                return set_register(static_cast<uint32_t>(regnum), initial[i].rule, initial[i].value);
            }
        }
        remove_register(static_cast<uint32_t>(regnum));
        return true;
    };

    Stream s;
    qcrash_error_t error = openStream(mobj, byteorder, address, offset, length, &s);
    if (error != QCRASH_ESUCCESS) return error;
    machine_ptr location = initial_location;
    if (pc != 0 && location > pc) return QCRASH_ESUCCESS;

    const machine_ptr caf = static_cast<machine_ptr>(cie->code_alignment_factor);
    const int64_t daf = cie->data_alignment_factor;
    // Factored offsets wrap like the target's arithmetic; hostile tables
    // must not overflow a signed multiplication.
    auto scaled = [](uint64_t value, int64_t factor) {
        return static_cast<int64_t>(value * static_cast<uint64_t>(factor));
    };
    auto regOperand = [&](uint32_t* reg) {
        uint64_t r;
        const qcrash_error_t e = s.uleb(&r);
        if (e != QCRASH_ESUCCESS) return e;
        if (r > UINT32_MAX) return QCRASH_ENOTSUP;
        *reg = static_cast<uint32_t>(r);
        return QCRASH_ESUCCESS;
    };
    auto setRule = [&](uint32_t reg, qcrash_dwarf_cfa_reg_rule_t rule, machine_ptr value) {
        return set_register(reg, rule, value) ? QCRASH_ESUCCESS : QCRASH_ENOMEM;
    };
    auto cfaIsRegister = [&]() {
        const auto type = states_[depth_].cfa.type;
        return type == QCRASH_DWARF_CFA_RULE_REGISTER_UNSIGNED ||
               type == QCRASH_DWARF_CFA_RULE_REGISTER_SIGNED;
    };

    while (!s.done()) {
        uint8_t op;
        if ((error = s.u8(&op)) != QCRASH_ESUCCESS) return error;
        const uint8_t high = op & 0xC0;
        const uint8_t low = op & 0x3F;
        uint32_t reg = 0;
        uint64_t u = 0;
        int64_t sv = 0;
        if (high == 0x40) {  // advance_loc
            location += static_cast<machine_ptr>(low * caf);
        } else if (high == 0x80) {  // offset
            if ((error = s.uleb(&u)) != QCRASH_ESUCCESS) return error;
            if ((error = setRule(low, QCRASH_DWARF_CFA_REG_RULE_OFFSET,
                                 static_cast<machine_ptr>(scaled(u, daf)))) != QCRASH_ESUCCESS)
                return error;
        } else if (high == 0xC0) {  // restore
            if (!restore(low)) return QCRASH_ENOMEM;
        } else {
            switch (op) {
                case 0x00:  // nop
                    break;
                case 0x01: {  // set_loc
                    if (cie->segment_size != 0) return QCRASH_ENOTSUP;
                    const uint8_t encoding = (cie->has_eh_augmentation && cie->has_pointer_encoding)
                                                 ? cie->pointer_encoding
                                                 : static_cast<uint8_t>(DW_EH_PE_absptr);
                    machine_ptr target;
                    qcrash_vm_size_t size;
                    if ((error = ptr_reader->read(mobj, s.pos, 0, encoding, &target, &size)) !=
                        QCRASH_ESUCCESS)
                        return error;
                    if (size > s.end - s.pos) return QCRASH_EINVAL;
                    s.pos += size;
                    location = target;
                    break;
                }
                case 0x02:
                case 0x03:
                case 0x04: {  // advance_loc1, 2, 4
                    const uint32_t bytes = op == 0x02 ? 1 : op == 0x03 ? 2 : 4;
                    if ((error = s.fixed(bytes, &u)) != QCRASH_ESUCCESS) return error;
                    location += static_cast<machine_ptr>(u * caf);
                    break;
                }
                case 0x05:  // offset_extended
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS ||
                        (error = s.uleb(&u)) != QCRASH_ESUCCESS)
                        return error;
                    if ((error = setRule(reg, QCRASH_DWARF_CFA_REG_RULE_OFFSET,
                                         static_cast<machine_ptr>(scaled(u, daf)))) != QCRASH_ESUCCESS)
                        return error;
                    break;
                case 0x06:  // restore_extended
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS) return error;
                    if (!restore(reg)) return QCRASH_ENOMEM;
                    break;
                case 0x07:  // undefined
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS) return error;
                    remove_register(reg);
                    break;
                case 0x08:  // same_value
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS) return error;
                    if ((error = setRule(reg, QCRASH_DWARF_CFA_REG_RULE_SAME_VALUE, 0)) != QCRASH_ESUCCESS)
                        return error;
                    break;
                case 0x09: {  // register
                    uint32_t other;
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS ||
                        (error = regOperand(&other)) != QCRASH_ESUCCESS)
                        return error;
                    if ((error = setRule(reg, QCRASH_DWARF_CFA_REG_RULE_REGISTER, other)) != QCRASH_ESUCCESS)
                        return error;
                    break;
                }
                case 0x0A:  // remember_state
                    if (!push_state()) return QCRASH_ENOMEM;
                    break;
                case 0x0B:  // restore_state
                    if (!pop_state()) return QCRASH_EINVAL;
                    break;
                case 0x0C:  // def_cfa
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS ||
                        (error = s.uleb(&u)) != QCRASH_ESUCCESS)
                        return error;
                    set_cfa_register(reg, static_cast<machine_ptr>(u));
                    break;
                case 0x0D: {  // def_cfa_register
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS) return error;
                    if (!cfaIsRegister()) return QCRASH_EINVAL;
                    states_[depth_].cfa.reg = reg;
                    break;
                }
                case 0x0E:  // def_cfa_offset
                    if ((error = s.uleb(&u)) != QCRASH_ESUCCESS) return error;
                    if (!cfaIsRegister()) return QCRASH_EINVAL;
                    set_cfa_register(states_[depth_].cfa.reg, static_cast<machine_ptr>(u));
                    break;
                case 0x0F: {  // def_cfa_expression
                    if ((error = s.uleb(&u)) != QCRASH_ESUCCESS) return error;
                    if (u > s.end - s.pos) return QCRASH_EINVAL;
                    set_cfa_expression(s.pos, u);
                    s.pos += u;
                    break;
                }
                case 0x2E:  // GNU_args_size
                    // Only landing pads need the size of the outgoing
                    // arguments; GCC emits it in ordinary functions, so
                    // refusing it would end the walk there.
                    if ((error = s.uleb(&u)) != QCRASH_ESUCCESS) return error;
                    break;
                case 0x10:    // expression
                case 0x16: {  // val_expression
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS) return error;
                    const qcrash_vm_address_t at = s.pos;  // the length field, then the expression
                    if ((error = s.uleb(&u)) != QCRASH_ESUCCESS) return error;
                    if (u > s.end - s.pos) return QCRASH_EINVAL;
                    s.pos += u;
                    if ((error = setRule(reg,
                                         op == 0x10 ? QCRASH_DWARF_CFA_REG_RULE_EXPRESSION
                                                    : QCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION,
                                         static_cast<machine_ptr>(at))) != QCRASH_ESUCCESS)
                        return error;
                    break;
                }
                case 0x11:  // offset_extended_sf
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS ||
                        (error = s.sleb(&sv)) != QCRASH_ESUCCESS)
                        return error;
                    if ((error = setRule(reg, QCRASH_DWARF_CFA_REG_RULE_OFFSET,
                                         static_cast<machine_ptr>(scaled(static_cast<uint64_t>(sv), daf)))) !=
                        QCRASH_ESUCCESS)
                        return error;
                    break;
                case 0x12:  // def_cfa_sf
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS ||
                        (error = s.sleb(&sv)) != QCRASH_ESUCCESS)
                        return error;
                    set_cfa_register_signed(
                        reg, static_cast<machine_ptr_s>(scaled(static_cast<uint64_t>(sv), daf)));
                    break;
                case 0x13:  // def_cfa_offset_sf
                    if ((error = s.sleb(&sv)) != QCRASH_ESUCCESS) return error;
                    if (!cfaIsRegister()) return QCRASH_EINVAL;
                    set_cfa_register_signed(states_[depth_].cfa.reg, static_cast<machine_ptr_s>(scaled(
                                                                         static_cast<uint64_t>(sv), daf)));
                    break;
                case 0x14:  // val_offset
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS ||
                        (error = s.uleb(&u)) != QCRASH_ESUCCESS)
                        return error;
                    if ((error = setRule(reg, QCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET,
                                         static_cast<machine_ptr>(scaled(u, daf)))) != QCRASH_ESUCCESS)
                        return error;
                    break;
                case 0x15:  // val_offset_sf
                    if ((error = regOperand(&reg)) != QCRASH_ESUCCESS ||
                        (error = s.sleb(&sv)) != QCRASH_ESUCCESS)
                        return error;
                    if ((error = setRule(reg, QCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET,
                                         static_cast<machine_ptr>(scaled(static_cast<uint64_t>(sv), daf)))) !=
                        QCRASH_ESUCCESS)
                        return error;
                    break;
                default:
                    return QCRASH_ENOTSUP;
            }
        }
        if (pc != 0 && location > pc) break;
    }
    return QCRASH_ESUCCESS;
}

// ---- applying the rules ----

namespace {

template <typename machine_ptr>
qcrash_error_t readTaskWord(qcrash_task_t task, uint64_t address, uint32_t size, uint64_t* value) {
    *value = 0;
    return qcrash_async_task_memcpy(task, address, 0, value, size);
}

// Maps the expression whose ULEB128 length lies at `address` and evaluates it.
template <typename machine_ptr, typename machine_ptr_s>
qcrash_error_t evalStoredExpression(qcrash_task_t task, const qcrash_async_thread_state_t* state,
                                    const qcrash_async_byteorder_t* byteorder, qcrash_vm_address_t address,
                                    uint64_t length, bool lengthIsStored, const machine_ptr* initial,
                                    uint32_t initialCount, machine_ptr* result) {
    qcrash_vm_address_t start = address;
    if (lengthIsStored) {
        qcrash_vm_size_t size;
        const qcrash_error_t error = qcrash_async_dwarf_read_task_uleb128(task, address, 0, &length, &size);
        if (error != QCRASH_ESUCCESS) return error;
        start = address + size;
    }
    qcrash_async_mobject_t mobj;
    qcrash_error_t error = qcrash_async_mobject_init(&mobj, task, start, length, true);
    if (error != QCRASH_ESUCCESS) return error;
    error = qcrash_async_dwarf_expression_eval<machine_ptr, machine_ptr_s>(
        &mobj, task, state, byteorder, start, 0, length, initial, initialCount, result);
    qcrash_async_mobject_free(&mobj);
    return error;
}

}  // namespace

template <typename machine_ptr, typename machine_ptr_s>
qcrash_error_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::apply_state(
    qcrash_task_t task, const qcrash_async_dwarf_cie_info_t* cie, const qcrash_async_thread_state_t* current,
    const qcrash_async_byteorder_t* byteorder, qcrash_async_thread_state_t* caller) const {
    qcrash_async_thread_state_copy(caller, current);
    qcrash_async_thread_state_clear_volatile_regs(caller);
    const uint32_t word = current->greg_size;

    machine_ptr cfa;
    const qcrash_dwarf_cfa_rule_t& rule = states_[depth_].cfa;
    switch (rule.type) {
        case QCRASH_DWARF_CFA_RULE_REGISTER_UNSIGNED:
        case QCRASH_DWARF_CFA_RULE_REGISTER_SIGNED: {
            uint32_t reg;
            if (!qcrash_async_thread_state_map_dwarf_to_reg(current, rule.reg, &reg)) return QCRASH_ENOTSUP;
            if (!qcrash_async_thread_state_has_reg(current, reg)) return QCRASH_ENOTFOUND;
            cfa = static_cast<machine_ptr>(qcrash_async_thread_state_get_reg(current, reg) +
                                           static_cast<machine_ptr>(rule.offset));
            break;
        }
        case QCRASH_DWARF_CFA_RULE_EXPRESSION: {
            const qcrash_error_t error = evalStoredExpression<machine_ptr, machine_ptr_s>(
                task, current, byteorder, rule.expression, rule.expression_length, false, nullptr, 0, &cfa);
            if (error != QCRASH_ESUCCESS) return error;
            break;
        }
        default:
            return QCRASH_EINVAL;
    }
    qcrash_async_thread_state_set_reg(caller, QCRASH_REG_SP, cfa);

    bool pcSet = false;
    iterator it(this);
    uint32_t dwarfReg;
    qcrash_dwarf_cfa_reg_rule_t regRule;
    machine_ptr value;
    while (it.next(&dwarfReg, &regRule, &value)) {
        const bool isReturnAddress = dwarfReg == cie->return_address_register;
        uint32_t reg;
        if (!qcrash_async_thread_state_map_dwarf_to_reg(current, dwarfReg, &reg)) {
            if (!isReturnAddress) return QCRASH_EINVAL;
            reg = QCRASH_REG_IP;
        }
        uint64_t result = 0;
        switch (regRule) {
            case QCRASH_DWARF_CFA_REG_RULE_OFFSET: {
                const qcrash_error_t error =
                    readTaskWord<machine_ptr>(task, static_cast<machine_ptr>(cfa + value), word, &result);
                if (error != QCRASH_ESUCCESS) return error;
                break;
            }
            case QCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET:
                result = static_cast<machine_ptr>(cfa + value);
                break;
            case QCRASH_DWARF_CFA_REG_RULE_REGISTER: {
                uint32_t other;
                if (!qcrash_async_thread_state_map_dwarf_to_reg(current, static_cast<uint64_t>(value),
                                                                &other)) {
                    return QCRASH_EINVAL;
                }
                if (!qcrash_async_thread_state_has_reg(current, other)) return QCRASH_ENOTFOUND;
                result = qcrash_async_thread_state_get_reg(current, other);
                break;
            }
            case QCRASH_DWARF_CFA_REG_RULE_EXPRESSION:
            case QCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION: {
                machine_ptr evaluated;
                const qcrash_error_t error = evalStoredExpression<machine_ptr, machine_ptr_s>(
                    task, current, byteorder, value, 0, true, &cfa, 1, &evaluated);
                if (error != QCRASH_ESUCCESS) return error;
                if (regRule == QCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION) {
                    result = evaluated;
                } else {
                    const qcrash_error_t read = readTaskWord<machine_ptr>(task, evaluated, word, &result);
                    if (read != QCRASH_ESUCCESS) return read;
                }
                break;
            }
            case QCRASH_DWARF_CFA_REG_RULE_SAME_VALUE:
                if (!qcrash_async_thread_state_has_reg(current, reg)) return QCRASH_ENOTFOUND;
                result = qcrash_async_thread_state_get_reg(current, reg);
                break;
        }
        qcrash_async_thread_state_set_reg(caller, reg, result);
        if (isReturnAddress) {
            qcrash_async_thread_state_set_reg(caller, QCRASH_REG_IP, result);
            pcSet = true;
        }
    }
    if (!pcSet) {
        uint32_t ra;
        if (!qcrash_async_thread_state_map_dwarf_to_reg(current, cie->return_address_register, &ra) ||
            !qcrash_async_thread_state_has_reg(current, ra)) {
            return QCRASH_EINVAL;
        }
        // Where the return-address column is the pc itself (x86), no rule
        // for it means "undefined": the outermost frame, as at a thread's
        // start. Taking the current pc would repeat this frame forever.
        if (ra == QCRASH_REG_IP) return QCRASH_ENOTFOUND;
        qcrash_async_thread_state_set_reg(caller, QCRASH_REG_IP,
                                          qcrash_async_thread_state_get_reg(current, ra));
    }
    return QCRASH_ESUCCESS;
}

// ---- expressions ----

template <typename machine_ptr, typename machine_ptr_s>
qcrash_error_t qcrash_async_dwarf_expression_eval(const qcrash_async_mobject_t* mobj, qcrash_task_t task,
                                                  const qcrash_async_thread_state_t* state,
                                                  const qcrash_async_byteorder_t* byteorder,
                                                  qcrash_vm_address_t address, qcrash_vm_off_t offset,
                                                  qcrash_vm_size_t length, const machine_ptr* initial,
                                                  uint32_t initial_count, machine_ptr* result) {
    machine_ptr stack[QCRASH_DWARF_EXPRESSION_STACK];
    uint32_t depth = 0;
    auto push = [&](machine_ptr v) {
        if (depth == QCRASH_DWARF_EXPRESSION_STACK) return false;
        stack[depth++] = v;
        return true;
    };
    auto pop = [&](machine_ptr* v) {
        if (depth == 0) return false;
        *v = stack[--depth];
        return true;
    };
    for (uint32_t i = 0; i < initial_count; ++i) {
        if (!push(initial[i])) return QCRASH_EINTERNAL;
    }
    Stream s;
    qcrash_error_t error = openStream(mobj, byteorder, address, offset, length, &s);
    if (error != QCRASH_ESUCCESS) return error;
    const qcrash_vm_address_t start = s.pos;
    constexpr unsigned bits = sizeof(machine_ptr) * 8;
    auto readTarget = [&](machine_ptr at, uint32_t size, machine_ptr* out) {
        uint64_t v = 0;
        const qcrash_error_t e = qcrash_async_task_memcpy(task, at, 0, &v, size);
        if (e != QCRASH_ESUCCESS) return e;
        if (byteorder != qcrash_async_byteorder_little_endian()) {
            v = size == 8   ? byteorder->swap64(v)
                : size == 4 ? byteorder->swap32(static_cast<uint32_t>(v))
                : size == 2 ? byteorder->swap16(static_cast<uint16_t>(v))
                            : v;
        }
        *out = static_cast<machine_ptr>(v);
        return QCRASH_ESUCCESS;
    };
    auto regValue = [&](uint64_t dwarfReg, machine_ptr* out) {
        uint32_t reg;
        if (!qcrash_async_thread_state_map_dwarf_to_reg(state, dwarfReg, &reg)) return QCRASH_ENOTSUP;
        if (!qcrash_async_thread_state_has_reg(state, reg)) return QCRASH_ENOTFOUND;
        *out = static_cast<machine_ptr>(qcrash_async_thread_state_get_reg(state, reg));
        return QCRASH_ESUCCESS;
    };

    for (uint32_t executed = 0; !s.done(); ++executed) {
        if (executed == QCRASH_DWARF_MAX_EXPRESSION_OPS) return QCRASH_ENOTSUP;
        uint8_t op;
        if ((error = s.u8(&op)) != QCRASH_ESUCCESS) return error;
        machine_ptr a, b, c;
        uint64_t u;
        int64_t sv;
        if (op >= 0x30 && op <= 0x4F) {  // lit0-31
            if (!push(op - 0x30)) return QCRASH_EINTERNAL;
            continue;
        }
        if ((op >= 0x70 && op <= 0x8F) || op == 0x92) {  // breg0-31, bregx
            uint64_t dwarfReg = op - 0x70u;
            if (op == 0x92 && (error = s.uleb(&dwarfReg)) != QCRASH_ESUCCESS) return error;
            if ((error = s.sleb(&sv)) != QCRASH_ESUCCESS) return error;
            if ((error = regValue(dwarfReg, &a)) != QCRASH_ESUCCESS) return error;
            if (!push(static_cast<machine_ptr>(a + static_cast<machine_ptr>(sv)))) return QCRASH_EINTERNAL;
            continue;
        }
        switch (op) {
            case 0x06:  // deref
                if (!pop(&a)) return QCRASH_EINVAL;
                if ((error = readTarget(a, sizeof(machine_ptr), &b)) != QCRASH_ESUCCESS) return error;
                if (!push(b)) return QCRASH_EINTERNAL;
                break;
            case 0x08:
            case 0x09:
            case 0x0A:
            case 0x0B:
            case 0x0C:
            case 0x0D:
            case 0x0E:
            case 0x0F: {  // const1u ... const8s
                const uint32_t bytes = 1u << ((op - 0x08) / 2);
                if ((error = s.fixed(bytes, &u)) != QCRASH_ESUCCESS) return error;
                if ((op & 1) != 0) u = signExtend(u, bytes);
                if (!push(static_cast<machine_ptr>(u))) return QCRASH_EINTERNAL;
                break;
            }
            case 0x10:  // constu
                if ((error = s.uleb(&u)) != QCRASH_ESUCCESS) return error;
                if (!push(static_cast<machine_ptr>(u))) return QCRASH_EINTERNAL;
                break;
            case 0x11:  // consts
                if ((error = s.sleb(&sv)) != QCRASH_ESUCCESS) return error;
                if (!push(static_cast<machine_ptr>(sv))) return QCRASH_EINTERNAL;
                break;
            case 0x12:  // dup
                if (depth == 0) return QCRASH_EINVAL;
                if (!push(stack[depth - 1])) return QCRASH_EINTERNAL;
                break;
            case 0x13:  // drop
                if (!pop(&a)) return QCRASH_EINVAL;
                break;
            case 0x14:  // over
                if (depth < 2) return QCRASH_EINVAL;
                if (!push(stack[depth - 2])) return QCRASH_EINTERNAL;
                break;
            case 0x15: {  // pick
                uint8_t index;
                if ((error = s.u8(&index)) != QCRASH_ESUCCESS) return error;
                if (index >= depth) return QCRASH_EINVAL;
                if (!push(stack[depth - 1 - index])) return QCRASH_EINTERNAL;
                break;
            }
            case 0x16:  // swap
                if (depth < 2) return QCRASH_EINVAL;
                a = stack[depth - 1];
                stack[depth - 1] = stack[depth - 2];
                stack[depth - 2] = a;
                break;
            case 0x17:  // rot: the top moves below the next two
                if (depth < 3) return QCRASH_EINVAL;
                a = stack[depth - 1];
                stack[depth - 1] = stack[depth - 2];
                stack[depth - 2] = stack[depth - 3];
                stack[depth - 3] = a;
                break;
            case 0x18:  // xderef
                if (!pop(&a) || !pop(&b)) return QCRASH_EINVAL;
                if ((error = readTarget(a, sizeof(machine_ptr), &c)) != QCRASH_ESUCCESS) return error;
                if (!push(c)) return QCRASH_EINTERNAL;
                break;
            case 0x19:  // abs
                if (!pop(&a)) return QCRASH_EINVAL;
                if (static_cast<machine_ptr_s>(a) < 0) a = static_cast<machine_ptr>(0 - a);
                push(a);
                break;
            case 0x1F:  // neg
                if (!pop(&a)) return QCRASH_EINVAL;
                push(static_cast<machine_ptr>(0 - a));
                break;
            case 0x20:  // not
                if (!pop(&a)) return QCRASH_EINVAL;
                push(static_cast<machine_ptr>(~a));
                break;
            case 0x23:  // plus_uconst
                if (!pop(&a)) return QCRASH_EINVAL;
                if ((error = s.uleb(&u)) != QCRASH_ESUCCESS) return error;
                push(static_cast<machine_ptr>(a + static_cast<machine_ptr>(u)));
                break;
            case 0x1A:
            case 0x1B:
            case 0x1C:
            case 0x1D:
            case 0x1E:
            case 0x21:
            case 0x22:
            case 0x24:
            case 0x25:
            case 0x26:
            case 0x27:
            case 0x29:
            case 0x2A:
            case 0x2B:
            case 0x2C:
            case 0x2D:
            case 0x2E: {  // binary operations: b (second) op a (top)
                if (!pop(&a) || !pop(&b)) return QCRASH_EINVAL;
                const auto sa = static_cast<machine_ptr_s>(a);
                const auto sb = static_cast<machine_ptr_s>(b);
                machine_ptr r = 0;
                switch (op) {
                    case 0x1A:
                        r = b & a;
                        break;
                    case 0x1B:  // signed division
                        if (a == 0) return QCRASH_EINVAL;
                        if (sa == -1) {
                            r = static_cast<machine_ptr>(0 - b);  // also the one overflowing case
                        } else {
                            r = static_cast<machine_ptr>(sb / sa);
                        }
                        break;
                    case 0x1C:
                        r = static_cast<machine_ptr>(b - a);
                        break;
                    case 0x1D:
                        if (a == 0) return QCRASH_EINVAL;
                        r = b % a;
                        break;
                    case 0x1E:
                        r = static_cast<machine_ptr>(b * a);
                        break;
                    case 0x21:
                        r = b | a;
                        break;
                    case 0x22:
                        r = static_cast<machine_ptr>(b + a);
                        break;
                    case 0x24:
                        r = a >= bits ? 0 : static_cast<machine_ptr>(b << a);
                        break;
                    case 0x25:
                        r = a >= bits ? 0 : static_cast<machine_ptr>(b >> a);
                        break;
                    case 0x26:
                        r = static_cast<machine_ptr>(a >= bits ? (sb < 0 ? -1 : 0) : (sb >> a));
                        break;
                    case 0x27:
                        r = b ^ a;
                        break;
                    case 0x29:
                        r = sb == sa;
                        break;
                    case 0x2A:
                        r = sb >= sa;
                        break;
                    case 0x2B:
                        r = sb > sa;
                        break;
                    case 0x2C:
                        r = sb <= sa;
                        break;
                    case 0x2D:
                        r = sb < sa;
                        break;
                    default:
                        r = sb != sa;
                        break;
                }
                push(r);
                break;
            }
            case 0x28:    // bra
            case 0x2F: {  // skip
                uint64_t raw;
                if ((error = s.fixed(2, &raw)) != QCRASH_ESUCCESS) return error;
                const auto delta = static_cast<int16_t>(raw);
                bool jump = true;
                if (op == 0x28) {
                    if (!pop(&a)) return QCRASH_EINVAL;
                    jump = a != 0;
                }
                if (!jump) break;
                const int64_t target = static_cast<int64_t>(s.pos - start) + delta;
                if (target < 0 || static_cast<uint64_t>(target) > s.end - start) return QCRASH_EINVAL;
                s.pos = start + static_cast<uint64_t>(target);
                break;
            }
            case 0x94: {  // deref_size
                uint8_t size;
                if ((error = s.u8(&size)) != QCRASH_ESUCCESS) return error;
                if (size != 1 && size != 2 && size != 4 && size != 8) return QCRASH_EINVAL;
                if (!pop(&a)) return QCRASH_EINVAL;
                if ((error = readTarget(a, size, &b)) != QCRASH_ESUCCESS) return error;
                push(b);
                break;
            }
            default:
                return QCRASH_ENOTSUP;
        }
    }
    if (!pop(result)) return QCRASH_EINVAL;
    return QCRASH_ESUCCESS;
}

// ---- the two widths ----

template class gnu_ehptr_reader<uint32_t>;
template class gnu_ehptr_reader<uint64_t>;
template class dwarf_frame_reader<uint32_t>;
template class dwarf_frame_reader<uint64_t>;
template class dwarf_cfa_state<uint32_t, int32_t>;
template class dwarf_cfa_state<uint64_t, int64_t>;
template gnu_ehptr_reader<uint32_t> qcrash_async_dwarf_section_ptr_reader<uint32_t>(
    const qcrash_async_mobject_t*, const qcrash_async_byteorder_t*);
template gnu_ehptr_reader<uint64_t> qcrash_async_dwarf_section_ptr_reader<uint64_t>(
    const qcrash_async_mobject_t*, const qcrash_async_byteorder_t*);
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
template qcrash_error_t qcrash_async_dwarf_expression_eval<uint32_t, int32_t>(
    const qcrash_async_mobject_t*, qcrash_task_t, const qcrash_async_thread_state_t*,
    const qcrash_async_byteorder_t*, qcrash_vm_address_t, qcrash_vm_off_t, qcrash_vm_size_t, const uint32_t*,
    uint32_t, uint32_t*);
template qcrash_error_t qcrash_async_dwarf_expression_eval<uint64_t, int64_t>(
    const qcrash_async_mobject_t*, qcrash_task_t, const qcrash_async_thread_state_t*,
    const qcrash_async_byteorder_t*, qcrash_vm_address_t, qcrash_vm_off_t, qcrash_vm_size_t, const uint64_t*,
    uint32_t, uint64_t*);

}  // namespace tervolo::crash
