#include <dlfcn.h>
#include <execinfo.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "crash/AsyncFrameCursor.hpp"
#include "crash/AsyncThreadCapture.hpp"
#include "crash/MachOFormat.hpp"
#include "fixtures/UnwindChains.hpp"

namespace tervolo::crash {
namespace {

qcrash_async_thread_state_t x86() {
    qcrash_async_thread_state_t s;
    qcrash_async_thread_state_init(&s, macho::CPU_TYPE_X86_64);
    return s;
}

TEST(ThreadState, RegisterSetsNamesAndDwarfNumbers) {
    qcrash_async_thread_state_t s;
    EXPECT_EQ(qcrash_async_thread_state_init(&s, macho::CPU_TYPE_X86), QCRASH_ENOTSUP);
    struct Case {
        int32_t cpu;
        uint32_t count;
        uint32_t width;
        std::vector<std::string> firstNames;
        std::string last;
    } cases[] = {
        {macho::CPU_TYPE_ARM64, 34, 8, {"pc", "fp", "sp", "x0"}, "cpsr"},
        {macho::CPU_TYPE_ARM, 17, 4, {"pc", "r7", "sp", "r0"}, "cpsr"},
        {macho::CPU_TYPE_X86_64, 21, 8, {"rip", "rbp", "rsp", "rax"}, "gs"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(qcrash_async_thread_state_init(&s, c.cpu), QCRASH_ESUCCESS);
        EXPECT_EQ(qcrash_async_thread_state_get_reg_count(&s), c.count);
        EXPECT_EQ(qcrash_async_thread_state_get_greg_size(&s), c.width);
        EXPECT_EQ(qcrash_async_thread_state_get_stack_direction(&s), QCRASH_STACK_DIRECTION_DOWN);
        for (uint32_t i = 0; i < c.firstNames.size(); ++i) {
            EXPECT_EQ(qcrash_async_thread_state_get_reg_name(&s, i), c.firstNames[i]);
        }
        EXPECT_EQ(qcrash_async_thread_state_get_reg_name(&s, c.count - 1), c.last);
        EXPECT_EQ(qcrash_async_thread_state_cpu_type(&s), c.cpu);
    }

    struct Map {
        int32_t cpu;
        uint64_t dwarf;
        bool mapped;
        uint32_t reg;
    } maps[] = {
        {macho::CPU_TYPE_X86_64, 0, true, QCRASH_X86_64_RAX},
        {macho::CPU_TYPE_X86_64, 1, true, QCRASH_X86_64_RDX},
        {macho::CPU_TYPE_X86_64, 3, true, QCRASH_X86_64_RBX},
        {macho::CPU_TYPE_X86_64, 6, true, QCRASH_REG_FP},
        {macho::CPU_TYPE_X86_64, 7, true, QCRASH_REG_SP},
        {macho::CPU_TYPE_X86_64, 15, true, QCRASH_X86_64_R15},
        {macho::CPU_TYPE_X86_64, 16, true, QCRASH_REG_IP},
        {macho::CPU_TYPE_X86_64, 17, false, 0},
        {macho::CPU_TYPE_ARM64, 0, true, QCRASH_ARM64_X0},
        {macho::CPU_TYPE_ARM64, 29, true, QCRASH_REG_FP},
        {macho::CPU_TYPE_ARM64, 30, true, QCRASH_ARM64_LR},
        {macho::CPU_TYPE_ARM64, 31, true, QCRASH_REG_SP},
        {macho::CPU_TYPE_ARM64, 32, false, 0},
        {macho::CPU_TYPE_ARM, 7, true, QCRASH_REG_FP},
        {macho::CPU_TYPE_ARM, 8, true, 10},
        {macho::CPU_TYPE_ARM, 15, true, QCRASH_REG_IP},
    };
    for (const auto& m : maps) {
        SCOPED_TRACE(std::to_string(m.cpu) + " dwarf " + std::to_string(m.dwarf));
        qcrash_async_thread_state_init(&s, m.cpu);
        uint32_t reg = 999;
        ASSERT_EQ(qcrash_async_thread_state_map_dwarf_to_reg(&s, m.dwarf, &reg), m.mapped);
        if (!m.mapped) continue;
        EXPECT_EQ(reg, m.reg);
        uint64_t back;
        ASSERT_TRUE(qcrash_async_thread_state_map_reg_to_dwarf(&s, reg, &back));
        EXPECT_EQ(back, m.dwarf);
    }
    qcrash_async_thread_state_init(&s, macho::CPU_TYPE_ARM64);
    uint64_t none;
    EXPECT_FALSE(qcrash_async_thread_state_map_reg_to_dwarf(&s, QCRASH_ARM64_CPSR, &none));
}

TEST(ThreadState, VolatileRegistersPointerAuthenticationAndWidth) {
    qcrash_async_thread_state_t s = x86();
    for (uint32_t r = 0; r < s.reg_count; ++r) qcrash_async_thread_state_set_reg(&s, r, r + 100);
    qcrash_async_thread_state_clear_volatile_regs(&s);
    std::vector<uint32_t> kept;
    for (uint32_t r = 0; r < s.reg_count; ++r) {
        if (qcrash_async_thread_state_has_reg(&s, r)) kept.push_back(r);
    }
    EXPECT_EQ(kept, (std::vector<uint32_t>{QCRASH_REG_FP, QCRASH_X86_64_RBX, QCRASH_X86_64_R12,
                                           QCRASH_X86_64_R13, QCRASH_X86_64_R14, QCRASH_X86_64_R15}));

    qcrash_async_thread_state_init(&s, macho::CPU_TYPE_ARM64);
    for (uint32_t r = 0; r < s.reg_count; ++r)
        qcrash_async_thread_state_set_reg(&s, r, 0xABCD000123456789ull);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_REG_IP), 0x123456789ull);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_ARM64_LR), 0x123456789ull);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_ARM64_X0), 0xABCD000123456789ull);
    qcrash_async_thread_state_clear_volatile_regs(&s);
    EXPECT_TRUE(qcrash_async_thread_state_has_reg(&s, QCRASH_ARM64_X0 + 19));
    EXPECT_FALSE(qcrash_async_thread_state_has_reg(&s, QCRASH_ARM64_X0 + 18));
    EXPECT_FALSE(qcrash_async_thread_state_has_reg(&s, QCRASH_ARM64_LR));

    qcrash_async_thread_state_init(&s, macho::CPU_TYPE_ARM);
    qcrash_async_thread_state_set_reg(&s, QCRASH_REG_SP, 0x1234567890ull);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_REG_SP), 0x34567890u);
    for (uint32_t r = 0; r < s.reg_count; ++r) qcrash_async_thread_state_set_reg(&s, r, 1);
    qcrash_async_thread_state_clear_volatile_regs(&s);
    uint32_t kept32 = 0;
    for (uint32_t r = 0; r < s.reg_count; ++r) kept32 += qcrash_async_thread_state_has_reg(&s, r);
    EXPECT_EQ(kept32, 7u);  // r4, r5, r6, r7, r8, r10, r11
}

