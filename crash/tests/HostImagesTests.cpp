#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "ElfImageFixture.hpp"
#include "crash/AsyncElfImage.hpp"
#include "crash/AsyncImageList.hpp"

namespace tervolo::crash {
namespace {

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

struct Mapping {
    uint64_t start, end;
    std::string perms, path;
};

std::vector<Mapping> procMaps() {
    std::vector<Mapping> out;
    std::ifstream in("/proc/self/maps");
    std::string line;
    while (std::getline(in, line)) {
        Mapping m;
        std::istringstream fields(line);
        std::string range, offset, device, inode;
        fields >> range >> m.perms >> offset >> device >> inode;
        std::getline(fields >> std::ws, m.path);
        m.start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
        m.end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
        out.push_back(m);
    }
    return out;
}

std::string hex(const uint8_t* bytes, size_t length) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < length; ++i) {
        snprintf(two, sizeof two, "%02x", bytes[i]);
        out += two;
    }
    return out;
}

class HostImages : public ::testing::Test {
  protected:
    void SetUp() override {
        qcrash_nasync_image_list_init(&list_, qcrash_task_self());
        qcrash_nasync_image_list_sync_host(&list_);
    }
    void TearDown() override { qcrash_nasync_image_list_free(&list_); }

    std::vector<qcrash_async_macho_t*> images() {
        std::vector<qcrash_async_macho_t*> out;
        for (auto* i = qcrash_async_image_list_next(&list_, nullptr); i != nullptr;
             i = qcrash_async_image_list_next(&list_, i))
            out.push_back(i);
        return out;
    }

    qcrash_async_image_list_t list_;
};

TEST_F(HostImages, ExtentsMatchTheKernelsMappings) {
    const auto maps = procMaps();
    const uint64_t page = qcrash_async_page_size();
    int checked = 0;
    bool sawExecutable = false;
    for (auto* image : images()) {
        SCOPED_TRACE(image->name);
        EXPECT_EQ(image->format, qcrash_image_format::elf);
        EXPECT_EQ(qcrash_async_macho_cpu_type(image), macho::CPU_TYPE_X86_64);
        const std::string file = realPath(image->name);
        if (file.empty()) continue;  // the vDSO has no file
        sawExecutable = sawExecutable || file == realPath("/proc/self/exe");
        // The first mapping of the file starts at the header address; the
        // code ends with its last executable mapping.
        uint64_t first = UINT64_MAX;
        uint64_t codeEnd = 0;
        for (const auto& m : maps) {
            if (m.path != file) continue;
            first = std::min(first, m.start);
            if (m.perms.find('x') != std::string::npos) codeEnd = std::max(codeEnd, m.end);
        }
        EXPECT_EQ(image->header_addr, first);
        EXPECT_EQ((image->header_addr + image->text_size + page - 1) & ~(page - 1), codeEnd);
        ++checked;
    }
    EXPECT_TRUE(sawExecutable);
    EXPECT_GE(checked, 3);  // the test program, libc, libstdc++ at least
}

TEST_F(HostImages, BuildIdsMatchReadelf) {
    if (system("command -v readelf > /dev/null 2>&1") != 0) GTEST_SKIP() << "readelf is not installed";
    int checked = 0;
    for (auto* image : images()) {
        const std::string file = realPath(image->name);
        if (file.empty()) continue;
        SCOPED_TRACE(file);
        const std::string notes = testing::commandOutput("readelf -n '" + file + "' 2>/dev/null");
        const auto at = notes.find("Build ID: ");
        if (at == std::string::npos) {
            EXPECT_EQ(image->elf.build_id_length, 0u);
            continue;
        }
        const std::string expected = notes.substr(at + 10, notes.find('\n', at) - at - 10);
        EXPECT_EQ(hex(image->elf.build_id, image->elf.build_id_length), expected);
        ++checked;
    }
    EXPECT_GE(checked, 2);
}

