// The DWARF call-frame program: the CIE's and FDE's instructions run up to a
// pc, leaving the rules that hold there.

#include "crash/AsyncDwarf.hpp"
#include "crash/AsyncDwarfStream.hpp"

namespace tervolo::crash {

using detail::openStream;
using detail::Stream;

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

// ---- the two widths ----

template qcrash_error_t dwarf_cfa_state<uint32_t, int32_t>::eval_program(
    const qcrash_async_mobject_t*, uint32_t, uint32_t, const qcrash_async_dwarf_cie_info_t*,
    const gnu_ehptr_reader<uint32_t>*, const qcrash_async_byteorder_t*, qcrash_vm_address_t, qcrash_vm_off_t,
    qcrash_vm_size_t);
template qcrash_error_t dwarf_cfa_state<uint64_t, int64_t>::eval_program(
    const qcrash_async_mobject_t*, uint64_t, uint64_t, const qcrash_async_dwarf_cie_info_t*,
    const gnu_ehptr_reader<uint64_t>*, const qcrash_async_byteorder_t*, qcrash_vm_address_t, qcrash_vm_off_t,
    qcrash_vm_size_t);

}  // namespace tervolo::crash
