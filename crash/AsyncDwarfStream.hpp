#pragma once

// The DWARF reader's own plumbing, shared by its parts: fixed-width reads in
// a byte order, and a bounded read position over a memory object. Async-safe
// like the reader itself.

#include "crash/AsyncDwarf.hpp"

namespace tervolo::crash::detail {

inline qcrash_error_t readUnsigned(const qcrash_async_mobject_t* mobj, const qcrash_async_byteorder_t* order,
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

inline uint64_t signExtend(uint64_t value, uint32_t bytes) {
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
inline qcrash_error_t openStream(const qcrash_async_mobject_t* mobj, const qcrash_async_byteorder_t* order,
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
inline qcrash_error_t readEntryLength(const qcrash_async_mobject_t* mobj,
                                      const qcrash_async_byteorder_t* order, qcrash_vm_address_t at,
                                      uint64_t* length, bool* is64, uint32_t* fieldSize) {
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

}  // namespace tervolo::crash::detail
