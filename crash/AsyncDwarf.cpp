#include "crash/AsyncDwarf.hpp"
#include "crash/AsyncDwarfStream.hpp"

namespace tervolo::crash {

using detail::readUnsigned;
using detail::signExtend;

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

// ---- the two widths ----

template class gnu_ehptr_reader<uint32_t>;
template class gnu_ehptr_reader<uint64_t>;
template gnu_ehptr_reader<uint32_t> qcrash_async_dwarf_section_ptr_reader<uint32_t>(
    const qcrash_async_mobject_t*, const qcrash_async_byteorder_t*);
template gnu_ehptr_reader<uint64_t> qcrash_async_dwarf_section_ptr_reader<uint64_t>(
    const qcrash_async_mobject_t*, const qcrash_async_byteorder_t*);

}  // namespace tervolo::crash