TEST(ThreadState, FromASignalsMachineContext) {
    ucontext_t context{};
    auto* g = context.uc_mcontext.gregs;
    g[REG_RIP] = 0x401000;
    g[REG_RBP] = 0x7000;
    g[REG_RSP] = 0x6000;
    g[REG_RAX] = 1;
    g[REG_R15] = 15;
    g[REG_EFL] = 0x246;
    g[REG_CSGSFS] = static_cast<greg_t>(0x33ull | (0x2Bull << 16) | (0x63ull << 32));  // cs, gs, fs
    qcrash_async_thread_state_t s;
    ASSERT_EQ(qcrash_async_thread_state_mcontext_init(&s, &context), QCRASH_ESUCCESS);
    EXPECT_EQ(s.valid_regs, (1ull << 21) - 1);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_REG_IP), 0x401000u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_REG_FP), 0x7000u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_REG_SP), 0x6000u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_X86_64_RAX), 1u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_X86_64_R15), 15u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_X86_64_RFLAGS), 0x246u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_X86_64_CS), 0x33u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_X86_64_GS), 0x2Bu);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&s, QCRASH_X86_64_FS), 0x63u);
    EXPECT_EQ(s.flags & QCRASH_THREAD_STATE_PC_IS_RETURN_ADDRESS, 0u);
}

// ---- the cursor on hand-made stacks ----

