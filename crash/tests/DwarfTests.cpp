#include <gtest/gtest.h>
#include <link.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ByteBuilder.hpp"
#include "ChildProcess.hpp"
#include "crash/AsyncDwarf.hpp"
#include "crash/AsyncElfImage.hpp"
#include "crash/AsyncImageList.hpp"

namespace tervolo::crash {
namespace {

using testing::Bytes;
using testing::Mapped;

const auto* kLE = qcrash_async_byteorder_little_endian();

TEST(DwarfLeb128, ValuesSizesAndLimits) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool isSigned;
        qcrash_error_t result;
        uint64_t value;
        uint64_t size;
    } cases[] = {
        {{0x7F}, false, QCRASH_ESUCCESS, 127, 1},
        {{0x80, 0x01}, false, QCRASH_ESUCCESS, 128, 2},
        {{0xE5, 0x8E, 0x26}, false, QCRASH_ESUCCESS, 624485, 3},
        {{0x7F}, true, QCRASH_ESUCCESS, static_cast<uint64_t>(-1), 1},
        {{0x80, 0x7F}, true, QCRASH_ESUCCESS, static_cast<uint64_t>(-128), 2},
        {{0x3F}, true, QCRASH_ESUCCESS, 63, 1},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
         false,
         QCRASH_ESUCCESS,
         UINT64_MAX,
         10},
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, false, QCRASH_ENOTSUP, 0, 0},
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, true, QCRASH_ENOTSUP, 0, 0},
        {{0x80, 0x80}, false, QCRASH_EINVAL, 0, 0},  // runs past the object
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        const Mapped m(c.bytes);
        uint64_t value = 0;
        qcrash_vm_size_t size = 0;
        if (c.isSigned) {
            int64_t s = 0;
            ASSERT_EQ(qcrash_async_dwarf_read_sleb128(&m.mobj, m.address(), 0, &s, &size), c.result);
            value = static_cast<uint64_t>(s);
        } else {
            ASSERT_EQ(qcrash_async_dwarf_read_uleb128(&m.mobj, m.address(), 0, &value, &size), c.result);
        }
        if (c.result == QCRASH_ESUCCESS) {
            EXPECT_EQ(value, c.value);
            EXPECT_EQ(size, c.size);
        }
    }
    const uint8_t fromTask[] = {0xE5, 0x8E, 0x26};
    uint64_t v;
    qcrash_vm_size_t size;
    ASSERT_EQ(qcrash_async_dwarf_read_task_uleb128(qcrash_task_self(), reinterpret_cast<uint64_t>(fromTask),
                                                   0, &v, &size),
              QCRASH_ESUCCESS);
    EXPECT_EQ(v, 624485u);
}

