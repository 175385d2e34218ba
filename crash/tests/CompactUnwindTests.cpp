#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <vector>

#include "ByteBuilder.hpp"
#include "crash/AsyncCompactUnwind.hpp"
#include "crash/MachOFormat.hpp"

namespace tervolo::crash {
namespace {

using testing::Bytes;
using testing::Mapped;

constexpr uint32_t kEncRegularA = 0x01020011;  // x86-64 frame
constexpr uint32_t kEncRegularB = 0x02030000;
constexpr uint32_t kEncCommon = 0x04000123;  // DWARF
constexpr uint32_t kEncPage = 0x02010000;

// An __unwind_info section: one regular page (functions at 0x1000 and
// 0x1100), one compressed page from 0x2000, a sentinel at 0x3000.
Bytes unwindInfo() {
    const uint32_t commonCount = 1;
    const uint32_t indexOffset = 28 + 4 * commonCount;
    const uint32_t regularPage = indexOffset + 12 * 3;
    const uint32_t compressedPage = regularPage + 8 + 16;
    Bytes b;
    b.u32(1).u32(28).u32(commonCount).u32(0).u32(0).u32(indexOffset).u32(3);
    b.u32(kEncCommon);
    b.u32(0x1000).u32(regularPage).u32(0);
    b.u32(0x2000).u32(compressedPage).u32(0);
    b.u32(0x3000).u32(0).u32(0);  // sentinel
    b.u32(2).u16(8).u16(2);
    b.u32(0x1000).u32(kEncRegularA).u32(0x1100).u32(kEncRegularB);
    b.u32(3).u16(12).u16(3).u16(24).u16(1);
    b.u32(0x000000)
        .u32((1u << 24) | 0x40)
        .u32((2u << 24) | 0x80);  // common 0, page 0, one past the page table
    b.u32(kEncPage);
    return b;
}

TEST(CompactUnwind, FindsEncodingsInRegularAndCompressedPages) {
    const Mapped m(unwindInfo().data);
    qcrash_async_cfe_reader_t reader;
    ASSERT_EQ(qcrash_async_cfe_reader_init(&reader, &m.mobj, macho::CPU_TYPE_X86_64), QCRASH_ESUCCESS);
    struct Case {
        uint64_t pc;
        qcrash_error_t result;
        uint32_t function;
        uint32_t encoding;
    } cases[] = {
        {0x0FFF, QCRASH_ENOTFOUND, 0, 0},                 // below the first index entry
        {0x1000, QCRASH_ESUCCESS, 0x1000, kEncRegularA},  // a page's first function
        {0x10FF, QCRASH_ESUCCESS, 0x1000, kEncRegularA},
        {0x1100, QCRASH_ESUCCESS, 0x1100, kEncRegularB},
        {0x1FFF, QCRASH_ESUCCESS, 0x1100, kEncRegularB},
        {0x2000, QCRASH_ESUCCESS, 0x2000, kEncCommon},
        {0x2050, QCRASH_ESUCCESS, 0x2040, kEncPage},
        {0x2080, QCRASH_EINVAL, 0, 0},  // encoding index one past the page table
        {0x5000, QCRASH_EINVAL, 0, 0},  // the sentinel is never chosen
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pc);
        uint32_t function = 0;
        uint32_t encoding = 0;
        ASSERT_EQ(qcrash_async_cfe_reader_find_pc(&reader, c.pc, &function, &encoding), c.result);
        if (c.result != QCRASH_ESUCCESS) continue;
        EXPECT_EQ(function, c.function);
        EXPECT_EQ(encoding, c.encoding);
    }
    qcrash_async_cfe_reader_free(&reader);

