#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MachOFixture.hpp"
#include "ObjCMetadata.hpp"
#include "crash/AsyncElfImage.hpp"
#include "crash/AsyncImageList.hpp"
#include "crash/AsyncObjCReader.hpp"

namespace tervolo::crash {
namespace {

using testing::MappedImage;
using testing::ObjCLayout;
using testing::ObjCWriter;

struct Method {
    bool isClass = false;
    std::string className, methodName;
    uint64_t imp = 0;
    int calls = 0;
};

void rememberMethod(bool isClass, const char* className, const char* methodName, qcrash_vm_address_t imp,
                    void* context) {
    auto* m = static_cast<Method*>(context);
    *m = {isClass, className, methodName, imp, m->calls + 1};
}

struct Symbol {
    uint64_t address = 0;
    std::string name;
};

void rememberSymbol(qcrash_vm_address_t address, const char* name, void* context) {
    auto* s = static_cast<Symbol*>(context);
    s->address = address;
    s->name = name;
}

// "Widget" with -draw (0x100) and -layout (0x180), +shared (0x140); a
// category adds -extra (0x200) and +make (0x220); "Ghost" is not realized
// (its method at 0x300 must never be found).
class ObjCReader : public ::testing::Test {
  protected:
    void build(bool withCategoryList = true) {
        auto fixture = testing::objcImage(true, 2, 1, withCategoryList);
        fixture.symbols = {{"_draw_impl", 0x0F, 0, fixture.textVM() + 0x100},
                           {"_later", 0x0F, 0, fixture.textVM() + 0x190}};
        mapped_ = std::make_unique<MappedImage>(fixture.build());
        ObjCWriter w(mapped_->bytes(), true);
        const uint64_t metaRW = w.classData("Widget", w.methodList({{"shared", 0x140}}));
        const uint64_t meta = w.classObject(0, metaRW);
        const uint64_t rw = w.classData("Widget", w.methodList({{"draw", 0x100}, {"layout", 0x180}}));
        widget_ = w.classObject(meta, rw);
        widgetRW_ = rw;
        const uint64_t ghostRW = w.classData("Ghost", w.methodList({{"boo", 0x300}}), 0);
        const uint64_t ghost = w.classObject(meta, ghostRW);
        w.listEntry(ObjCLayout::kClassList, 0, widget_);
        w.listEntry(ObjCLayout::kClassList, 1, ghost);
        if (withCategoryList) {
            w.listEntry(
                ObjCLayout::kCatList, 0,
                w.category(widget_, w.methodList({{"extra", 0x200}}), w.methodList({{"make", 0x220}})));
        }
        ASSERT_EQ(qcrash_nasync_macho_init(&image_, qcrash_task_self(), "objc", mapped_->address()),
                  QCRASH_ESUCCESS);
        qcrash_async_objc_cache_init(&cache_);
    }
    void TearDown() override {
        qcrash_async_objc_cache_free(&cache_);
        if (mapped_) qcrash_nasync_macho_free(&image_);
    }
    uint64_t at(uint64_t offset) const { return mapped_->address() + offset; }