TEST_F(HostImages, UnwindTablesOfTheProgramAreWhereItsSectionsSay) {
    if (system("command -v readelf > /dev/null 2>&1") != 0) GTEST_SKIP() << "readelf is not installed";
    const std::string exe = realPath("/proc/self/exe");
    qcrash_async_macho_t* program = nullptr;
    for (auto* image : images()) {
        if (realPath(image->name) == exe) program = image;
    }
    ASSERT_NE(program, nullptr);
    // "  [17] .eh_frame          PROGBITS        0000000000012345 ..."
    const std::string sections = testing::commandOutput("readelf -SW '" + exe + "'");
    auto addressOf = [&](const std::string& name) -> uint64_t {
        const auto at = sections.find(" " + name + " ");
        if (at == std::string::npos) return 0;
        std::istringstream fields(sections.substr(at));
        std::string n, type, address;
        fields >> n >> type >> address;
        return std::stoull(address, nullptr, 16);
    };
    ASSERT_NE(addressOf(".eh_frame_hdr"), 0u);
    EXPECT_EQ(program->elf.eh_frame_hdr, program->vmaddr_slide + addressOf(".eh_frame_hdr"));
    EXPECT_EQ(program->elf.eh_frame, program->vmaddr_slide + addressOf(".eh_frame"));
    EXPECT_GT(program->elf.eh_frame_size, 0u);
}

struct FoundSymbol {
    uint64_t address = 0;
    std::string name;
};

void rememberImageSymbol(qcrash_vm_address_t address, const char* name, void* context) {
    auto* found = static_cast<FoundSymbol*>(context);
    found->address = address;
    found->name = name;
}

// Not exported: only the program's full symbol table names it.
__attribute__((noinline)) int localOnlyFunction(int v) {
    return v * 7 + 3;
}

TEST_F(HostImages, SymbolsByPcAgreeWithTheDynamicLoader) {
    struct Case {
        const char* what;
        uint64_t function;
    } cases[] = {
        {"libc getpid", reinterpret_cast<uint64_t>(&getpid)},
        {"libc qsort", reinterpret_cast<uint64_t>(&qsort)},
        {"a program-local function", reinterpret_cast<uint64_t>(&localOnlyFunction)},
    };
    qcrash_async_image_list_set_reading(&list_, true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto* image = qcrash_async_image_containing_address(&list_, c.function + 1);
        ASSERT_NE(image, nullptr);
        FoundSymbol found;
        ASSERT_EQ(qcrash_async_image_find_symbol_by_pc(image, c.function + 1, rememberImageSymbol, &found),
                  QCRASH_ESUCCESS);
        EXPECT_EQ(found.address, c.function);
        // The name we give leads back to the same address.
        qcrash_vm_address_t byName = 0;
        ASSERT_EQ(qcrash_async_elf_find_symbol_by_name(image, found.name.c_str(), &byName), QCRASH_ESUCCESS);
        EXPECT_EQ(byName, c.function) << found.name;
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(c.function + 1), &info) != 0 && info.dli_sname != nullptr) {
            EXPECT_EQ(reinterpret_cast<uint64_t>(info.dli_saddr), found.address);
        }
    }
    EXPECT_EQ(qcrash_async_image_containing_address(&list_, 8), nullptr);
    qcrash_async_image_list_set_reading(&list_, false);
    EXPECT_NE(localOnlyFunction(1), 0);
}

TEST_F(HostImages, ALoadedLibraryAppearsAndDisappears) {
    const std::string module = realPath(CRASH_TEST_MODULE_PATH);
    auto listed = [&] {
        for (auto* image : images()) {
            if (realPath(image->name) == module) return image;
        }
        return static_cast<qcrash_async_macho_t*>(nullptr);
    };
    ASSERT_EQ(listed(), nullptr);
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto function = reinterpret_cast<uint64_t>(dlsym(handle, "crash_fixture_module_function"));
    qcrash_nasync_image_list_sync_host(&list_);
    auto* image = listed();
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(qcrash_async_macho_contains_address(image, function));
    FoundSymbol found;
    ASSERT_EQ(qcrash_async_image_find_symbol_by_pc(image, function + 2, rememberImageSymbol, &found),
              QCRASH_ESUCCESS);
    EXPECT_EQ(found.name, "crash_fixture_module_function");
    EXPECT_EQ(found.address, function);
    const size_t before = images().size();

    ASSERT_EQ(dlclose(handle), 0);
    qcrash_nasync_image_list_sync_host(&list_);
    EXPECT_EQ(listed(), nullptr);
    EXPECT_EQ(images().size(), before - 1);
}

