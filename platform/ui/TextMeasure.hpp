#pragma once

#include <QFont>
#include <QSizeF>
#include <QString>

namespace platform {

// The size `text` takes in `font` on one line per line break: the widest line's advance and the
// lines' height, in fractional pixels (round up to place it). Layout code and tests measure through
// this one function so they agree. Needs a QGuiApplication (fonts). Main thread only.
QSizeF textSize(const QFont& font, const QString& text);

// The height one line of `text` takes in `font`, in fractional pixels: the font's line spacing, or more
// where glyphs come from a fallback font that reaches further up or down (CJK, Hangul, Arabic in a
// Latin font). A font's point size is not this: taken as pixels it cuts descenders. Main thread only.
double lineHeight(const QFont& font, const QString& text);

}  // namespace platform
