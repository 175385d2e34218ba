// The serialiser when memory runs out. This binary replaces operator new so
// that a test can make every allocation from the n-th on fail; the other
// tests of the library run with the ordinary one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "json/JSON.hpp"

// The replacement pairs malloc with free; GCC sees operator new inlined into
// call sites of operator delete and warns about a mismatch that is not there.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

// Allocations still allowed on this thread; negative: no limit.
thread_local long allocationsLeft = -1;

void* allocate(std::size_t size) {
    if (allocationsLeft == 0) throw std::bad_alloc();
    if (allocationsLeft > 0) --allocationsLeft;
    void* p = std::malloc(size ? size : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace tervolo::json {
namespace {

// Runs `work` with the first `allowed` allocations succeeding and every later
// one failing; true when it got through.
template <typename Work>
bool withAllocationsUpTo(long allowed, Work work) {
    allocationsLeft = allowed;
    try {
        work();
    } catch (const std::bad_alloc&) {
        allocationsLeft = -1;
        return false;
    }
    allocationsLeft = -1;
    return true;
}

Any longDocument() {
    Array items;
    for (int i = 0; i < 4000; ++i)
        items.push_back(Any(Dictionary{{"text", Any("caf\xc3\xa9 / \"" + std::to_string(i) + "\"")},
                                       {"value", Any(i * 0.5)}}));
    return Any(std::move(items));
}

// Whatever allocation fails while the serialiser writes, the caller catches
// bad_alloc and its text is as it was; the first attempt that gets through
// writes the whole text. Small documents are in the table because their text
// reaches the caller's string in one append at the very end.
TEST(JSONOutOfMemoryTest, SerialiserLeavesTheCallersTextAsItWas) {
    const std::string callers = "the caller's own text, longer than a short string's buffer";
    const struct {
        const char* name;
        Any object;
        WritingOptions options;
    } cases[] = {
        {"small dictionary", Any(Dictionary{{"k", Any("v")}}), WritingOptions()},
        {"small array, pretty", Any(Array{1, "two", Any()}), WritingOptions(WritingOptions::prettyPrinted)},
        {"long document", longDocument(), WritingOptions()},
        {"long document, pretty", longDocument(), WritingOptions(WritingOptions::prettyPrinted)},
    };
    for (const auto& c : cases) {
        std::string expected = callers;
        JSONSerialization::write(expected, c.object, c.options);
        int failures = 0;
        for (long allowed = 0;; ++allowed) {
            ASSERT_LT(allowed, 200) << c.name;
            std::string out = callers;
            out.shrink_to_fit();
            if (withAllocationsUpTo(allowed, [&] { JSONSerialization::write(out, c.object, c.options); })) {
                EXPECT_EQ(out, expected) << c.name;
                break;
            }
            ++failures;
            ASSERT_EQ(out, callers) << c.name << ", allocation " << allowed << " failed";
        }
        EXPECT_GT(failures, 0) << c.name;
    }
}

// The other ways into the serialiser pass the exception on the same way.
TEST(JSONOutOfMemoryTest, BytesAndQuotedTextsPassTheExceptionOn) {
    const JSON value(Any(Array{"a/b", 1.5}));
    EXPECT_FALSE(withAllocationsUpTo(0, [&] { (void)value.rawData(); }));
    EXPECT_FALSE(withAllocationsUpTo(0, [&] { (void)JSONSerialization::data(value.object()); }));
    const Data bytes = value.rawData(WritingOptions());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), R"(["a\/b",1.5])");

    std::string out = "prefix";
    const std::string longText(100, 'x');
    EXPECT_FALSE(withAllocationsUpTo(0, [&] { JSONSerialization::appendQuoted(out, longText, true); }));
    EXPECT_EQ(out, "prefix");
}

}  // namespace
}  // namespace tervolo::json