plframe_error_t failingReader(qcrash_task_t, qcrash_async_image_list_t*, const qcrash_async_thread_state_t*,
                              const qcrash_async_thread_state_t*, qcrash_async_thread_state_t*) {
    return PLFRAME_EBADFRAME;
}

TEST(FrameCursor, FramePointerWalksAndItsEnds) {
    EXPECT_STREQ(plframe_strerror(2), "No frames are available");
    EXPECT_STREQ(plframe_strerror(7), "Invalid register");
    EXPECT_STREQ(plframe_strerror(8), "Unhandled error code");

    qcrash_async_image_list_t list;
    qcrash_nasync_image_list_init(&list, qcrash_task_self());
    // Frames: [fp0] -> [fp1] -> [0]; return addresses 0x500000, 0x600000.
    uint64_t stack[6] = {0, 0, 0, 0, 0, 0};
    stack[0] = reinterpret_cast<uint64_t>(&stack[2]);
    stack[1] = 0x500000;
    stack[2] = 0;
    stack[3] = 0x600000;
    auto initial = x86();
    qcrash_async_thread_state_set_reg(&initial, QCRASH_REG_IP, 0x400123);
    qcrash_async_thread_state_set_reg(&initial, QCRASH_REG_FP, reinterpret_cast<uint64_t>(&stack[0]));
    qcrash_async_thread_state_set_reg(&initial, QCRASH_X86_64_RAX, 0x42);

    plframe_cursor_t cursor;
    plframe_cursor_init(&cursor, qcrash_task_self(), &initial, &list);
    ASSERT_EQ(plframe_cursor_next(&cursor), PLFRAME_ESUCCESS);  // the initial state, unchanged
    uint64_t value;
    ASSERT_EQ(plframe_cursor_get_reg(&cursor, QCRASH_X86_64_RAX, &value), PLFRAME_ESUCCESS);
    EXPECT_EQ(value, 0x42u);
    ASSERT_EQ(plframe_cursor_next(&cursor), PLFRAME_ESUCCESS);
    ASSERT_EQ(plframe_cursor_get_reg(&cursor, QCRASH_REG_IP, &value), PLFRAME_ESUCCESS);
    EXPECT_EQ(value, 0x500000u);
    EXPECT_EQ(plframe_cursor_get_reg(&cursor, QCRASH_X86_64_RAX, &value), PLFRAME_ENOTSUP);
    ASSERT_EQ(plframe_cursor_next(&cursor), PLFRAME_ESUCCESS);
    ASSERT_EQ(plframe_cursor_get_reg(&cursor, QCRASH_REG_IP, &value), PLFRAME_ESUCCESS);
    EXPECT_EQ(value, 0x600000u);
    EXPECT_EQ(plframe_cursor_next(&cursor), PLFRAME_ENOFRAME);  // fp 0 ends the chain
    EXPECT_EQ(plframe_cursor_get_regcount(&cursor), 21u);
    EXPECT_STREQ(plframe_cursor_get_regname(&cursor, 0), "rip");

    // A chain that points back up the stack.
    uint64_t loop[4] = {0, 0x500000, 0, 0};
    loop[0] = reinterpret_cast<uint64_t>(&loop[0]) - 64;
    qcrash_async_thread_state_set_reg(&initial, QCRASH_REG_FP, reinterpret_cast<uint64_t>(&loop[0]));
    plframe_cursor_init(&cursor, qcrash_task_self(), &initial, &list);
    ASSERT_EQ(plframe_cursor_next(&cursor), PLFRAME_ESUCCESS);
    ASSERT_EQ(plframe_cursor_next(&cursor), PLFRAME_ESUCCESS);
    EXPECT_EQ(plframe_cursor_next(&cursor), PLFRAME_EBADFRAME);

    // A return address inside the first page ends the walk.
    uint64_t low[2] = {0, 0x80};
    qcrash_async_thread_state_set_reg(&initial, QCRASH_REG_FP, reinterpret_cast<uint64_t>(&low[0]));
    plframe_cursor_init(&cursor, qcrash_task_self(), &initial, &list);
    ASSERT_EQ(plframe_cursor_next(&cursor), PLFRAME_ESUCCESS);
    EXPECT_EQ(plframe_cursor_next(&cursor), PLFRAME_ENOFRAME);

    // Readers: none is an error, all failing gives the last one's error.
    plframe_cursor_init(&cursor, qcrash_task_self(), &initial, &list);
    ASSERT_EQ(plframe_cursor_next_with_readers(&cursor, nullptr, 0), PLFRAME_ESUCCESS);
    EXPECT_EQ(plframe_cursor_next_with_readers(&cursor, nullptr, 0), PLFRAME_EINVAL);
    const plframe_cursor_frame_reader_t failing[] = {failingReader};
    EXPECT_EQ(plframe_cursor_next_with_readers(&cursor, failing, 1), PLFRAME_EBADFRAME);
    plframe_cursor_free(&cursor);
    qcrash_nasync_image_list_free(&list);
}