// ---- the dynamic loader's view at crash time ----

class LoaderView : public HostImages {
  protected:
    std::string module_ = realPath(CRASH_TEST_MODULE_PATH);

    qcrash_async_macho_t* listedModule() {
        for (auto* image : images()) {
            if (realPath(image->name) == module_) return image;
        }
        return nullptr;
    }
};

TEST_F(LoaderView, ACurrentListGainsAndLosesNothing) {
    const auto before = images();
    ASSERT_TRUE(qcrash_async_image_list_begin_loader_view(&list_));
    // One write at a time holds the view.
    EXPECT_FALSE(qcrash_async_image_list_begin_loader_view(&list_));
    EXPECT_TRUE(list_.loader_view->complete);
    EXPECT_EQ(list_.loader_view->added_count, 0u);
    EXPECT_EQ(list_.loader_view->hidden_count, 0u);
    EXPECT_EQ(images(), before);
    // Every object the loader lists was matched, the program and the vDSO
    // included.
    EXPECT_EQ(list_.loader_view->entry_count, before.size());
    qcrash_async_image_list_end_loader_view(&list_);
    EXPECT_EQ(images(), before);
}

TEST_F(LoaderView, ALibraryLoadedLaterGetsTheRecordALoadWouldGiveIt) {
    void* handle = dlopen(module_.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto function = reinterpret_cast<uint64_t>(dlsym(handle, "crash_fixture_module_function"));
    ASSERT_EQ(listedModule(), nullptr);
    const size_t before = images().size();

    ASSERT_TRUE(qcrash_async_image_list_begin_loader_view(&list_));
    EXPECT_EQ(images().size(), before + 1);
    qcrash_async_macho_t* seen = listedModule();
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(images().back(), seen);
    qcrash_async_image_list_set_reading(&list_, true);
    EXPECT_EQ(qcrash_async_image_containing_address(&list_, function), seen);
    qcrash_async_image_list_set_reading(&list_, false);
    FoundSymbol found;
    ASSERT_EQ(qcrash_async_image_find_symbol_by_pc(seen, function + 2, rememberImageSymbol, &found),
              QCRASH_ESUCCESS);
    EXPECT_EQ(found.name, "crash_fixture_module_function");
    EXPECT_EQ(found.address, function);
    const qcrash_async_macho_t crashTime = *seen;
    const std::string crashTimeName = seen->name;
    qcrash_async_image_list_end_loader_view(&list_);
    EXPECT_EQ(listedModule(), nullptr);
    EXPECT_EQ(images().size(), before);

    // What the record built from memory at crash time knows equals what the
    // ordinary build from the loader's report knows (bar the file's own
    // symbol table).
    qcrash_nasync_image_list_sync_host(&list_);
    const qcrash_async_macho_t* loaded = listedModule();
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(crashTimeName, loaded->name);
    EXPECT_EQ(crashTime.header_addr, loaded->header_addr);
    EXPECT_EQ(crashTime.vmaddr_slide, loaded->vmaddr_slide);
    EXPECT_EQ(crashTime.text_size, loaded->text_size);
    EXPECT_EQ(crashTime.header.cputype, loaded->header.cputype);
    EXPECT_EQ(hex(crashTime.elf.build_id, crashTime.elf.build_id_length),
              hex(loaded->elf.build_id, loaded->elf.build_id_length));
    EXPECT_GT(crashTime.elf.build_id_length, 0u);
    EXPECT_EQ(crashTime.elf.eh_frame_hdr, loaded->elf.eh_frame_hdr);
    EXPECT_EQ(crashTime.elf.eh_frame, loaded->elf.eh_frame);
    EXPECT_EQ(crashTime.elf.eh_frame_size, loaded->elf.eh_frame_size);
    EXPECT_EQ(crashTime.elf.dynamic, loaded->elf.dynamic);
    EXPECT_EQ(crashTime.elf.dynsym, loaded->elf.dynsym);
    EXPECT_EQ(crashTime.elf.dynsym_count, loaded->elf.dynsym_count);
    EXPECT_EQ(crashTime.elf.symtab, nullptr);
    ASSERT_EQ(dlclose(handle), 0);
}

TEST_F(LoaderView, ALibraryUnloadedLaterIsHidden) {
    void* handle = dlopen(module_.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    qcrash_nasync_image_list_sync_host(&list_);
    ASSERT_NE(listedModule(), nullptr);
    const size_t before = images().size();
    ASSERT_EQ(dlclose(handle), 0);

    ASSERT_TRUE(qcrash_async_image_list_begin_loader_view(&list_));
    EXPECT_EQ(listedModule(), nullptr);
    EXPECT_EQ(images().size(), before - 1);
    EXPECT_EQ(list_.loader_view->added_count, 0u);
    qcrash_async_image_list_end_loader_view(&list_);
    // The list itself changes only when it is made current.
    EXPECT_NE(listedModule(), nullptr);
}

// A loader list the walk cannot trust: it must end, hide nothing (a record
// may only be hidden when the whole list was read) and add nothing.
TEST_F(LoaderView, ADamagedLoaderListChangesNothing) {
    struct FakeMap {
        ElfW(Addr) l_addr;
        char* l_name;
        ElfW(Dyn) * l_ld;
        FakeMap* l_next;
        FakeMap* l_prev;
    };
    static char kName[] = "/nowhere/libfake.so";
    // Readable, but its headers are no ELF file's.
    static uint8_t notAnImage[4096];
    FakeMap cycle{reinterpret_cast<uintptr_t>(notAnImage), kName, nullptr, nullptr, nullptr};
    cycle.l_next = &cycle;
    FakeMap dangling{reinterpret_cast<uintptr_t>(notAnImage), kName, nullptr,
                     reinterpret_cast<FakeMap*>(uintptr_t{16}), nullptr};
    struct FakeDebug {
        int r_version;
        FakeMap* r_map;
        ElfW(Addr) r_brk;
        int r_state;
        ElfW(Addr) r_ldbase;
    };
    FakeDebug cyclic{1, &cycle, 0, 0, 0};
    FakeDebug broken{1, &dangling, 0, 0, 0};
    FakeDebug unversioned{0, &dangling, 0, 0, 0};
    struct Case {
        const char* what;
        qcrash_vm_address_t root;
    } cases[] = {
        {"a list that runs in a circle", reinterpret_cast<uintptr_t>(&cyclic)},
        {"a link into unmapped memory", reinterpret_cast<uintptr_t>(&broken)},
        {"a record of no known version", reinterpret_cast<uintptr_t>(&unversioned)},
        {"a root in unmapped memory", 16},
    };
    const auto before = images();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qcrash_nasync_image_list_set_loader_root(&list_, c.root);
        ASSERT_TRUE(qcrash_async_image_list_begin_loader_view(&list_));
        EXPECT_FALSE(list_.loader_view->complete);
        EXPECT_EQ(list_.loader_view->added_count, 0u);
        EXPECT_EQ(images(), before);
        qcrash_async_image_list_end_loader_view(&list_);
    }
    // Another task's list is never compared with our loader.
    qcrash_nasync_image_list_set_loader_root(&list_, 0);
    EXPECT_FALSE(qcrash_async_image_list_begin_loader_view(&list_));
}

// An image whose symbol hash pointer lost a byte: the table it points at
// claims 3.47 million buckets in a 1 MiB segment. Its record is built all
// the same, with the extents the program headers give and no dynamic
// symbols, for no more reads than the intact image costs; the intact one
// keeps every symbol.
TEST(ElfImageRecord, ADamagedSymbolHashIsBoundedByItsSegmentAndCostsNoMoreReads) {
    using testing::InMemoryElfImage;
    uint64_t reads[2] = {0, 0};
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged" : "intact");
        const InMemoryElfImage image(damaged);
        qcrash_async_macho_t record;
        const uint64_t before = qcrash_async_task_read_calls();
        ASSERT_EQ(qcrash_async_elf_init(&record, "fixture.so", image.base(), image.programHeaders(),
                                        image.programHeaderCount()),
                  QCRASH_ESUCCESS);
        reads[damaged] = qcrash_async_task_read_calls() - before;
        EXPECT_EQ(record.header_addr, image.base());
        EXPECT_EQ(record.text_size, InMemoryElfImage::kSegmentBytes);
        EXPECT_EQ(record.elf.dynamic, image.dynamicSection());
        FoundSymbol found;
        const qcrash_vm_address_t pc = image.base() + InMemoryElfImage::kFirstFunction + 16 * 5 + 3;
        const qcrash_error_t lookup =
            qcrash_async_image_find_symbol_by_pc(&record, pc, rememberImageSymbol, &found);
        if (damaged) {
            EXPECT_EQ(record.elf.dynsym_count, 0u);
            EXPECT_EQ(lookup, QCRASH_ENOTFOUND);
        } else {
            EXPECT_EQ(record.elf.dynsym_count, InMemoryElfImage::kSymbols);
            ASSERT_EQ(lookup, QCRASH_ESUCCESS);
            EXPECT_EQ(found.name, "fn_5");
        }
    }
    EXPECT_LE(reads[true], reads[false]);
    // Headers, dynamic section and hash table each in one read or a few.
    EXPECT_LE(reads[false], 8u);
}

