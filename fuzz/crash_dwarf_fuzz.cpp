// The DWARF call-frame reader on arbitrary bytes as an .eh_frame (or
// .debug_frame) section: finding FDEs, parsing CIEs and FDEs, running their
// programs, applying the rules to a made-up frame and evaluating the bytes as
// an expression must end (no endless loop) without a crash.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crash/AsyncDwarf.hpp"
#include "crash/MachOFormat.hpp"

using namespace tervolo::crash;

namespace {

template <typename P, typename S>
void run(const qcrash_async_mobject_t* section, bool debugFrame, P pc,
         const qcrash_async_thread_state_t* frame) {
    const auto* order = qcrash_async_byteorder_little_endian();
    dwarf_frame_reader<P> reader;
    reader.init(section, order, sizeof(P) == 8, debugFrame);
    qcrash_async_dwarf_fde_info_t fde;
    if (reader.find_fde(0, pc, &fde) != QCRASH_ESUCCESS) return;
    const auto ptrs = qcrash_async_dwarf_section_ptr_reader<P>(section, order);
    qcrash_async_dwarf_cie_info_t cie;
    if (qcrash_async_dwarf_cie_info_init(&cie, section, order, &ptrs,
                                         section->task_address + fde.cie_offset) != QCRASH_ESUCCESS)
        return;
    dwarf_cfa_state<P, S> state;
    if (state.eval_program(section, pc, static_cast<P>(fde.pc_start), &cie, &ptrs, order,
                           section->task_address,
                           static_cast<qcrash_vm_off_t>(cie.initial_instructions_offset),
                           cie.initial_instructions_length) != QCRASH_ESUCCESS)
        return;
    if (state.eval_program(section, pc, static_cast<P>(fde.pc_start), &cie, &ptrs, order,
                           section->task_address, static_cast<qcrash_vm_off_t>(fde.instructions_offset),
                           fde.instructions_length) != QCRASH_ESUCCESS)
        return;
    qcrash_async_thread_state_t caller;
    state.apply_state(qcrash_task_self(), &cie, frame, order, &caller);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9 || size > 64 * 1024) return 0;
    qcrash_async_mobject_copy_own_memory(1 << 20);
    const uint8_t flags = data[0];
    uint64_t pc;
    std::memcpy(&pc, data + 1, sizeof pc);
    const std::vector<uint8_t> bytes(data + 9, data + size);
    if (bytes.empty()) return 0;

    // A frame whose stack is a buffer of our own.
    static uint64_t stack[64];
    qcrash_async_thread_state_t frame;
    qcrash_async_thread_state_init(&frame, macho::CPU_TYPE_X86_64);
    for (uint32_t r = 0; r < frame.reg_count; ++r) {
        qcrash_async_thread_state_set_reg(&frame, r, reinterpret_cast<uint64_t>(&stack[16 + r]));
    }

    qcrash_async_mobject_t section;
    if (qcrash_async_mobject_init(&section, qcrash_task_self(), reinterpret_cast<uint64_t>(bytes.data()),
                                  bytes.size(), true) != QCRASH_ESUCCESS)
        return 0;
    const bool debugFrame = (flags & 2) != 0;
    // pcs inside the section make pc-relative FDEs findable.
    const uint64_t relativePc = reinterpret_cast<uint64_t>(bytes.data()) + (pc % bytes.size());
    if ((flags & 1) != 0) {
        run<uint64_t, int64_t>(&section, debugFrame, pc, &frame);
        run<uint64_t, int64_t>(&section, debugFrame, relativePc, &frame);
    } else {
        run<uint32_t, int32_t>(&section, debugFrame, static_cast<uint32_t>(pc), &frame);
    }
    uint64_t result;
    const uint64_t initial = reinterpret_cast<uint64_t>(&stack[32]);
    qcrash_async_dwarf_expression_eval<uint64_t, int64_t>(
        &section, qcrash_task_self(), &frame, qcrash_async_byteorder_little_endian(), section.task_address, 0,
        bytes.size(), &initial, 1, &result);
    qcrash_async_mobject_free(&section);
    return 0;
}