    std::unique_ptr<MappedImage> mapped_;
    qcrash_async_macho_t image_;
    qcrash_async_objc_cache_t cache_;
    uint64_t widget_ = 0;
    uint64_t widgetRW_ = 0;
};

TEST_F(ObjCReader, FindsTheMethodAtOrBelowAPc) {
    build();
    struct Case {
        uint64_t pc;
        qcrash_error_t result;
        bool isClass;
        const char* method;
        uint64_t imp;
    } cases[] = {
        {0x100, QCRASH_ESUCCESS, false, "draw", 0x100},  // exactly at an implementation
        {0x13F, QCRASH_ESUCCESS, false, "draw", 0x100},
        {0x150, QCRASH_ESUCCESS, true, "shared", 0x140},  // the metaclass: a class method
        {0x1FF, QCRASH_ESUCCESS, false, "layout", 0x180},
        {0x210, QCRASH_ESUCCESS, false, "extra", 0x200},  // the category's
        {0x400, QCRASH_ESUCCESS, true, "make", 0x220},    // the unrealized class's 0x300 is skipped
        {0x0FF, QCRASH_ENOTFOUND, false, nullptr, 0},     // below every method
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pc);
        Method m;
        ASSERT_EQ(qcrash_async_objc_find_method(&image_, &cache_, at(c.pc), rememberMethod, &m), c.result);
        if (c.result != QCRASH_ESUCCESS) {
            EXPECT_EQ(m.calls, 0);
            continue;
        }
        EXPECT_EQ(m.calls, 1);
        EXPECT_EQ(m.isClass, c.isClass);
        EXPECT_EQ(m.className, "Widget");
        EXPECT_EQ(m.methodName, c.method);
        EXPECT_EQ(m.imp, at(c.imp));
    }
    EXPECT_TRUE(cache_.got_modern);
    EXPECT_NE(cache_.class_cache, nullptr);
}

TEST_F(ObjCReader, TheClassCacheSparesReadingReadWriteDataAgain) {
    build();
    Method m;
    ASSERT_EQ(qcrash_async_objc_find_method(&image_, &cache_, at(0x100), rememberMethod, &m),
              QCRASH_ESUCCESS);
    // The class now looks unrealized in memory; the cache still knows it.
    mapped_->bytes()[widgetRW_ - mapped_->address() + 3] = 0;
    ASSERT_EQ(qcrash_async_objc_find_method(&image_, &cache_, at(0x100), rememberMethod, &m),
              QCRASH_ESUCCESS);
    EXPECT_EQ(m.methodName, "draw");
    // A fresh cache reads the memory again and skips the class.
    qcrash_async_objc_cache_t fresh;
    qcrash_async_objc_cache_init(&fresh);
    EXPECT_NE(qcrash_async_objc_find_method(&image_, &fresh, at(0x100), rememberMethod, &m), QCRASH_ESUCCESS);
    qcrash_async_objc_cache_free(&fresh);
}

TEST_F(ObjCReader, CombinedLookupPrefersTheMethodOnEqualAddresses) {
    build();
    struct Case {
        uint64_t strategy;
        uint64_t pc;
        qcrash_error_t result;
        const char* name;
        uint64_t start;
    } cases[] = {
        {3, 0x100, QCRASH_ESUCCESS, "-[Widget draw]", 0x100},  // same address: the method
        {3, 0x195, QCRASH_ESUCCESS, "_later", 0x190},          // the symbol lies closer
        {3, 0x225, QCRASH_ESUCCESS, "+[Widget make]", 0x220},
        {1, 0x150, QCRASH_ESUCCESS, "_draw_impl", 0x100},        // symbol table only
        {2, 0x195, QCRASH_ESUCCESS, "-[Widget layout]", 0x180},  // metadata only
        {0, 0x100, QCRASH_ENOTFOUND, nullptr, 0},
        {3, 0x050, QCRASH_ENOTFOUND, nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.strategy) + " " + std::to_string(c.pc));
        Symbol s;
        ASSERT_EQ(qcrash_async_find_symbol(&image_, c.strategy, &cache_, at(c.pc), rememberSymbol, &s),
                  c.result);
        if (c.result != QCRASH_ESUCCESS) continue;
        EXPECT_EQ(s.name, c.name);
        EXPECT_EQ(s.address, at(c.start));
    }
}

TEST_F(ObjCReader, ImagesWithoutACategoryListStopTheWalk) {
    build(false);
    Method m;
    EXPECT_EQ(qcrash_async_objc_find_method(&image_, &cache_, at(0x100), rememberMethod, &m),
              QCRASH_ENOTFOUND);
    EXPECT_EQ(m.calls, 0);
    // The symbol table still answers.
    Symbol s;
    ASSERT_EQ(qcrash_async_find_symbol(&image_, 3, &cache_, at(0x100), rememberSymbol, &s), QCRASH_ESUCCESS);
    EXPECT_EQ(s.name, "_draw_impl");
}