// The same image loaded after the list was made, so the crash-time view of
// the loader builds its record: the view lists exactly the process's images
// and the damaged one after them, and the damaged hash adds no reads.
TEST_F(LoaderView, AnImageWithADamagedSymbolHashIsListedExactlyForNoExtraReads) {
    using testing::InMemoryElfImage;
    struct FakeMap {
        ElfW(Addr) l_addr;
        char* l_name;
        ElfW(Dyn) * l_ld;
        FakeMap* l_next;
        FakeMap* l_prev;
    };
    struct FakeDebug {
        int r_version;
        FakeMap* r_map;
        ElfW(Addr) r_brk;
        int r_state;
        ElfW(Addr) r_ldbase;
    };
    static char kName[] = "/nowhere/libdamaged.so";
    const auto before = images();
    std::vector<std::pair<std::string, qcrash_vm_address_t>> expected;
    for (const auto* image : before) expected.emplace_back(image->name, image->header_addr);

    uint64_t reads[2] = {0, 0};
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged" : "intact");
        const InMemoryElfImage image(damaged);
        // The loader's own list with the image appended.
        std::vector<FakeMap> maps;
        for (const link_map* m = _r_debug.r_map; m != nullptr; m = m->l_next)
            maps.push_back(FakeMap{m->l_addr, m->l_name, m->l_ld, nullptr, nullptr});
        maps.push_back(FakeMap{image.base(), kName, reinterpret_cast<ElfW(Dyn)*>(image.dynamicSection()),
                               nullptr, nullptr});
        for (size_t i = 0; i + 1 < maps.size(); ++i) maps[i].l_next = &maps[i + 1];
        FakeDebug debug{1, maps.data(), 0, 0, 0};
        qcrash_nasync_image_list_set_loader_root(&list_, reinterpret_cast<uintptr_t>(&debug));

        const uint64_t start = qcrash_async_task_read_calls();
        ASSERT_TRUE(qcrash_async_image_list_begin_loader_view(&list_));
        reads[damaged] = qcrash_async_task_read_calls() - start;
        std::vector<std::pair<std::string, qcrash_vm_address_t>> seen;
        for (const auto* listed : images()) seen.emplace_back(listed->name, listed->header_addr);
        qcrash_async_image_list_end_loader_view(&list_);
        auto wanted = expected;
        wanted.emplace_back(kName, image.base());
        EXPECT_EQ(seen, wanted);
        EXPECT_TRUE(list_.loader_view->complete);
    }
    EXPECT_LE(reads[true], reads[false]);
}

}  // namespace
}  // namespace tervolo::crash
