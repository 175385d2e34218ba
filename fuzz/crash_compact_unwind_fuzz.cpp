// The compact unwind reader on arbitrary bytes as an __unwind_info section:
// lookups, decoding for each processor and applying entries to a made-up
// frame must end without a crash.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crash/AsyncCompactUnwind.hpp"
#include "crash/MachOFormat.hpp"

using namespace tervolo::crash;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 64 * 1024) return 0;
    qcrash_async_mobject_copy_own_memory(1 << 20);
    const std::vector<uint8_t> bytes(data, data + size);
    qcrash_async_mobject_t section;
    if (qcrash_async_mobject_init(&section, qcrash_task_self(), reinterpret_cast<uint64_t>(bytes.data()),
                                  bytes.size(), true) != QCRASH_ESUCCESS)
        return 0;

    static uint64_t stack[64];
    static const uint32_t function[64] = {};
    const int32_t cpus[] = {macho::CPU_TYPE_X86_64, macho::CPU_TYPE_ARM64, macho::CPU_TYPE_X86};
    for (int32_t cpu : cpus) {
        qcrash_async_thread_state_t frame;
        const bool hasState = qcrash_async_thread_state_init(&frame, cpu) == QCRASH_ESUCCESS;
        if (hasState) {
            for (uint32_t r = 0; r < frame.reg_count; ++r) {
                qcrash_async_thread_state_set_reg(&frame, r,
                                                  reinterpret_cast<uint64_t>(&stack[32]) & 0xFFFFFFFFFull);
            }
        }
        qcrash_async_cfe_reader_t reader;
        const bool readable = qcrash_async_cfe_reader_init(&reader, &section, cpu) == QCRASH_ESUCCESS;
        for (size_t i = 0; i + 4 <= size && i < 64; i += 4) {
            uint32_t word;
            std::memcpy(&word, data + i, 4);
            uint32_t encoding = word;
            uint32_t functionOffset = 0;
            if (readable) qcrash_async_cfe_reader_find_pc(&reader, word, &functionOffset, &encoding);
            qcrash_async_cfe_entry_t entry;
            if (qcrash_async_cfe_entry_init(&entry, cpu, encoding) != QCRASH_ESUCCESS || !hasState) continue;
            qcrash_async_thread_state_t caller;
            qcrash_async_cfe_entry_apply(qcrash_task_self(), reinterpret_cast<uint64_t>(function), &frame,
                                         &entry, &caller);
        }
        uint32_t list[6];
        qcrash_async_cfe_register_decode(data[0] | (data[1] << 8), data[2] % 8, list);
    }
    qcrash_async_mobject_free(&section);
    return 0;
}