TEST(ObjCReaderEdges, LongNamesAreCutAndStillTerminated) {
    auto fixture = testing::objcImage(true, 1, 0);
    const MappedImage mapped(fixture.build());
    ObjCWriter w(mapped.bytes(), true);
    const std::string longClass(200, 'C');
    const std::string longSelector(100, 's');
    const uint64_t meta = w.classObject(0, w.classData(longClass, 0));
    w.listEntry(ObjCLayout::kClassList, 0,
                w.classObject(meta, w.classData(longClass, w.methodList({{longSelector, 0x100}}))));
    qcrash_async_macho_t image;
    ASSERT_EQ(qcrash_nasync_macho_init(&image, qcrash_task_self(), "objc", mapped.address()),
              QCRASH_ESUCCESS);
    qcrash_async_objc_cache_t cache;
    qcrash_async_objc_cache_init(&cache);
    Symbol s;
    ASSERT_EQ(qcrash_async_find_symbol(&image, 2, &cache, mapped.address() + 0x100, rememberSymbol, &s),
              QCRASH_ESUCCESS);
    EXPECT_EQ(s.name.size(), QCRASH_SYMBOL_NAME_MAX - 1);
    EXPECT_EQ(s.name, ("-[" + longClass + " " + longSelector).substr(0, 255));
    qcrash_async_objc_cache_free(&cache);
    qcrash_nasync_macho_free(&image);
}

