#include "ObjCMetadata.hpp"

namespace tervolo::crash::testing {

MachOFixture objcImage(bool is64, size_t classes, size_t categories, bool withCategoryList, bool legacy) {
    MachOFixture fixture(is64, false);
    fixture.textSize = ObjCLayout::kImageSize;
    const uint64_t ptr = is64 ? 8 : 4;
    FixtureSegment data{"__DATA", ObjCLayout::kConst, 0x1800, {}, std::nullopt};
    data.sections.push_back({"__objc_const", ObjCLayout::kConst, ObjCLayout::kConstSize});
    data.sections.push_back({"__objc_classlist", ObjCLayout::kClassList, classes * ptr});
    if (withCategoryList) data.sections.push_back({"__objc_catlist", ObjCLayout::kCatList, categories * ptr});
    data.sections.push_back({"__objc_data", ObjCLayout::kData, ObjCLayout::kDataSize});
    fixture.segments.push_back(data);
    if (legacy)
        fixture.segments.push_back({"__OBJC",
                                    ObjCLayout::kModules,
                                    0x100,
                                    {{"__module_info", ObjCLayout::kModules, 16}},
                                    std::nullopt});
    return fixture;
}

uint64_t ObjCWriter::string(const std::string& text) {
    const uint64_t at = strings_;
    std::memcpy(base_ + at, text.c_str(), text.size() + 1);
    strings_ += text.size() + 1;
    return address(at);
}

uint64_t ObjCWriter::methodList(const std::vector<std::pair<std::string, uint64_t>>& methods, uint32_t flags,
                                uint32_t countOverride) {
    const uint32_t entsize = 3 * ptr();
    const uint64_t at = const_;
    word32At(at, entsize | flags);
    word32At(at + 4, countOverride != 0 ? countOverride : static_cast<uint32_t>(methods.size()));
    for (size_t i = 0; i < methods.size(); ++i) {
        const uint64_t entry = at + 8 + i * entsize;
        pointerAt(entry, string(methods[i].first));
        pointerAt(entry + ptr(), string("v16@0:8"));
        pointerAt(entry + 2 * ptr(), address(methods[i].second));
    }
    const_ += 8 + methods.size() * entsize;
    const_ = (const_ + 7) & ~7ull;
    return address(at);
}

uint64_t ObjCWriter::classData(const std::string& name, uint64_t methods, uint32_t rwFlags) {
    const uint64_t ro = const_;
    const uint32_t roSize = is64_ ? 72 : 40;
    std::memset(base_ + ro, 0, roSize);
    pointerAt(ro + (is64_ ? 24 : 16), string(name));
    pointerAt(ro + (is64_ ? 32 : 20), methods);
    const_ += roSize;
    const uint64_t rw = rw_;
    word32At(rw, rwFlags);
    pointerAt(rw + 8, address(ro));
    rw_ += 32;
    return address(rw);
}

uint64_t ObjCWriter::classObject(uint64_t isa, uint64_t rw) {
    const uint64_t at = data_;
    const uint32_t size = is64_ ? 40 : 20;
    std::memset(base_ + at, 0, size);
    pointerAt(at, isa);
    pointerAt(at + (is64_ ? 32 : 16), rw | 1);  // low bits are flags of the data word
    data_ += size;
    return address(at);
}

uint64_t ObjCWriter::category(uint64_t cls, uint64_t instanceMethods, uint64_t classMethods) {
    const uint64_t at = const_;
    const uint32_t size = is64_ ? 48 : 24;
    std::memset(base_ + at, 0, size);
    pointerAt(at, string("Category"));
    pointerAt(at + ptr(), cls);
    pointerAt(at + 2 * ptr(), instanceMethods);
    pointerAt(at + 3 * ptr(), classMethods);
    const_ += size;
    return address(at);
}

}  // namespace tervolo::crash::testing