// ---- live walks ----

struct Walk {
    qcrash_async_image_list_t* images;
    std::vector<uint64_t> pcs;
    std::vector<uint64_t> reference;  // glibc's backtrace() at the same point
};

constexpr int kMaxFrames = 64;

qcrash_error_t walkFrom(qcrash_async_thread_state_t* state, void* context) {
    auto* walk = static_cast<Walk*>(context);
    plframe_cursor_t cursor;
    plframe_cursor_init(&cursor, qcrash_task_self(), state, walk->images);
    while (walk->pcs.size() < kMaxFrames && plframe_cursor_next(&cursor) == PLFRAME_ESUCCESS) {
        uint64_t pc;
        if (plframe_cursor_get_reg(&cursor, QCRASH_REG_IP, &pc) != PLFRAME_ESUCCESS) break;
        walk->pcs.push_back(pc);
    }
    return QCRASH_ESUCCESS;
}

// Captures here (frame 0 is this function's return address into the leaf)
// and asks glibc for the same stack.
__attribute__((noinline)) void captureAndCompare(void* context) {
    auto* walk = static_cast<Walk*>(context);
    void* frames[kMaxFrames];
    const int n = backtrace(frames, kMaxFrames);
    for (int i = 0; i < n; ++i) walk->reference.push_back(reinterpret_cast<uint64_t>(frames[i]));
    qcrash_async_thread_state_current(walkFrom, context);
    asm volatile("" ::: "memory");
}

class LiveWalk : public ::testing::Test {
  protected:
    void SetUp() override {
        qcrash_nasync_image_list_init(&images_, qcrash_task_self());
        qcrash_nasync_image_list_sync_host(&images_);
        walk_.images = &images_;
    }
    void TearDown() override { qcrash_nasync_image_list_free(&images_); }

    // Both lists start in captureAndCompare at different instructions (and
    // under the address sanitizer backtrace() adds its own frame first);
    // from its caller on they must agree.
    void expectSameCallers(size_t atLeast) {
        ASSERT_GE(walk_.pcs.size(), atLeast);
        ASSERT_GE(walk_.reference.size(), atLeast);
        const auto first = std::find(walk_.reference.begin(), walk_.reference.end(), walk_.pcs[1]);
        ASSERT_NE(first, walk_.reference.end());
        ASSERT_LE(first - walk_.reference.begin(), 2);
        const size_t offset = static_cast<size_t>(first - walk_.reference.begin()) - 1;
        const size_t n = std::min(walk_.pcs.size(), walk_.reference.size() - offset);
        ASSERT_GE(n, atLeast - 1);
        for (size_t i = 1; i < n; ++i) {
            Dl_info info{};
            dladdr(reinterpret_cast<void*>(walk_.reference[i + offset]), &info);
            EXPECT_EQ(walk_.pcs[i], walk_.reference[i + offset])
                << "frame " << i << " " << (info.dli_sname != nullptr ? info.dli_sname : "?");
        }
    }

    bool contains(uint64_t pc) const {
        return std::find(walk_.pcs.begin(), walk_.pcs.end(), pc) != walk_.pcs.end();
    }

    qcrash_async_image_list_t images_;
    Walk walk_;
};

TEST_F(LiveWalk, DwarfOnlyCodeWalksLikeBacktrace) {
    testing::ChainRecord record{};
    testing::dwarfChain(&record, captureAndCompare, &walk_);
    expectSameCallers(6);
    for (uint64_t r : record.returns) EXPECT_TRUE(contains(r)) << std::hex << r;
}

