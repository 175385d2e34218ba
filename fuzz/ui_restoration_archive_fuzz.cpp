// Fuzz target: reading a restoration archive file. Any bytes are refused or
// read; what is read must survive a write and a second read unchanged, and
// nesting must not exhaust the stack.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "platform/ui/RestorationArchive.hpp"

using platform::RestorationArchive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string reason;
    const auto first = RestorationArchive::decodeFile(std::span(data, size), reason);
    if (!first) {
        if (reason.empty()) std::abort();
        return 0;
    }
    const std::string text = RestorationArchive::encodeFile(*first);
    const auto second = RestorationArchive::decodeFile(
        std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), reason);
    if (!second || !(*second == *first)) std::abort();
    return 0;
}