TEST(ObjCReaderEdges, AbsurdCountsAndRelativeLists) {
    struct Case {
        const char* name;
        uint32_t flags;
        uint32_t count;
        qcrash_error_t result;
    } cases[] = {
        {"a count running past the section", 0, 0x10000000, QCRASH_EINVALID_DATA},
        {"a relative list is skipped, the next class still found", 0x80000000u, 0, QCRASH_ESUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto fixture = testing::objcImage(true, 2, 0);
        const MappedImage mapped(fixture.build());
        ObjCWriter w(mapped.bytes(), true);
        const uint64_t meta = w.classObject(0, w.classData("Meta", 0));
        w.listEntry(
            ObjCLayout::kClassList, 0,
            w.classObject(meta, w.classData("Odd", w.methodList({{"odd", 0x200}}, c.flags, c.count))));
        w.listEntry(ObjCLayout::kClassList, 1,
                    w.classObject(meta, w.classData("Plain", w.methodList({{"plain", 0x100}}))));
        qcrash_async_macho_t image;
        ASSERT_EQ(qcrash_nasync_macho_init(&image, qcrash_task_self(), "objc", mapped.address()),
                  QCRASH_ESUCCESS);
        qcrash_async_objc_cache_t cache;
        qcrash_async_objc_cache_init(&cache);
        Method m;
        EXPECT_EQ(qcrash_async_objc_find_method(&image, &cache, mapped.address() + 0x300, rememberMethod, &m),
                  c.result);
        if (c.result == QCRASH_ESUCCESS) {
            EXPECT_EQ(m.methodName, "plain");
        }
        qcrash_async_objc_cache_free(&cache);
        qcrash_nasync_macho_free(&image);
    }
}

TEST(ObjCReaderEdges, LegacyModulesOf32BitImages) {
    auto fixture = testing::objcImage(false, 0, 0, true, true);
    // 32-bit pointers: the image must lie below 4 GiB.
    const MappedImage mapped(fixture.build(), 0x40000000);
    if (mapped.address() + ObjCLayout::kImageSize > UINT32_MAX) GTEST_SKIP() << "no room below 4 GiB";
    ObjCWriter w(mapped.bytes(), false);
    // A legacy method list: unused word, count, 12-byte entries.
    auto legacyList = [&](uint64_t offset, const std::string& name, uint64_t imp) {
        w.word32At(offset, 0);
        w.word32At(offset + 4, 1);
        w.pointerAt(offset + 8, w.string(name));
        w.pointerAt(offset + 12, 0);
        w.pointerAt(offset + 16, w.address(imp));
        return w.address(offset);
    };
    const uint64_t base = 0x4000;  // inside the image, outside the sections
    // Metaclass: info without 0x4000, so method lists is an array ended by 0.
    w.pointerAt(base + 0x100, legacyList(base + 0x200, "create", 0x140));
    w.pointerAt(base + 0x104, 0);
    const uint64_t meta = w.address(base + 0x40);
    w.pointerAt(base + 0x40 + 8, w.string("Old"));
    w.word32At(base + 0x40 + 16, 0);
    w.pointerAt(base + 0x40 + 28, w.address(base + 0x100));
    // Class: a single method list (info 0x4000).
    const uint64_t cls = w.address(base);
    w.pointerAt(base, meta);
    w.pointerAt(base + 8, w.string("Old"));
    w.word32At(base + 16, 0x4000);
    w.pointerAt(base + 28, legacyList(base + 0x300, "run", 0x100));
    // The symbol table: selector refs (count, pointer), class count 1,
    // category count 0, then the class.
    const uint64_t symtab = base + 0x400;
    w.word32At(symtab, 0);
    w.word32At(symtab + 4, 0);
    w.word32At(symtab + 8, 1);
    w.pointerAt(symtab + 12, cls);
    w.pointerAt(ObjCLayout::kModules + 12, w.address(symtab));

    qcrash_async_macho_t image;
    ASSERT_EQ(qcrash_nasync_macho_init(&image, qcrash_task_self(), "old", mapped.address()), QCRASH_ESUCCESS);
    qcrash_async_objc_cache_t cache;
    qcrash_async_objc_cache_init(&cache);
    Method m;
    ASSERT_EQ(qcrash_async_objc_find_method(&image, &cache, mapped.address() + 0x120, rememberMethod, &m),
              QCRASH_ESUCCESS);
    EXPECT_EQ(m.methodName, "run");
    EXPECT_FALSE(m.isClass);
    EXPECT_EQ(m.className, "Old");
    ASSERT_EQ(qcrash_async_objc_find_method(&image, &cache, mapped.address() + 0x150, rememberMethod, &m),
              QCRASH_ESUCCESS);
    EXPECT_EQ(m.methodName, "create");
    EXPECT_TRUE(m.isClass);

    // A method-list array without its end: the walk gives up.
    const uint64_t list = w.address(base + 0x300);
    const uint64_t array = 0x5800;  // clear of the names
    for (uint64_t i = 0; i < 1100; ++i) w.pointerAt(array + 4 * i, list);
    w.pointerAt(base + 0x40 + 28, w.address(array));
    EXPECT_EQ(qcrash_async_objc_find_method(&image, &cache, mapped.address() + 0x150, rememberMethod, &m),
              QCRASH_EINVALID_DATA);
    qcrash_async_objc_cache_free(&cache);
    qcrash_nasync_macho_free(&image);
}

TEST(ObjCReaderEdges, HostImagesFallThroughToTheirSymbols) {
    qcrash_async_image_list_t list;
    qcrash_nasync_image_list_init(&list, qcrash_task_self());
    qcrash_nasync_image_list_sync_host(&list);
    const auto pc = reinterpret_cast<uint64_t>(&qcrash_async_find_symbol) + 4;
    auto* image = qcrash_async_image_containing_address(&list, pc);
    ASSERT_NE(image, nullptr);
    qcrash_async_objc_cache_t cache;
    qcrash_async_objc_cache_init(&cache);
    Method m;
    EXPECT_EQ(qcrash_async_objc_find_method(image, &cache, pc, rememberMethod, &m), QCRASH_ENOTFOUND);
    Symbol s;
    ASSERT_EQ(qcrash_async_find_symbol(image, 3, &cache, pc, rememberSymbol, &s), QCRASH_ESUCCESS);
    EXPECT_EQ(s.address, reinterpret_cast<uint64_t>(&qcrash_async_find_symbol));
    EXPECT_NE(s.name.find("qcrash_async_find_symbol"), std::string::npos);
    qcrash_async_objc_cache_free(&cache);
    qcrash_nasync_image_list_free(&list);
}

}  // namespace
}  // namespace tervolo::crash
