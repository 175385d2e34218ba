// DWARF expressions: the stack machine that computes a CFA or a register's
// place or value.

#include "crash/AsyncDwarf.hpp"
#include "crash/AsyncDwarfStream.hpp"

namespace tervolo::crash {

using detail::openStream;
using detail::signExtend;
using detail::Stream;

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

template qcrash_error_t qcrash_async_dwarf_expression_eval<uint32_t, int32_t>(
    const qcrash_async_mobject_t*, qcrash_task_t, const qcrash_async_thread_state_t*,
    const qcrash_async_byteorder_t*, qcrash_vm_address_t, qcrash_vm_off_t, qcrash_vm_size_t, const uint32_t*,
    uint32_t, uint32_t*);
template qcrash_error_t qcrash_async_dwarf_expression_eval<uint64_t, int64_t>(
    const qcrash_async_mobject_t*, qcrash_task_t, const qcrash_async_thread_state_t*,
    const qcrash_async_byteorder_t*, qcrash_vm_address_t, qcrash_vm_off_t, qcrash_vm_size_t, const uint64_t*,
    uint32_t, uint64_t*);

}  // namespace tervolo::crash
