#pragma once

#include <cstdint>
#include <string_view>

#include "logging/QLLogFlag.hpp"

namespace tervolo::logging {

// Where a log call stands in the source: its flag, file, function and line,
// all known when the program is built. Each logging macro keeps one, made at
// compile time, and hands it to the registry by reference: a log call passes
// one address instead of six values, and its file name is found once, here.
// `file` and `function` are string literals (__FILE__, __func__), which
// outlive every record.
struct QLLogCallSite {
    QLLogFlag flag;
    std::string_view file;
    std::string_view function;
    uint64_t line;
    // The file's base name without its extension, as a part of `file`.
    uint16_t fileNameOffset;
    uint16_t fileNameLength;

    // A file name whose place does not fit the two counts is found again on
    // every request.
    static constexpr uint16_t kFileNameUnknown = 0xFFFF;

    constexpr QLLogCallSite(QLLogFlag flag, std::string_view file, std::string_view function, uint64_t line)
        : flag(flag), file(file), function(function), line(line), fileNameOffset(0), fileNameLength(0) {
        const auto slash = file.rfind('/');
        const size_t offset = slash == std::string_view::npos ? 0 : slash + 1;
        std::string_view name = file.substr(offset);
        const auto dot = name.rfind('.');
        if (dot != std::string_view::npos) name = name.substr(0, dot);
        if (offset >= kFileNameUnknown || name.size() >= kFileNameUnknown) {
            fileNameOffset = kFileNameUnknown;
        } else {
            fileNameOffset = static_cast<uint16_t>(offset);
            fileNameLength = static_cast<uint16_t>(name.size());
        }
    }
};

}  // namespace tervolo::logging
