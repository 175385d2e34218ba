#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "MachOFixture.hpp"
#include "crash/AsyncImageList.hpp"
#include "crash/AsyncMachO.hpp"

namespace tervolo::crash {
namespace {

using testing::FixtureSection;
using testing::FixtureSegment;
using testing::FixtureSymbol;
using testing::MachOFixture;
using testing::MappedImage;

struct Layout {
    bool is64;
    bool swapped;
    const char* name;
};

const Layout kLayouts[] = {
    {true, false, "64-bit"},
    {true, true, "64-bit byte-swapped"},
    {false, false, "32-bit"},
    {false, true, "32-bit byte-swapped"},
};

// A fixture with a data segment, code symbols and one debugging entry.
MachOFixture typicalImage(const Layout& layout) {
    MachOFixture fixture(layout.is64, layout.swapped);
    fixture.segments.push_back(
        {"__DATA", 0x1000, 0x800, {{"__const", 0x1000, 0x10}, {"__data", 0x1100, 0x40}}, std::nullopt});
    fixture.segments.push_back({"__EMPTY", 0x1800, 0x100, {}, std::nullopt});
    const uint64_t vm = fixture.textVM();
    fixture.symbols = {
        {"_second", 0x0F, 0, vm + 0x200},  {"_first", 0x0E, 0, vm + 0x100},  // local
        {"_debug", 0x24, 0, vm + 0x280},  // a debugging entry: never a candidate
        {"_thumb", 0x0F, 0x8, vm + 0x300}, {"_undefined", 0x01, 0, vm + 0x290},  // not defined in a section
    };
    return fixture;
}

struct Found {
    uint64_t address = 0;
    std::string name;
    int calls = 0;
};

void remember(qcrash_vm_address_t address, const char* name, void* context) {
    auto* found = static_cast<Found*>(context);
    found->address = address;
    found->name = name;
    ++found->calls;
}

class MachOReader : public ::testing::TestWithParam<Layout> {};

TEST_P(MachOReader, HeaderSlideAndExtent) {
    const auto fixture = typicalImage(GetParam());
    const MappedImage mapped(fixture.build());
    qcrash_async_macho_t image;
    ASSERT_EQ(qcrash_nasync_macho_init(&image, qcrash_task_self(), "/fixture/lib", mapped.address()),
              QCRASH_ESUCCESS);
    EXPECT_STREQ(image.name, "/fixture/lib");
    EXPECT_EQ(qcrash_async_macho_header_size(&image), GetParam().is64 ? 32u : 28u);
    EXPECT_EQ(qcrash_async_macho_cpu_type(&image), 0x0100000C);  // converted from the image's order
    EXPECT_EQ(qcrash_async_macho_cpu_subtype(&image), 2);
    EXPECT_EQ(image.vmaddr_slide, mapped.address() - fixture.textVM());
    EXPECT_EQ(image.text_size, fixture.textSize);
    EXPECT_TRUE(qcrash_async_macho_contains_address(&image, mapped.address()));
    EXPECT_TRUE(qcrash_async_macho_contains_address(&image, mapped.address() + fixture.textSize - 1));
    EXPECT_FALSE(qcrash_async_macho_contains_address(&image, mapped.address() + fixture.textSize));
    EXPECT_FALSE(qcrash_async_macho_contains_address(&image, mapped.address() - 1));
    qcrash_nasync_macho_free(&image);
}

TEST_P(MachOReader, CommandsSegmentsAndSections) {
    const auto fixture = typicalImage(GetParam());
    const MappedImage mapped(fixture.build());
    qcrash_async_macho_t image;
    ASSERT_EQ(qcrash_nasync_macho_init(&image, qcrash_task_self(), "lib", mapped.address()), QCRASH_ESUCCESS);

    int commands = 0;
    for (const void* c = nullptr; (c = qcrash_async_macho_next_command(&image, c)) != nullptr;) ++commands;
    EXPECT_EQ(commands, 5);  // __TEXT, __DATA, __EMPTY, __LINKEDIT, symtab
    EXPECT_NE(qcrash_async_macho_find_command(&image, macho::LC_SYMTAB), nullptr);
    EXPECT_EQ(qcrash_async_macho_find_command(&image, macho::LC_DYSYMTAB), nullptr);
    EXPECT_NE(qcrash_async_macho_find_segment_cmd(&image, "__DATA"), nullptr);
    EXPECT_EQ(qcrash_async_macho_find_segment_cmd(&image, "__DAT"), nullptr);

    qcrash_async_mobject_t section;
    ASSERT_EQ(qcrash_async_macho_map_section(&image, "__DATA", "__data", &section), QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_mobject_base_address(&section), mapped.address() + 0x1100);
    EXPECT_EQ(qcrash_async_mobject_length(&section), 0x40u);
    uint8_t byte = 0;
    EXPECT_EQ(qcrash_async_mobject_read_uint8(&section, mapped.address() + 0x1100, 0x3F, &byte),
              QCRASH_ESUCCESS);
    EXPECT_EQ(byte, (0x1100 + 0x3F) & 0xFF);
    qcrash_async_mobject_free(&section);

    EXPECT_EQ(qcrash_async_macho_map_section(&image, "__DATA", "__bss", &section), QCRASH_ENOTFOUND);
    EXPECT_EQ(qcrash_async_macho_map_section(&image, "__NOPE", "__data", &section), QCRASH_ENOTFOUND);
    EXPECT_EQ(qcrash_async_macho_map_section(&image, "__EMPTY", "__data", &section), QCRASH_ENOTFOUND);

    qcrash_async_macho_mapped_segment_t segment;
    ASSERT_EQ(qcrash_async_macho_map_segment(&image, "__DATA", &segment), QCRASH_ESUCCESS);
    EXPECT_EQ(segment.fileoff, 0x1000u);
    EXPECT_EQ(segment.filesize, 0x800u);
    EXPECT_EQ(qcrash_async_mobject_length(&segment.mobj), 0x800u);
    qcrash_async_macho_mapped_segment_free(&segment);
    qcrash_nasync_macho_free(&image);
}

TEST_P(MachOReader, SymbolsByPcAndByName) {
    auto fixture = typicalImage(GetParam());
    const MappedImage mapped(fixture.build());
    qcrash_async_macho_t image;
    ASSERT_EQ(qcrash_nasync_macho_init(&image, qcrash_task_self(), "lib", mapped.address()), QCRASH_ESUCCESS);
    const uint64_t base = mapped.address();
    struct Case {
        uint64_t pc;  // from the header
        qcrash_error_t result;
        const char* name;
        uint64_t start;
    } cases[] = {
        {0x0FF, QCRASH_ENOTFOUND, nullptr, 0},       // below every symbol
        {0x100, QCRASH_ESUCCESS, "_first", 0x100},   // exactly at one
        {0x1FF, QCRASH_ESUCCESS, "_first", 0x100},   // between two: the lower
        {0x2A0, QCRASH_ESUCCESS, "_second", 0x200},  // debugging and undefined entries skipped
        {0x310, QCRASH_ESUCCESS, "_thumb", 0x301},   // Thumb: bit 0 set in the address
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pc);
        Found found;
        EXPECT_EQ(qcrash_async_macho_find_symbol_by_pc(&image, base + c.pc, remember, &found), c.result);
        if (c.result != QCRASH_ESUCCESS) {
            EXPECT_EQ(found.calls, 0);
            continue;
        }
        EXPECT_EQ(found.name, c.name);
        EXPECT_EQ(found.address, base + c.start);
    }
    qcrash_vm_address_t address = 0;
    EXPECT_EQ(qcrash_async_macho_find_symbol_by_name(&image, "_second", &address), QCRASH_ESUCCESS);
    EXPECT_EQ(address, base + 0x200);
    EXPECT_EQ(qcrash_async_macho_find_symbol_by_name(&image, "_thumb", &address), QCRASH_ESUCCESS);
    EXPECT_EQ(address, base + 0x301);
    EXPECT_EQ(qcrash_async_macho_find_symbol_by_name(&image, "_debug", &address), QCRASH_ENOTFOUND);
    EXPECT_EQ(qcrash_async_macho_find_symbol_by_name(&image, "_missing", &address), QCRASH_ENOTFOUND);
    qcrash_nasync_macho_free(&image);
}

INSTANTIATE_TEST_SUITE_P(Layouts, MachOReader, ::testing::ValuesIn(kLayouts), [](const auto& info) {
    std::string name = info.param.name;
    for (auto& ch : name) {
        if (ch == ' ' || ch == '-') ch = '_';
    }
    return name;
});

qcrash_error_t initFixture(const MachOFixture& fixture, const MappedImage& mapped,
                           qcrash_async_macho_t* image) {
    (void)fixture;
    return qcrash_nasync_macho_init(image, qcrash_task_self(), "lib", mapped.address());
}

TEST(MachOReaderEdges, HeadersThatCannotBeImages) {
    qcrash_async_macho_t image;
    MachOFixture unknown(true, false);
    unknown.magic = 0xCAFEBABE;
    const MappedImage a(unknown.build());
    EXPECT_EQ(initFixture(unknown, a, &image), QCRASH_EINVAL);

    MachOFixture noText(true, false);
    noText.withTextSegment = false;
    const MappedImage b(noText.build());
    EXPECT_EQ(initFixture(noText, b, &image), QCRASH_EINVAL);

    // Load commands said to run past the readable pages.
    MachOFixture truncated(true, false);
    truncated.sizeofcmdsOverride = 0x100000;
    const MappedImage c(truncated.build());
    EXPECT_EQ(initFixture(truncated, c, &image), QCRASH_ENOMEM);

    // A header that is not readable at all.
    EXPECT_EQ(qcrash_nasync_macho_init(&image, qcrash_task_self(), "lib", c.guard()), QCRASH_EINTERNAL);
}

TEST(MachOReaderEdges, CommandWalkStopsAtImpossibleSizes) {
    struct Case {
        const char* name;
        uint32_t cmdsize;
        uint32_t bytes;
        int commandsSeen;
    } cases[] = {
        {"cmdsize 4 ends the walk after it", 4, 8, 1},
        {"cmdsize 0 ends the walk after it", 0, 8, 1},
        {"cmdsize past the end of the commands", 0x10000, 8, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MachOFixture fixture(true, false);
        fixture.rawCommands.push_back({0x1234, c.cmdsize, c.bytes});
        const MappedImage mapped(fixture.build());
        qcrash_async_macho_t image;
        // __TEXT lies after the odd command, so the record cannot be built.
        EXPECT_EQ(initFixture(fixture, mapped, &image), QCRASH_EINVAL);
        // Walk the commands by hand over a record that skips the __TEXT check.
        image = qcrash_async_macho_t{};
        image.format = qcrash_image_format::macho;
        image.m64 = true;
        image.byteorder = qcrash_async_byteorder_little_endian();
        std::memcpy(&image.header, mapped.bytes(), sizeof image.header);
        ASSERT_EQ(qcrash_async_mobject_init(&image.load_cmds, qcrash_task_self(), mapped.address() + 32,
                                            image.header.sizeofcmds, true),
                  QCRASH_ESUCCESS);
        int seen = 0;
        for (const void* cmd = nullptr; (cmd = qcrash_async_macho_next_command(&image, cmd)) != nullptr;)
            ++seen;
        EXPECT_EQ(seen, c.commandsSeen);
        qcrash_async_mobject_free(&image.load_cmds);
    }
}

TEST(MachOReaderEdges, AbsurdCountsAndOverlaps) {
    MachOFixture fixture(true, false);
    fixture.segments.push_back({"__DATA", 0x1000, 0x800, {{"__data", 0x1000, 0x10}}, 0xFFFFFFFFu});
    fixture.segments.push_back(
        {"__OVER", 0x0800, 0x1000, {{"__x", 0x0900, 0x10}}, std::nullopt});  // overlaps both
    fixture.symbols = {{"_f", 0x0F, 0, fixture.textVM() + 0x10}};
    fixture.nsymsOverride = 0x10000000;
    const MappedImage mapped(fixture.build());
    qcrash_async_macho_t image;
    ASSERT_EQ(initFixture(fixture, mapped, &image), QCRASH_ESUCCESS);
    qcrash_async_mobject_t section;
    // A wanted section beyond the real headers: the walk leaves the mapping.
    EXPECT_EQ(qcrash_async_macho_map_section(&image, "__DATA", "__zzz", &section), QCRASH_EINVAL);
    ASSERT_EQ(qcrash_async_macho_map_section(&image, "__DATA", "__data", &section), QCRASH_ESUCCESS);
    qcrash_async_mobject_free(&section);
    ASSERT_EQ(qcrash_async_macho_map_section(&image, "__OVER", "__x", &section), QCRASH_ESUCCESS);
    qcrash_async_mobject_free(&section);
    // More symbols than __LINKEDIT holds: the table cannot be mapped.
    Found found;
    EXPECT_EQ(qcrash_async_macho_find_symbol_by_pc(&image, mapped.address() + 0x20, remember, &found),
              QCRASH_EINTERNAL);
    qcrash_nasync_macho_free(&image);

    // Dynamic-symbol ranges outside the table.
    MachOFixture ranges(true, false);
    ranges.symbols = {{"_a", 0x0F, 0, ranges.textVM() + 0x10}, {"_b", 0x0F, 0, ranges.textVM() + 0x20}};
    ranges.dysymtab = testing::FixtureDysymtab{0, 1, 1, 2};
    const MappedImage r(ranges.build());
    ASSERT_EQ(initFixture(ranges, r, &image), QCRASH_ESUCCESS);
    qcrash_async_macho_symtab_reader_t reader;
    EXPECT_EQ(qcrash_async_macho_symtab_reader_init(&reader, &image), QCRASH_EINVAL);
    qcrash_nasync_macho_free(&image);
}

TEST(MachOReaderEdges, DynamicSymbolRangesLimitTheSearch) {
    MachOFixture fixture(true, false);
    const uint64_t vm = fixture.textVM();
    fixture.symbols = {
        {"_local", 0x0E, 0, vm + 0x100},
        {"_global", 0x0F, 0, vm + 0x200},
        {"_outside", 0x0F, 0, vm + 0x300},  // in neither range
    };
    fixture.dysymtab = testing::FixtureDysymtab{0, 1, 1, 1};
    const MappedImage mapped(fixture.build());
    qcrash_async_macho_t image;
    ASSERT_EQ(initFixture(fixture, mapped, &image), QCRASH_ESUCCESS);
    Found found;
    ASSERT_EQ(qcrash_async_macho_find_symbol_by_pc(&image, mapped.address() + 0x380, remember, &found),
              QCRASH_ESUCCESS);
    EXPECT_EQ(found.name, "_global");
    ASSERT_EQ(qcrash_async_macho_find_symbol_by_pc(&image, mapped.address() + 0x180, remember, &found),
              QCRASH_ESUCCESS);
    EXPECT_EQ(found.name, "_local");
    // By name the whole table counts.
    qcrash_vm_address_t address;
    EXPECT_EQ(qcrash_async_macho_find_symbol_by_name(&image, "_outside", &address), QCRASH_ESUCCESS);
    qcrash_nasync_macho_free(&image);
}

TEST(MachOReaderEdges, NamesWithoutTerminator) {
    MachOFixture fixture(true, false);
    fixture.symbols = {{"_ok", 0x0F, 0, fixture.textVM() + 0x10},
                       {"_cut", 0x0F, 0, fixture.textVM() + 0x20, true}};
    const MappedImage mapped(fixture.build());
    qcrash_async_macho_t image;
    ASSERT_EQ(initFixture(fixture, mapped, &image), QCRASH_ESUCCESS);
    Found found;
    EXPECT_EQ(qcrash_async_macho_find_symbol_by_pc(&image, mapped.address() + 0x30, remember, &found),
              QCRASH_EINVAL);
    EXPECT_EQ(found.calls, 0);
    EXPECT_EQ(qcrash_async_macho_find_symbol_by_pc(&image, mapped.address() + 0x18, remember, &found),
              QCRASH_ESUCCESS);
    EXPECT_EQ(found.name, "_ok");
    qcrash_async_macho_symtab_reader_t reader;
    ASSERT_EQ(qcrash_async_macho_symtab_reader_init(&reader, &image), QCRASH_ESUCCESS);
    EXPECT_EQ(qcrash_async_macho_symtab_reader_symbol_name(&reader, 1), std::string("_ok"));
    EXPECT_EQ(qcrash_async_macho_symtab_reader_symbol_name(&reader, 5), nullptr);
    EXPECT_EQ(qcrash_async_macho_symtab_reader_symbol_name(&reader, 1000), nullptr);
    qcrash_async_macho_symtab_reader_free(&reader);
    qcrash_nasync_macho_free(&image);
}

TEST(MachOReaderEdges, MappedStrings) {
    MachOFixture fixture(true, false);
    const MappedImage mapped(fixture.build());
    qcrash_async_macho_t image;
    ASSERT_EQ(initFixture(fixture, mapped, &image), QCRASH_ESUCCESS);
    const uint64_t page = qcrash_async_page_size();
    // One string that crosses a page boundary, one that runs into the guard page.
    std::memset(mapped.bytes() + 0x3000 - 10, 'a', 20);
    mapped.bytes()[0x3000 + 10] = 0;
    std::memset(mapped.bytes() + fixture.textSize - 8, 'b', 8);
    ASSERT_EQ(mapped.guard(), mapped.address() + fixture.textSize);

    qcrash_async_macho_string_t string;
    qcrash_async_macho_string_init(&string, &image, mapped.address() + 0x3000 - 10);
    qcrash_vm_size_t length = 0;
    ASSERT_EQ(qcrash_async_macho_string_get_length(&string, &length), QCRASH_ESUCCESS);
    EXPECT_EQ(length, 20u);
    const char* pointer = nullptr;
    ASSERT_EQ(qcrash_async_macho_string_get_pointer(&string, &pointer), QCRASH_ESUCCESS);
    EXPECT_EQ(std::string(pointer), std::string(20, 'a'));
    qcrash_async_macho_string_free(&string);

    qcrash_async_macho_string_init(&string, &image, mapped.address() + fixture.textSize - 8);
    EXPECT_EQ(qcrash_async_macho_string_get_length(&string, &length), QCRASH_EINVAL);
    EXPECT_EQ(qcrash_async_macho_string_get_pointer(&string, &pointer), QCRASH_EACCESS);
    qcrash_async_macho_string_free(&string);
    (void)page;
    qcrash_nasync_macho_free(&image);
}

TEST(ImageList, KeepsOrderLeavesOutBadImagesAndFindsByAddress) {
    MachOFixture good(true, false);
    MachOFixture swapped(false, true);
    MachOFixture bad(true, false);
    bad.magic = 0x12345678;
    const MappedImage a(good.build());
    const MappedImage b(swapped.build());
    const MappedImage c(bad.build());

    qcrash_async_image_list_t list;
    qcrash_nasync_image_list_init(&list, qcrash_task_self());
    qcrash_nasync_image_list_append(&list, a.address(), "a");
    qcrash_nasync_image_list_append(&list, c.address(), "bad");
    qcrash_nasync_image_list_append(&list, b.address(), "b");

    auto names = [&] {
        std::vector<std::string> out;
        qcrash_async_image_list_set_reading(&list, true);
        for (auto* i = qcrash_async_image_list_next(&list, nullptr); i != nullptr;
             i = qcrash_async_image_list_next(&list, i))
            out.emplace_back(i->name);
        qcrash_async_image_list_set_reading(&list, false);
        return out;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "b"}));

    qcrash_async_image_list_set_reading(&list, true);
    auto* found = qcrash_async_image_containing_address(&list, b.address() + 0x10);
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->name, "b");
    EXPECT_EQ(qcrash_async_image_containing_address(&list, b.address() + swapped.textSize), nullptr);
    // Removed while a reader holds it: still readable, and the walk goes on.
    qcrash_nasync_image_list_remove(&list, b.address());
    EXPECT_STREQ(found->name, "b");
    EXPECT_EQ(qcrash_async_image_list_next(&list, found), nullptr);
    qcrash_async_image_list_set_reading(&list, false);
    EXPECT_EQ(names(), (std::vector<std::string>{"a"}));
    qcrash_nasync_image_list_free(&list);
}

}  // namespace
}  // namespace tervolo::crash
