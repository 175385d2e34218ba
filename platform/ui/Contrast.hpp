#pragma once

#include <QColor>

namespace platform {

// Contrast of text against its background, as accessibility guidelines measure it, and the small
// corrections that keep a palette's pairs readable. Any thread (plain colour arithmetic).

// (L1 + 0.05) / (L2 + 0.05) of the two colours' relative luminances: 1 (the same) to 21 (black on
// white). Body text needs at least 4.5.
double contrastRatio(const QColor& a, const QColor& b);

// `background`, made darker (under light text) or lighter (under dark text) just enough for `text` to
// reach `minimum` on it; unchanged where it already does. Some desktop palettes pair a mid-tone
// selection colour with white text at about 3.7:1.
QColor legibleBackground(const QColor& background, const QColor& text, double minimum = 4.5);

// `text` mixed towards `background` by (1 - weight) for a quieter line, with the weight raised as far
// as needed for the mix to reach `minimum` on `background` (at most `text` itself).
QColor legibleMix(const QColor& text, const QColor& background, double weight, double minimum = 4.5);

// `foreground` (a text or icon colour a screen fixes, say a tint), made lighter on a dark `background`
// or darker on a light one just enough to reach `minimum` there; unchanged where it already does, so a
// light palette keeps the colour as given. Text needs 4.5, icons and outlines 3.
QColor legibleForeground(const QColor& foreground, const QColor& background, double minimum = 4.5);

// Black or white, whichever reads better on `background` (a label on a coloured chip).
QColor blackOrWhiteOn(const QColor& background);

}  // namespace platform