TEST_F(LiveWalk, FramePointerOnlyCodeIsWalkedThroughItsChain) {
    testing::ChainRecord record{};
    testing::framePointerChain(&record, captureAndCompare, &walk_);
    // No unwind tables: only the frame-pointer chain leads through the three
    // levels, in order.
    const auto first = std::find(walk_.pcs.begin(), walk_.pcs.end(), record.returns[0]);
    ASSERT_NE(first, walk_.pcs.end());
    ASSERT_LT(first + 2, walk_.pcs.end());
    EXPECT_EQ(first[1], record.returns[1]);
    EXPECT_EQ(first[2], record.returns[2]);
}

Walk* gSignalWalk = nullptr;
void walkInHandler(int) {
    captureAndCompare(gSignalWalk);
}
__attribute__((noinline)) void raiseInLeaf(void*) {
    raise(SIGUSR1);
}

TEST_F(LiveWalk, FromASignalHandlerThroughTheSignalFrame) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = walkInHandler;
    sigaction(SIGUSR1, &action, &previous);
    gSignalWalk = &walk_;
    testing::ChainRecord record{};
    testing::dwarfChain(&record, raiseInLeaf, nullptr);
    sigaction(SIGUSR1, &previous, nullptr);
    // Past the signal trampoline, into the interrupted code and its callers.
    expectSameCallers(8);
    for (uint64_t r : record.returns) EXPECT_TRUE(contains(r)) << std::hex << r;
}

struct Worker {
    std::atomic<int>* ready;
    std::atomic<bool>* go;
    std::atomic<uint32_t> tid{0};
    testing::ChainRecord record{};
};

__attribute__((noinline)) void spinUntilGo(void* context) {
    auto* worker = static_cast<Worker*>(context);
    worker->tid = static_cast<uint32_t>(gettid());
    worker->ready->fetch_add(1);
    while (!worker->go->load()) {
        asm volatile("" ::: "memory");
    }
}

qcrash_async_thread_entry_t gEntries[64];

TEST_F(LiveWalk, OtherThreadsAreParkedAndTheirStacksWalked) {
    ASSERT_TRUE(qcrash_nasync_thread_capture_install());
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    Worker workers[3];
    std::vector<std::thread> threads;
    for (auto& w : workers) {
        w.ready = &ready;
        w.go = &go;
        threads.emplace_back([&w] { testing::dwarfChain(&w.record, spinUntilGo, &w); });
    }
    // One more thread blocks the parking signal: it cannot be captured.
    std::atomic<uint32_t> blockedTid{0};
    threads.emplace_back([&] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, qcrash_thread_capture_signal());
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        blockedTid = static_cast<uint32_t>(gettid());
        ready.fetch_add(1);
        while (!go.load()) {
        }
    });
    while (ready.load() < 4) std::this_thread::yield();

    const uint32_t count = qcrash_async_threads_park(gEntries, 64, 1'000'000'000);
    // Each worker's stack, walked from its parked registers, leads through
    // its chain.
    for (auto& w : workers) {
        SCOPED_TRACE(w.tid.load());
        const auto* entry =
            std::find_if(gEntries, gEntries + count, [&](const auto& e) { return e.tid == w.tid; });
        ASSERT_NE(entry, gEntries + count);
        ASSERT_EQ(entry->captured.load(), 1u);
        Walk walk;
        walk.images = &images_;
        qcrash_async_thread_state_t state;
        qcrash_async_thread_state_copy(&state, &entry->state);
        walkFrom(&state, &walk);
        for (uint64_t r : w.record.returns) {
            EXPECT_NE(std::find(walk.pcs.begin(), walk.pcs.end(), r), walk.pcs.end()) << std::hex << r;
        }
    }
    const auto* blocked =
        std::find_if(gEntries, gEntries + count, [&](const auto& e) { return e.tid == blockedTid; });
    ASSERT_NE(blocked, gEntries + count);
    EXPECT_EQ(blocked->captured.load(), 0u);
    qcrash_async_threads_release();

    go = true;
    for (auto& t : threads) t.join();
    // The list of threads is our own process's: this thread is in it.
    uint32_t tids[256];
    const uint32_t listed = qcrash_async_thread_list(tids, 256);
    EXPECT_NE(std::find(tids, tids + listed, static_cast<uint32_t>(gettid())), tids + listed);
}

}  // namespace
}  // namespace tervolo::crash
