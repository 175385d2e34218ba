#pragma once

#include <QString>

namespace platform {

// A replacement of `length` characters at `location` (UTF-16 units) by `text`.
struct TextReplacement {
    int location = 0;
    int length = 0;
    QString text;
    bool operator==(const TextReplacement&) const = default;
};

}  // namespace platform
