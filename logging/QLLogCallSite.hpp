#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "logging/QLLogFlag.hpp"

namespace tervolo::logging {

namespace detail {

// The base name of a path with everything from its last "." cut off.
constexpr std::string_view fileNameWithoutExtension(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    const auto dot = path.rfind('.');
    if (dot != std::string_view::npos) path = path.substr(0, dot);
    return path;
}

}  // namespace detail

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

    // Where the file name stands in `path`, as an offset and a length; an
    // offset of kFileNameUnknown when a count does not fit.
    struct FileNamePlace {
        uint16_t offset;
        uint16_t length;
    };
    static constexpr FileNamePlace fileNamePlace(std::string_view path) {
        const std::string_view name = detail::fileNameWithoutExtension(path);
        const auto offset = static_cast<size_t>(name.data() - path.data());
        if (offset >= kFileNameUnknown || name.size() >= kFileNameUnknown) return {kFileNameUnknown, 0};
        return {static_cast<uint16_t>(offset), static_cast<uint16_t>(name.size())};
    }

    constexpr QLLogCallSite(QLLogFlag flag, std::string_view file, std::string_view function, uint64_t line)
        : flag(flag),
          file(file),
          function(function),
          line(line),
          fileNameOffset(fileNamePlace(file).offset),
          fileNameLength(fileNamePlace(file).length) {}
};

}  // namespace tervolo::logging