TEST(DwarfPointers, EveryEncodingAndApplication) {
    static uint64_t target64 = 0x1122334455667788ull;
    static uint32_t target32 = 0xCAFEF00Du;
    struct Case {
        const char* name;
        Bytes bytes;
        uint8_t encoding;
        qcrash_error_t result;
        int64_t value;  // relative to the field's address when pcrel
        uint64_t size;
        bool relative;
    } cases[] = {
        {"absptr", Bytes().u64(0x1234), DW_EH_PE_absptr, QCRASH_ESUCCESS, 0x1234, 8, false},
        {"uleb128", Bytes().uleb(624485), DW_EH_PE_uleb128, QCRASH_ESUCCESS, 624485, 3, false},
        {"udata2", Bytes().u16(0xFFFE), DW_EH_PE_udata2, QCRASH_ESUCCESS, 0xFFFE, 2, false},
        {"udata4", Bytes().u32(0xFFFFFFFE), DW_EH_PE_udata4, QCRASH_ESUCCESS, 0xFFFFFFFE, 4, false},
        {"udata8", Bytes().u64(7), DW_EH_PE_udata8, QCRASH_ESUCCESS, 7, 8, false},
        {"sleb128", Bytes().sleb(-300), DW_EH_PE_sleb128, QCRASH_ESUCCESS, -300, 2, false},
        {"sdata2", Bytes().u16(0xFFFE), DW_EH_PE_sdata2, QCRASH_ESUCCESS, -2, 2, false},
        {"sdata4", Bytes().u32(0xFFFFFFF0), DW_EH_PE_sdata4, QCRASH_ESUCCESS, -16, 4, false},
        {"sdata8", Bytes().u64(static_cast<uint64_t>(-5)), DW_EH_PE_sdata8, QCRASH_ESUCCESS, -5, 8, false},
        {"pcrel sdata4", Bytes().u32(static_cast<uint32_t>(-16)), DW_EH_PE_pcrel | DW_EH_PE_sdata4,
         QCRASH_ESUCCESS, -16, 4, true},
        {"omit", Bytes().u32(0), DW_EH_PE_omit, QCRASH_ENOTFOUND, 0, 0, false},
        {"text base not set", Bytes().u32(0), DW_EH_PE_textrel | DW_EH_PE_udata4, QCRASH_ENOTSUP, 0, 0,
         false},
        {"data base not set", Bytes().u32(0), DW_EH_PE_datarel | DW_EH_PE_udata4, QCRASH_ENOTSUP, 0, 0,
         false},
        {"function base not set", Bytes().u32(0), DW_EH_PE_funcrel | DW_EH_PE_udata4, QCRASH_ENOTSUP, 0, 0,
         false},
        {"application 6", Bytes().u32(0), 0x60 | DW_EH_PE_udata4, QCRASH_ENOTSUP, 0, 0, false},
        {"format 5", Bytes().u32(0), 0x05, QCRASH_ENOTSUP, 0, 0, false},
        {"past the end", Bytes().u16(1), DW_EH_PE_udata4, QCRASH_EINVAL, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Mapped m(c.bytes.data);
        const auto reader = gnu_ehptr_reader<uint64_t>(kLE);
        uint64_t value = 0;
        qcrash_vm_size_t size = 0;
        ASSERT_EQ(reader.read(&m.mobj, m.address(), 0, c.encoding, &value, &size), c.result);
        if (c.result != QCRASH_ESUCCESS) continue;
        EXPECT_EQ(value, (c.relative ? m.address() : 0) + static_cast<uint64_t>(c.value));
        EXPECT_EQ(size, c.size);
    }

    // Bases, alignment within the frame section, and indirection at the
    // target's width.
    const Mapped m(Bytes().u32(0x10).u32(0).u64(0x99).data);
    auto reader = gnu_ehptr_reader<uint64_t>(kLE);
    reader.set_data_base(0x1000);
    reader.set_text_base(0x2000);
    reader.set_func_base(0x3000);
    uint64_t value;
    qcrash_vm_size_t size;
    ASSERT_EQ(reader.read(&m.mobj, m.address(), 0, DW_EH_PE_datarel | DW_EH_PE_udata4, &value, &size),
              QCRASH_ESUCCESS);
    EXPECT_EQ(value, 0x1010u);
    ASSERT_EQ(reader.read(&m.mobj, m.address(), 0, DW_EH_PE_funcrel | DW_EH_PE_udata4, &value, &size),
              QCRASH_ESUCCESS);
    EXPECT_EQ(value, 0x3010u);
    EXPECT_EQ(reader.read(&m.mobj, m.address(), 4, DW_EH_PE_aligned, &value, &size), QCRASH_ENOTSUP);
    reader.set_frame_section_base(m.address(), m.address());
    ASSERT_EQ(reader.read(&m.mobj, m.address(), 4, DW_EH_PE_aligned, &value, &size), QCRASH_ESUCCESS);
    EXPECT_EQ(value, 0x99u);  // read at offset 8
    EXPECT_EQ(size, 12u);     // 4 bytes of padding plus the pointer

    const Mapped indirect(Bytes().u64(reinterpret_cast<uint64_t>(&target64)).data);
    ASSERT_EQ(reader.read(&indirect.mobj, indirect.address(), 0, DW_EH_PE_indirect | DW_EH_PE_absptr, &value,
                          &size),
              QCRASH_ESUCCESS);
    EXPECT_EQ(value, target64);
    // A 32-bit target reads 4 bytes through the pointer, not 8.
    if (reinterpret_cast<uint64_t>(&target32) <= UINT32_MAX) {
        const Mapped indirect32(
            Bytes().u32(static_cast<uint32_t>(reinterpret_cast<uint64_t>(&target32))).data);
        auto reader32 = gnu_ehptr_reader<uint32_t>(kLE);
        uint32_t value32;
        ASSERT_EQ(reader32.read(&indirect32.mobj, indirect32.address(), 0,
                                DW_EH_PE_indirect | DW_EH_PE_udata4, &value32, &size),
                  QCRASH_ESUCCESS);
        EXPECT_EQ(value32, target32);
    }
}

// An .eh_frame section: one CIE and FDEs, laid out at a known address once
// mapped (pc values are absolute here).
struct FrameSection {
    Bytes cie(const std::string& augmentation, uint8_t version, const Bytes& augmentationData,
              const Bytes& instructions, int64_t dataAlignment = -8, uint64_t returnRegister = 16) {
        Bytes body;
        body.u32(0).u8(version);
        for (char ch : augmentation) body.u8(static_cast<uint8_t>(ch));
        body.u8(0);
        if (version == 4) body.u8(8).u8(0);
        body.uleb(1).sleb(dataAlignment).uleb(returnRegister);
        if (!augmentation.empty() && augmentation[0] == 'z')
            body.uleb(augmentationData.size()).append(augmentationData);
        body.append(instructions);
        while ((body.size() + 4) % 8 != 0) body.u8(0);  // DW_CFA_nop padding
        Bytes entry;
        entry.u32(static_cast<uint32_t>(body.size())).append(body);
        return entry;
    }
    // An FDE at `at` bytes into the section whose CIE is at `cieAt`; pcs as
    // udata8 absolute (the CIE's "R" encoding 0x04) or raw absptr.
    Bytes fde(size_t at, size_t cieAt, uint64_t start, uint64_t range, const Bytes& instructions,
              bool augmentation = true) {
        Bytes body;
        body.u32(static_cast<uint32_t>(at + 4 - cieAt)).u64(start).u64(range);
        if (augmentation) body.uleb(0);
        body.append(instructions);
        while ((body.size() + 4) % 8 != 0) body.u8(0);
        Bytes entry;
        entry.u32(static_cast<uint32_t>(body.size())).append(body);
        return entry;
    }
};

TEST(DwarfEntries, CieAndFdeParsingAndFdeLookup) {
    FrameSection f;
    Bytes section =
        f.cie("zR", 1, Bytes().u8(DW_EH_PE_udata8), Bytes().bytes({0x0C, 0x07, 0x08, 0x90, 0x01}));
    const size_t fde1 = section.size();
    section.append(f.fde(fde1, 0, 0x1000, 0x100, Bytes().bytes({0x41, 0x0E, 0x10})));
    const size_t fde2 = section.size();
    section.append(f.fde(fde2, 0, 0x2000, 0x10, Bytes()));
    section.u32(0);  // terminator
    const Mapped m(section.data);

    const auto ptrs = qcrash_async_dwarf_section_ptr_reader<uint64_t>(&m.mobj, kLE);
    qcrash_async_dwarf_cie_info_t cie;
    ASSERT_EQ(qcrash_async_dwarf_cie_info_init(&cie, &m.mobj, kLE, &ptrs, m.address()), QCRASH_ESUCCESS);
    EXPECT_EQ(cie.cie_version, 1);
    EXPECT_TRUE(cie.has_eh_augmentation);
    EXPECT_TRUE(cie.has_pointer_encoding);
    EXPECT_EQ(cie.pointer_encoding, DW_EH_PE_udata8);
    EXPECT_EQ(cie.code_alignment_factor, 1u);
    EXPECT_EQ(cie.data_alignment_factor, -8);
    EXPECT_EQ(cie.return_address_register, 16u);
    EXPECT_EQ(cie.initial_instructions_length, 7u);  // 5, then nops up to the entry's 8-byte end

    dwarf_frame_reader<uint64_t> reader;
    reader.init(&m.mobj, kLE, true, false);
    struct Case {
        uint64_t pc;
        qcrash_error_t result;
        uint64_t start;
    } cases[] = {
        {0x1000, QCRASH_ESUCCESS, 0x1000},                                 // pc start is covered
        {0x10FF, QCRASH_ESUCCESS, 0x1000}, {0x1100, QCRASH_ENOTFOUND, 0},  // pc end is not
        {0x2005, QCRASH_ESUCCESS, 0x2000}, {0x0FFF, QCRASH_ENOTFOUND, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pc);
        qcrash_async_dwarf_fde_info_t fde;
        ASSERT_EQ(reader.find_fde(0, c.pc, &fde), c.result);
        if (c.result != QCRASH_ESUCCESS) continue;
        EXPECT_EQ(fde.pc_start, c.start);
        EXPECT_EQ(fde.cie_offset, 0u);
        if (c.start == 0x1000) {
            EXPECT_EQ(fde.pc_end, 0x1100u);
            EXPECT_EQ(fde.instructions_offset, fde1 + 4 + 4 + 16 + 1);
        }
    }
}

TEST(DwarfEntries, CiesThatCannotBeRead) {
    FrameSection f;
    struct Case {
        const char* name;
        Bytes cie;
        qcrash_error_t result;
    } cases[] = {
        {"augmentation eh", f.cie("eh", 1, Bytes(), Bytes()), QCRASH_ENOTSUP},
        {"version 2", f.cie("", 2, Bytes(), Bytes()), QCRASH_EINVAL},
        {"version 4 with sizes", f.cie("", 4, Bytes(), Bytes()), QCRASH_ESUCCESS},
        {"version 3, personality and LSDA",
         f.cie("zPLRS", 3, Bytes().u8(DW_EH_PE_udata4).u32(0x4444).u8(DW_EH_PE_udata4).u8(DW_EH_PE_udata8),
               Bytes()),
         QCRASH_ESUCCESS},
        {"augmentation data past the entry", f.cie("zR", 1, Bytes().u8(4), Bytes()), QCRASH_ESUCCESS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Mapped m(c.cie.data);
        const auto ptrs = qcrash_async_dwarf_section_ptr_reader<uint64_t>(&m.mobj, kLE);
        qcrash_async_dwarf_cie_info_t cie;
        EXPECT_EQ(qcrash_async_dwarf_cie_info_init(&cie, &m.mobj, kLE, &ptrs, m.address()), c.result);
        if (std::string(c.name).find("personality") != std::string::npos) {
            EXPECT_EQ(cie.personality_address, 0x4444u);
            EXPECT_TRUE(cie.has_lsda_encoding);
            EXPECT_TRUE(cie.signal_frame);
        }
    }
    // A CIE whose identifier is neither 0 nor all ones.
    Bytes bad = f.cie("", 1, Bytes(), Bytes());
    bad.data[4] = 7;
    const Mapped m(bad.data);
    const auto ptrs = qcrash_async_dwarf_section_ptr_reader<uint64_t>(&m.mobj, kLE);
    qcrash_async_dwarf_cie_info_t cie;
    EXPECT_EQ(qcrash_async_dwarf_cie_info_init(&cie, &m.mobj, kLE, &ptrs, m.address()), QCRASH_EINVAL);
}

// Runs `program` with a CIE of code alignment 1 and data alignment -8.
// The program stays mapped with the run: expression rules point into it.
struct ProgramRun {
    qcrash_error_t result;
    dwarf_cfa_state<uint64_t, int64_t> state;
    std::unique_ptr<Mapped> program;
};

void runProgram(const Bytes& program, ProgramRun* run, uint64_t pc = 0) {
    run->program = std::make_unique<Mapped>(program.data);
    const Mapped& m = *run->program;
    qcrash_async_dwarf_cie_info_t cie{};
    cie.code_alignment_factor = 4;
    cie.data_alignment_factor = -8;
    cie.return_address_register = 16;
    const auto ptrs = qcrash_async_dwarf_section_ptr_reader<uint64_t>(&m.mobj, kLE);
    run->result =
        run->state.eval_program(&m.mobj, pc, 0x1000, &cie, &ptrs, kLE, m.address(), 0, program.size());
}

TEST(DwarfProgram, EveryInstruction) {
    struct Case {
        const char* name;
        Bytes program;
        qcrash_error_t result;
        qcrash_dwarf_cfa_rule_type cfaType;
        uint32_t cfaReg;
        int64_t cfaOffset;
        uint32_t reg;  // a register whose rule is checked (99: none)
        int rule;      // -1: no rule
        uint64_t value;
    } cases[] = {
        {"def_cfa", Bytes().bytes({0x0C, 0x07, 0x10}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_REGISTER_UNSIGNED, 7, 16, 99, -1, 0},
        {"def_cfa_sf", Bytes().bytes({0x12, 0x07}).sleb(-2), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_REGISTER_SIGNED, 7, 16, 99, -1, 0},
        {"def_cfa_register", Bytes().bytes({0x0C, 0x07, 0x10, 0x0D, 0x06}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_REGISTER_UNSIGNED, 6, 16, 99, -1, 0},
        {"def_cfa_offset", Bytes().bytes({0x0C, 0x07, 0x10, 0x0E, 0x20}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_REGISTER_UNSIGNED, 7, 32, 99, -1, 0},
        {"def_cfa_offset_sf", Bytes().bytes({0x0C, 0x07, 0x10, 0x13}).sleb(-4), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_REGISTER_SIGNED, 7, 32, 99, -1, 0},
        {"def_cfa_offset before def_cfa", Bytes().bytes({0x0E, 0x20}), QCRASH_EINVAL,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 99, -1, 0},
        {"def_cfa_register before def_cfa", Bytes().bytes({0x0D, 0x06}), QCRASH_EINVAL,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 99, -1, 0},
        {"def_cfa_expression", Bytes().bytes({0x0F, 0x02, 0x77, 0x08}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_EXPRESSION, 0, 0, 99, -1, 0},
        {"offset", Bytes().bytes({0x86, 0x02}), QCRASH_ESUCCESS, QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 6,
         QCRASH_DWARF_CFA_REG_RULE_OFFSET, static_cast<uint64_t>(-16)},
        {"offset_extended", Bytes().bytes({0x05, 0x21, 0x03}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 33, QCRASH_DWARF_CFA_REG_RULE_OFFSET,
         static_cast<uint64_t>(-24)},
        {"offset_extended_sf", Bytes().bytes({0x11, 0x03}).sleb(2), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 3, QCRASH_DWARF_CFA_REG_RULE_OFFSET,
         static_cast<uint64_t>(-16)},
        {"val_offset", Bytes().bytes({0x14, 0x03, 0x01}), QCRASH_ESUCCESS, QCRASH_DWARF_CFA_RULE_UNDEFINED, 0,
         0, 3, QCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET, static_cast<uint64_t>(-8)},
        {"val_offset_sf", Bytes().bytes({0x15, 0x03}).sleb(-1), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 3, QCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET, 8},
        {"register", Bytes().bytes({0x09, 0x03, 0x05}), QCRASH_ESUCCESS, QCRASH_DWARF_CFA_RULE_UNDEFINED, 0,
         0, 3, QCRASH_DWARF_CFA_REG_RULE_REGISTER, 5},
        {"same_value", Bytes().bytes({0x08, 0x03}), QCRASH_ESUCCESS, QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 3,
         QCRASH_DWARF_CFA_REG_RULE_SAME_VALUE, 0},
        {"undefined removes", Bytes().bytes({0x83, 0x01, 0x07, 0x03}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 3, -1, 0},
        {"restore to no rule", Bytes().bytes({0x83, 0x01, 0xC3}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 3, -1, 0},
        {"restore_extended", Bytes().bytes({0x83, 0x01, 0x06, 0x03}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 3, -1, 0},
        {"expression", Bytes().bytes({0x10, 0x03, 0x01, 0x30}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 3, QCRASH_DWARF_CFA_REG_RULE_EXPRESSION, 0},
        {"val_expression", Bytes().bytes({0x16, 0x03, 0x01, 0x30}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 3, QCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION, 0},
        {"remember and restore state", Bytes().bytes({0x83, 0x01, 0x0A, 0x83, 0x02, 0x0B}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 3, QCRASH_DWARF_CFA_REG_RULE_OFFSET,
         static_cast<uint64_t>(-8)},
        {"restore_state with nothing remembered", Bytes().bytes({0x0B}), QCRASH_EINVAL,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 99, -1, 0},
        {"remember_state six times", Bytes().bytes({0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A}), QCRASH_ENOMEM,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 99, -1, 0},
        {"GNU args size is skipped", Bytes().bytes({0x2E, 0x08, 0x0C, 0x07, 0x10}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_REGISTER_UNSIGNED, 7, 16, 99, -1, 0},
        {"GNU negative offset", Bytes().bytes({0x2F, 0x03, 0x01}), QCRASH_ENOTSUP,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 99, -1, 0},
        {"register above 32 bits", Bytes().bytes({0x07}).uleb(1ull << 33), QCRASH_ENOTSUP,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 99, -1, 0},
        {"operand past the end", Bytes().bytes({0x0C, 0x07}), QCRASH_EINVAL, QCRASH_DWARF_CFA_RULE_UNDEFINED,
         0, 0, 99, -1, 0},
        {"nop", Bytes().bytes({0x00, 0x00}), QCRASH_ESUCCESS, QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 99, -1,
         0},
        {"set_loc", Bytes().bytes({0x01}).u64(0x2000).bytes({0x83, 0x01}), QCRASH_ESUCCESS,
         QCRASH_DWARF_CFA_RULE_UNDEFINED, 0, 0, 3, QCRASH_DWARF_CFA_REG_RULE_OFFSET,
         static_cast<uint64_t>(-8)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramRun run;
        runProgram(c.program, &run);
        ASSERT_EQ(run.result, c.result);
        if (c.result != QCRASH_ESUCCESS) continue;
        const auto cfa = run.state.get_cfa_rule();
        EXPECT_EQ(cfa.type, c.cfaType);
        if (c.cfaType == QCRASH_DWARF_CFA_RULE_REGISTER_UNSIGNED ||
            c.cfaType == QCRASH_DWARF_CFA_RULE_REGISTER_SIGNED) {
            EXPECT_EQ(cfa.reg, c.cfaReg);
            EXPECT_EQ(cfa.offset, c.cfaOffset);
        }
        if (c.reg == 99) continue;
        qcrash_dwarf_cfa_reg_rule_t rule;
        uint64_t value;
        const bool has = run.state.get_register_rule(c.reg, &rule, &value);
        ASSERT_EQ(has, c.rule >= 0);
        if (!has) continue;
        EXPECT_EQ(rule, c.rule);
        if (rule != QCRASH_DWARF_CFA_REG_RULE_EXPRESSION &&
            rule != QCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION) {
            EXPECT_EQ(value, c.value);
        }
    }
}

TEST(DwarfProgram, StopsOnceTheLocationPassesThePc) {
    // Each advance_loc moves 4 bytes (code alignment 4) and then saves r3 at
    // another offset.
    const Bytes program = Bytes().bytes({0x83, 0x01, 0x41, 0x83, 0x02, 0x41, 0x83, 0x03});
    struct Case {
        uint64_t pc;
        uint64_t offset;
    } cases[] = {{0x1000, 8}, {0x1003, 8}, {0x1004, 16}, {0x1008, 24}, {0, 24}};
    for (const auto& c : cases) {
        ProgramRun run;
        runProgram(program, &run, c.pc);
        ASSERT_EQ(run.result, QCRASH_ESUCCESS);
        qcrash_dwarf_cfa_reg_rule_t rule;
        uint64_t value;
        ASSERT_TRUE(run.state.get_register_rule(3, &rule, &value));
        EXPECT_EQ(value, static_cast<uint64_t>(-static_cast<int64_t>(c.offset))) << c.pc;
    }
}

TEST(DwarfProgram, TheRulePoolHasAnEnd) {
    dwarf_cfa_state<uint64_t, int64_t> state;
    for (uint32_t r = 0; r < 100; ++r)
        ASSERT_TRUE(state.set_register(r, QCRASH_DWARF_CFA_REG_RULE_OFFSET, r));
    EXPECT_FALSE(state.set_register(100, QCRASH_DWARF_CFA_REG_RULE_OFFSET, 0));
    EXPECT_TRUE(state.set_register(5, QCRASH_DWARF_CFA_REG_RULE_SAME_VALUE, 0));  // replacing needs no entry
    EXPECT_EQ(state.get_register_count(), 100u);
    EXPECT_FALSE(state.push_state());  // no room for the copy
    state.remove_register(7);
    EXPECT_EQ(state.get_register_count(), 99u);
    EXPECT_TRUE(state.set_register(100, QCRASH_DWARF_CFA_REG_RULE_OFFSET, 0));
}

// A register state for expressions and rules: x86-64, rsp and rbp set.
qcrash_async_thread_state_t x86State(uint64_t sp, uint64_t fp) {
    qcrash_async_thread_state_t state;
    qcrash_async_thread_state_init(&state, macho::CPU_TYPE_X86_64);
    qcrash_async_thread_state_set_reg(&state, QCRASH_REG_SP, sp);
    qcrash_async_thread_state_set_reg(&state, QCRASH_REG_FP, fp);
    return state;
}

qcrash_error_t evaluate(const Bytes& expression, uint64_t* result,
                        const qcrash_async_thread_state_t* state = nullptr,
                        std::vector<uint64_t> initial = {}) {
    const Mapped m(expression.data);
    const auto fallback = x86State(0x7000, 0x8000);
    return qcrash_async_dwarf_expression_eval<uint64_t, int64_t>(
        &m.mobj, qcrash_task_self(), state != nullptr ? state : &fallback, kLE, m.address(), 0,
        expression.size(), initial.data(), static_cast<uint32_t>(initial.size()), result);
}

TEST(DwarfExpressions, EveryOperation) {
    static const uint64_t word = 0xAABBCCDDEEFF0011ull;
    const uint64_t wordAt = reinterpret_cast<uint64_t>(&word);
    struct Case {
        const char* name;
        Bytes expression;
        qcrash_error_t result;
        uint64_t value;
    } cases[] = {
        {"lit0", Bytes().u8(0x30), QCRASH_ESUCCESS, 0},
        {"lit31", Bytes().u8(0x4F), QCRASH_ESUCCESS, 31},
        {"const1u", Bytes().u8(0x08).u8(0xFF), QCRASH_ESUCCESS, 0xFF},
        {"const1s", Bytes().u8(0x09).u8(0xFF), QCRASH_ESUCCESS, static_cast<uint64_t>(-1)},
        {"const2u", Bytes().u8(0x0A).u16(0xFFFF), QCRASH_ESUCCESS, 0xFFFF},
        {"const2s", Bytes().u8(0x0B).u16(0xFFFE), QCRASH_ESUCCESS, static_cast<uint64_t>(-2)},
        {"const4u", Bytes().u8(0x0C).u32(0xFFFFFFFF), QCRASH_ESUCCESS, 0xFFFFFFFF},
        {"const4s", Bytes().u8(0x0D).u32(0xFFFFFFFD), QCRASH_ESUCCESS, static_cast<uint64_t>(-3)},
        {"const8u", Bytes().u8(0x0E).u64(0x123456789ull), QCRASH_ESUCCESS, 0x123456789ull},
        {"const8s", Bytes().u8(0x0F).u64(static_cast<uint64_t>(-4)), QCRASH_ESUCCESS,
         static_cast<uint64_t>(-4)},
        {"constu", Bytes().u8(0x10).uleb(624485), QCRASH_ESUCCESS, 624485},
        {"consts", Bytes().u8(0x11).sleb(-128), QCRASH_ESUCCESS, static_cast<uint64_t>(-128)},
        {"dup", Bytes().bytes({0x35, 0x12, 0x22}), QCRASH_ESUCCESS, 10},
        {"drop", Bytes().bytes({0x35, 0x36, 0x13}), QCRASH_ESUCCESS, 5},
        {"over", Bytes().bytes({0x35, 0x36, 0x14}), QCRASH_ESUCCESS, 5},
        {"pick", Bytes().bytes({0x35, 0x36, 0x37, 0x15, 0x02}), QCRASH_ESUCCESS, 5},
        {"pick too deep", Bytes().bytes({0x35, 0x15, 0x01}), QCRASH_EINVAL, 0},
        {"swap", Bytes().bytes({0x35, 0x36, 0x16}), QCRASH_ESUCCESS, 5},
        {"rot", Bytes().bytes({0x31, 0x32, 0x33, 0x17}), QCRASH_ESUCCESS, 2},
        {"deref", Bytes().u8(0x0E).u64(wordAt).u8(0x06), QCRASH_ESUCCESS, word},
        {"deref of nothing readable", Bytes().bytes({0x30, 0x06}), QCRASH_ENOTFOUND, 0},
        {"xderef", Bytes().u8(0x30).u8(0x0E).u64(wordAt).u8(0x18), QCRASH_ESUCCESS, word},
        {"deref_size 1", Bytes().u8(0x0E).u64(wordAt).bytes({0x94, 0x01}), QCRASH_ESUCCESS, 0x11},
        {"deref_size 4", Bytes().u8(0x0E).u64(wordAt).bytes({0x94, 0x04}), QCRASH_ESUCCESS, 0xEEFF0011},
        {"deref_size 3", Bytes().u8(0x0E).u64(wordAt).bytes({0x94, 0x03}), QCRASH_EINVAL, 0},
        {"abs", Bytes().u8(0x11).sleb(-7).u8(0x19), QCRASH_ESUCCESS, 7},
        {"and", Bytes().bytes({0x3C, 0x36, 0x1A}), QCRASH_ESUCCESS, 4},
        {"div", Bytes().u8(0x11).sleb(-12).bytes({0x34, 0x1B}), QCRASH_ESUCCESS, static_cast<uint64_t>(-3)},
        {"div by zero", Bytes().bytes({0x34, 0x30, 0x1B}), QCRASH_EINVAL, 0},
        {"minus", Bytes().bytes({0x34, 0x36, 0x1C}), QCRASH_ESUCCESS, static_cast<uint64_t>(-2)},
        {"mod", Bytes().bytes({0x47, 0x34, 0x1D}), QCRASH_ESUCCESS, 3},
        {"mod by zero", Bytes().bytes({0x34, 0x30, 0x1D}), QCRASH_EINVAL, 0},
        {"mul", Bytes().bytes({0x34, 0x36, 0x1E}), QCRASH_ESUCCESS, 24},
        {"neg", Bytes().bytes({0x34, 0x1F}), QCRASH_ESUCCESS, static_cast<uint64_t>(-4)},
        {"not", Bytes().bytes({0x30, 0x20}), QCRASH_ESUCCESS, UINT64_MAX},
        {"or", Bytes().bytes({0x31, 0x32, 0x21}), QCRASH_ESUCCESS, 3},
        {"plus", Bytes().bytes({0x31, 0x32, 0x22}), QCRASH_ESUCCESS, 3},
        {"plus_uconst", Bytes().u8(0x31).u8(0x23).uleb(300), QCRASH_ESUCCESS, 301},
        {"shl", Bytes().bytes({0x31, 0x34, 0x24}), QCRASH_ESUCCESS, 16},
        {"shl by 64", Bytes().u8(0x31).u8(0x08).u8(64).u8(0x24), QCRASH_ESUCCESS, 0},
        {"shr", Bytes().bytes({0x40, 0x32, 0x25}), QCRASH_ESUCCESS, 4},
        {"shra", Bytes().u8(0x11).sleb(-16).bytes({0x32, 0x26}), QCRASH_ESUCCESS, static_cast<uint64_t>(-4)},
        {"xor", Bytes().bytes({0x33, 0x31, 0x27}), QCRASH_ESUCCESS, 2},
        {"eq", Bytes().bytes({0x33, 0x33, 0x29}), QCRASH_ESUCCESS, 1},
        {"ge", Bytes().u8(0x11).sleb(-1).bytes({0x31, 0x2A}), QCRASH_ESUCCESS, 0},  // signed
        {"gt", Bytes().bytes({0x33, 0x31, 0x2B}), QCRASH_ESUCCESS, 1},
        {"le", Bytes().bytes({0x33, 0x31, 0x2C}), QCRASH_ESUCCESS, 0},
        {"lt", Bytes().bytes({0x31, 0x33, 0x2D}), QCRASH_ESUCCESS, 1},
        {"ne", Bytes().bytes({0x31, 0x33, 0x2E}), QCRASH_ESUCCESS, 1},
        {"skip forward", Bytes().u8(0x2F).u16(1).bytes({0x39, 0x35}), QCRASH_ESUCCESS, 5},
        {"bra taken", Bytes().u8(0x31).u8(0x28).u16(1).bytes({0x39, 0x35}), QCRASH_ESUCCESS, 5},
        {"bra not taken", Bytes().u8(0x30).u8(0x28).u16(1).bytes({0x39, 0x35}), QCRASH_ESUCCESS, 5},
        {"skip outside", Bytes().u8(0x2F).u16(100), QCRASH_EINVAL, 0},
        {"skip backwards forever", Bytes().u8(0x2F).u16(static_cast<uint16_t>(-3)), QCRASH_ENOTSUP, 0},
        {"breg7 (rsp)", Bytes().u8(0x77).sleb(8), QCRASH_ESUCCESS, 0x7008},
        {"bregx 6 (rbp)", Bytes().u8(0x92).uleb(6).sleb(-16), QCRASH_ESUCCESS, 0x7FF0},
        {"breg of a register the state lacks", Bytes().u8(0x70).sleb(0), QCRASH_ENOTFOUND, 0},
        {"breg of a register with no number", Bytes().u8(0x92).uleb(40).sleb(0), QCRASH_ENOTSUP, 0},
        {"addr", Bytes().u8(0x03).u64(0), QCRASH_ENOTSUP, 0},
        {"reg0", Bytes().u8(0x50), QCRASH_ENOTSUP, 0},
        {"pop of an empty stack", Bytes().u8(0x13), QCRASH_EINVAL, 0},
        {"empty expression", Bytes(), QCRASH_EINVAL, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t value = 0;
        ASSERT_EQ(evaluate(c.expression, &value), c.result);
        if (c.result == QCRASH_ESUCCESS) {
            EXPECT_EQ(value, c.value);
        }
    }
    // The stack holds 100 values.
    Bytes hundred;
    for (int i = 0; i < 100; ++i) hundred.u8(0x31);
    uint64_t value;
    EXPECT_EQ(evaluate(hundred, &value), QCRASH_ESUCCESS);
    hundred.u8(0x31);
    EXPECT_EQ(evaluate(hundred, &value), QCRASH_EINTERNAL);
    EXPECT_EQ(evaluate(Bytes().u8(0x22), &value, nullptr, {40, 2}), QCRASH_ESUCCESS);  // initial values
    EXPECT_EQ(value, 42u);
}

TEST(DwarfApply, RulesBuildTheCallersRegisters) {
    // A fake stack: CFA = rsp + 16; the return address at CFA - 8, the
    // caller's rbp at CFA - 16, rbx kept in r12, r13 the same.
    uint64_t stack[4] = {0x5555, 0x401234, 0, 0};
    const uint64_t sp = reinterpret_cast<uint64_t>(stack);
    auto current = x86State(sp, 0x9999);
    qcrash_async_thread_state_set_reg(&current, QCRASH_REG_IP, 0x400000);
    qcrash_async_thread_state_set_reg(&current, QCRASH_X86_64_R12, 0x1212);
    qcrash_async_thread_state_set_reg(&current, QCRASH_X86_64_R13, 0x1313);
    qcrash_async_thread_state_set_reg(&current, QCRASH_X86_64_RAX, 0xAAAA);

    ProgramRun run;
    runProgram(Bytes().bytes({0x0C, 0x07, 0x10,  // CFA = rsp + 16
                              0x90, 0x01,        // rip at CFA - 8
                              0x86, 0x02,        // rbp at CFA - 16
                              0x09, 0x03, 0x0C,  // rbx = r12
                              0x08, 0x0D}),      // r13 same
               &run);
    ASSERT_EQ(run.result, QCRASH_ESUCCESS);
    qcrash_async_dwarf_cie_info_t cie{};
    cie.return_address_register = 16;
    qcrash_async_thread_state_t caller;
    ASSERT_EQ(run.state.apply_state(qcrash_task_self(), &cie, &current, kLE, &caller), QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_SP), sp + 16);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_IP), 0x401234u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_FP), 0x5555u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_X86_64_RBX), 0x1212u);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_X86_64_R13), 0x1313u);
    EXPECT_FALSE(qcrash_async_thread_state_has_reg(&caller, QCRASH_X86_64_RAX));  // volatile

    // The CFA as an expression: rsp + 16 computed.
    ProgramRun byExpression;
    runProgram(Bytes().bytes({0x0F, 0x02, 0x77, 0x10, 0x90, 0x01}), &byExpression);
    ASSERT_EQ(byExpression.result, QCRASH_ESUCCESS);
    ASSERT_EQ(byExpression.state.apply_state(qcrash_task_self(), &cie, &current, kLE, &caller),
              QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_thread_state_get_reg(&caller, QCRASH_REG_IP), 0x401234u);

    // No CFA rule, and a CFA register the state lacks.
    ProgramRun none;
    runProgram(Bytes().bytes({0x90, 0x01}), &none);
    EXPECT_EQ(none.state.apply_state(qcrash_task_self(), &cie, &current, kLE, &caller), QCRASH_EINVAL);
    ProgramRun absent;
    runProgram(Bytes().bytes({0x0C, 0x00, 0x10}), &absent);  // rax: cleared below
    qcrash_async_thread_state_clear_reg(&current, QCRASH_X86_64_RAX);
    EXPECT_EQ(absent.state.apply_state(qcrash_task_self(), &cie, &current, kLE, &caller), QCRASH_ENOTFOUND);
}

// ---- real tables: this program's and the C library's .eh_frame ----

TEST(DwarfRealTables, FdeRangesMatchLlvmDwarfdump) {
    if (system("command -v llvm-dwarfdump-14 > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "llvm-dwarfdump-14 is not installed";
    }
    qcrash_async_image_list_t list;
    qcrash_nasync_image_list_init(&list, qcrash_task_self());
    qcrash_nasync_image_list_sync_host(&list);
    int images = 0;
    for (auto* image = qcrash_async_image_list_next(&list, nullptr); image != nullptr;
         image = qcrash_async_image_list_next(&list, image)) {
        const std::string name = image->name;
        const bool wanted = name.find("libc.so") != std::string::npos ||
                            image == qcrash_async_image_list_next(&list, nullptr);  // the program itself
        if (!wanted || image->elf.eh_frame == 0) continue;
        SCOPED_TRACE(name);
        ++images;
        // "00000018 00000014 0000001c FDE cie=00000000 pc=00001020...00001046"
        std::istringstream dump(
            testing::commandOutput("llvm-dwarfdump-14 --eh-frame '" + name + "' 2>/dev/null"));
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        std::string line;
        bool inEhFrame = false;  // debug builds carry a .debug_frame too
        while (std::getline(dump, line)) {
            if (line.find("contents:") != std::string::npos)
                inEhFrame = line.rfind(".eh_frame contents:", 0) == 0;
            if (!inEhFrame) continue;
            const auto at = line.find(" FDE cie=");
            const auto pc = line.find("pc=");
            if (at == std::string::npos || pc == std::string::npos) continue;
            const auto dots = line.find("...", pc);
            ranges.emplace_back(std::stoull(line.substr(pc + 3, dots - pc - 3), nullptr, 16),
                                std::stoull(line.substr(dots + 3), nullptr, 16));
        }
        ASSERT_GT(ranges.size(), 10u);
        qcrash_async_mobject_t section;
        ASSERT_EQ(qcrash_async_mobject_init(&section, qcrash_task_self(), image->elf.eh_frame,
                                            image->elf.eh_frame_size, false),
                  QCRASH_ESUCCESS);
        dwarf_frame_reader<uint64_t> reader;
        reader.init(&section, kLE, true, false);
        const auto ptrs = qcrash_async_dwarf_section_ptr_reader<uint64_t>(&section, kLE);
        // A sample spread over the table: the FDE found for each start has the
        // same range, and its CIE and instructions parse and run.
        const size_t step = ranges.size() / 40 + 1;
        for (size_t i = 0; i < ranges.size(); i += step) {
            const auto [start, end] = ranges[i];
            if (start == end) continue;
            const uint64_t bias = image->vmaddr_slide;
            qcrash_async_dwarf_fde_info_t fde;
            ASSERT_EQ(reader.find_fde(0, bias + start, &fde), QCRASH_ESUCCESS) << std::hex << start;
            EXPECT_EQ(fde.pc_start, bias + start);
            EXPECT_EQ(fde.pc_end, bias + end);
            qcrash_async_dwarf_cie_info_t cie;
            ASSERT_EQ(qcrash_async_dwarf_cie_info_init(&cie, &section, kLE, &ptrs,
                                                       section.task_address + fde.cie_offset),
                      QCRASH_ESUCCESS);
            dwarf_cfa_state<uint64_t, int64_t> state;
            EXPECT_EQ(state.eval_program(&section, bias + end - 1, fde.pc_start, &cie, &ptrs, kLE,
                                         section.task_address,
                                         static_cast<int64_t>(cie.initial_instructions_offset),
                                         cie.initial_instructions_length),
                      QCRASH_ESUCCESS);
            EXPECT_EQ(state.eval_program(&section, bias + end - 1, fde.pc_start, &cie, &ptrs, kLE,
                                         section.task_address, static_cast<int64_t>(fde.instructions_offset),
                                         fde.instructions_length),
                      QCRASH_ESUCCESS)
                << std::hex << start;
        }
        qcrash_async_mobject_free(&section);
    }
    EXPECT_EQ(images, 2);
    qcrash_nasync_image_list_free(&list);
}

}  // namespace
}  // namespace tervolo::crash