    EXPECT_EQ(qcrash_async_cfe_reader_init(&reader, &m.mobj, 18), QCRASH_ENOTSUP);  // PowerPC
    Bytes version2 = unwindInfo();
    version2.data[0] = 2;
    const Mapped v2(version2.data);
    EXPECT_EQ(qcrash_async_cfe_reader_init(&reader, &v2.mobj, macho::CPU_TYPE_ARM64), QCRASH_ENOTSUP);
    const Mapped tiny(Bytes().u32(1).data);
    EXPECT_EQ(qcrash_async_cfe_reader_init(&reader, &tiny.mobj, macho::CPU_TYPE_ARM64), QCRASH_EINVAL);
    // An index holding only its sentinel.
    const Mapped empty(Bytes().u32(1).u32(28).u32(0).u32(0).u32(0).u32(28).u32(1).u32(0).u32(0).u32(0).data);
    ASSERT_EQ(qcrash_async_cfe_reader_init(&reader, &empty.mobj, macho::CPU_TYPE_ARM64), QCRASH_ESUCCESS);
    uint32_t f, e;
    EXPECT_EQ(qcrash_async_cfe_reader_find_pc(&reader, 0x10, &f, &e), QCRASH_ENOTFOUND);
}

constexpr uint32_t X(uint32_t n) {
    return QCRASH_ARM64_X0 + n;
}

TEST(CompactUnwind, DecodesEachProcessorsEncodings) {
    struct Case {
        const char* name;
        int32_t cpu;
        uint32_t encoding;
        qcrash_error_t result;
        qcrash_async_cfe_type type;
        int64_t offset;
        uint32_t adjust;
        uint32_t returnRegister;
        std::vector<uint32_t> registers;
    } cases[] = {
        {"arm64 frame x28-x27 x20-x19",
         macho::CPU_TYPE_ARM64,
         0x04000011,
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_FRAME_PTR,
         -32,
         0,
         QCRASH_REG_INVALID,
         {X(28), X(27), X(20), X(19)}},
        {"arm64 frameless 48 bytes",
         macho::CPU_TYPE_ARM64,
         0x02003000,
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
         48,
         0,
         QCRASH_ARM64_LR,
         {}},
        {"arm64 DWARF",
         macho::CPU_TYPE_ARM64,
         0x03001234,
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_DWARF,
         0x1234,
         0,
         QCRASH_REG_INVALID,
         {}},
        {"arm64 none",
         macho::CPU_TYPE_ARM64,
         0x00000000,
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_NONE,
         0,
         0,
         QCRASH_REG_INVALID,
         {}},
        {"arm64 mode 1",
         macho::CPU_TYPE_ARM64,
         0x01000000,
         QCRASH_ENOTSUP,
         QCRASH_ASYNC_CFE_TYPE_NONE,
         0,
         0,
         0,
         {}},
        {"arm64 mode 5",
         macho::CPU_TYPE_ARM64,
         0x05000000,
         QCRASH_ENOTSUP,
         QCRASH_ASYNC_CFE_TYPE_NONE,
         0,
         0,
         0,
         {}},
        {"x86-64 frame rbx r12",
         macho::CPU_TYPE_X86_64,
         0x01020011,
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_FRAME_PTR,
         -16,
         0,
         QCRASH_REG_INVALID,
         {QCRASH_X86_64_RBX, QCRASH_X86_64_R12}},
        {"x86-64 frame with an empty slot",
         macho::CPU_TYPE_X86_64,
         0x01030000 | (1 << 6),
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_FRAME_PTR,
         -24,
         0,
         QCRASH_REG_INVALID,
         {QCRASH_REG_INVALID, QCRASH_REG_INVALID, QCRASH_X86_64_RBX}},
        {"x86-64 frame field 7",
         macho::CPU_TYPE_X86_64,
         0x01000007,
         QCRASH_EINVAL,
         QCRASH_ASYNC_CFE_TYPE_NONE,
         0,
         0,
         0,
         {}},
        {"x86-64 frameless immediate",
         macho::CPU_TYPE_X86_64,
         0x02030000 | (2 << 10) | 0,
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
         24,
         0,
         QCRASH_REG_INVALID,
         {QCRASH_X86_64_RBX, QCRASH_X86_64_R12}},
        {"x86-64 frameless indirect",
         macho::CPU_TYPE_X86_64,
         0x03100000 | (3 << 13) | (1 << 10) | 5,
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT,
         0x10,
         24,
         QCRASH_REG_INVALID,
         {QCRASH_REG_FP}},
        {"x86-64 frameless with 7 registers",
         macho::CPU_TYPE_X86_64,
         0x02000000 | (7 << 10),
         QCRASH_EINVAL,
         QCRASH_ASYNC_CFE_TYPE_NONE,
         0,
         0,
         0,
         {}},
        {"x86-64 DWARF",
         macho::CPU_TYPE_X86_64,
         0x04000042,
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_DWARF,
         0x42,
         0,
         QCRASH_REG_INVALID,
         {}},
        {"x86 frame",
         macho::CPU_TYPE_X86,
         0x01020011,
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_FRAME_PTR,
         -8,
         0,
         QCRASH_REG_INVALID,
         {QCRASH_X86_64_RBX, QCRASH_X86_64_RCX}},
        {"x86 frameless immediate",
         macho::CPU_TYPE_X86,
         0x02040000,
         QCRASH_ESUCCESS,
         QCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
         16,
         0,
         QCRASH_REG_INVALID,
         {}},
        {"unknown processor", 18, 0x01000000, QCRASH_ENOTSUP, QCRASH_ASYNC_CFE_TYPE_NONE, 0, 0, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qcrash_async_cfe_entry_t entry;
        ASSERT_EQ(qcrash_async_cfe_entry_init(&entry, c.cpu, c.encoding), c.result);
        if (c.result != QCRASH_ESUCCESS) continue;
        EXPECT_EQ(qcrash_async_cfe_entry_type(&entry), c.type);
        EXPECT_EQ(qcrash_async_cfe_entry_stack_offset(&entry), c.offset);
        EXPECT_EQ(qcrash_async_cfe_entry_stack_adjustment(&entry), c.adjust);
        if (c.type != QCRASH_ASYNC_CFE_TYPE_DWARF && c.type != QCRASH_ASYNC_CFE_TYPE_NONE) {
            EXPECT_EQ(qcrash_async_cfe_entry_return_address_register(&entry), c.returnRegister);
        }
        std::vector<uint32_t> registers(qcrash_async_cfe_entry_register_count(&entry));
        qcrash_async_cfe_entry_register_list(&entry, registers.data());
        EXPECT_EQ(registers, c.registers);
    }
}

TEST(CompactUnwind, PermutationCodeRoundTripsEveryRegisterOrder) {
    size_t orders = 0;
    for (uint32_t count = 1; count <= 6; ++count) {
        // Every ordered choice of `count` distinct registers from 1 to 6.
        std::vector<uint32_t> all = {1, 2, 3, 4, 5, 6};
        std::vector<std::vector<uint32_t>> seen;
        do {
            std::vector<uint32_t> list(all.begin(), all.begin() + count);
            if (std::find(seen.begin(), seen.end(), list) != seen.end()) continue;
            seen.push_back(list);
            const uint32_t code = qcrash_async_cfe_register_encode(list.data(), count);
            EXPECT_LT(code, 1024u);
            std::vector<uint32_t> decoded(count);
            ASSERT_EQ(qcrash_async_cfe_register_decode(code, count, decoded.data()), QCRASH_ESUCCESS);
            ASSERT_EQ(decoded, list) << "count " << count << " code " << code;
        } while (std::next_permutation(all.begin(), all.end()));
        orders += seen.size();
    }
    EXPECT_EQ(orders, 6u + 30 + 120 + 360 + 720 + 720);

    for (uint32_t code = 0; code < 6; ++code) {
        uint32_t one;
        ASSERT_EQ(qcrash_async_cfe_register_decode(code, 1, &one), QCRASH_ESUCCESS);
        EXPECT_EQ(one, code + 1);
    }
    uint32_t none[7];
    EXPECT_EQ(qcrash_async_cfe_register_decode(0, 0, none), QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_cfe_register_decode(0, 7, none), QCRASH_EINVAL);
}

qcrash_async_thread_state_t state(int32_t cpu) {
    qcrash_async_thread_state_t s;
    qcrash_async_thread_state_init(&s, cpu);
    return s;
}

TEST(CompactUnwind, ApplyingEntriesToAStack) {
    // x86-64 frame: rbp -> [saved rbp][return address]; rbx and r12 saved
    // just below, at rbp - 16 upward.
    uint64_t stack[8] = {0, 0, 0xB0B0, 0x1212, 0xF00D, 0x401000, 0, 0};
    const uint64_t fp = reinterpret_cast<uint64_t>(&stack[4]);
    auto current = state(macho::CPU_TYPE_X86_64);
    qcrash_async_thread_state_set_reg(&current, QCRASH_REG_FP, fp);
    qcrash_async_thread_state_set_reg(&current, QCRASH_REG_SP, fp - 64);
    qcrash_async_thread_state_set_reg(&current, QCRASH_X86_64_RAX, 7);
    qcrash_async_cfe_entry_t entry;
    ASSERT_EQ(qcrash_async_cfe_entry_init(&entry, macho::CPU_TYPE_X86_64, 0x01020011), QCRASH_ESUCCESS);
    qcrash_async_thread_state_t caller;
    ASSERT_EQ(qcrash_async_cfe_entry_apply(qcrash_task_self(), 0, &current, &entry, &caller),
              QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_IP), 0x401000u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_FP), 0xF00Du);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_SP), fp + 16);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_X86_64_RBX), 0xB0B0u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_X86_64_R12), 0x1212u);
    EXPECT_FALSE(qcrash_async_thread_state_has_reg(&caller, QCRASH_X86_64_RAX));

    // x86-64 frameless, 24 bytes with rbx saved: [rbx][return] at the top.
    uint64_t frameless[3] = {0, 0xBBBB, 0x402000};
    const uint64_t sp = reinterpret_cast<uint64_t>(frameless);
    auto leaf = state(macho::CPU_TYPE_X86_64);
    qcrash_async_thread_state_set_reg(&leaf, QCRASH_REG_SP, sp);
    ASSERT_EQ(qcrash_async_cfe_entry_init(&entry, macho::CPU_TYPE_X86_64, 0x02030000 | (1 << 10) | 0),
              QCRASH_ESUCCESS);
    ASSERT_EQ(qcrash_async_cfe_entry_apply(qcrash_task_self(), 0, &leaf, &entry, &caller), QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_IP), 0x402000u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_SP), sp + 24);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_X86_64_RBX), 0xBBBBu);

    // Indirect: the stack size is a 32-bit immediate inside the function.
    const uint32_t function[4] = {0, 0, 16, 0};  // size 16 at offset 8
    ASSERT_EQ(qcrash_async_cfe_entry_init(&entry, macho::CPU_TYPE_X86_64, 0x03080000 | (1 << 13)),
              QCRASH_ESUCCESS);
    uint64_t indirect[3] = {0, 0, 0x403000};  // 16 + 8 adjustment = 24
    qcrash_async_thread_state_set_reg(&leaf, QCRASH_REG_SP, reinterpret_cast<uint64_t>(indirect));
    ASSERT_EQ(qcrash_async_cfe_entry_apply(qcrash_task_self(), reinterpret_cast<uint64_t>(function), &leaf,
                                           &entry, &caller),
              QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_IP), 0x403000u);

    // arm64 frameless: the return address is in lr. Its sp is read as 36
    // bits (pointer authentication), so the stack must lie below 64 GiB.
    auto arm = state(macho::CPU_TYPE_ARM64);
    // (Below 2 GiB too: the address sanitizer's shadow takes the rest.)
    void* low = MAP_FAILED;
    for (uint64_t hint : {0x40000000ull, 0x20000000ull, 0x300000000ull}) {
        low = mmap(reinterpret_cast<void*>(hint), 4096, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (low != MAP_FAILED) break;
    }
    ASSERT_NE(low, MAP_FAILED);
    ASSERT_LT(reinterpret_cast<uint64_t>(low), 1ull << 36);
    auto* armStack = static_cast<uint64_t*>(low) + 8;
    armStack[0] = 0x2828;
    armStack[1] = 0x2727;
    qcrash_async_thread_state_set_reg(&arm, QCRASH_REG_SP, reinterpret_cast<uint64_t>(armStack) - 32);
    qcrash_async_thread_state_set_reg(&arm, QCRASH_ARM64_LR, 0x104000);
    ASSERT_EQ(qcrash_async_cfe_entry_init(&entry, macho::CPU_TYPE_ARM64, 0x02003010), QCRASH_ESUCCESS);
    ASSERT_EQ(qcrash_async_cfe_entry_apply(qcrash_task_self(), 0, &arm, &entry, &caller), QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_IP), 0x104000u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, X(28)), 0x2828u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, X(27)), 0x2727u);

    // Refusals: DWARF and none kinds, a frame without fp, frameless without sp.
    ASSERT_EQ(qcrash_async_cfe_entry_init(&entry, macho::CPU_TYPE_ARM64, 0x03000010), QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_cfe_entry_apply(qcrash_task_self(), 0, &arm, &entry, &caller), QCRASH_ENOTSUP);
    ASSERT_EQ(qcrash_async_cfe_entry_init(&entry, macho::CPU_TYPE_ARM64, 0x04000000), QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_cfe_entry_apply(qcrash_task_self(), 0, &arm, &entry, &caller), QCRASH_ENOTFOUND);
    auto empty = state(macho::CPU_TYPE_X86_64);
    ASSERT_EQ(qcrash_async_cfe_entry_init(&entry, macho::CPU_TYPE_X86_64, 0x02030000), QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_cfe_entry_apply(qcrash_task_self(), 0, &empty, &entry, &caller), QCRASH_ENOTFOUND);
    munmap(low, 4096);
}

}  // namespace
}  // namespace tervolo::crash
