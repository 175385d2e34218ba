#pragma once

// A thread's register state as the unwinders and the report see it: a
// register file in our own numbering (pc, fp, sp first), the registers that
// hold a value, the register width and the stack direction.
//
// Three register sets: 64-bit ARM and 32-bit ARM (the platform's), and
// x86-64, the host's. x86-64 numbering: 0 rip (pc), 1 rbp (fp), 2 rsp (sp),
// 3 rax, 4 rbx, 5 rcx, 6 rdx, 7 rdi, 8 rsi, 9-16 r8-r15, 17 rflags, 18 cs,
// 19 fs, 20 gs.
//
// Async-safe.

#include <ucontext.h>

#include "crash/AsyncSupport.hpp"

namespace tervolo::crash {

enum qcrash_thread_arch : uint32_t {
    QCRASH_THREAD_ARCH_ARM64 = 1,
    QCRASH_THREAD_ARCH_ARM32 = 2,
    QCRASH_THREAD_ARCH_X86_64 = 3,
};

inline constexpr uint32_t QCRASH_STACK_DIRECTION_DOWN = 2;
inline constexpr uint32_t QCRASH_STACK_DIRECTION_UP = 1;
inline constexpr uint32_t QCRASH_THREAD_STATE_MAX_REGS = 34;

// Register numbers shared by every set.
enum : uint32_t {
    QCRASH_REG_IP = 0,
    QCRASH_REG_FP = 1,
    QCRASH_REG_SP = 2,
};

// 64-bit ARM: x0-x28 are 3-31, lr 32, cpsr 33.
inline constexpr uint32_t QCRASH_ARM64_X0 = 3;
inline constexpr uint32_t QCRASH_ARM64_LR = 32;
inline constexpr uint32_t QCRASH_ARM64_CPSR = 33;
// 32-bit ARM: r0-r6 are 3-9, r8-r12 10-14, lr 15, cpsr 16.
inline constexpr uint32_t QCRASH_ARM32_LR = 15;
// x86-64.
enum : uint32_t {
    QCRASH_X86_64_RAX = 3,
    QCRASH_X86_64_RBX,
    QCRASH_X86_64_RCX,
    QCRASH_X86_64_RDX,
    QCRASH_X86_64_RDI,
    QCRASH_X86_64_RSI,
    QCRASH_X86_64_R8,
    QCRASH_X86_64_R9,
    QCRASH_X86_64_R10,
    QCRASH_X86_64_R11,
    QCRASH_X86_64_R12,
    QCRASH_X86_64_R13,
    QCRASH_X86_64_R14,
    QCRASH_X86_64_R15,
    QCRASH_X86_64_RFLAGS,
    QCRASH_X86_64_CS,
    QCRASH_X86_64_FS,
    QCRASH_X86_64_GS,
};

// No register / "on the stack" in register-number slots.
inline constexpr uint32_t QCRASH_REG_INVALID = 0x7FFFFFFF;

// The pc of a state is a return address (the instruction after a call), so
// unwind tables are looked up for the byte before it: a call that ends a
// function would otherwise land in the next function's entry. Not set for a
// thread interrupted by a signal, whose pc is the interrupted instruction.
inline constexpr uint32_t QCRASH_THREAD_STATE_PC_IS_RETURN_ADDRESS = 1;

struct qcrash_async_thread_state_t {
    uint32_t stack_direction;
    // General register width in bytes: 8 or 4.
    uint32_t greg_size;
    // Bit n set when register n holds a value.
    uint64_t valid_regs;
    qcrash_thread_arch arch;
    uint32_t reg_count;
    uint32_t flags;
    uint64_t regs[QCRASH_THREAD_STATE_MAX_REGS];
};

// An empty state for a CPU type (the platform's numbers: 0x100000C 64-bit
// ARM, 12 32-bit ARM, 0x1000007 x86-64); 4 for any other.
qcrash_error_t qcrash_async_thread_state_init(qcrash_async_thread_state_t* state, int32_t cpu_type);

// The state of the thread a signal interrupted, from its user context (this
// host's machine context), every register valid.
qcrash_error_t qcrash_async_thread_state_mcontext_init(qcrash_async_thread_state_t* state,
                                                       const ucontext_t* context);

// Captures the calling thread's registers at the call and runs
// callback(state, context) on the same stack, returning its result. The state
// describes the caller: pc is the return address of this call, sp and fp the
// caller's, the callee-saved registers their values at the call.
using qcrash_async_thread_state_current_callback = qcrash_error_t (*)(qcrash_async_thread_state_t* state,
                                                                      void* context);
extern "C" qcrash_error_t qcrash_async_thread_state_current(
    qcrash_async_thread_state_current_callback callback, void* context);

void qcrash_async_thread_state_copy(qcrash_async_thread_state_t* dest,
                                    const qcrash_async_thread_state_t* source);
void qcrash_async_thread_state_clear_all_regs(qcrash_async_thread_state_t* state);
// Keeps only the callee-saved registers (and the frame pointer).
void qcrash_async_thread_state_clear_volatile_regs(qcrash_async_thread_state_t* state);
bool qcrash_async_thread_state_has_reg(const qcrash_async_thread_state_t* state, uint32_t reg);
void qcrash_async_thread_state_clear_reg(qcrash_async_thread_state_t* state, uint32_t reg);
// pc, fp, sp and lr of a 64-bit ARM state read without the pointer
// authentication bits (only the low 36 bits).
uint64_t qcrash_async_thread_state_get_reg(const qcrash_async_thread_state_t* state, uint32_t reg);
void qcrash_async_thread_state_set_reg(qcrash_async_thread_state_t* state, uint32_t reg, uint64_t value);
uint32_t qcrash_async_thread_state_get_reg_count(const qcrash_async_thread_state_t* state);
const char* qcrash_async_thread_state_get_reg_name(const qcrash_async_thread_state_t* state, uint32_t reg);
uint32_t qcrash_async_thread_state_get_stack_direction(const qcrash_async_thread_state_t* state);
uint32_t qcrash_async_thread_state_get_greg_size(const qcrash_async_thread_state_t* state);

// DWARF register numbers: false when the register has none.
bool qcrash_async_thread_state_map_reg_to_dwarf(const qcrash_async_thread_state_t* state, uint32_t reg,
                                                uint64_t* dwarf_reg);
bool qcrash_async_thread_state_map_dwarf_to_reg(const qcrash_async_thread_state_t* state, uint64_t dwarf_reg,
                                                uint32_t* reg);

// The platform CPU type of a state (for reports and the compact unwinder).
int32_t qcrash_async_thread_state_cpu_type(const qcrash_async_thread_state_t* state);

}  // namespace tervolo::crash
