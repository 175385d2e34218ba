// The Objective-C metadata reader on arbitrary bytes as the metadata
// sections (and the read-write data and names after them) of a synthetic
// image placed at a fixed address, so that pointers in the input can point
// into it. Walks must end without a crash.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crash/AsyncObjCReader.hpp"
#include "crash/tests/MachOFixture.hpp"
#include "crash/tests/ObjCMetadata.hpp"

using namespace tervolo::crash;
using tervolo::crash::testing::ObjCLayout;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t kFirst = ObjCLayout::kConst;
    if (size < 2 || size > ObjCLayout::kImageSize - kFirst + 2) return 0;
    qcrash_async_mobject_copy_own_memory(1 << 20);
    const bool is64 = (data[0] & 1) != 0;
    const size_t classes = data[1] % 8;
    static testing::MappedImage* mapped[2] = {};
    if (mapped[is64] == nullptr) {
        mapped[is64] =
            new testing::MappedImage(testing::objcImage(is64, 8, 4).build(), is64 ? 0x50000000 : 0x48000000);
    }
    // The fixture's header and commands stay; the metadata area takes the input.
    auto fixture = testing::objcImage(is64, classes, classes / 2);
    const auto header = fixture.build();
    std::memcpy(mapped[is64]->bytes(), header.data(), kFirst);
    std::memset(mapped[is64]->bytes() + kFirst, 0, ObjCLayout::kImageSize - kFirst);
    std::memcpy(mapped[is64]->bytes() + kFirst, data + 2, size - 2);

    qcrash_async_macho_t image;
    if (qcrash_nasync_macho_init(&image, qcrash_task_self(), "fuzz", mapped[is64]->address()) !=
        QCRASH_ESUCCESS) {
        return 0;
    }
    qcrash_async_objc_cache_t cache;
    qcrash_async_objc_cache_init(&cache);
    for (uint64_t pc : {0x100ull, 0x1000ull, 0x7000ull}) {
        qcrash_async_find_symbol(
            &image, 3, &cache, mapped[is64]->address() + pc,
            [](qcrash_vm_address_t, const char* name, void*) {
                if (qcrash_async_strlen(name) >= QCRASH_SYMBOL_NAME_MAX) __builtin_trap();
            },
            nullptr);
    }
    qcrash_async_objc_cache_free(&cache);
    qcrash_nasync_macho_free(&image);
    return 0;
}
