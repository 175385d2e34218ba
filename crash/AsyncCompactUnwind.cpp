#include "crash/AsyncCompactUnwind.hpp"

#include "crash/MachOFormat.hpp"

namespace tervolo::crash {

namespace {

constexpr uint32_t kPageRegular = 2;
constexpr uint32_t kPageCompressed = 3;

// Mode field (bits 24 to 27) values.
constexpr uint32_t kArm64ModeFrameless = 2;
constexpr uint32_t kArm64ModeDwarf = 3;
constexpr uint32_t kArm64ModeFrame = 4;
constexpr uint32_t kX86ModeFrame = 1;
constexpr uint32_t kX86ModeFramelessImmediate = 2;
constexpr uint32_t kX86ModeFramelessIndirect = 3;
constexpr uint32_t kX86ModeDwarf = 4;

// The x86 encodings' register numbers 1 to 6, in our numbering (x86 shares
// the x86-64 slots: ebx, ecx, edx, edi, esi, ebp).
constexpr uint32_t kX86_64Registers[7] = {QCRASH_REG_INVALID, QCRASH_X86_64_RBX, QCRASH_X86_64_R12,
                                          QCRASH_X86_64_R13,  QCRASH_X86_64_R14, QCRASH_X86_64_R15,
                                          QCRASH_REG_FP};
constexpr uint32_t kX86Registers[7] = {QCRASH_REG_INVALID, QCRASH_X86_64_RBX, QCRASH_X86_64_RCX,
                                       QCRASH_X86_64_RDX,  QCRASH_X86_64_RDI, QCRASH_X86_64_RSI,
                                       QCRASH_REG_FP};

bool read32(const qcrash_async_cfe_reader_t* reader, uint64_t offset, uint32_t* value) {
    return qcrash_async_mobject_read_uint32(reader->mobj, reader->byteorder, reader->mobj->task_address,
                                            static_cast<qcrash_vm_off_t>(offset), value) == QCRASH_ESUCCESS;
}

bool read16(const qcrash_async_cfe_reader_t* reader, uint64_t offset, uint16_t* value) {
    return qcrash_async_mobject_read_uint16(reader->mobj, reader->byteorder, reader->mobj->task_address,
                                            static_cast<qcrash_vm_off_t>(offset), value) == QCRASH_ESUCCESS;
}

bool tableInside(const qcrash_async_cfe_reader_t* reader, uint64_t offset, uint64_t bytes) {
    return qcrash_async_mobject_remap_address(reader->mobj, reader->mobj->task_address,
                                              static_cast<qcrash_vm_off_t>(offset), bytes) != nullptr;
}

// Index of the last of `count` sorted keys that is at most `pc`; -1 when the
// first is above it or a key cannot be read.
template <typename KeyAt>
int64_t lastAtMost(uint32_t count, uint64_t pc, KeyAt keyAt) {
    int64_t low = 0;
    int64_t high = static_cast<int64_t>(count) - 1;
    int64_t found = -1;
    while (low <= high) {
        const int64_t mid = low + (high - low) / 2;
        uint64_t key;
        if (!keyAt(static_cast<uint32_t>(mid), &key)) return -1;
        if (key <= pc) {
            found = mid;
            low = mid + 1;
        } else {
            high = mid - 1;
        }
    }
    return found;
}

}  // namespace

qcrash_error_t qcrash_async_cfe_reader_init(qcrash_async_cfe_reader_t* reader,
                                            const qcrash_async_mobject_t* mobj, int32_t cpu_type) {
    qcrash_async_memset(reader, 0, sizeof *reader);
    if (cpu_type != macho::CPU_TYPE_ARM64 && cpu_type != macho::CPU_TYPE_X86 &&
        cpu_type != macho::CPU_TYPE_X86_64) {
        return QCRASH_ENOTSUP;
    }
    reader->mobj = mobj;
    reader->cpu_type = cpu_type;
    reader->byteorder = qcrash_async_byteorder_little_endian();
    uint32_t header[7];
    for (uint32_t i = 0; i < 7; ++i) {
        if (!read32(reader, 4ull * i, &header[i])) return QCRASH_EINVAL;
    }
    if (header[0] != 1) return QCRASH_ENOTSUP;
    reader->common_encodings_offset = header[1];
    reader->common_encodings_count = header[2];
    reader->index_offset = header[5];
    reader->index_count = header[6];
    return QCRASH_ESUCCESS;
}

qcrash_error_t qcrash_async_cfe_reader_find_pc(const qcrash_async_cfe_reader_t* reader, uint64_t pc,
                                               uint32_t* function_offset, uint32_t* encoding) {
    if (!tableInside(reader, reader->common_encodings_offset, 4ull * reader->common_encodings_count)) {
        return QCRASH_EINVAL;
    }
    if (reader->index_count <= 1) return QCRASH_ENOTFOUND;  // only the sentinel, or nothing
    const uint32_t entries = reader->index_count - 1;
    if (!tableInside(reader, reader->index_offset, 12ull * entries)) return QCRASH_EINVAL;

    const int64_t first = lastAtMost(entries, pc, [&](uint32_t i, uint64_t* key) {
        uint32_t v;
        if (!read32(reader, reader->index_offset + 12ull * i, &v)) return false;
        *key = v;
        return true;
    });
    if (first < 0) return QCRASH_ENOTFOUND;
    uint32_t firstFunction;
    uint32_t page;
    if (!read32(reader, reader->index_offset + 12ull * first, &firstFunction) ||
        !read32(reader, reader->index_offset + 12ull * first + 4, &page)) {
        return QCRASH_EINVAL;
    }

    uint32_t kind;
    uint16_t entriesOffset;
    uint16_t entryCount;
    if (!read32(reader, page, &kind) || !read16(reader, uint64_t{page} + 4, &entriesOffset) ||
        !read16(reader, uint64_t{page} + 6, &entryCount)) {
        return QCRASH_EINVAL;
    }
    const uint64_t table = uint64_t{page} + entriesOffset;
    if (kind == kPageRegular) {
        if (!tableInside(reader, table, 8ull * entryCount)) return QCRASH_EINVAL;
        const int64_t at = lastAtMost(entryCount, pc, [&](uint32_t i, uint64_t* key) {
            uint32_t v;
            if (!read32(reader, table + 8ull * i, &v)) return false;
            *key = v;
            return true;
        });
        if (at < 0) return QCRASH_ENOTFOUND;
        if (!read32(reader, table + 8ull * at, function_offset) ||
            !read32(reader, table + 8ull * at + 4, encoding)) {
            return QCRASH_EINVAL;
        }
        return QCRASH_ESUCCESS;
    }
    if (kind != kPageCompressed) return QCRASH_EINVAL;

    uint16_t pageEncodingsOffset;
    uint16_t pageEncodingsCount;
    if (!read16(reader, uint64_t{page} + 8, &pageEncodingsOffset) ||
        !read16(reader, uint64_t{page} + 10, &pageEncodingsCount)) {
        return QCRASH_EINVAL;
    }
    if (!tableInside(reader, table, 4ull * entryCount)) return QCRASH_EINVAL;
    const int64_t at = lastAtMost(entryCount, pc, [&](uint32_t i, uint64_t* key) {
        uint32_t v;
        if (!read32(reader, table + 4ull * i, &v)) return false;
        *key = uint64_t{firstFunction} + (v & 0xFFFFFF);
        return true;
    });
    if (at < 0) return QCRASH_ENOTFOUND;
    uint32_t packed;
    if (!read32(reader, table + 4ull * at, &packed)) return QCRASH_EINVAL;
    const uint32_t index = packed >> 24;
    *function_offset = firstFunction + (packed & 0xFFFFFF);
    if (index < reader->common_encodings_count) {
        return read32(reader, reader->common_encodings_offset + 4ull * index, encoding) ? QCRASH_ESUCCESS
                                                                                        : QCRASH_EINVAL;
    }
    const uint32_t pageIndex = index - reader->common_encodings_count;
    if (pageIndex >= pageEncodingsCount) return QCRASH_EINVAL;
    return read32(reader, uint64_t{page} + pageEncodingsOffset + 4ull * pageIndex, encoding) ? QCRASH_ESUCCESS
                                                                                             : QCRASH_EINVAL;
}

void qcrash_async_cfe_reader_free(qcrash_async_cfe_reader_t* reader) {
    reader->mobj = nullptr;
}

// ---- permutation code ----

namespace {

// Mixed-radix weights by register count.
const uint32_t* permutationWeights(uint32_t count) {
    static constexpr uint32_t w6[] = {120, 24, 6, 2, 1, 1};
    static constexpr uint32_t w4[] = {60, 12, 3, 1};
    static constexpr uint32_t w3[] = {20, 4, 1};
    static constexpr uint32_t w2[] = {5, 1};
    static constexpr uint32_t w1[] = {1};
    switch (count) {
        case 6:
        case 5:
            return w6;
        case 4:
            return w4;
        case 3:
            return w3;
        case 2:
            return w2;
        default:
            return w1;
    }
}

}  // namespace

uint32_t qcrash_async_cfe_register_encode(const uint32_t* register_list, uint32_t count) {
    if (count == 0 || count > 6) return 0;
    const uint32_t* weights = permutationWeights(count);
    uint32_t code = 0;
    for (uint32_t i = 0; i < count; ++i) {
        // Renumber by how many smaller registers came before.
        uint32_t smaller = 0;
        for (uint32_t j = 0; j < i; ++j) {
            if (register_list[j] < register_list[i]) ++smaller;
        }
        code += (register_list[i] - 1 - smaller) * weights[i];
    }
    return code;
}

qcrash_error_t qcrash_async_cfe_register_decode(uint32_t permutation, uint32_t count,
                                                uint32_t* register_list) {
    if (count > 6) return QCRASH_EINVAL;
    if (count == 0) return QCRASH_ESUCCESS;
    const uint32_t* weights = permutationWeights(count);
    bool used[7] = {};
    uint32_t rest = permutation;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t digit = rest / weights[i];
        rest %= weights[i];
        // The digit picks the n-th register not used yet, in rising order.
        uint32_t chosen = 0;
        for (uint32_t r = 1; r <= 6; ++r) {
            if (used[r]) continue;
            if (digit == 0) {
                chosen = r;
                break;
            }
            --digit;
        }
        if (chosen == 0) return QCRASH_EINVAL;
        used[chosen] = true;
        register_list[i] = chosen;
    }
    return QCRASH_ESUCCESS;
}

