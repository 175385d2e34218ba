#pragma once

#include <QColor>
#include <QPalette>

class QLineEdit;

namespace platform {

// The grey of a text field's placeholder, from the field's own palette: its text colour mixed half
// way towards its base (the look a light desktop gives placeholders), darkened on a light base or
// lightened on a dark one as far as needed to read at 4.5:1. A dark theme hands placeholders as
// half-transparent white, which comes out at about 4:1 on its base. Any thread.
QColor readablePlaceholderColor(const QPalette& palette);

// Keeps `field`'s placeholder in readablePlaceholderColor of its palette, now and whenever its
// palette changes (a theme switched while the program runs). Main thread.
void keepPlaceholderReadable(QLineEdit& field);

}  // namespace platform
