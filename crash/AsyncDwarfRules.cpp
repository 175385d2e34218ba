// The DWARF reader's register rules: the fixed pool of rules with its
// remembered states, and applying the rules to a frame's registers to find
// its caller's.

#include "crash/AsyncDwarf.hpp"
#include "crash/AsyncDwarfStream.hpp"

namespace tervolo::crash {

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

// ---- the two widths ----

template class dwarf_cfa_state<uint32_t, int32_t>;
template class dwarf_cfa_state<uint64_t, int64_t>;

}  // namespace tervolo::crash