// ---- entries ----

qcrash_error_t qcrash_async_cfe_entry_init(qcrash_async_cfe_entry_t* entry, int32_t cpu_type,
                                           uint32_t encoding) {
    qcrash_async_memset(entry, 0, sizeof *entry);
    entry->cpu_type = cpu_type;
    entry->return_address_register = QCRASH_REG_INVALID;
    for (auto& r : entry->register_list) r = QCRASH_REG_INVALID;
    const uint32_t mode = (encoding >> 24) & 0xF;

    if (cpu_type == macho::CPU_TYPE_ARM64) {
        if (mode > 4) return QCRASH_ENOTSUP;
        if (mode == 0) {
            entry->type = QCRASH_ASYNC_CFE_TYPE_NONE;
            return QCRASH_ESUCCESS;
        }
        if (mode == kArm64ModeDwarf) {
            entry->type = QCRASH_ASYNC_CFE_TYPE_DWARF;
            entry->stack_offset = encoding & 0xFFFFFF;
            return QCRASH_ESUCCESS;
        }
        if (mode != kArm64ModeFrameless && mode != kArm64ModeFrame) return QCRASH_ENOTSUP;
        // Saved pairs, higher register first: x28/x27 (0x10) down to x20/x19 (0x1).
        for (int bit = 4; bit >= 0; --bit) {
            if ((encoding & (1u << bit)) == 0) continue;
            const uint32_t high = 20 + 2 * static_cast<uint32_t>(bit);
            entry->register_list[entry->register_count++] = QCRASH_ARM64_X0 + high;
            entry->register_list[entry->register_count++] = QCRASH_ARM64_X0 + high - 1;
        }
        if (mode == kArm64ModeFrameless) {
            entry->type = QCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD;
            entry->stack_offset = (encoding >> 8) & 0xFFF0;
            entry->return_address_register = QCRASH_ARM64_LR;
        } else {
            entry->type = QCRASH_ASYNC_CFE_TYPE_FRAME_PTR;
            entry->stack_offset = -8 * static_cast<int64_t>(entry->register_count);
        }
        return QCRASH_ESUCCESS;
    }

    if (cpu_type != macho::CPU_TYPE_X86_64 && cpu_type != macho::CPU_TYPE_X86) return QCRASH_ENOTSUP;
    if (mode > 4) return QCRASH_ENOTSUP;
    const int64_t word = cpu_type == macho::CPU_TYPE_X86_64 ? 8 : 4;
    const uint32_t* table = cpu_type == macho::CPU_TYPE_X86_64 ? kX86_64Registers : kX86Registers;
    switch (mode) {
        case 0:
            entry->type = QCRASH_ASYNC_CFE_TYPE_NONE;
            return QCRASH_ESUCCESS;
        case kX86ModeDwarf:
            entry->type = QCRASH_ASYNC_CFE_TYPE_DWARF;
            entry->stack_offset = encoding & 0xFFFFFF;
            return QCRASH_ESUCCESS;
        case kX86ModeFrame: {
            entry->type = QCRASH_ASYNC_CFE_TYPE_FRAME_PTR;
            entry->stack_offset = -static_cast<int64_t>((encoding >> 16) & 0xFF) * word;
            const uint32_t fields = encoding & 0x7FFF;
            for (uint32_t i = 0; i < 5 && (fields >> (3 * i)) != 0; ++i) {
                const uint32_t field = (fields >> (3 * i)) & 0x7;
                if (field == 7) return QCRASH_EINVAL;
                entry->register_list[entry->register_count++] = table[field];
            }
            return QCRASH_ESUCCESS;
        }
        case kX86ModeFramelessImmediate:
        case kX86ModeFramelessIndirect:
        default: {
            if (mode == kX86ModeFramelessImmediate) {
                entry->type = QCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD;
                entry->stack_offset = static_cast<int64_t>((encoding >> 16) & 0xFF) * word;
            } else {
                entry->type = QCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT;
                entry->stack_offset = (encoding >> 16) & 0xFF;
                entry->stack_adjust = static_cast<uint32_t>(((encoding >> 13) & 0x7) * word);
            }
            const uint32_t count = (encoding >> 10) & 0x7;
            uint32_t numbers[6];
            const qcrash_error_t error = qcrash_async_cfe_register_decode(encoding & 0x3FF, count, numbers);
            if (error != QCRASH_ESUCCESS) return error;
            for (uint32_t i = 0; i < count; ++i) entry->register_list[i] = table[numbers[i]];
            entry->register_count = count;
            return QCRASH_ESUCCESS;
        }
    }
}

