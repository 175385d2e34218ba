#include "crash/AsyncThreadState.hpp"

#include "crash/MachOFormat.hpp"

namespace tervolo::crash {

namespace {

constexpr uint64_t kPointerAuthMask = 0xFFFFFFFFFull;

const char* const kArm64Names[] = {"pc",  "fp",  "sp",  "x0",  "x1",  "x2",  "x3",  "x4",  "x5",
                                   "x6",  "x7",  "x8",  "x9",  "x10", "x11", "x12", "x13", "x14",
                                   "x15", "x16", "x17", "x18", "x19", "x20", "x21", "x22", "x23",
                                   "x24", "x25", "x26", "x27", "x28", "lr",  "cpsr"};
const char* const kArm32Names[] = {"pc", "r7", "sp", "r0",  "r1",  "r2",  "r3", "r4",  "r5",
                                   "r6", "r8", "r9", "r10", "r11", "r12", "lr", "cpsr"};
const char* const kX86_64Names[] = {"rip", "rbp", "rsp", "rax",    "rbx", "rcx", "rdx",
                                    "rdi", "rsi", "r8",  "r9",     "r10", "r11", "r12",
                                    "r13", "r14", "r15", "rflags", "cs",  "fs",  "gs"};

// DWARF numbers of the x86-64 registers: rax 0, rdx 1, rcx 2, rbx 3, rsi 4,
// rdi 5, rbp 6, rsp 7, r8-r15 8-15, return address 16 (our pc).
constexpr uint32_t kX86_64FromDwarf[] = {
    QCRASH_X86_64_RAX, QCRASH_X86_64_RDX, QCRASH_X86_64_RCX, QCRASH_X86_64_RBX, QCRASH_X86_64_RSI,
    QCRASH_X86_64_RDI, QCRASH_REG_FP,     QCRASH_REG_SP,     QCRASH_X86_64_R8,  QCRASH_X86_64_R9,
    QCRASH_X86_64_R10, QCRASH_X86_64_R11, QCRASH_X86_64_R12, QCRASH_X86_64_R13, QCRASH_X86_64_R14,
    QCRASH_X86_64_R15, QCRASH_REG_IP,
};

void checkReg(const qcrash_async_thread_state_t* state, uint32_t reg) {
    // A register outside the set is a programming error of the caller.
    if (reg >= state->reg_count) __builtin_trap();
}

}  // namespace

qcrash_error_t qcrash_async_thread_state_init(qcrash_async_thread_state_t* state, int32_t cpu_type) {
    qcrash_async_memset(state, 0, sizeof *state);
    state->stack_direction = QCRASH_STACK_DIRECTION_DOWN;
    switch (cpu_type) {
        case macho::CPU_TYPE_ARM64:
            state->arch = QCRASH_THREAD_ARCH_ARM64;
            state->greg_size = 8;
            state->reg_count = 34;
            return QCRASH_ESUCCESS;
        case macho::CPU_TYPE_ARM:
            state->arch = QCRASH_THREAD_ARCH_ARM32;
            state->greg_size = 4;
            state->reg_count = 17;
            return QCRASH_ESUCCESS;
        case macho::CPU_TYPE_X86_64:
            state->arch = QCRASH_THREAD_ARCH_X86_64;
            state->greg_size = 8;
            state->reg_count = 21;
            return QCRASH_ESUCCESS;
        default:
            return QCRASH_ENOTSUP;
    }
}

int32_t qcrash_async_thread_state_cpu_type(const qcrash_async_thread_state_t* state) {
    switch (state->arch) {
        case QCRASH_THREAD_ARCH_ARM64:
            return macho::CPU_TYPE_ARM64;
        case QCRASH_THREAD_ARCH_ARM32:
            return macho::CPU_TYPE_ARM;
        default:
            return macho::CPU_TYPE_X86_64;
    }
}

qcrash_error_t qcrash_async_thread_state_mcontext_init(qcrash_async_thread_state_t* state,
                                                       const ucontext_t* context) {
#if defined(__x86_64__)
    qcrash_async_thread_state_init(state, macho::CPU_TYPE_X86_64);
    const greg_t* g = context->uc_mcontext.gregs;
    const uint64_t values[] = {
        static_cast<uint64_t>(g[REG_RIP]),
        static_cast<uint64_t>(g[REG_RBP]),
        static_cast<uint64_t>(g[REG_RSP]),
        static_cast<uint64_t>(g[REG_RAX]),
        static_cast<uint64_t>(g[REG_RBX]),
        static_cast<uint64_t>(g[REG_RCX]),
        static_cast<uint64_t>(g[REG_RDX]),
        static_cast<uint64_t>(g[REG_RDI]),
        static_cast<uint64_t>(g[REG_RSI]),
        static_cast<uint64_t>(g[REG_R8]),
        static_cast<uint64_t>(g[REG_R9]),
        static_cast<uint64_t>(g[REG_R10]),
        static_cast<uint64_t>(g[REG_R11]),
        static_cast<uint64_t>(g[REG_R12]),
        static_cast<uint64_t>(g[REG_R13]),
        static_cast<uint64_t>(g[REG_R14]),
        static_cast<uint64_t>(g[REG_R15]),
        static_cast<uint64_t>(g[REG_EFL]),
        // cs, gs and fs share one word, 16 bits each from the low end; our
        // order is cs, fs, gs.
        static_cast<uint64_t>(g[REG_CSGSFS]) & 0xFFFF,
        (static_cast<uint64_t>(g[REG_CSGSFS]) >> 32) & 0xFFFF,
        (static_cast<uint64_t>(g[REG_CSGSFS]) >> 16) & 0xFFFF,
    };
    for (uint32_t i = 0; i < state->reg_count; ++i) qcrash_async_thread_state_set_reg(state, i, values[i]);
    return QCRASH_ESUCCESS;
#else
    (void)state;
    (void)context;
    return QCRASH_ENOTSUP;
#endif
}

void qcrash_async_thread_state_copy(qcrash_async_thread_state_t* dest,
                                    const qcrash_async_thread_state_t* source) {
    qcrash_async_memcpy(dest, source, sizeof *dest);
}

void qcrash_async_thread_state_clear_all_regs(qcrash_async_thread_state_t* state) {
    state->valid_regs = 0;
}

void qcrash_async_thread_state_clear_volatile_regs(qcrash_async_thread_state_t* state) {
    uint64_t keep = 1ull << QCRASH_REG_FP;
    switch (state->arch) {
        case QCRASH_THREAD_ARCH_ARM64:
            for (uint32_t x = 19; x <= 28; ++x) keep |= 1ull << (QCRASH_ARM64_X0 + x);
            break;
        case QCRASH_THREAD_ARCH_ARM32:
            // r4, r5, r6 (6, 7, 8), r7 (the frame pointer), r8, r10, r11 (10, 12, 13).
            keep |= (1ull << 7) | (1ull << 8) | (1ull << 9) | (1ull << 10) | (1ull << 12) | (1ull << 13);
            break;
        case QCRASH_THREAD_ARCH_X86_64:
            keep |= (1ull << QCRASH_X86_64_RBX) | (1ull << QCRASH_X86_64_R12) | (1ull << QCRASH_X86_64_R13) |
                    (1ull << QCRASH_X86_64_R14) | (1ull << QCRASH_X86_64_R15);
            break;
    }
    state->valid_regs &= keep;
}

bool qcrash_async_thread_state_has_reg(const qcrash_async_thread_state_t* state, uint32_t reg) {
    checkReg(state, reg);
    return (state->valid_regs & (1ull << reg)) != 0;
}

void qcrash_async_thread_state_clear_reg(qcrash_async_thread_state_t* state, uint32_t reg) {
    checkReg(state, reg);
    state->valid_regs &= ~(1ull << reg);
}

uint64_t qcrash_async_thread_state_get_reg(const qcrash_async_thread_state_t* state, uint32_t reg) {
    checkReg(state, reg);
    const uint64_t value = state->regs[reg];
    if (state->arch == QCRASH_THREAD_ARCH_ARM64 &&
        (reg == QCRASH_REG_IP || reg == QCRASH_REG_FP || reg == QCRASH_REG_SP || reg == QCRASH_ARM64_LR)) {
        return value & kPointerAuthMask;
    }
    return value;
}

void qcrash_async_thread_state_set_reg(qcrash_async_thread_state_t* state, uint32_t reg, uint64_t value) {
    checkReg(state, reg);
    state->regs[reg] = state->greg_size == 4 ? (value & 0xFFFFFFFFull) : value;
    state->valid_regs |= 1ull << reg;
}

uint32_t qcrash_async_thread_state_get_reg_count(const qcrash_async_thread_state_t* state) {
    return state->reg_count;
}

const char* qcrash_async_thread_state_get_reg_name(const qcrash_async_thread_state_t* state, uint32_t reg) {
    checkReg(state, reg);
    switch (state->arch) {
        case QCRASH_THREAD_ARCH_ARM64:
            return kArm64Names[reg];
        case QCRASH_THREAD_ARCH_ARM32:
            return kArm32Names[reg];
        default:
            return kX86_64Names[reg];
    }
}

uint32_t qcrash_async_thread_state_get_stack_direction(const qcrash_async_thread_state_t* state) {
    return state->stack_direction;
}

uint32_t qcrash_async_thread_state_get_greg_size(const qcrash_async_thread_state_t* state) {
    return state->greg_size;
}

bool qcrash_async_thread_state_map_dwarf_to_reg(const qcrash_async_thread_state_t* state, uint64_t dwarf_reg,
                                                uint32_t* reg) {
    switch (state->arch) {
        case QCRASH_THREAD_ARCH_ARM64:
            if (dwarf_reg <= 28) {
                *reg = QCRASH_ARM64_X0 + static_cast<uint32_t>(dwarf_reg);
            } else if (dwarf_reg == 29) {
                *reg = QCRASH_REG_FP;
            } else if (dwarf_reg == 30) {
                *reg = QCRASH_ARM64_LR;
            } else if (dwarf_reg == 31) {
                *reg = QCRASH_REG_SP;
            } else {
                return false;
            }
            return true;
        case QCRASH_THREAD_ARCH_ARM32:
            if (dwarf_reg <= 6) {
                *reg = 3 + static_cast<uint32_t>(dwarf_reg);
            } else if (dwarf_reg == 7) {
                *reg = QCRASH_REG_FP;
            } else if (dwarf_reg <= 12) {
                *reg = 10 + static_cast<uint32_t>(dwarf_reg - 8);
            } else if (dwarf_reg == 13) {
                *reg = QCRASH_REG_SP;
            } else if (dwarf_reg == 14) {
                *reg = QCRASH_ARM32_LR;
            } else if (dwarf_reg == 15) {
                *reg = QCRASH_REG_IP;
            } else {
                return false;
            }
            return true;
        default:
            if (dwarf_reg >= sizeof kX86_64FromDwarf / sizeof kX86_64FromDwarf[0]) return false;
            *reg = kX86_64FromDwarf[dwarf_reg];
            return true;
    }
}

bool qcrash_async_thread_state_map_reg_to_dwarf(const qcrash_async_thread_state_t* state, uint32_t reg,
                                                uint64_t* dwarf_reg) {
    for (uint64_t d = 0; d < 32; ++d) {
        uint32_t mapped;
        if (qcrash_async_thread_state_map_dwarf_to_reg(state, d, &mapped) && mapped == reg) {
            *dwarf_reg = d;
            return true;
        }
    }
    return false;
}

// ---- capture of the calling thread ----

extern "C" qcrash_error_t qcrash_thread_state_current_continue(
    const uint64_t* regs, qcrash_async_thread_state_current_callback callback, void* context) {
    qcrash_async_thread_state_t state;
    qcrash_async_thread_state_init(&state, macho::CPU_TYPE_X86_64);
    for (uint32_t i = 0; i < state.reg_count; ++i) qcrash_async_thread_state_set_reg(&state, i, regs[i]);
    state.flags |= QCRASH_THREAD_STATE_PC_IS_RETURN_ADDRESS;
    return callback(&state, context);
}

#if defined(__x86_64__)
// Saves the registers in our numbering into a block on the stack, then calls
// qcrash_thread_state_current_continue(block, callback, context). The block
// describes the caller: rip is our return address, rbp the caller's (saved by
// our prologue), rsp the caller's after the return.
asm(R"(
    .text
    .globl qcrash_async_thread_state_current
    .type qcrash_async_thread_state_current, @function
qcrash_async_thread_state_current:
    .cfi_startproc
    pushq %rbp
    .cfi_def_cfa_offset 16
    .cfi_offset %rbp, -16
    movq %rsp, %rbp
    .cfi_def_cfa_register %rbp
    subq $176, %rsp
    movq %rax, 24(%rsp)
    movq %rbx, 32(%rsp)
    movq %rcx, 40(%rsp)
    movq %rdx, 48(%rsp)
    movq %rdi, 56(%rsp)
    movq %rsi, 64(%rsp)
    movq %r8, 72(%rsp)
    movq %r9, 80(%rsp)
    movq %r10, 88(%rsp)
    movq %r11, 96(%rsp)
    movq %r12, 104(%rsp)
    movq %r13, 112(%rsp)
    movq %r14, 120(%rsp)
    movq %r15, 128(%rsp)
    pushfq
    popq %rax
    movq %rax, 136(%rsp)
    xorq %rax, %rax
    movw %cs, %ax
    movq %rax, 144(%rsp)
    movw %fs, %ax
    movq %rax, 152(%rsp)
    movw %gs, %ax
    movq %rax, 160(%rsp)
    movq 8(%rbp), %rax
    movq %rax, 0(%rsp)
    movq 0(%rbp), %rax
    movq %rax, 8(%rsp)
    leaq 16(%rbp), %rax
    movq %rax, 16(%rsp)
    movq %rsi, %rdx
    movq %rdi, %rsi
    movq %rsp, %rdi
    call qcrash_thread_state_current_continue@PLT
    leave
    .cfi_def_cfa %rsp, 8
    ret
    .cfi_endproc
    .size qcrash_async_thread_state_current, .-qcrash_async_thread_state_current
)");
#endif

}  // namespace tervolo::crash