void qcrash_async_cfe_entry_free(qcrash_async_cfe_entry_t*) {}

qcrash_async_cfe_type qcrash_async_cfe_entry_type(const qcrash_async_cfe_entry_t* entry) {
    return entry->type;
}
int64_t qcrash_async_cfe_entry_stack_offset(const qcrash_async_cfe_entry_t* entry) {
    return entry->stack_offset;
}
uint32_t qcrash_async_cfe_entry_stack_adjustment(const qcrash_async_cfe_entry_t* entry) {
    return entry->stack_adjust;
}
uint32_t qcrash_async_cfe_entry_return_address_register(const qcrash_async_cfe_entry_t* entry) {
    return entry->return_address_register;
}
uint32_t qcrash_async_cfe_entry_register_count(const qcrash_async_cfe_entry_t* entry) {
    return entry->register_count;
}
void qcrash_async_cfe_entry_register_list(const qcrash_async_cfe_entry_t* entry, uint32_t* register_list) {
    qcrash_async_memcpy(register_list, entry->register_list, sizeof(uint32_t) * entry->register_count);
}

namespace {

qcrash_error_t readWord(qcrash_task_t task, uint64_t address, uint32_t size, uint64_t* value) {
    *value = 0;
    return qcrash_async_task_memcpy(task, address, 0, value, size);
}

// Reads the saved registers, one word each in list order, from `base` up.
qcrash_error_t restoreSaved(qcrash_task_t task, const qcrash_async_cfe_entry_t* entry, uint64_t base,
                            qcrash_async_thread_state_t* caller) {
    const uint32_t word = caller->greg_size;
    for (uint32_t i = 0; i < entry->register_count; ++i) {
        const uint32_t reg = entry->register_list[i];
        if (reg == QCRASH_REG_INVALID) continue;
        uint64_t value;
        const qcrash_error_t error = readWord(task, base + uint64_t{i} * word, word, &value);
        if (error != QCRASH_ESUCCESS) return error;
        if (reg >= caller->reg_count) return QCRASH_EINVAL;
        qcrash_async_thread_state_set_reg(caller, reg, value);
    }
    return QCRASH_ESUCCESS;
}

}  // namespace

qcrash_error_t qcrash_async_cfe_entry_apply(qcrash_task_t task, uint64_t function_address,
                                            const qcrash_async_thread_state_t* current,
                                            const qcrash_async_cfe_entry_t* entry,
                                            qcrash_async_thread_state_t* caller) {
    qcrash_async_thread_state_copy(caller, current);
    qcrash_async_thread_state_clear_volatile_regs(caller);
    const uint32_t word = current->greg_size;

    switch (entry->type) {
        case QCRASH_ASYNC_CFE_TYPE_FRAME_PTR: {
            if (!qcrash_async_thread_state_has_reg(current, QCRASH_REG_FP)) return QCRASH_ENOTFOUND;
            const uint64_t fp = qcrash_async_thread_state_get_reg(current, QCRASH_REG_FP);
            uint64_t sp;
            if (__builtin_add_overflow(fp, 2ull * word, &sp)) return QCRASH_EINVAL;
            uint64_t callerFp;
            uint64_t callerPc;
            qcrash_error_t error = readWord(task, fp, word, &callerFp);
            if (error == QCRASH_ESUCCESS) error = readWord(task, fp + word, word, &callerPc);
            if (error != QCRASH_ESUCCESS) return error;
            error = restoreSaved(task, entry, fp + static_cast<uint64_t>(entry->stack_offset), caller);
            if (error != QCRASH_ESUCCESS) return error;
            qcrash_async_thread_state_set_reg(caller, QCRASH_REG_FP, callerFp);
            qcrash_async_thread_state_set_reg(caller, QCRASH_REG_IP, callerPc);
            qcrash_async_thread_state_set_reg(caller, QCRASH_REG_SP, sp);
            return QCRASH_ESUCCESS;
        }
        case QCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD:
        case QCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT: {
            if (!qcrash_async_thread_state_has_reg(current, QCRASH_REG_SP)) return QCRASH_ENOTFOUND;
            uint64_t size = static_cast<uint64_t>(entry->stack_offset);
            if (entry->type == QCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT) {
                uint32_t immediate;
                const qcrash_error_t error =
                    qcrash_async_task_memcpy(task, function_address + size, 0, &immediate, sizeof immediate);
                if (error != QCRASH_ESUCCESS) return error;
                size = immediate;
            }
            size += entry->stack_adjust;
            const uint64_t sp = qcrash_async_thread_state_get_reg(current, QCRASH_REG_SP) + size;
            const uint64_t savedBytes = uint64_t{word} * entry->register_count;
            uint64_t pc;
            uint64_t savedBase;
            if (entry->return_address_register != QCRASH_REG_INVALID) {
                if (!qcrash_async_thread_state_has_reg(current, entry->return_address_register)) {
                    return QCRASH_ENOTFOUND;
                }
                pc = qcrash_async_thread_state_get_reg(current, entry->return_address_register);
                savedBase = sp - savedBytes;
            } else {
                const qcrash_error_t error = readWord(task, sp - word, word, &pc);
                if (error != QCRASH_ESUCCESS) return error;
                savedBase = sp - word - savedBytes;
            }
            const qcrash_error_t error = restoreSaved(task, entry, savedBase, caller);
            if (error != QCRASH_ESUCCESS) return error;
            qcrash_async_thread_state_set_reg(caller, QCRASH_REG_IP, pc);
            qcrash_async_thread_state_set_reg(caller, QCRASH_REG_SP, sp);
            return QCRASH_ESUCCESS;
        }
        default:
            return QCRASH_ENOTSUP;
    }
}

}  // namespace tervolo::crash
